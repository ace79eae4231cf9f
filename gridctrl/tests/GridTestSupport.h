#pragma once
// What the grid's window tests share: an owner window that records the grid's
// notifications and answers them, and a grid of known geometry inside it.

#include <windows.h>

#include <map>
#include <memory>
#include <vector>

#include "GridCtrl.h"

struct Notification {
  int code;
  int row;
  int column;
  bool operator==(const Notification& other) const {
    return code == other.code && row == other.row && column == other.column;
  }
};

inline std::ostream& operator<<(std::ostream& out, const Notification& n) {
  return out << "{" << n.code << ", " << n.row << ", " << n.column << "}";
}

// A top-level window that owns the grid: it records every WM_NOTIFY from it and
// answers from a table of results by code (0 when absent).
class RecordingOwner : public CWnd {
 public:
  RecordingOwner() {
    static const bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = DefWindowProcA;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "GridTestOwner";
      return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    CreateEx(0, "GridTestOwner", "grid test", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr, nullptr);
  }

  std::vector<Notification> notifications;
  std::vector<WPARAM> commands;
  std::map<int, LRESULT> answers;
  // Text of the edited cell when the owner is asked about an end of edit.
  std::vector<CString> endEditTexts;
  CGridCtrl* grid = nullptr;

  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const Notification& n : notifications) codes.push_back(n.code);
    return codes;
  }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_NOTIFY) {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      const int code = static_cast<int>(header->code);
      if (code == GridCode::CacheHint || code == GridCode::DisplayRequest) return CWnd::WindowProc(message, wParam, lParam);
      const auto* notify = reinterpret_cast<const GridNotify*>(lParam);
      notifications.push_back({code, notify->row, notify->column});
      if (code == GridCode::EndEdit && grid) endEditTexts.push_back(grid->GetItemText(notify->row, notify->column));
      auto answer = answers.find(code);
      return answer == answers.end() ? 0 : answer->second;
    }
    if (message == WM_COMMAND) commands.push_back(wParam);
    return CWnd::WindowProc(message, wParam, lParam);
  }
};

// Removes every message waiting for this thread's windows, dispatching each.
inline void DrainMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// Sets or clears the keys that the grid reads through GetKeyState.
inline void SetKeys(std::initializer_list<int> held) {
  BYTE state[256] = {};
  for (int key : held) state[key] = 0x80;
  SetKeyboardState(state);
}

inline CRect ClientOf(const CWnd& wnd) {
  CRect rect;
  wnd.GetClientRect(&rect);
  return rect;
}
