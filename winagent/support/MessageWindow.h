// Hidden message-only window (HWND_MESSAGE) whose messages go to an owner's
// handler. Used by the identification object and by every appliance client.
#pragma once

#include <functional>
#include <span>
#include <string>

#include <windows.h>

class MessageWindow {
 public:
  // Gets every message of the window. Returning true lets the default window
  // procedure run afterwards; false answers the message with 0 instead.
  using Handler = std::function<bool(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;

  MessageWindow() = default;
  ~MessageWindow() { Destroy(); }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Registers the class on its first use in the process and creates the
  // window on the calling thread, which then owns its messages.
  bool Create(const wchar_t* className, const wchar_t* windowName, Handler handler);
  void Destroy();

  HWND Handle() const { return window_; }

  enum class PumpResult { Slice, Quit, WindowGone, Event };

  // Dispatches the thread's messages for up to sliceMs milliseconds (INFINITE: no limit),
  // asleep until a message arrives or one of events is set. Ends early on a quit message
  // (left for the caller, not re-posted), when the window no longer exists or cannot be
  // waited for, or when one of events is set (the caller looks which).
  PumpResult Pump(DWORD sliceMs, std::span<const HANDLE> events = {});

  // The window procedure shared by all holders: an exception that escapes a
  // handler is reported to the debugger output and the window goes on working.
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  HWND window_ = nullptr;
  Handler handler_;
};
