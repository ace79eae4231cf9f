#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "support/Logging.h"
#include "support/Version.h"

namespace {

constexpr const char* kFacility = "com.qelsecurity.identra";

// 55 marks separated by single blanks.
std::string Separator(char mark) {
  std::string line(109, ' ');
  for (size_t i = 0; i < line.size(); i += 2) line[i] = mark;
  return line;
}

}  // namespace

const LogChannelRow channels[9] = {
    {LC_Unspecified, "LC_Unspecified"},   {LC_V7K_Sockets, "LC_V7K_Sockets"}, {LC_V7K_Proto, "LC_V7K_Proto"},
    {LC_UserIdent, "LC_UserIdent"},       {LC_ConfigProcessing, "LC_ConfigProcessing"},
    {LC_NetIF_Mgmt, "LC_NetIF_Mgmt"},     {LC_DiagTools, "LC_DiagTools"},     {LC_UnitTest, "LC_UnitTest"},
    {LC_AppMain, "LC_AppMain"},
};

LogSource g_AnonymousLog("Anonymous");

tWtfException::tWtfException(int32_t line, const char* file) : line(line), file(), text() {
  snprintf(this->file, sizeof this->file, "%s", file ? file : "");
}

// LogSource ----------------------------------------------------------------------------------

LogSource::LogSource(const char* name, int32_t channel, LogSource* parent) : _parent(parent) {
  SetName(name);
  _context.channel = channel;
  if (_parent) {
    ++_parent->_children;
    _context.parent = &_parent->_context;
  }
}

LogSource::~LogSource() {
  if (_parent) --_parent->_children;
  if (_children > 0) Log(SEV_ERROR, "FATAL ERROR IN LogSource dtor: child sources still referencing a dying parent");
}

void LogSource::Log(int32_t severity, const char* text) const {
  LogHub<LogContext>::Get().LogSingleMessage(&_context, severity, text);
}

void LogSource::Logf(int32_t severity, const char* format, ...) const {
  va_list args;
  va_start(args, format);
  Logv(severity, format, args);
  va_end(args);
}

void LogSource::Logv(int32_t severity, const char* format, va_list args) const {
  if (!format) return;
  char text[16384];
  vsnprintf(text, sizeof text, format, args);
  Log(severity, text);
}

void Logf(int32_t severity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  g_AnonymousLog.Logv(severity, format, args);
  va_end(args);
}

// LogHub -------------------------------------------------------------------------------------

template <class Context>
LogHub<Context>& LogHub<Context>::Get() {
  static LogHub hub;
  return hub;
}

template <class Context>
LogHub<Context>::LogHub() {
  CurrentTime();
}

template <class Context>
LogHub<Context>::~LogHub() {
  if (_client) asl_close(_client);
  _client = nullptr;
}

template <class Context>
void LogHub<Context>::SetLogChannels(const LogChannelRow* table, int32_t count, int32_t ownChannel) {
  for (int32_t i = 0; i < count; ++i) {
    if (table[i].number != i) throw tWtfException(118, "Logging");
    if (!table[i].name) throw tWtfException(120, "Logging");
  }
  _channels = table;
  _channelCount = count;
  _source.SetChannel(ownChannel);
}

template <class Context>
void LogHub<Context>::Startup() {
  if (_client) Shutdown();
  const char* home = std::getenv("HOME");
  const std::string path = std::string(home ? home : "") + "/Library/Logs/qelidentra.log";
  _file.SetFilename(path.c_str());
  _file.Open(File_aid::kAppend);
  _client = asl_open(nullptr, kFacility, ASL_OPT_STDERR);
  asl_set_filter(_client, 255);
  if (_file.IsOpen()) asl_add_log_file(_client, _file.Descriptor());
  _source.Log(SEV_NOTICE, Separator('*').c_str());
  _source.Log(SEV_NOTICE, "Application started");
  if (!_file.IsOpen()) _source.Logf(SEV_ERROR, "ERROR - Unable to open log file %s", path.c_str());
}

template <class Context>
void LogHub<Context>::Shutdown() {
  _source.Log(SEV_NOTICE, "Application shutdown");
  _source.Log(SEV_NOTICE, Separator('=').c_str());
  if (_file.IsOpen()) asl_remove_log_file(_client, _file.Descriptor());
  asl_close(_client);
  _client = nullptr;
  _file.Close();
}

template <class Context>
void LogHub<Context>::LogSingleMessage(const Context* context, int32_t severity, const char* text) {
  int32_t level = _defaultLevel;
  if (context && context->level != -1)
    level = context->level;
  else if (context && context->parent && context->parent->level != -1)
    level = context->parent->level;
  if (severity > level) return;
  try {
    aslmsg msg = asl_new(ASL_TYPE_MSG);
    asl_set(msg, ASL_KEY_TIME, CurrentTime());
    asl_log(_client, msg, severity, "%d %s => %s", context ? context->channel : 0,
            context ? context->name.c_str() : "", text ? text : "");
    asl_free(msg);
  } catch (...) {
  }
}

template <class Context>
const char* LogHub<Context>::CurrentTime() {
  const time_t now = time(nullptr);
  if (now != _timeSecond) {
    _timeSecond = now;
    tm local{};
    localtime_r(&now, &local);
    strftime(_timeText, sizeof _timeText, "%Y-%m-%d %H:%M:%S %Z", &local);
  }
  return _timeText;
}

template <class Context>
void LogHub<Context>::SetLevelFromLD(int32_t ld) {
  static const int32_t kLevels[] = {SEV_ERROR, SEV_ERROR, SEV_NOTICE, SEV_INFO, SEV_DEBUG};
  if (ld >= 0 && ld < 5) _defaultLevel = kLevels[ld];
}

template class LogHub<LogContext>;

void InitLogging() {
  LogHub<LogContext>& hub = LogHub<LogContext>::Get();
  hub.SetLogChannels(channels, 9, LC_DiagTools);
  g_AnonymousLog.SetName("Anonymous");
  hub.Startup();
  g_AnonymousLog.Logf(SEV_NOTICE, "Identra version: %s", GetVersionID());
}

void TermLogging() { LogHub<LogContext>::Get().Shutdown(); }
