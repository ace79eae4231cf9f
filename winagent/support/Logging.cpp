#include "support/Logging.h"

#include <atomic>
#include <cstdarg>
#include <mutex>

#include "support/Utilities.h"

#include <initguid.h>
#include <knownfolders.h>

namespace {
// Serialises opening and writing the log file, across threads of this process.
volatile LONG g_spin = -1;
std::atomic<bool (*)()> g_debuggerQuery{nullptr};

// Built on first use, so static initialisers of other files may already trace, and never
// destroyed, so threads still tracing while the process exits find it intact.
struct WriterState {
  HandleHolder logFile;  // guarded by the spin lock, as are the paths
  std::wstring logPath;
  std::wstring pathOverride;
  std::mutex captureMutex;
  std::function<void(int, const std::wstring&)> capture;
};
WriterState& State() {
  static WriterState* state = new WriterState;
  return *state;
}

class SpinLock {
 public:
  SpinLock() {
    while (InterlockedIncrement(&g_spin) != 0) {
      InterlockedDecrement(&g_spin);
      Sleep(10);
    }
  }
  ~SpinLock() { InterlockedDecrement(&g_spin); }
  SpinLock(const SpinLock&) = delete;
  SpinLock& operator=(const SpinLock&) = delete;
};

bool DebuggerAttached() {
  bool (*query)() = g_debuggerQuery.load();
  return query ? query() : IsDebuggerPresent() != FALSE;
}

void CloseLogFile() {
  WriterState& st = State();
  st.logFile.Close();
}

// Called under the spin lock.
bool OpenLogFile() {
  WriterState& st = State();
  st.logPath = st.pathOverride.empty() ? DefaultLogPath() : st.pathOverride;
  OutputDebugStringW((L"Identra logfile path:" + st.logPath + L"\n").c_str());
  if (st.logPath.empty()) return false;
  CreateDirectoryPath(st.logPath);

  // A log without its marker was written by an older agent: start it afresh, once.
  const std::wstring marker = st.logPath + L"_ge201";
  if (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
    DeleteFileW(st.logPath.c_str());
    HandleHolder created(CreateFileW(marker.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }

  st.logFile.Reset(CreateFileW(st.logPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!st.logFile.Valid()) return false;
  SetFilePointer(st.logFile.Get(), 0, nullptr, FILE_END);
  return true;
}

const char* SourceName(const char* file) {
  if (!file) return "";
  const char* name = file;
  for (const char* p = file; *p; ++p)
    if (*p == '\\' || *p == '/') name = p + 1;
  return name;
}
}  // namespace

namespace {
const uint32_t* g_traceCategories = nullptr;
const uint32_t* g_traceHighestLevel = nullptr;
}  // namespace

void BindTraceFilter(const uint32_t* categories, const uint32_t* highestLevel) {
  g_traceCategories = categories;
  g_traceHighestLevel = highestLevel;
}

bool TraceFilter(int level, uint32_t mask) {
  if (DebuggerAttached()) return true;
  if (!g_traceCategories || !g_traceHighestLevel) return false;
  return (mask & *g_traceCategories) != 0 &&
         static_cast<int64_t>(level) <= static_cast<int64_t>(*g_traceHighestLevel);
}

void TracePrintf(uint32_t mask, int level, const wchar_t* fmt, ...) {
  if (!fmt || !TraceFilter(level, mask)) return;
  wchar_t text[2048];
  va_list args;
  va_start(args, fmt);
  _vsnwprintf(text, 2047, fmt, args);
  va_end(args);
  text[2047] = L'\0';  // not terminated when the output was cut
  LogWrite(level, text);
}

void LogWrite(int level, const wchar_t* text) {
  const DWORD callerError = GetLastError();  // callers often trace before reading their error
  if (!text) text = L"";

  OutputDebugStringW(text);
  WriterState& st = State();
  std::function<void(int, const std::wstring&)> capture;
  {
    std::lock_guard<std::mutex> guard(st.captureMutex);
    capture = st.capture;
  }
  if (capture) capture(level, text);

  SYSTEMTIME t;
  GetLocalTime(&t);
  wchar_t stamped[2176];
  _snwprintf(stamped, 2175, L"%04d-%02d-%02d %02d:%02d:%02d\t%04d\t %s", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
             t.wSecond, static_cast<int>(GetCurrentProcessId()), text);
  stamped[2175] = L'\0';

  std::string line = (level >= 0 && level <= 4) ? std::string{'L', static_cast<char>('0' + level), '\t'} : "L?\t";
  line += Narrow(stamped);
  if (line.back() != '\n')
    line += "\r\n";
  else if (line[line.size() - 2] != '\r')
    line.insert(line.size() - 1, 1, '\r');

  {
    SpinLock lock;
    if (st.logFile.Valid() || OpenLogFile()) {
      DWORD written = 0;
      WriteFile(st.logFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
  }
  SetLastError(callerError);
}

long TraceCheckAt(const char* file, int line, long hr) {
  TracePrintf(TC_Check, hr < 0 ? 1 : 4, L"%hs(%d): Check failed, returning 0x%08x (%d)\n", SourceName(file), line,
              static_cast<unsigned>(hr), static_cast<int>(hr));
  return hr;
}

void TraceAssertAt(const char* file, int line) {
  TracePrintf(TC_Check, 0, L"%hs(%d): Assertion failed\n", SourceName(file), line);
}

std::wstring LogPathUnder(const std::wstring& localAppData) {
  // The network-service account logs into the local-service account's profile.
  return ReplaceText(localAppData + L"\\QelIdentra\\Log\\qelidentra.log", L"\\NetworkService\\", L"\\LocalService\\")
      .text;
}

std::wstring DefaultLogPath() {
  KnownFolderResult folder = KnownFolderPath(FOLDERID_LocalAppData);
  return folder.found ? LogPathUnder(folder.path) : std::wstring();
}

void SetLogPathOverride(const std::wstring& path) {
  SpinLock lock;
  State().pathOverride = path;
  CloseLogFile();
}

void SetDebuggerQuery(bool (*query)()) { g_debuggerQuery.store(query); }

void SetTraceCapture(std::function<void(int level, const std::wstring& line)> capture) {
  WriterState& st = State();
  std::lock_guard<std::mutex> guard(st.captureMutex);
  st.capture = std::move(capture);
}
