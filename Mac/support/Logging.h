// The process-wide logging hub. Every message that passes the level filter goes to the
// system log, the per-user log file and standard error.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "support/File_aid.h"
#include "platform/SystemLog.h"

// Syslog severities; a message passes when its severity is at most the effective level.
enum LogSeverity : int32_t {
  SEV_ERROR = 3,
  SEV_NOTICE = 5,
  SEV_INFO = 6,
  SEV_DEBUG = 7,
};

enum LogChannel : int32_t {
  LC_Unspecified = 0,
  LC_V7K_Sockets = 1,
  LC_V7K_Proto = 2,
  LC_UserIdent = 3,
  LC_ConfigProcessing = 4,
  LC_NetIF_Mgmt = 5,
  LC_DiagTools = 6,
  LC_UnitTest = 7,
  LC_AppMain = 8,
};

struct LogChannelRow {
  int32_t number;
  const char* name;
};
extern const LogChannelRow channels[9];

struct LogContext {
  int32_t reserved = 0;
  int32_t channel = 0;
  std::string name = "General";
  const LogContext* parent = nullptr;
  int32_t level = -1;  // -1: inherited
};

// Thrown for a broken channel table.
struct tWtfException {
  tWtfException(int32_t line, const char* file);
  int32_t line;
  char file[256];
  char text[256];
};

class LogSource {
 public:
  explicit LogSource(const char* name = "General", int32_t channel = 0, LogSource* parent = nullptr);
  LogSource(const LogSource&) = delete;
  LogSource& operator=(const LogSource&) = delete;
  ~LogSource();

  void SetName(const char* name) { _context.name = name ? name : ""; }
  void SetChannel(int32_t channel) { _context.channel = channel; }
  void SetLevel(int32_t level) { _context.level = level; }
  const LogContext& Context() const { return _context; }

  void Log(int32_t severity, const char* text) const;
  // Formats into at most 16383 characters; a missing format logs nothing.
  void Logf(int32_t severity, const char* format, ...) const __attribute__((format(printf, 3, 4)));
  void Logv(int32_t severity, const char* format, va_list args) const __attribute__((format(printf, 3, 0)));

 private:
  LogSource* _parent;
  int32_t _children = 0;
  LogContext _context;
};

template <class Context>
class LogHub {
 public:
  static LogHub& Get();

  // Throws tWtfException when row i does not carry number i or has no name.
  void SetLogChannels(const LogChannelRow* table, int32_t count, int32_t ownChannel);
  void Startup();
  void Shutdown();
  void LogSingleMessage(const Context* context, int32_t severity, const char* text);
  // Local time as "%Y-%m-%d %H:%M:%S %Z", recomputed when the second changes.
  const char* CurrentTime();

  int32_t DefaultLevel() const { return _defaultLevel; }
  void SetDefaultLevel(int32_t level) { _defaultLevel = level; }
  // The configuration's LD: 0 and 1 -> 3, 2 -> 5, 3 -> 6, 4 -> 7; others change nothing.
  void SetLevelFromLD(int32_t ld);

 private:
  LogHub();
  ~LogHub();

  int32_t _channelCount = 0;
  const LogChannelRow* _channels = nullptr;
  aslclient _client = nullptr;
  File_aid::File<char> _file;
  int32_t _defaultLevel = SEV_NOTICE;
  LogSource _source{"LogHub"};
  int64_t _timeSecond = -1;
  char _timeText[50] = "";
};

extern LogSource g_AnonymousLog;

void Logf(int32_t severity, const char* format, ...) __attribute__((format(printf, 2, 3)));

void InitLogging();
void TermLogging();
