#include "support/MessageWindow.h"

#include <cwchar>

namespace {

bool RegisterOnce(const wchar_t* className, UINT classStyle) {
  if (MessageWindow::ClassRegistered(className)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = classStyle;
  wc.lpfnWndProc = &MessageWindow::WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  // Another thread may have registered it in the meantime.
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

bool MessageWindow::ClassRegistered(const wchar_t* className) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  return GetClassInfoExW(GetModuleHandleW(nullptr), className, &existing) != FALSE;
}

bool MessageWindow::Create(const wchar_t* className, const wchar_t* windowName, Handler handler,
                           std::optional<TopLevel> topLevel) {
  Destroy();
  if (!RegisterOnce(className, topLevel ? topLevel->classStyle : 0)) return false;
  handler_ = std::move(handler);
  const int width = topLevel ? topLevel->width : 0;
  const int height = topLevel ? topLevel->height : 0;
  window_ = CreateWindowExW(0, className, windowName, 0, 0, 0, width, height, topLevel ? nullptr : HWND_MESSAGE,
                            nullptr, GetModuleHandleW(nullptr), this);
  return window_ != nullptr;
}

void MessageWindow::Destroy() {
  if (window_ == nullptr) return;
  HWND window = window_;
  window_ = nullptr;
  // Messages still arriving during destruction find no holder.
  SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  DestroyWindow(window);
}

MessageWindow::PumpResult MessageWindow::Pump(DWORD sliceMs, std::span<const HANDLE> events) {
  const ULONGLONG start = GetTickCount64();
  const DWORD count = static_cast<DWORD>(events.size());
  for (;;) {
    if (window_ == nullptr || !IsWindow(window_)) return PumpResult::WindowGone;
    MSG msg;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return PumpResult::Quit;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
      continue;
    }
    DWORD wait = INFINITE;
    if (sliceMs != INFINITE) {
      const ULONGLONG elapsed = GetTickCount64() - start;
      if (elapsed >= sliceMs) return PumpResult::Slice;
      wait = static_cast<DWORD>(sliceMs - elapsed);
    }
    const DWORD woken = MsgWaitForMultipleObjectsEx(count, events.data(), wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken < WAIT_OBJECT_0 + count) return PumpResult::Event;
    if (woken == WAIT_FAILED) return PumpResult::WindowGone;
  }
}

LRESULT CALLBACK MessageWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* holder = reinterpret_cast<MessageWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (holder == nullptr || !holder->handler_) return DefWindowProcW(window, message, wParam, lParam);
  try {
    if (const std::optional<LRESULT> answer = holder->handler_(window, message, wParam, lParam)) return *answer;
  } catch (...) {
    wchar_t text[2048];
    _snwprintf(text, 2048, L"* * Exception caught in TQueueServer.wndProc(0x%x,0x%d)\n",
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)), message);
    text[2047] = L'\0';
    OutputDebugStringW(text);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
