// mutexholder marker=<path> ready=<event> quit=<event> mode=answer|ignore|stale
//             [class=<window class>|none] [pid=<decimal>] [path=<text>] [emptydacl]
// answer: takes the marker and quits on the quit request (exit 0).
// ignore: takes the marker and never answers the quit request.
// stale:  holds the marker open with lines naming pid, path and its window (MsgHWND 0 with
//         class=none), as left behind by a program that is gone.
// Sets the ready event once the marker is held; ends when the quit event is set. Exit code 2
// tells that a quit request arrived but was not answered, 3 that the marker was not taken.
#include <aclapi.h>
#include <shellapi.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/NetMutex.h"

namespace {

bool g_answer = false;
bool g_requested = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgQuitRequest && wParam == kQuitRequestCode) {
    g_requested = true;
    if (g_answer) {
      PostQuitMessage(0);
      return kMsgQuitAnswer;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring Option(int argc, wchar_t** argv, const wchar_t* name) {
  const size_t length = wcslen(name);
  for (int i = 1; i < argc; ++i) {
    if (wcsncmp(argv[i], name, length) == 0 && argv[i][length] == L'=') return argv[i] + length + 1;
  }
  return L"";
}

bool Flag(int argc, wchar_t** argv, const wchar_t* name) {
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], name) == 0) return true;
  }
  return false;
}

// What the agent does without NP: an empty, protected access list on its own process.
void LowerProcessAccess() {
  ACL acl;
  InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
  SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
                  &acl, nullptr);
}

HANDLE HoldStaleMarker(const std::wstring& path, DWORD pid, const std::wstring& program,
                       HWND window) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  wchar_t text[1200];
  const int length = _snwprintf(
      text, 1200,
      L"Machine=GONEHOST\r\nPath=%s\r\nProcessID=0x%x\r\nThreadID=0x1\r\nMsgHWND=0x%X\r\n",
      program.c_str(), pid, static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)));
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(length) * sizeof(wchar_t), &written, nullptr);
  return file;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  const std::wstring marker = Option(argc, argv, L"marker");
  const std::wstring mode = Option(argc, argv, L"mode");
  std::wstring className = Option(argc, argv, L"class");
  if (className.empty()) className = L"TavoAuthClass";
  g_answer = mode == L"answer";

  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, Option(argc, argv, L"ready").c_str());
  HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, Option(argc, argv, L"quit").c_str());

  HWND window = nullptr;
  if (className != L"none") {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className.c_str();
    RegisterClassW(&windowClass);
    window = CreateWindowExW(0, className.c_str(), L"TavoAuthWnd", WS_OVERLAPPED, 0, 0, 10, 10,
                             nullptr, nullptr, instance, nullptr);
    if (!window) return 3;
  }
  if (Flag(argc, argv, L"emptydacl")) LowerProcessAccess();

  NetMutex mutex;
  HANDLE stale = INVALID_HANDLE_VALUE;
  if (mode == L"stale") {
    const std::wstring pid = Option(argc, argv, L"pid");
    stale = HoldStaleMarker(marker,
                            pid.empty() ? GetCurrentProcessId() : wcstoul(pid.c_str(), nullptr, 10),
                            Option(argc, argv, L"path"), window);
    if (stale == INVALID_HANDLE_VALUE) return 3;
  } else {
    mutex.ownWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    if (!mutex.Lock(marker.c_str())) return 3;
  }
  SetEvent(ready);

  for (;;) {
    const DWORD woke = MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
    if (woke == WAIT_OBJECT_0) break;
    MSG message;
    bool quitMessage = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) quitMessage = true;
      DispatchMessageW(&message);
    }
    if (quitMessage) break;
  }
  mutex.Release();
  if (stale != INVALID_HANDLE_VALUE) CloseHandle(stale);
  if (window) DestroyWindow(window);
  return g_requested && !g_answer ? 2 : 0;
}
