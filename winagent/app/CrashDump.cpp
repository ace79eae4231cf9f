#include "app/CrashDump.h"

#include <dbghelp.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

constexpr DWORD kMaxDumpFiles = 10;
constexpr MINIDUMP_TYPE kDumpType = static_cast<MINIDUMP_TYPE>(
    MiniDumpWithDataSegs | MiniDumpWithFullMemory | MiniDumpWithHandleData | MiniDumpWithProcessThreadData);

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

std::atomic<MiniDumpWriteDumpFn> g_dumpWriter{nullptr};
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
bool g_filterInstalled = false;

}  // namespace

void InstallCrashDumpFilter() {
  TsMain(4) << L"Setting unhandled exception filter.";
  if (!g_dumpWriter.load()) {
    ModuleHolder dbghelp(LoadSystemLibrary(L"dbghelp.dll"));
    if (!dbghelp.Valid()) {
      TracePrintf(TC_Shutdown, 1, L"Dbghelp.dll not found; no crash dumps will be generated.");
    } else if (const auto writer = dbghelp.Function<MiniDumpWriteDumpFn>("MiniDumpWriteDump")) {
      g_dumpWriter.store(writer);
      dbghelp.Detach();  // the writer is needed for the life of the process
    } else {
      TracePrintf(TC_Shutdown, 1, L"Minidump function not found.");
    }
  }
  if (!g_filterInstalled) {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(&TavoUnhandledExceptionFilter);
    if (previous != &TavoUnhandledExceptionFilter) g_previousFilter = previous;
    g_filterInstalled = true;
  }
}

void WriteCrashDump(EXCEPTION_POINTERS* exception) {
  const MiniDumpWriteDumpFn writer = g_dumpWriter.load();
  if (!writer) return;
  wchar_t program[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return;
  if (CountFiles(std::wstring(program) + L"_*.mdmp") >= static_cast<int>(kMaxDumpFiles)) return;

  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[64];
  _snwprintf(stamp, 63, L"_%02u-%02u-%02u_%02u.%02u.%02u.%03lu.mdmp", now.wYear % 100u, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, GetTickCount() % 1000ul);
  stamp[63] = L'\0';
  const std::wstring path = std::wstring(program) + stamp;

  HandleHolder file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return;
  MINIDUMP_EXCEPTION_INFORMATION info = {};
  info.ThreadId = GetCurrentThreadId();
  info.ExceptionPointers = exception;
  info.ClientPointers = TRUE;
  writer(GetCurrentProcess(), GetCurrentProcessId(), file.Get(), kDumpType, exception ? &info : nullptr, nullptr,
         nullptr);
}

LONG WINAPI TavoUnhandledExceptionFilter(EXCEPTION_POINTERS* exception) {
  WriteCrashDump(exception);
  return g_previousFilter ? g_previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}
