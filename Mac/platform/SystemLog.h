// Our stand-in for the system log client over syslog(3). A client sends every message that
// passes its filter to the system log and, line by line, to standard error (when opened with
// ASL_OPT_STDERR) and to every log file added to it. Without an open client (a null one)
// messages go to the system log only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum : int {
  ASL_LEVEL_EMERG = 0,
  ASL_LEVEL_ALERT = 1,
  ASL_LEVEL_CRIT = 2,
  ASL_LEVEL_ERR = 3,
  ASL_LEVEL_WARNING = 4,
  ASL_LEVEL_NOTICE = 5,
  ASL_LEVEL_INFO = 6,
  ASL_LEVEL_DEBUG = 7,
};
constexpr uint32_t ASL_OPT_STDERR = 0x00000001;
constexpr int ASL_TYPE_MSG = 0;
constexpr const char* ASL_KEY_TIME = "Time";

struct __aslclient {
  std::string ident;
  bool copyToStderr = false;
  int filter = 0xFF;
  std::vector<int> files;
};
typedef __aslclient* aslclient;

// A message template; only its time text is used, as the line's time stamp.
struct __aslmsg {
  std::string time;
};
typedef __aslmsg* aslmsg;

// ident null: the program's name.
aslclient asl_open(const char* ident, const char* facility, uint32_t opts);
void asl_close(aslclient client);
// Returns the previous filter; a level passes when its bit (1 << level) is set.
int asl_set_filter(aslclient client, int filter);
int asl_add_log_file(aslclient client, int fd);
int asl_remove_log_file(aslclient client, int fd);
aslmsg asl_new(int type);
int asl_set(aslmsg msg, const char* key, const char* value);
void asl_free(aslmsg msg);
// Line layout of standard error and the log files: "<time> <ident>[<pid>] <<Level>>: <text>".
int asl_log(aslclient client, aslmsg msg, int level, const char* format, ...) __attribute__((format(printf, 4, 5)));
