// A hidden window whose messages go to an owner's handler: message-only (HWND_MESSAGE) for
// the identification object and every appliance client, top-level for the main window.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

#include <windows.h>

class MessageWindow {
 public:
  // Gets every message of the window. No answer lets the default window procedure run
  // afterwards; an answer is the message's result instead.
  using Handler = std::function<std::optional<LRESULT>(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;

  // A top-level window (found by its class from other processes) of this size and class
  // style, instead of a message-only one.
  struct TopLevel {
    UINT classStyle = 0;
    int width = 0;
    int height = 0;
  };

  MessageWindow() = default;
  ~MessageWindow() { Destroy(); }
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Registers the class on its first use in the process and creates the window on the
  // calling thread, which then owns its messages. False when the class could not be
  // registered (ClassRegistered tells) or the window not made.
  bool Create(const wchar_t* className, const wchar_t* windowName, Handler handler,
              std::optional<TopLevel> topLevel = std::nullopt);
  static bool ClassRegistered(const wchar_t* className);
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
