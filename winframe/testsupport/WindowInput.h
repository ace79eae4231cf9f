// Input for window tests, sent as the system would send it (never waited for).
//   Modifiers{ctrl, shift, alt}: put into the thread's key state (SetKeyboardState) for the
//   duration of the call, so GetKeyState sees them, and into mouse messages' key flags.
//   Click / DoubleClick / RightClick / Drag at client points; MouseMove; Wheel (delta in
//   units of WHEEL_DELTA = 120, point in client coordinates, sent in screen coordinates);
//   KeyDown / KeyUp (WM_SYSKEYDOWN with alt); Chars (one WM_CHAR each);
//   TimerTick (WM_TIMER with the id, as the timer would post it).
//   TakePosted: removes and returns the messages posted to a window (and its children),
//   without handling them; DispatchPosted (WinTestSupport.h): handles every posted message
//   of the thread.
//   MenuStatesWhenOpen: opens a popup menu for a window as a click would (TrackPopupMenu,
//   so the window gets WM_INITMENUPOPUP), reads every item's state (GetMenuState by
//   position) once the menu shows, and closes it without choosing anything.
#pragma once

#include <windows.h>

#include <vector>

#include "WinTestSupport.h"  // DispatchPosted

namespace wftest {

struct Modifiers {
  bool ctrl = false;
  bool shift = false;
  bool alt = false;
};

// Holds the thread's key state with the given modifiers down; puts the old state back.
class KeyStateScope {
 public:
  explicit KeyStateScope(Modifiers modifiers);
  ~KeyStateScope();
  KeyStateScope(const KeyStateScope&) = delete;
  KeyStateScope& operator=(const KeyStateScope&) = delete;

 private:
  BYTE saved_[256];
};

void Click(HWND window, POINT point, Modifiers modifiers = {});
void DoubleClick(HWND window, POINT point, Modifiers modifiers = {});
void RightClick(HWND window, POINT point, Modifiers modifiers = {});
void MouseMove(HWND window, POINT point, UINT buttons = 0, Modifiers modifiers = {});
// Press at from, moves in steps, release at to.
void Drag(HWND window, POINT from, POINT to, int steps = 4, Modifiers modifiers = {});
void Wheel(HWND window, int delta, POINT clientPoint, Modifiers modifiers = {});
void KeyDown(HWND window, UINT virtualKey, Modifiers modifiers = {});
void KeyUp(HWND window, UINT virtualKey, Modifiers modifiers = {});
void Chars(HWND window, const char* text, Modifiers modifiers = {});
void TimerTick(HWND window, UINT_PTR id);

std::vector<MSG> TakePosted(HWND window);
std::vector<UINT> MenuStatesWhenOpen(HWND owner, HMENU popup);

}  // namespace wftest
