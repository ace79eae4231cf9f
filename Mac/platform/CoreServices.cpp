#include "platform/CoreServices.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

CFStringRef CSCopyUserName(Boolean) {
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry;
  passwd* found = nullptr;
  const bool known = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found;
  return CFStringCreateWithCString(kCFAllocatorDefault, known ? found->pw_name : "", kCFStringEncodingMacRoman);
}

CFStringRef CSCopyMachineName() {
  // gethostname need not terminate a name it had to cut.
  char name[257] = {};
  if (gethostname(name, sizeof name - 1) != 0) name[0] = '\0';
  name[sizeof name - 1] = '\0';
  return CFStringCreateWithCString(kCFAllocatorDefault, name, kCFStringEncodingMacRoman);
}
