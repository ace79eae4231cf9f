// The agent's one trace facility: filtered by the LC (categories) and LD (highest level)
// configuration keys, written to the log file and to the debugger output.
#pragma once

#include <cstdint>
#include <functional>
#include <ios>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

// Category masks.
constexpr uint32_t TC_Config = 0x1;
constexpr uint32_t TC_Data = 0x2;  // raw receive dumps ("DATA:RECV")
constexpr uint32_t TC_Socket = 0x4;
constexpr uint32_t TC_Startup = 0x10;
constexpr uint32_t TC_Ident = 0x20;
constexpr uint32_t TC_Service = 0x40;
constexpr uint32_t TC_Shutdown = 0x80;
constexpr uint32_t TC_App = 0x100;
constexpr uint32_t TC_Client = 0x200;
constexpr uint32_t TC_FSM = 0x400;
constexpr uint32_t TC_Check = 0x80000000u;

// Levels run from 0 (errors, most important) to 4 (most detailed).

// True when the line would be written: (mask & LC) != 0 and level <= LD, or a debugger is attached.
bool TraceFilter(int level, uint32_t mask);
// Where the filter reads its category mask and highest level: the configuration record binds
// its LC and LD here. Until then only a debugger sees traces.
void BindTraceFilter(const uint32_t* categories, const uint32_t* highestLevel);

// Formats with the Microsoft meaning of the conversions (%s wide, %hs narrow) into at most
// 2,047 characters and hands the text to LogWrite when the filter passes.
void TracePrintf(uint32_t mask, int level, const wchar_t* fmt, ...);

// Writes one line (no filtering): debugger output first, then the log file with its stamp.
void LogWrite(int level, const wchar_t* text);

// Check record: "<file>(<line>): Check failed, returning 0x%08x (%d)\n" in category TC_Check, level 1
// for a failure code and 4 otherwise. Returns hr. `file` may be a full path; only its name is written.
long TraceCheckAt(const char* file, int line, long hr);
// Assertion record: "<file>(<line>): Assertion failed\n" in category TC_Check, level 0.
void TraceAssertAt(const char* file, int line);

#define TRACE_CHECK(hr) TraceCheckAt(__FILE__, __LINE__, (hr))
// Evaluates to the condition; a false one writes the assertion record and the program goes on.
#define TRACE_ASSERT(cond) ((cond) ? true : (TraceAssertAt(__FILE__, __LINE__), false))

// The log path for a given local application-data folder:
// <folder>\QelIdentra\Log\qelidentra.log, with the first "\NetworkService\" (any case)
// replaced by "\LocalService\".
std::wstring LogPathUnder(const std::wstring& localAppData);
// The log path of the account that runs the agent (ignores the test override).
std::wstring DefaultLogPath();

// Test seams.
// A non-empty path replaces the computed log path (its marker is path + "_ge201"); an empty one
// returns to the computed path. Closes the open log file so the next write opens the new one.
void SetLogPathOverride(const std::wstring& path);
// Replaces the debugger-attached query (nullptr: the real IsDebuggerPresent).
void SetDebuggerQuery(bool (*query)());
// Called for every line handed to LogWrite, with the level and the text exactly as given.
// An empty function stops the capture.
void SetTraceCapture(std::function<void(int level, const std::wstring& line)> capture);

// Channel tags.
inline constexpr wchar_t kTagConfigInit[] = L"ConfigInit: ";
inline constexpr wchar_t kTagIdentInfo[] = L"IdentInfo: ";
inline constexpr wchar_t kTagNovell[] = L"NovellUserIdentHack: ";
inline constexpr wchar_t kTagAuthServ[] = L"AuthServ: ";
inline constexpr wchar_t kTagAppShutdown[] = L"AppShutdown: ";
inline constexpr wchar_t kTagApp[] = L"App: ";
inline constexpr wchar_t kTagMain[] = L"Main: ";
inline constexpr wchar_t kTagV7kClient[] = L"V7kClient:";
inline constexpr wchar_t kTagAuthFSM[] = L"AuthFSM:";

// A wide string stream for one trace line, written by the destructor as tag + prefix + text
// when the filter passed for Mask and the stream's level. A filtered-out line builds nothing.
// One object per statement:
//   TsMain(0) << L"failed: " << hr;
// 8-bit text is widened byte by byte, so it reaches the 8-bit log file unchanged.
template <uint32_t Mask, const wchar_t* Tag>
class TraceStream {
 public:
  TraceStream() : TraceStream(1) {}
  explicit TraceStream(int32_t level, std::wstring_view prefix = {}) : level_(level) {
    if (!TraceFilter(level_, Mask)) return;
    text_.emplace();
    *text_ << Tag << prefix;
  }
  TraceStream(const TraceStream&) = delete;
  TraceStream& operator=(const TraceStream&) = delete;

  ~TraceStream() {
    if (text_) LogWrite(level_, text_->str().c_str());
  }

  template <typename T>
  TraceStream& operator<<(const T& value) {
    if (text_) *text_ << value;
    return *this;
  }
  TraceStream& operator<<(const char* text) { return Append8(text ? std::string_view(text) : std::string_view()); }
  TraceStream& operator<<(char* text) { return *this << static_cast<const char*>(text); }
  TraceStream& operator<<(const std::string& text) { return Append8(text); }
  TraceStream& operator<<(std::string_view text) { return Append8(text); }
  TraceStream& operator<<(const wchar_t* text) { return *this << std::wstring_view(text ? text : L""); }
  TraceStream& operator<<(std::wostream& (*manip)(std::wostream&)) {
    if (text_) manip(*text_);
    return *this;
  }
  TraceStream& operator<<(std::ios_base& (*manip)(std::ios_base&)) {
    if (text_) manip(*text_);
    return *this;
  }

 private:
  TraceStream& Append8(std::string_view text) {
    if (text_)
      for (char c : text) text_->put(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return *this;
  }

  int32_t level_;
  std::optional<std::wostringstream> text_;  // only for a line that is written
};

using TsConfigInit = TraceStream<TC_Config, kTagConfigInit>;
using TsIdentInfo = TraceStream<TC_Ident, kTagIdentInfo>;
using TsNovell = TraceStream<TC_Ident, kTagNovell>;
using TsAuthServ = TraceStream<TC_Service, kTagAuthServ>;
using TsAppShutdown = TraceStream<TC_Shutdown, kTagAppShutdown>;
using TsApp = TraceStream<TC_App, kTagApp>;
using TsMain = TraceStream<TC_App, kTagMain>;
using TsV7kClient = TraceStream<TC_Client, kTagV7kClient>;
using TsAuthFSM = TraceStream<TC_FSM, kTagAuthFSM>;
