#include "identity/UserIdent.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "support/Basetypes.h"
#include "platform/CoreServices.h"
#include "support/File_aid.h"
#include "support/XCFString.h"
#include "identity/dscl_parser.h"

extern char** environ;

namespace {

constexpr size_t kMaxCacheValue = 512;  // longer cache values are not taken

std::string CopyString(CFStringRef string) { return XCFString(string).c_str(); }

// Domain part of a record name: from after the nearest white space before the first
// backslash (or from the start) up to it.
std::string DomainOfRecordName(const std::string& name) {
  const size_t backslash = name.find('\\');
  if (backslash == std::string::npos) return std::string();
  size_t start = backslash;
  while (start > 0 && !std::strchr(" \t\n\r\v\f", name[start - 1])) --start;
  return name.substr(start, backslash - start);
}

// The first line of text that begins with key; null when none does.
const char* LineStartingWith(const char* text, const char* key) {
  const size_t length = std::strlen(key);
  for (const char* line = text; line;) {
    if (std::strncmp(line, key, length) == 0) return line;
    line = std::strchr(line, '\n');
    if (line) ++line;
  }
  return nullptr;
}

const char* const kCacheKeys[] = {"_userName:", "_machineName:", "_distinguishedName:", "_domainName:",
                                  "_groupName:", "_identType:",  "_unixUserID:"};

}  // namespace

const char* AuthTypeName(int32_t type) {
  switch (type) {
    case AT_OD_NATIVE: return "OD_NATIVE";
    case AT_OD_VIA_AD: return "OD_VIA_AD";
    case AT_OSX: return "OSX";
    case AT_UNK: return "UNK";
    default: return "???";
  }
}

std::string make_distinguished_name(const std::string& user, const std::string& domain) {
  if (user.empty() || domain.empty()) return std::string();
  std::string dn = "uid=" + user.substr(0, user.find(' ')) + ",cn=users";
  for (size_t start = 0;;) {
    const size_t dot = domain.find('.', start);
    dn += ",dc=" + domain.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return dn;
}

std::string TempFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  if (!tmpdir || !*tmpdir) return "/tmp/";
  std::string folder = tmpdir;
  if (folder.back() != '/') folder += '/';
  return folder;
}

// SystemRun --------------------------------------------------------------------------------

namespace {

// A directory may answer late after a wake-up, a network change or from a distant server.
constexpr double kToolSeconds = 30.0;
double g_toolSecondsForTest = 0;
// How often a running tool is looked at for a quit when nothing else wakes the wait.
constexpr int kStopCheckMs = 100;

double MonotonicSeconds() {
  timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Reaps the child, waiting until the time given at the most; false when it has not ended.
bool Reap(pid_t child, int& status, double until) {
  for (int pauseMs = 1;; pauseMs = std::min(pauseMs * 2, 50)) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return true;
    if (done < 0 && errno != EINTR) {
      status = -1;
      return true;
    }
    if (MonotonicSeconds() >= until) return false;
    poll(nullptr, 0, pauseMs);
  }
}

}  // namespace

void SystemRun::SetTimeLimitForTest(double seconds) { g_toolSecondsForTest = seconds; }

int32_t SystemRun::Execute(const std::vector<std::string>& command) {
  _command = command;
  _output.clear();
  if (_command.empty() || _command[0].empty()) return _result = -1;
  return _result = execInner();
}

int32_t SystemRun::execInner() {
  int ends[2];
  if (pipe(ends) != 0) return -2;
  const FdHolder output(ends[0]);
  pid_t child = 0;
  int status = 0;
  {
    const FdHolder childEnd(ends[1]);  // the parent's copy closes here: the child's close ends the output
    // Neither end goes on into the program (its copy of the write end is the dup below).
    if (fcntl(output.get(), F_SETFD, FD_CLOEXEC) != 0 || fcntl(childEnd.get(), F_SETFD, FD_CLOEXEC) != 0) return -2;
    SpawnActions actions;
    posix_spawn_file_actions_adddup2(actions.get(), childEnd.get(), STDOUT_FILENO);
    // A group of its own, so that a kill reaches whatever the program started.
    SpawnAttributes attributes;
    posix_spawnattr_setpgroup(attributes.get(), 0);
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP);
    std::vector<char*> argv;
    for (std::string& arg : _command) argv.push_back(arg.data());
    argv.push_back(nullptr);
    status = posix_spawnp(&child, argv[0], actions.get(), attributes.get(), argv.data(), environ);
  }
  if (status != 0) {
    _log.Logf(SEV_ERROR, "SystemRun.execInner failed executing system command: %d", status);
    return -3;
  }

  const double seconds = g_toolSecondsForTest > 0 ? g_toolSecondsForTest : kToolSeconds;
  const double deadline = MonotonicSeconds() + seconds;
  const char* program = _command[0].c_str();
  // As much as the agent reads of a file: a record with a large photo fits.
  constexpr size_t bound = File_aid::kMaxReadSize;
  // Taken at once: growing by doubling would hold the old copy and the new at the bound.
  // Only what is written comes into memory.
  _output.reserve(bound);
  bool ended = false, endOfOutput = false, readFailed = false;
  int32_t stopped = 0;  // the result when the program had to be stopped
  for (int pauseMs = 1; !(ended && endOfOutput);) {
    if (!ended && Reap(child, status, 0)) ended = true;
    if (_stop && _stop()) {
      _log.Logf(SEV_ERROR, "SystemRun.execInner: %s stopped for a quit", program);
      stopped = -3;
    } else if (MonotonicSeconds() >= deadline) {
      _log.Logf(SEV_ERROR, "SystemRun.execInner: %s stopped after running %g seconds", program, seconds);
      stopped = -3;
    }
    if (stopped) break;
    if (endOfOutput) {  // the output is closed but the program runs on
      poll(nullptr, 0, pauseMs);
      pauseMs = std::min(pauseMs * 2, 50);
      continue;
    }
    // Once the program has ended, all it wrote is in the pipe: what is not there now is
    // written by something it left behind, and not waited for.
    pollfd ready{output.get(), POLLIN, 0};
    const int left = static_cast<int>((deadline - MonotonicSeconds()) * 1000) + 1;
    const int polled = poll(&ready, 1, ended ? 0 : std::clamp(left, 0, kStopCheckMs));
    if (polled == 0) endOfOutput = ended;
    if (polled <= 0) continue;
    char buffer[65536];
    const ssize_t n = read(output.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      readFailed = n < 0;
      endOfOutput = true;
    } else if (_output.size() + static_cast<size_t>(n) > bound) {
      _log.Logf(SEV_ERROR, "SystemRun.execInner: %s stopped for writing more than %zu bytes", program, bound);
      stopped = -4;
      break;
    } else {
      _output.append(buffer, static_cast<size_t>(n));
    }
  }
  if (stopped) {
    _output = std::string();  // its room too: up to the bound
    if (!ended) {
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      Reap(child, status, MonotonicSeconds() + 1);  // one that will not go is left unreaped
    }
    return stopped;
  }
  if (status != 0) {
    _log.Logf(SEV_ERROR, "SystemRun.execInner failed executing system command: %d", status);
    return -3;
  }
  if (readFailed) {
    _log.Logf(SEV_ERROR, "SystemRun.execInner failed to open %s", program);
    return -4;
  }
  return 0;
}

// UserIdent --------------------------------------------------------------------------------

bool UserIdent::Initialize(const char* path) {
  _userName.clear();
  _machineName.clear();
  _distinguishedName.clear();
  _domainName.clear();
  _groupName.clear();
  _unixUserID = static_cast<int32_t>(getuid());

  bool ok = false;
  if (!path || !*path) {
    const char* env = std::getenv("USER");
    const std::string user = env ? env : CopyString(CSCopyUserName(true));
    _log.Logf(SEV_DEBUG, "UserIdent starting LDAP query for user %s...", user.c_str());
    SystemRun run(_log, _stop);
    const int32_t result = run.Execute({"dscl", "localhost", "-read", "/Search/Users/" + user});
    if (result != 0) {
      _log.Logf(SEV_ERROR, "UserIdent.internalInit() failed executing LDAP search for $USER: %d", result);
      return false;
    }
    ok = parse_dscl(run.TakeOutput());
  } else {
    _log.Logf(SEV_DEBUG, "UserIdent file provided from UX command: %s", path);
    ok = userFileInit(path);
  }
  if (!ok) return false;

  if (_groupName.empty()) {
    SystemRun run(_log, _stop);
    if (run.Execute({"id"}) != 0) {
      _log.Logf(SEV_ERROR, "UserIdent.internalInit() failed executing 'id' command");
    } else if (!parseNtDomainGroup(run.Output().c_str())) {
      parseUnixGroup(run.Output().c_str());
    }
  }
  if (_machineName.empty()) _machineName = CopyString(CSCopyMachineName());
  return true;
}

bool UserIdent::userFileInit(const char* path) {
  int32_t error = 0;
  std::string listing;
  {
    const XCFString text = File_aid::ReadTextFile(path, &error);
    if (error != 0 || text.empty()) {
      _log.Logf(SEV_ERROR, "UserIdent.TestFileInit - load failed for %s, err=%d", path, error);
      return false;
    }
    listing = text.c_str();
  }  // the file's text goes before the parse: a listing of megabytes is not held three times
  return parse_dscl(std::move(listing));
}

const std::string& UserIdent::GetUserName() {
  if (_userName.empty()) _userName = CopyString(CSCopyUserName(true));
  return _userName;
}

const std::string& UserIdent::GetMachineName() {
  if (_machineName.empty()) _machineName = CopyString(CSCopyMachineName());
  return _machineName;
}

void UserIdent::DebugDump() {
  _log.Logf(SEV_NOTICE, "UserIdent result -- User:%s, Group:%s, Domain:%s, Machine:%s, DN:%s, Type: %s, UID: %d",
            GetUserName().c_str(), _groupName.c_str(), _domainName.c_str(), GetMachineName().c_str(),
            _distinguishedName.c_str(), AuthTypeName(_identType), _unixUserID);
}

namespace {

// The attributes an identity is made of: the listing's other lines are only counted.
const std::vector<std::string_view> kIdentityAttributes = {
    "AppleMetaNodeLocation",           "UniqueID",   "AppleMetaRecordName",       "dsAttrTypeNative:distinguishedName",
    "dsAttrTypeNative:sAMAccountName", "RecordName", "dsAttrTypeNative:ADDomain", "dsAttrTypeNative:uid"};

}  // namespace

bool UserIdent::parse_dscl(std::string text) {
  dscl_parser parser(kIdentityAttributes);
  if (parser.parse(std::move(text)) == 0) {  // text is left as it was
    _log.Logf(SEV_ERROR, "UserIdent.parse_dscl failed.");
    WriteCapture(text);
    return false;
  }

  // A directory record may name its node many times. Within one group an identity read
  // rewrites every field an earlier read wrote, and a cache load writes the same values each
  // time: only the group's last read, one load before it and one after it change anything,
  // and the work stays in step with the output's length.
  bool found = false;
  int32_t group = -1, readType = AT_UNK;
  bool loadBefore = false, loadAfter = false;
  const auto actOnGroup = [&] {
    if (loadBefore) load_cached_identity(parser, group);
    if (readType != AT_UNK) parse_dscl_ident_fields(parser, group, readType);
    if (loadAfter) load_cached_identity(parser, group);
    found = found || loadBefore || readType != AT_UNK;
  };
  parser.find(dscl_parser::kFindEqual, "AppleMetaNodeLocation", -1, [&](const dscl_rec& location) {
    if (location.group != group) {
      actOnGroup();
      group = location.group;
      readType = AT_UNK;
      loadBefore = loadAfter = false;
    }
    const bool ad = location.value.find("/Active Directory/") != std::string_view::npos;
    if (ad || location.value.find("/LDAPv3/") != std::string_view::npos) {
      readType = ad ? AT_OD_VIA_AD : AT_OD_NATIVE;
      loadBefore = loadBefore || loadAfter;
      loadAfter = false;
    } else if (location.value.find("/NetInfo/DefaultLocalNode") != std::string_view::npos) {
      (readType == AT_UNK ? loadBefore : loadAfter) = true;
    }
    return true;
  });
  actOnGroup();
  return found;
}

// Kept for inspection, in a file of the agent's own making only: the folder may be shared
// (/tmp), and a file planted under the name would be read by its owner, or, as a link, point
// the write at one of the user's files.
void UserIdent::WriteCapture(const std::string& text) {
  const std::string capture = TempFolder() + "Tavo-auth-dscl-capture.txt";
  struct stat status {};
  const char* refused = nullptr;
  if (lstat(capture.c_str(), &status) == 0) {
    if (status.st_uid != geteuid())
      refused = "held by another owner";
    else if (!S_ISREG(status.st_mode))
      refused = "not a regular file";
    else if (status.st_nlink != 1)
      refused = "a file with more than one link";
    else
      unlink(capture.c_str());  // an earlier capture of this user's
  }
  if (refused) {
    _log.Logf(SEV_ERROR, "    .... dscl output not written to %s: %s", capture.c_str(), refused);
    return;
  }
  const FdHolder fd(open(capture.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    _log.Logf(SEV_ERROR, "    .... dscl output not written to %s: %s", capture.c_str(), strerror(errno));
    return;
  }
  if (write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()))
    _log.Logf(SEV_ERROR, "    .... dscl output written to %s", capture.c_str());
}

void UserIdent::parse_dscl_ident_fields(const dscl_parser& parser, int32_t group, int32_t type) {
  auto value = [&](const char* name) { return parser.get_value(name, group); };
  _identType = type;
  const std::string uniqueID = value("UniqueID");
  if (!uniqueID.empty()) _unixUserID = std::atoi(uniqueID.c_str());

  if (type == AT_OD_VIA_AD) {
    _distinguishedName = value("dsAttrTypeNative:distinguishedName");
    if (_distinguishedName.empty()) _distinguishedName = value("AppleMetaRecordName");
    _userName = value("dsAttrTypeNative:sAMAccountName");
    _domainName = DomainOfRecordName(value("RecordName"));
    if (_domainName.empty()) _domainName = value("dsAttrTypeNative:ADDomain");
  } else {
    _userName = value("dsAttrTypeNative:uid");
    const std::string location = value("AppleMetaNodeLocation");
    const size_t slash = location.rfind('/');
    _domainName = slash == std::string::npos ? location : location.substr(slash + 1);
    _distinguishedName = value("AppleMetaRecordName");
    if (_distinguishedName.empty()) _distinguishedName = make_distinguished_name(_userName, _domainName);
  }
}

void UserIdent::load_cached_identity(const dscl_parser& parser, int32_t group) {
  const std::string uniqueID = parser.get_value("UniqueID", group);
  if (uniqueID.empty()) {
    _log.Logf(SEV_ERROR, "ERROR: NO UniqueID FOUND FOR CACHED IDENTITY");
    return;
  }
  const int32_t id = std::atoi(uniqueID.c_str());
  _log.Logf(SEV_NOTICE, "Loading cached identity for user ID %d...", id);
  if (!Load(id)) _log.Logf(SEV_ERROR, "ERROR: UNABLE TO LOAD CACHED IDENTITY");
}

bool UserIdent::parseNtDomainGroup(const char* text) {
  const char* backslash = std::strchr(text, '\\');
  if (!backslash) return false;
  const char* open = backslash;
  while (open > text && *open != '(') --open;
  if (*open != '(') return true;
  if (_domainName.empty()) _domainName.assign(open + 1, backslash);
  const char* close = std::strchr(backslash, ')');
  if (!close) return false;
  if (_groupName.empty()) _groupName.assign(backslash + 1, close);
  return false;
}

bool UserIdent::parseUnixGroup(const char* text) {
  const char* gid = std::strstr(text, "gid=");
  if (!gid) return false;
  const char* p = gid + 4;
  while (*p >= '0' && *p <= '9') ++p;
  if (*p != '(') return false;
  const char* close = std::strchr(p, ')');
  if (!close) return false;
  _groupName.assign(p + 1, close);
  return true;
}

// Identity cache -------------------------------------------------------------------------

std::string UserIdent::CacheFilePath(int32_t userID) {
  UserOptionsDir<1> options;
  return options.Dir() + "/userident-" + std::to_string(userID) + ".txt";
}

bool UserIdent::Save() {
  const std::string path = CacheFilePath(static_cast<int32_t>(getuid()));
  // Written in full beside the old cache and only then renamed over it: a crash or a full
  // disk leaves the old cache as it was.
  const std::string fresh = path + ".new";
  unlink(fresh.c_str());
  int error = 0;
  {
    File_aid::AnsiTextFile file(fresh.c_str(), File_aid::kAppend);
    if (!file.IsOpen()) {
      error = errno;
    } else {
      const std::string type = std::to_string(_identType);
      const std::string uid = std::to_string(_unixUserID);
      const std::string* values[] = {&GetUserName(), &GetMachineName(), &_distinguishedName, &_domainName,
                                     &_groupName,    &type,             &uid};
      file.Printf("#Ver:1\n");
      for (size_t i = 0; i < std::size(kCacheKeys); ++i) file.Printf("%s%s\n", kCacheKeys[i], values[i]->c_str());
      if (fflush(file.Stream()) != 0 || fsync(file.Descriptor()) != 0) error = errno;
      if (!file.Close() && error == 0) error = errno ? errno : EIO;
    }
  }
  if (error == 0 && rename(fresh.c_str(), path.c_str()) == 0) return true;
  if (error == 0) error = errno;
  unlink(fresh.c_str());
  _log.Logf(SEV_ERROR, "UserIdent: could not save the identity cache %s: %s", path.c_str(), strerror(error));
  return false;
}

bool UserIdent::Load(int32_t userID) {
  const std::string path = CacheFilePath(userID);
  int32_t error = 0;
  const XCFString contents = File_aid::ReadTextFile(path.c_str(), &error);
  if (error != 0) return false;
  const char* text = contents.c_str();
  int version = 0;
  if (std::sscanf(text, "#Ver:%d", &version) != 1 || version != 1) return false;

  std::string* fields[] = {&_userName, &_machineName, &_distinguishedName, &_domainName, &_groupName};
  bool taken = false;
  for (size_t i = 0; i < std::size(kCacheKeys); ++i) {
    const char* key = LineStartingWith(text, kCacheKeys[i]);
    if (!key) continue;
    const char* value = key + std::strlen(kCacheKeys[i]);
    const char* end = std::strchr(value, '\n');
    const size_t length = end ? static_cast<size_t>(end - value) : std::strlen(value);
    if (length >= kMaxCacheValue) continue;
    const std::string v(value, length);
    if (i < std::size(fields)) {
      *fields[i] = v;
    } else {
      (i == 5 ? _identType : _unixUserID) = std::atoi(v.c_str());
    }
    taken = true;
  }
  return taken;
}
