#include "WindowInput.h"

#include <cstring>

namespace wftest {

namespace {

WPARAM MouseKeys(UINT buttons, Modifiers m) {
  return buttons | (m.ctrl ? MK_CONTROL : 0) | (m.shift ? MK_SHIFT : 0);
}

LPARAM PointParam(POINT p) { return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)); }

void Press(HWND window, UINT down, UINT up, UINT button, POINT point, Modifiers m);

LPARAM KeyParam(UINT virtualKey, bool up) {
  const UINT scan = MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
  LPARAM l = 1 | (static_cast<LPARAM>(scan & 0xFF) << 16);
  if (up) l |= (1u << 30) | (1u << 31);
  return l;
}

}  // namespace

KeyStateScope::KeyStateScope(Modifiers m) {
  GetKeyboardState(saved_);
  BYTE state[256];
  memcpy(state, saved_, sizeof(state));
  const auto set = [&state](int key, bool down) {
    state[key] = down ? 0x80 : 0;
  };
  set(VK_CONTROL, m.ctrl);
  set(VK_LCONTROL, m.ctrl);
  set(VK_SHIFT, m.shift);
  set(VK_LSHIFT, m.shift);
  set(VK_MENU, m.alt);
  set(VK_LMENU, m.alt);
  SetKeyboardState(state);
}

KeyStateScope::~KeyStateScope() { SetKeyboardState(saved_); }

namespace {
void Press(HWND window, UINT down, UINT up, UINT button, POINT point, Modifiers m) {
  KeyStateScope keys(m);
  SendMessageA(window, down, MouseKeys(button, m), PointParam(point));
  SendMessageA(window, up, MouseKeys(0, m), PointParam(point));
}
}  // namespace

void Click(HWND window, POINT point, Modifiers m) {
  Press(window, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON, point, m);
}

void DoubleClick(HWND window, POINT point, Modifiers m) {
  KeyStateScope keys(m);
  SendMessageA(window, WM_LBUTTONDOWN, MouseKeys(MK_LBUTTON, m), PointParam(point));
  SendMessageA(window, WM_LBUTTONUP, MouseKeys(0, m), PointParam(point));
  SendMessageA(window, WM_LBUTTONDBLCLK, MouseKeys(MK_LBUTTON, m), PointParam(point));
  SendMessageA(window, WM_LBUTTONUP, MouseKeys(0, m), PointParam(point));
}

void RightClick(HWND window, POINT point, Modifiers m) {
  Press(window, WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON, point, m);
}

void MouseMove(HWND window, POINT point, UINT buttons, Modifiers m) {
  KeyStateScope keys(m);
  SendMessageA(window, WM_MOUSEMOVE, MouseKeys(buttons, m), PointParam(point));
}

void Drag(HWND window, POINT from, POINT to, int steps, Modifiers m) {
  KeyStateScope keys(m);
  SendMessageA(window, WM_LBUTTONDOWN, MouseKeys(MK_LBUTTON, m), PointParam(from));
  for (int i = 1; i <= steps; ++i) {
    const POINT p{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps};
    SendMessageA(window, WM_MOUSEMOVE, MouseKeys(MK_LBUTTON, m), PointParam(p));
  }
  SendMessageA(window, WM_LBUTTONUP, MouseKeys(0, m), PointParam(to));
}

void Wheel(HWND window, int delta, POINT clientPoint, Modifiers m) {
  KeyStateScope keys(m);
  POINT screen = clientPoint;
  ClientToScreen(window, &screen);
  SendMessageA(window, WM_MOUSEWHEEL, MAKEWPARAM(MouseKeys(0, m), static_cast<WORD>(delta)),
               PointParam(screen));
}

void KeyDown(HWND window, UINT virtualKey, Modifiers m) {
  KeyStateScope keys(m);
  SendMessageA(window, m.alt ? WM_SYSKEYDOWN : WM_KEYDOWN, virtualKey, KeyParam(virtualKey, false));
}

void KeyUp(HWND window, UINT virtualKey, Modifiers m) {
  KeyStateScope keys(m);
  SendMessageA(window, m.alt ? WM_SYSKEYUP : WM_KEYUP, virtualKey, KeyParam(virtualKey, true));
}

void Chars(HWND window, const char* text, Modifiers m) {
  KeyStateScope keys(m);
  for (const char* c = text; *c; ++c)
    SendMessageA(window, WM_CHAR, static_cast<unsigned char>(*c), 1);
}

void TimerTick(HWND window, UINT_PTR id) { SendMessageA(window, WM_TIMER, id, 0); }

std::vector<MSG> TakePosted(HWND window) {
  std::vector<MSG> taken;
  MSG msg;
  // Posted messages only: sent ones are handled inside PeekMessage and never returned.
  // The window filter takes its children's messages too.
  while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE | PM_QS_POSTMESSAGE)) taken.push_back(msg);
  return taken;
}

namespace {

struct OpenMenu {
  HMENU popup;
  std::vector<UINT> states;
  bool shown = false;
};
thread_local OpenMenu* openMenu = nullptr;

// The menu's loop tells its owner when it waits for input: the menu is up by then.
LRESULT CALLBACK WatchMenuIdle(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && openMenu && !openMenu->shown && sent->message == WM_ENTERIDLE &&
      sent->wParam == MSGF_MENU) {
    openMenu->shown = true;
    const int count = GetMenuItemCount(openMenu->popup);
    for (int item = 0; item < count; ++item)
      openMenu->states.push_back(GetMenuState(openMenu->popup, item, MF_BYPOSITION));
    EndMenu();
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Closes a menu that never reports itself idle, so that a test fails instead of hanging.
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }

// The hook and the guard timer for one open menu, removed with it.
class MenuWatch {
 public:
  explicit MenuWatch(OpenMenu& menu)
      : hook_(SetWindowsHookExA(WH_CALLWNDPROC, WatchMenuIdle, nullptr, GetCurrentThreadId())),
        guard_(SetTimer(nullptr, 0, 5000, CloseMenu)) {
    openMenu = &menu;
  }
  ~MenuWatch() {
    openMenu = nullptr;
    KillTimer(nullptr, guard_);
    if (hook_) UnhookWindowsHookEx(hook_);
  }
  MenuWatch(const MenuWatch&) = delete;
  MenuWatch& operator=(const MenuWatch&) = delete;

 private:
  HHOOK hook_;
  UINT_PTR guard_;
};

}  // namespace

std::vector<UINT> MenuStatesWhenOpen(HWND owner, HMENU popup) {
  OpenMenu menu{popup, {}};
  {
    MenuWatch watch(menu);
    POINT at{10, 10};
    ClientToScreen(owner, &at);
    TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD, at.x, at.y, 0, owner, nullptr);
  }
  return menu.states;
}

}  // namespace wftest
