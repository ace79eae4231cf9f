// QelIdentra: the per-user logon agent. A lone version argument prints the banner; otherwise
// one instance per user runs the application on the main thread's run loop.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/Basetypes.h"
#include "app/IdentraMain.h"
#include "support/Logging.h"
#include "support/Version.h"

namespace {

constexpr int kAnotherInstance = 9242;

// 0 when the command line was a version query (answered here), 1 to go on.
int quickParams(int argc, const char* const* argv) {
  if (argc != 2) return 1;
  char argument[128] = {};
  strncpy(argument, argv[1], sizeof argument - 1);
  if (strcmp(argument, "-v") != 0 && strcmp(argument, "--version") != 0 && strcmp(argument, "-version") != 0)
    return 1;
  printf("%s", GetAppVersionSignature().c_str());
  return 0;
}

int main_inner(int argc, const char* const* argv, const FileMutex& lock) {
  InitLogging();
  if (lock.WriteError() != 0)
    Logf(SEV_ERROR, "Could not write the process id into the lock file %s: %s", lock.Path().c_str(),
         strerror(lock.WriteError()));
  if (getuid() == 0) {
    static const char kRoot[] = "This application refuses to run as root.\n";
    fputs(kRoot, stderr);
    Logf(SEV_ERROR, "%.*s", static_cast<int>(sizeof kRoot - 2), kRoot);
    return 1;
  }
  RefxPtr<IdentraMain> machine = MakeMachine(new IdentraMain(argc, argv));
  const int result = machine->owner()->Initialize(machine.get()) ? machine->owner()->Run() : 1;
  machine.decr();
  TermLogging();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (quickParams(argc, argv) == 0) return 0;
  UserOptionsDir<1> options;
  UserOptionsDir<1>::Create();
  const std::string path = UserOptionsDir<1>::Dir() + "/applock";
  FileMutex lock(path.c_str());
  if (!lock.IsLocked()) {
    fputs("ERROR(9242): Another Identra instance is already running for this user.\n", stderr);
    // Not another instance but a folder or file that cannot be used: say which and why.
    if (lock.LockError() != EWOULDBLOCK)
      fprintf(stderr, "Cannot lock %s: %s\n", path.c_str(), strerror(lock.LockError()));
    return kAnotherInstance;
  }
  return main_inner(argc, argv, lock);
}
