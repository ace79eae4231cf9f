// Who the logged-on user is, asked of the directory service through its command-line
// tools, with a per-user cache of the last directory identity.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/Logging.h"

enum AuthType : int32_t {
  AT_UNK = -1,
  AT_OD_NATIVE = 3,  // a directory user of an LDAPv3 node
  AT_OD_VIA_AD = 4,  // an Active Directory user
  AT_OSX = 5,        // a local user
};
// "OD_NATIVE", "OD_VIA_AD", "OSX", "UNK", or "???".
const char* AuthTypeName(int32_t type);

// "uid=<user up to its first blank>,cn=users" and ",dc=<part>" per dotted part of the
// domain; empty unless both are given.
std::string make_distinguished_name(const std::string& user, const std::string& domain);

// The folder for temporary and capture files: TMPDIR with a "/" added when missing,
// else "/tmp/".
std::string TempFolder();

// Runs a program found through PATH, without a shell, and captures its standard output.
// A program that runs longer than 30 s (a directory that slow is taken as not answering),
// writes more than File_aid::kMaxReadSize bytes, or is still running when the stop check
// turns true is killed with whatever it started.
class SystemRun {
 public:
  // Asked while the program runs; true ends the wait (a quit asked of the agent).
  using StopCheck = std::function<bool()>;

  explicit SystemRun(const LogSource& log, StopCheck stop = nullptr) : _log(log), _stop(std::move(stop)) {}

  // 0 when the program ran and ended with status 0; -1 for an empty command, -2 when no
  // pipe for its output could be made, -3 when the program could not run, failed, ran too
  // long or was stopped, -4 when its output could not be read or was too long.
  int32_t Execute(const std::vector<std::string>& command);
  const std::string& Output() const { return _output; }
  // Hands the output over; the run keeps none of it.
  std::string TakeOutput() { return std::move(_output); }

  // Test seam: the time a program may run, in seconds (0: the real 30 s).
  static void SetTimeLimitForTest(double seconds);

 private:
  int32_t execInner();

  const LogSource& _log;
  StopCheck _stop;
  std::vector<std::string> _command;
  std::string _output;
  int32_t _result = -1;
};

class UserIdent {
 public:
  // stop: handed to the tools' runs (see SystemRun).
  explicit UserIdent(const LogSource& log, SystemRun::StopCheck stop = nullptr) : _log(log), _stop(std::move(stop)) {}

  // Asks dscl about $USER (or reads the dscl output file named by UX when path is not
  // empty), then fills the group from id and the machine name from the host name.
  bool Initialize(const char* path);

  // The user name; when empty, the login name of the real user id, which is kept.
  const std::string& GetUserName();
  // The machine name; when empty, the host name, which is kept.
  const std::string& GetMachineName();
  const std::string& GetDistinguishedName() const { return _distinguishedName; }
  const std::string& GetDomainName() const { return _domainName; }
  const std::string& GetGroupName() const { return _groupName; }
  int32_t GetIdentType() const { return _identType; }
  int32_t GetUnixUserID() const { return _unixUserID; }

  void DebugDump();
  // Writes "userident-<uid>.txt" in the options folder for the process's own user id,
  // replacing an earlier one only once the new one is written in full and flushed; false,
  // logged, and the earlier file untouched, when it cannot be.
  bool Save();
  // Reads the cache file of that user id: the first line that begins with a key gives its value.
  bool Load(int32_t userID);

  // Parsers of the tools' output; public for their tests. parse_dscl takes the text over:
  // a listing of megabytes is not held twice.
  bool parse_dscl(std::string text);
  bool parseNtDomainGroup(const char* text);
  bool parseUnixGroup(const char* text);

 private:
  bool userFileInit(const char* path);
  // Writes the listing that could not be read into "Tavo-auth-dscl-capture.txt" in the
  // temporary folder, replacing only a capture of this user's own.
  void WriteCapture(const std::string& text);
  void parse_dscl_ident_fields(const class dscl_parser& parser, int32_t group, int32_t type);
  void load_cached_identity(const class dscl_parser& parser, int32_t group);
  static std::string CacheFilePath(int32_t userID);

  std::string _userName;
  std::string _machineName;
  std::string _distinguishedName;
  std::string _domainName;
  std::string _groupName;
  const LogSource& _log;
  SystemRun::StopCheck _stop;
  int32_t _identType = AT_UNK;
  int32_t _unixUserID = -1;
};
