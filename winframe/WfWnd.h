// Windows: CWnd over a real Win32 window, with per-class message maps.
//
// Objects and handles
//   m_hWnd; FromHandle (a temporary wrapper when no object owns the handle; valid while
//   the window lives, never destroys it), FromHandlePermanent (the owning object or null),
//   Attach/Detach (map only), SubclassWindow/UnsubclassWindow/SubclassDlgItem
//   (route the window's messages to this object; PreSubclassWindow runs first),
//   Create/CreateEx (the object gets every message from WM_NCCREATE on; PreCreateWindow
//   may change the CREATESTRUCT; PreSubclassWindow runs once the window exists, after
//   WM_CREATE), DestroyWindow. The destructor destroys a window it still owns.
//   PostNcDestroy runs once the window is gone, after the outermost handler of that window
//   that is on the stack has returned, so a handler may destroy its own window (and the
//   object may delete itself in PostNcDestroy) and still use its members until it returns.
//
// Messages
//   WindowProc -> OnWndMsg (map) -> DefWindowProc (the sub-classed procedure or the
//   system's). Default() passes the message being handled on; the CWnd::OnXxx defaults do
//   the same (or rebuild the message when called from elsewhere).
//   WM_COMMAND from a control and WM_NOTIFY go first to the sending control's object
//   (OnChildNotify, its ON_CONTROL_REFLECT / ON_NOTIFY_REFLECT entries), then to this map.
//   A menu or accelerator command that this map does not take goes to the window with the
//   keyboard focus and then its parents, while they are children of this window.
//   Command UI: when a menu of this window opens (WM_INITMENUPOPUP), each of its commands
//   is offered as a CCmdUI to the ON_UPDATE_COMMAND_UI entries along the same way (this
//   window first); the first entry for the command sets the item's state. An item that
//   no entry takes keeps its state.
//   PreTranslateMessage: a modal loop offers each message to the target window and its
//   parents up to the top-level window (WalkPreTranslateTree) before dispatching it.
//   A CException or std::exception that escapes a handler stops at the window procedure:
//   it goes to the debugger output and the message answers 0 (WM_CREATE -1 and
//   WM_NCCREATE FALSE, so creation fails; WM_PAINT validates the window first).
//
// Message map of a class:
//   class CMine : public CWnd { ... DECLARE_MESSAGE_MAP() };
//   BEGIN_MESSAGE_MAP(CMine, CWnd)
//     ON_WM_PAINT()
//     ON_NOTIFY_REFLECT(-106, OnEndEdit)     // void OnEndEdit(NMHDR*, LRESULT*)
//   END_MESSAGE_MAP()
//   Entries: ON_WM_PAINT ERASEBKGND SIZE HSCROLL VSCROLL KEYDOWN KEYUP SYSKEYDOWN CHAR
//   SYSCHAR LBUTTONDOWN LBUTTONUP LBUTTONDBLCLK RBUTTONDOWN RBUTTONUP MOUSEMOVE MOUSEWHEEL
//   TIMER GETDLGCODE SETFOCUS KILLFOCUS CAPTURECHANGED SYSCOLORCHANGE SETCURSOR CREATE
//   DESTROY CLOSE SYSCOMMAND QUERYDRAGICON; ON_MESSAGE(msg, fn) with LRESULT fn(WPARAM, LPARAM);
//   ON_COMMAND(id, fn); ON_CONTROL(code, id, fn), ON_EN_CHANGE/SETFOCUS/KILLFOCUS,
//   ON_BN_CLICKED, ON_LBN_SELCHANGE/DBLCLK; ON_CONTROL_REFLECT(code, fn);
//   ON_NOTIFY(code, id, fn), ON_NOTIFY_REFLECT(code, fn);
//   ON_UPDATE_COMMAND_UI(id, fn) with void fn(CCmdUI*).
//   Handlers have the usual signatures, e.g. void OnLButtonDown(UINT nFlags, CPoint point),
//   void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags), BOOL OnMouseWheel(UINT, short, CPoint).
//
// Window calls: text, font, rectangles and coordinates, move/show/enable, invalidation,
// timers, capture, focus, scroll bars, styles, dialog items, GetDC/ReleaseDC,
// MessageBox (through the platform seam, titled with the application's name).
// All text is 8-bit: windows are driven through the A-family calls.
#pragma once

#include <windows.h>

#include <vector>

#include "WfGdi.h"
#include "WfGeometry.h"
#include "WfObject.h"
#include "WfString.h"

class CWnd;
class CMenu;
class CScrollBar;

// One user-interface element of a command (a menu item) while its state is asked
// for: an update handler enables or disables it.
class CCmdUI {
 public:
  CCmdUI(UINT id, CMenu* menu, UINT index) : m_nID(id), m_nIndex(index), m_pMenu(menu) {}
  virtual ~CCmdUI() = default;

  virtual void Enable(BOOL on = TRUE);
  // Offers the element to `target`'s update entries; TRUE when one took it.
  BOOL DoUpdate(CWnd* target);

  UINT m_nID;
  UINT m_nIndex;
  CMenu* m_pMenu;
};

// The message-map entries of update handlers carry this in place of a message.
constexpr UINT kWfUpdateCommandUI = 0xFFFF0001u;

// One message-map entry. Command and notification entries match on the notification
// code and a control or command id range; reflected entries are the control's own.
struct WfMsgEntry {
  UINT message;
  UINT code;
  UINT idFirst;
  UINT idLast;
  bool reflected;
  void (*handler)(CWnd* target, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

struct WfMessageMap {
  const WfMessageMap* (*base)();
  const WfMsgEntry* entries;  // ends with an entry whose handler is null
};

class CWnd : public CObject {
  DECLARE_DYNAMIC(CWnd)
 public:
  HWND m_hWnd = nullptr;

  CWnd() = default;
  ~CWnd() override;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  // Insert-after values for SetWindowPos.
  static const CWnd wndTop, wndBottom, wndTopMost, wndNoTopMost;

  static CWnd* FromHandle(HWND hWnd);
  static CWnd* FromHandlePermanent(HWND hWnd);
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }
  BOOL Attach(HWND hWnd);
  HWND Detach();
  void AttachTemporary(HWND hWnd) { m_hWnd = hWnd; temporary_ = true; }

  virtual BOOL Create(const char* className, const char* windowName, DWORD style, const RECT& rect,
                      CWnd* parent, UINT id, void* createParam = nullptr);
  BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                const RECT& rect, CWnd* parent, UINT id, void* createParam = nullptr);
  virtual BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                        int x, int y, int width, int height, HWND parent, HMENU menuOrId,
                        void* createParam = nullptr);
  virtual BOOL DestroyWindow();
  virtual BOOL PreCreateWindow(CREATESTRUCTA& cs);
  virtual void PreSubclassWindow();
  BOOL SubclassWindow(HWND hWnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();

  virtual BOOL PreTranslateMessage(MSG* msg);
  // Offers msg to its window and that window's parents, up to stopAt or the top-level window.
  static BOOL WalkPreTranslateTree(HWND stopAt, MSG* msg);

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

  // Text and font
  void SetWindowText(const char* text);
  int GetWindowText(char* buffer, int size) const;
  void GetWindowText(CString& text) const;
  int GetWindowTextLength() const;
  void SetFont(CFont* font, BOOL redraw = TRUE);
  CFont* GetFont() const;

  // Family
  int GetDlgCtrlID() const;
  CWnd* GetDlgItem(int id) const;
  CWnd* GetParent() const;
  // The window that gets this one's notifications: set by SetOwner, else the
  // system owner, else the parent.
  CWnd* GetOwner() const;
  void SetOwner(CWnd* owner);
  CWnd* GetTopLevelParent() const;
  BOOL IsChild(const CWnd* wnd) const;
  CMenu* GetMenu() const;
  CMenu* GetSystemMenu(BOOL revert) const;
  HICON SetIcon(HICON icon, BOOL big);

  // Geometry
  void GetClientRect(LPRECT rect) const;
  void GetWindowRect(LPRECT rect) const;
  void ClientToScreen(LPPOINT point) const;
  void ClientToScreen(LPRECT rect) const;
  void ScreenToClient(LPPOINT point) const;
  void ScreenToClient(LPRECT rect) const;
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
  BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
  static CWnd* WindowFromPoint(POINT screenPoint);

  // State
  BOOL ShowWindow(int command);
  BOOL IsWindowVisible() const;
  BOOL EnableWindow(BOOL enable = TRUE);
  BOOL IsWindowEnabled() const;
  BOOL IsIconic() const;
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags = 0);

  // Painting
  void UpdateWindow();
  void Invalidate(BOOL erase = TRUE);
  void InvalidateRect(LPCRECT rect, BOOL erase = TRUE);
  void ValidateRect(LPCRECT rect);
  BOOL RedrawWindow(LPCRECT rect = nullptr, HRGN region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  // A temporary DC of the client area; give it back with ReleaseDC.
  CDC* GetDC();
  int ReleaseDC(CDC* dc);

  // Timers, capture, focus
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr);
  BOOL KillTimer(UINT_PTR id);
  CWnd* SetCapture();
  static CWnd* GetCapture();
  CWnd* SetFocus();
  static CWnd* GetFocus();

  // Scroll bars (SB_HORZ, SB_VERT, SB_BOTH for ShowScrollBar)
  BOOL GetScrollInfo(int bar, LPSCROLLINFO info, UINT mask = SIF_ALL) const;
  BOOL SetScrollInfo(int bar, LPSCROLLINFO info, BOOL redraw = TRUE);
  int GetScrollPos(int bar) const;
  int SetScrollPos(int bar, int pos, BOOL redraw = TRUE);
  void GetScrollRange(int bar, LPINT minPos, LPINT maxPos) const;
  void SetScrollRange(int bar, int minPos, int maxPos, BOOL redraw = TRUE);
  void ShowScrollBar(UINT bar, BOOL show = TRUE);

  // Dialog items
  void SetDlgItemText(int id, const char* text);
  int GetDlgItemText(int id, CString& text) const;
  UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const;
  void SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE);
  void CheckDlgButton(int id, UINT check);
  UINT IsDlgButtonChecked(int id) const;

  // Through the platform seam; a null caption is the application's name.
  int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

  // Passes the message being handled to the default procedure.
  LRESULT Default();

 protected:
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
  // A notification this window sent to its parent, offered back to it first.
  virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual void PostNcDestroy();
  // Asks the update entries for the state of every command of a menu that opens.
  void OnInitMenuPopup(CMenu* popup, UINT index, BOOL systemMenu);

  static const WfMessageMap* GetThisMessageMap();
  virtual const WfMessageMap* GetMessageMap() const;

  // Default handlers: each passes its message on to the default procedure.
  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  void OnSize(UINT type, int cx, int cy);
  void OnHScroll(UINT code, UINT pos, CScrollBar* bar);
  void OnVScroll(UINT code, UINT pos, CScrollBar* bar);
  void OnKeyDown(UINT ch, UINT repeat, UINT flags);
  void OnKeyUp(UINT ch, UINT repeat, UINT flags);
  void OnSysKeyDown(UINT ch, UINT repeat, UINT flags);
  void OnChar(UINT ch, UINT repeat, UINT flags);
  void OnSysChar(UINT ch, UINT repeat, UINT flags);
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonUp(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);
  void OnRButtonDown(UINT flags, CPoint point);
  void OnRButtonUp(UINT flags, CPoint point);
  void OnMouseMove(UINT flags, CPoint point);
  BOOL OnMouseWheel(UINT flags, short delta, CPoint screenPoint);
  void OnTimer(UINT_PTR id);
  UINT OnGetDlgCode();
  void OnSetFocus(CWnd* oldWnd);
  void OnKillFocus(CWnd* newWnd);
  void OnCaptureChanged(CWnd* wnd);
  void OnSysColorChange();
  BOOL OnSetCursor(CWnd* wnd, UINT hitTest, UINT message);
  int OnCreate(LPCREATESTRUCTA cs);
  void OnDestroy();
  void OnClose();
  void OnSysCommand(UINT id, LPARAM lParam);
  HCURSOR OnQueryDragIcon();

  WNDPROC m_pfnSuper = nullptr;  // the procedure the window had before this object took it

 private:
  friend LRESULT CALLBACK WfWindowProcedure(HWND, UINT, WPARAM, LPARAM);
  friend LRESULT CALLBACK WfCreationHook(int, WPARAM, LPARAM);
  friend class CCmdUI;
  struct Frame;

  CWnd(HWND special) : m_hWnd(special), temporary_(true) {}
  static LRESULT Dispatch(CWnd* wnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultFor(UINT message, WPARAM wParam, LPARAM lParam);
  const WfMsgEntry* FindEntry(UINT message, UINT code, UINT id, bool reflected) const;
  // This window, then the focus window and its parents that are children of this one.
  std::vector<CWnd*> CommandRoute();
  void TakeOverProcedure();
  void RestoreProcedure();
  void FinishNcDestroy();

  static thread_local Frame* innermostFrame_;

  bool temporary_ = false;
  bool routed_ = false;  // the window's procedure chain leads to this object
  HWND hWndOwner_ = nullptr;
  int dispatchDepth_ = 0;
  bool postNcDestroyPending_ = false;
};

class CScrollBar : public CWnd {
  DECLARE_DYNAMIC(CScrollBar)
};

// ---- message map macros ----

#define DECLARE_MESSAGE_MAP()                         \
 protected:                                           \
  static const WfMessageMap* GetThisMessageMap();     \
  const WfMessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                       \
  const WfMessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const WfMessageMap* theClass::GetThisMessageMap() {                                \
    using ThisClass = theClass;                                                      \
    using TheBaseClass = baseClass;                                                  \
    static const WfMsgEntry entries[] = {
#define END_MESSAGE_MAP()                                                        \
  {0, 0, 0, 0, false, nullptr}                                                   \
  }                                                                              \
  ;                                                                              \
  static const WfMessageMap map = {&TheBaseClass::GetThisMessageMap, entries}; \
  return &map;                                                                   \
  }

#define WF_HANDLER(body)                                                                     \
  +[]([[maybe_unused]] CWnd* wnd, [[maybe_unused]] WPARAM wParam,                            \
      [[maybe_unused]] LPARAM lParam, [[maybe_unused]] LRESULT& result) {                    \
    ThisClass* self = static_cast<ThisClass*>(wnd);                                          \
    body;                                                                                    \
  }
#define WF_MSG(message, body) {message, 0, 0, 0, false, WF_HANDLER(body)},
#define WF_KEY_ARGS static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)
#define WF_MOUSE_ARGS static_cast<UINT>(wParam), CPoint(lParam)

#define ON_WM_PAINT() WF_MSG(WM_PAINT, self->OnPaint())
#define ON_WM_ERASEBKGND() \
  WF_MSG(WM_ERASEBKGND, result = self->OnEraseBkgnd(CDC::FromHandle(reinterpret_cast<HDC>(wParam))))
#define ON_WM_SIZE() \
  WF_MSG(WM_SIZE, self->OnSize(static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))))
#define WF_SCROLL_ARGS \
  LOWORD(wParam), HIWORD(wParam), dynamic_cast<CScrollBar*>(CWnd::FromHandlePermanent(reinterpret_cast<HWND>(lParam)))
#define ON_WM_HSCROLL() WF_MSG(WM_HSCROLL, self->OnHScroll(WF_SCROLL_ARGS))
#define ON_WM_VSCROLL() WF_MSG(WM_VSCROLL, self->OnVScroll(WF_SCROLL_ARGS))
#define ON_WM_KEYDOWN() WF_MSG(WM_KEYDOWN, self->OnKeyDown(WF_KEY_ARGS))
#define ON_WM_KEYUP() WF_MSG(WM_KEYUP, self->OnKeyUp(WF_KEY_ARGS))
#define ON_WM_SYSKEYDOWN() WF_MSG(WM_SYSKEYDOWN, self->OnSysKeyDown(WF_KEY_ARGS))
#define ON_WM_CHAR() WF_MSG(WM_CHAR, self->OnChar(WF_KEY_ARGS))
#define ON_WM_SYSCHAR() WF_MSG(WM_SYSCHAR, self->OnSysChar(WF_KEY_ARGS))
#define ON_WM_LBUTTONDOWN() WF_MSG(WM_LBUTTONDOWN, self->OnLButtonDown(WF_MOUSE_ARGS))
#define ON_WM_LBUTTONUP() WF_MSG(WM_LBUTTONUP, self->OnLButtonUp(WF_MOUSE_ARGS))
#define ON_WM_LBUTTONDBLCLK() WF_MSG(WM_LBUTTONDBLCLK, self->OnLButtonDblClk(WF_MOUSE_ARGS))
#define ON_WM_RBUTTONDOWN() WF_MSG(WM_RBUTTONDOWN, self->OnRButtonDown(WF_MOUSE_ARGS))
#define ON_WM_RBUTTONUP() WF_MSG(WM_RBUTTONUP, self->OnRButtonUp(WF_MOUSE_ARGS))
#define ON_WM_MOUSEMOVE() WF_MSG(WM_MOUSEMOVE, self->OnMouseMove(WF_MOUSE_ARGS))
#define ON_WM_MOUSEWHEEL()                                                              \
  WF_MSG(WM_MOUSEWHEEL, result = self->OnMouseWheel(LOWORD(wParam), static_cast<short>(HIWORD(wParam)), \
                                                    CPoint(lParam)))
#define ON_WM_TIMER() WF_MSG(WM_TIMER, self->OnTimer(static_cast<UINT_PTR>(wParam)))
#define ON_WM_GETDLGCODE() WF_MSG(WM_GETDLGCODE, result = self->OnGetDlgCode())
#define ON_WM_SETFOCUS() \
  WF_MSG(WM_SETFOCUS, self->OnSetFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam))))
#define ON_WM_KILLFOCUS() \
  WF_MSG(WM_KILLFOCUS, self->OnKillFocus(CWnd::FromHandle(reinterpret_cast<HWND>(wParam))))
#define ON_WM_CAPTURECHANGED() \
  WF_MSG(WM_CAPTURECHANGED, self->OnCaptureChanged(CWnd::FromHandle(reinterpret_cast<HWND>(lParam))))
#define ON_WM_SYSCOLORCHANGE() WF_MSG(WM_SYSCOLORCHANGE, self->OnSysColorChange())
#define ON_WM_SETCURSOR()                                                                      \
  WF_MSG(WM_SETCURSOR, result = self->OnSetCursor(CWnd::FromHandle(reinterpret_cast<HWND>(wParam)), \
                                                  LOWORD(lParam), HIWORD(lParam)))
#define ON_WM_CREATE() \
  WF_MSG(WM_CREATE, result = self->OnCreate(reinterpret_cast<LPCREATESTRUCTA>(lParam)))
#define ON_WM_DESTROY() WF_MSG(WM_DESTROY, self->OnDestroy())
#define ON_WM_CLOSE() WF_MSG(WM_CLOSE, self->OnClose())
#define ON_WM_SYSCOMMAND() WF_MSG(WM_SYSCOMMAND, self->OnSysCommand(static_cast<UINT>(wParam), lParam))
#define ON_WM_QUERYDRAGICON() \
  WF_MSG(WM_QUERYDRAGICON, result = reinterpret_cast<LRESULT>(self->OnQueryDragIcon()))
#define ON_MESSAGE(message, fn) WF_MSG(message, result = self->fn(wParam, lParam))

#define ON_COMMAND(id, fn) {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<UINT>(id), false, WF_HANDLER(self->fn())},
#define ON_CONTROL(code, id, fn) \
  {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), false, WF_HANDLER(self->fn())},
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_EN_SETFOCUS(id, fn) ON_CONTROL(EN_SETFOCUS, id, fn)
#define ON_EN_KILLFOCUS(id, fn) ON_CONTROL(EN_KILLFOCUS, id, fn)
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_LBN_SELCHANGE(id, fn) ON_CONTROL(LBN_SELCHANGE, id, fn)
#define ON_LBN_DBLCLK(id, fn) ON_CONTROL(LBN_DBLCLK, id, fn)
#define ON_CONTROL_REFLECT(code, fn) {WM_COMMAND, static_cast<UINT>(code), 0, 0, true, WF_HANDLER(self->fn())},
#define ON_NOTIFY(code, id, fn)                                                         \
  {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), false, \
   WF_HANDLER(self->fn(reinterpret_cast<NMHDR*>(lParam), &result))},
#define ON_UPDATE_COMMAND_UI(id, fn)                                                     \
  {kWfUpdateCommandUI, 0, static_cast<UINT>(id), static_cast<UINT>(id), false,            \
   WF_HANDLER(self->fn(reinterpret_cast<CCmdUI*>(lParam)))},
#define ON_NOTIFY_REFLECT(code, fn) \
  {WM_NOTIFY, static_cast<UINT>(code), 0, 0, true, WF_HANDLER(self->fn(reinterpret_cast<NMHDR*>(lParam), &result))},

// Drops temporary window and menu wrappers whose handles are gone (also GDI ones).
void WfPurgeTemporaries();
