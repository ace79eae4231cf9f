// A stand-in for the terminal-services library. Its registration fails as many times as the
// environment variable WTSFAKE_FAILURES says (0 when unset), then succeeds. When
// WTSFAKE_LOG names a file, every call appends "register ok", "register failed" or
// "unregister" to it. Built once more without the registration function.
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

void Note(const char* line) {
  wchar_t path[MAX_PATH];
  if (GetEnvironmentVariableW(L"WTSFAKE_LOG", path, MAX_PATH) == 0) return;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(strlen(line)), &written, nullptr);
  WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);
}

#ifndef WTSFAKE_NO_REGISTRATION
LONG g_calls = 0;

LONG Failures() {
  wchar_t text[32];
  if (GetEnvironmentVariableW(L"WTSFAKE_FAILURES", text, 32) == 0) return 0;
  return static_cast<LONG>(wcstol(text, nullptr, 10));
}
#endif

}  // namespace

extern "C" {

#ifndef WTSFAKE_NO_REGISTRATION
__declspec(dllexport) BOOL WINAPI WTSRegisterSessionNotification(HWND, DWORD) {
  if (InterlockedIncrement(&g_calls) <= Failures()) {
    Note("register failed");
    SetLastError(RPC_S_INVALID_BINDING);
    return FALSE;
  }
  Note("register ok");
  return TRUE;
}
#endif

__declspec(dllexport) BOOL WINAPI WTSUnRegisterSessionNotification(HWND) {
  Note("unregister");
  return TRUE;
}

}  // extern "C"
