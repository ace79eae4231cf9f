#include "WfPlatform.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr DWORD kInputIdleMs = 60000;

WfPlatform& RealPlatform() {
  static WfPlatform real;
  return real;
}

WfPlatform* current = nullptr;

}  // namespace

int WfPlatform::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  return ::MessageBoxA(owner, text, caption, type);
}

BOOL WfPlatform::ShellOpen(HWND owner, const char* target, int showCommand) {
  const HINSTANCE result = ::ShellExecuteA(owner, "open", target, nullptr, nullptr, showCommand);
  return reinterpret_cast<INT_PTR>(result) > 32;
}

BOOL WfPlatform::StartProcess(const char* commandLine, int showCommand) {
  std::string line(commandLine ? commandLine : "");  // CreateProcessA may write to it
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
    return FALSE;
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return TRUE;
}

BOOL WfPlatform::RunProcess(const char* program, const char* commandLine, const char* folder,
                            const STARTUPINFOA& startup, DWORD* exitCode,
                            const ProcessStarted& started) {
  std::string line(commandLine ? commandLine : "");  // CreateProcessA may write to it
  STARTUPINFOA info = startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(program, commandLine ? line.data() : nullptr, nullptr, nullptr, TRUE,
                        started ? CREATE_SUSPENDED : 0, nullptr, folder, &info, &process))
    return FALSE;
  // Held up until started() has seen it; one that cannot go on is ended, not left waiting.
  if (started &&
      (!started(process.hProcess) || ::ResumeThread(process.hThread) == static_cast<DWORD>(-1))) {
    const DWORD error = ::GetLastError();
    ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::SetLastError(error);
    return FALSE;
  }
  ::CloseHandle(process.hThread);
  ::WaitForInputIdle(process.hProcess, kInputIdleMs);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  if (exitCode) *exitCode = code;
  return TRUE;
}

HRESULT WfPlatform::CreateGuid(GUID* guid) { return ::CoCreateGuid(guid); }

DWORD WfPlatform::SystemVersion() { return ::GetVersion(); }

void WfPlatform::Checkpoint(const char*) {}

HDC WfPlatform::PrintDialog(HWND owner, DWORD flags) {
  PRINTDLGA dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = owner;
  dialog.Flags = flags | PD_RETURNDC;
  const BOOL confirmed = ::PrintDlgA(&dialog);
  // The device settings are ours to free; the DC goes to the caller.
  if (dialog.hDevMode) ::GlobalFree(dialog.hDevMode);
  if (dialog.hDevNames) ::GlobalFree(dialog.hDevNames);
  if (confirmed) return dialog.hDC;
  if (dialog.hDC) ::DeleteDC(dialog.hDC);
  return nullptr;
}

int WfPlatform::StartDoc(HDC dc, const DOCINFOA& document) { return ::StartDocA(dc, &document); }
int WfPlatform::StartPage(HDC dc) { return ::StartPage(dc); }
int WfPlatform::EndPage(HDC dc) { return ::EndPage(dc); }
int WfPlatform::EndDoc(HDC dc) { return ::EndDoc(dc); }
int WfPlatform::AbortDoc(HDC dc) { return ::AbortDoc(dc); }

WfPlatform& WfPlatform::Current() { return current ? *current : RealPlatform(); }

WfPlatform* WfPlatform::Install(WfPlatform* platform) {
  WfPlatform* previous = current;
  current = platform;
  return previous;
}
