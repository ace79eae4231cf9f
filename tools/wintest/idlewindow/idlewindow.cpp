// The least an idle Win32 program does: one hidden window and a message loop, ended by the
// same quit request the agent answers. `make bench` sets the agent's idle wake-ups and its
// quit-to-exit time beside this program's.
#include <windows.h>

namespace {

constexpr UINT kQuitRequest = 0x8191;
constexpr WPARAM kQuitCode = 2;
constexpr LRESULT kQuitAnswer = 0x8192;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kQuitRequest && wParam == kQuitCode) {
    PostQuitMessage(0);
    return kQuitAnswer;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"IdleWindowClass";
  if (!RegisterClassW(&windowClass)) return 1;
  if (!CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr))
    return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
