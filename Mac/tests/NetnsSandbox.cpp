#include "NetnsSandbox.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

const std::string kScript =
    (std::filesystem::path(__FILE__).parent_path() / "../../tools/sandbox/netns-sandbox.sh").lexically_normal();

// Starts bash on the script with stdout and stderr into outputFile; the child's id.
pid_t SpawnScript(const std::vector<std::string>& arguments, const std::string& outputFile) {
  std::vector<std::string> args = {"/bin/bash", kScript};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string NetnsSandbox::BinDir() { return std::filesystem::read_symlink("/proc/self/exe").parent_path(); }

NetnsSandbox::NetnsSandbox(const std::vector<std::string>& applianceArgs) {
  // Below TMPDIR when set, the only temporary folder the script then takes.
  std::string pattern = (std::filesystem::temp_directory_path() / "qelid-sandbox-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    _why = "no temporary folder";
    return;
  }
  _dir = pattern;
  setenv("SANDBOX_BUILD", std::filesystem::path(BinDir()).parent_path().c_str(), 1);
  const std::string log = _dir + ".up";
  std::vector<std::string> arguments = {"up", _dir};
  arguments.insert(arguments.end(), applianceArgs.begin(), applianceArgs.end());
  const int status = Script(arguments, log);
  _why = ReadFile(log);
  std::filesystem::remove(log);
  _unsupported = status == 77;
  if (status != 0) return;

  std::ifstream env(_dir + "/sandbox.env");
  for (std::string line; std::getline(env, line);) {
    const size_t equals = line.find('=');
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "NS") _ns = value;
    if (key == "PORT") _port = static_cast<uint16_t>(std::stoi(value));
    if (key == "ADDRESS") _address = value;
    if (key == "HOME_DIR") _home = value;
    if (key == "APPLIANCE_OUT") _applianceOut = value;
  }
  _available = _port != 0;
}

NetnsSandbox::~NetnsSandbox() {
  if (_dir.empty()) return;
  Script({"down", _dir}, "/dev/null");
  std::error_code ignored;  // also when the script itself could not run
  std::filesystem::remove_all(_dir, ignored);
}

int NetnsSandbox::Script(const std::vector<std::string>& arguments, const std::string& outputFile) const {
  const pid_t pid = SpawnScript(arguments, outputFile);
  return pid < 0 ? -1 : Wait(pid, 60);
}

pid_t NetnsSandbox::Start(const std::vector<std::string>& command, const std::string& dsclListing,
                          const std::string& outputFile, const std::vector<std::string>& env) {
  std::vector<std::string> arguments = {"run", _dir};
  if (!dsclListing.empty()) arguments.insert(arguments.end(), {"--dscl", dsclListing});
  for (const std::string& entry : env) arguments.insert(arguments.end(), {"--env", entry});
  arguments.push_back("--");
  arguments.insert(arguments.end(), command.begin(), command.end());
  return SpawnScript(arguments, outputFile);
}

int NetnsSandbox::Wait(pid_t pid, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool NetnsSandbox::Notify(const std::string& name) { return Script({"notify", _dir, name}, "/dev/null") == 0; }

std::string NetnsSandbox::ApplianceOutput() const { return ReadFile(_applianceOut); }
