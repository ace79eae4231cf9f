#include "WfWnd.h"

#include <cstdio>
#include <exception>
#include <unordered_map>

#include "WfApp.h"
#include "WfControls.h"
#include "WfPlatform.h"
#include "WfTempMap.h"

LRESULT CALLBACK WfWindowProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WfCreationHook(int code, WPARAM wParam, LPARAM lParam);

namespace {

// Everything here belongs to the one user-interface thread that made the windows.
thread_local std::unordered_map<HWND, CWnd*> permanentMap;
thread_local WfTempMap<CWnd, HWND> temporaryWindows;

// The message being handled, for Default().
struct CurrentMessage {
  HWND hWnd = nullptr;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};
thread_local CurrentMessage current;
thread_local int dispatchDepth = 0;

thread_local CWnd* creating = nullptr;
thread_local HHOOK creationHook = nullptr;

// A handler's failure must not unwind through the system's frames that called the window
// procedure: it is reported to the debugger and the message gets the answer below.
LRESULT HandlerFailed(HWND hWnd, UINT message, const char* what) {
  char text[256];
  snprintf(text, sizeof text, "Exception caught in the handler of message 0x%04X for window %p: %s\n",
           message, static_cast<void*>(hWnd), what);
  ::OutputDebugStringA(text);
  switch (message) {
    case WM_NCCREATE:
      return FALSE;  // creation fails rather than leaving a half-made window
    case WM_CREATE:
      return -1;
    case WM_PAINT:
      ::ValidateRect(hWnd, nullptr);  // else the same paint request comes back at once, for ever
      return 0;
    default:
      return 0;
  }
}

}  // namespace

// One handler invocation on the stack; the destructor of its object marks it dead.
struct CWnd::Frame {
  CWnd* wnd;
  bool alive;
  Frame* outer;
};
thread_local CWnd::Frame* CWnd::innermostFrame_ = nullptr;

IMPLEMENT_DYNAMIC(CWnd, CObject)
IMPLEMENT_DYNAMIC(CScrollBar, CWnd)

const CWnd CWnd::wndTop(HWND_TOP);
const CWnd CWnd::wndBottom(HWND_BOTTOM);
const CWnd CWnd::wndTopMost(HWND_TOPMOST);
const CWnd CWnd::wndNoTopMost(HWND_NOTOPMOST);

void WfPurgeTemporaries() {
  temporaryWindows.Purge([](HWND h) { return !IsWindow(h); });
  WfPurgeMenuTemporaries();
  WfPurgeGdiTemporaries();
}

// ---- the window procedure ----

LRESULT CALLBACK WfWindowProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
  if (!wnd) return DefWindowProcA(hWnd, message, wParam, lParam);
  return CWnd::Dispatch(wnd, hWnd, message, wParam, lParam);
}

LRESULT CWnd::Dispatch(CWnd* wnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  const CurrentMessage saved = current;
  current = {hWnd, message, wParam, lParam};
  Frame frame{wnd, true, innermostFrame_};
  innermostFrame_ = &frame;
  ++dispatchDepth;
  ++wnd->dispatchDepth_;

  LRESULT result = 0;
  try {
    result = wnd->WindowProc(message, wParam, lParam);
  } catch (const CException& e) {
    result = HandlerFailed(hWnd, message, e.GetRuntimeClass()->m_lpszClassName);
  } catch (const std::exception& e) {
    result = HandlerFailed(hWnd, message, e.what());
  }

  innermostFrame_ = frame.outer;
  --dispatchDepth;
  current = saved;
  if (frame.alive) {
    if (message == WM_NCDESTROY) wnd->FinishNcDestroy();
    if (--wnd->dispatchDepth_ == 0 && wnd->postNcDestroyPending_) {
      wnd->postNcDestroyPending_ = false;
      wnd->PostNcDestroy();  // may delete wnd
    }
  }
  if (dispatchDepth == 0) WfPurgeTemporaries();
  return result;
}

LRESULT CALLBACK WfCreationHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && creating) {
    CWnd* wnd = creating;
    creating = nullptr;
    HWND hWnd = reinterpret_cast<HWND>(wParam);
    permanentMap[hWnd] = wnd;
    wnd->m_hWnd = hWnd;
    wnd->TakeOverProcedure();
  }
  return CallNextHookEx(creationHook, code, wParam, lParam);
}

void CWnd::TakeOverProcedure() {
  routed_ = true;
  const auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WfWindowProcedure)));
  m_pfnSuper = previous == &WfWindowProcedure ? nullptr : previous;
}

void CWnd::FinishNcDestroy() {
  if (!m_hWnd) return;
  RestoreProcedure();
  Detach();
  postNcDestroyPending_ = true;
}

// Gives the window its previous procedure back, unless another one has been put on top.
void CWnd::RestoreProcedure() {
  if (m_pfnSuper &&
      GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&WfWindowProcedure))
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
  m_pfnSuper = nullptr;
  routed_ = false;
}

// ---- objects and handles ----

CWnd::~CWnd() {
  for (Frame* f = innermostFrame_; f; f = f->outer)
    if (f->wnd == this) f->alive = false;
  if (temporary_ || !m_hWnd) return;
  if (FromHandlePermanent(m_hWnd) != this) return;
  if (routed_) {
    ::DestroyWindow(m_hWnd);  // WM_NCDESTROY detaches this object
    if (m_hWnd) Detach();
  } else {
    ::DestroyWindow(Detach());
  }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  const auto it = permanentMap.find(hWnd);
  return it == permanentMap.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (!hWnd) return nullptr;
  if (CWnd* wnd = FromHandlePermanent(hWnd)) return wnd;
  return temporaryWindows.Get(hWnd);
}

BOOL CWnd::Attach(HWND hWnd) {
  if (!hWnd || m_hWnd || FromHandlePermanent(hWnd)) return FALSE;
  permanentMap[hWnd] = this;
  m_hWnd = hWnd;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hWnd = m_hWnd;
  if (hWnd && FromHandlePermanent(hWnd) == this) permanentMap.erase(hWnd);
  m_hWnd = nullptr;
  return hWnd;
}

BOOL CWnd::Create(const char* className, const char* windowName, DWORD style, const RECT& rect,
                  CWnd* parent, UINT id, void* createParam) {
  return CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id, createParam);
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    const RECT& rect, CWnd* parent, UINT id, void* createParam) {
  return CreateEx(exStyle, className, windowName, style, rect.left, rect.top,
                  rect.right - rect.left, rect.bottom - rect.top,
                  parent ? parent->m_hWnd : nullptr,
                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), createParam);
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    int x, int y, int width, int height, HWND parent, HMENU menuOrId,
                    void* createParam) {
  if (m_hWnd) return FALSE;
  CREATESTRUCTA cs{};
  cs.dwExStyle = exStyle;
  cs.lpszClass = className;
  cs.lpszName = windowName;
  cs.style = style;
  cs.x = x;
  cs.y = y;
  cs.cx = width;
  cs.cy = height;
  cs.hwndParent = parent;
  cs.hMenu = menuOrId;
  cs.hInstance = AfxGetInstanceHandle();
  cs.lpCreateParams = createParam;
  if (!PreCreateWindow(cs)) {
    PostNcDestroy();
    return FALSE;
  }
  creating = this;
  HHOOK outerHook = creationHook;
  creationHook = SetWindowsHookExA(WH_CBT, &WfCreationHook, nullptr, GetCurrentThreadId());
  HWND hWnd = CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx,
                              cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
  UnhookWindowsHookEx(creationHook);
  creationHook = outerHook;
  creating = nullptr;
  if (!hWnd) return FALSE;
  // Here rather than in the hook: Wine drops style changes made before WM_NCCREATE.
  if (m_hWnd == hWnd) PreSubclassWindow();
  return TRUE;
}

BOOL CWnd::DestroyWindow() {
  HWND hWnd = m_hWnd;
  if (!hWnd) return FALSE;
  if (!routed_) Detach();  // no WM_NCDESTROY will reach this object
  // With a routed window this object may be deleted (PostNcDestroy) before the call returns.
  return ::DestroyWindow(hWnd);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTA&) { return TRUE; }

void CWnd::PreSubclassWindow() {}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (!Attach(hWnd)) return FALSE;
  PreSubclassWindow();
  TakeOverProcedure();
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  return parent && SubclassWindow(::GetDlgItem(parent->m_hWnd, static_cast<int>(id)));
}

HWND CWnd::UnsubclassWindow() {
  if (!m_hWnd) return nullptr;
  RestoreProcedure();
  return Detach();
}

void CWnd::PostNcDestroy() {}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::WalkPreTranslateTree(HWND stopAt, MSG* msg) {
  for (HWND hWnd = msg->hwnd; hWnd;) {
    if (CWnd* wnd = FromHandlePermanent(hWnd))
      if (wnd->PreTranslateMessage(msg)) return TRUE;
    if (hWnd == stopAt || !(GetWindowLongA(hWnd, GWL_STYLE) & WS_CHILD)) break;
    hWnd = ::GetParent(hWnd);
  }
  return FALSE;
}

// ---- message dispatch ----

const WfMessageMap* CWnd::GetThisMessageMap() {
  static const WfMsgEntry entries[] = {{0, 0, 0, 0, false, nullptr}};
  static const WfMessageMap map = {nullptr, entries};
  return &map;
}

const WfMessageMap* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

const WfMsgEntry* CWnd::FindEntry(UINT message, UINT code, UINT id, bool reflected) const {
  const bool byCode = message == WM_COMMAND || message == WM_NOTIFY || message == kWfUpdateCommandUI;
  for (const WfMessageMap* map = GetMessageMap(); map; map = map->base ? map->base() : nullptr) {
    for (const WfMsgEntry* e = map->entries; e->handler; ++e) {
      if (e->message != message || e->reflected != reflected) continue;
      if (!byCode) return e;
      if (e->code != code) continue;
      if (reflected || (id >= e->idFirst && id <= e->idLast)) return e;
    }
  }
  return nullptr;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
  return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_COMMAND) {
    if (!OnCommand(wParam, lParam)) return FALSE;
    *result = 0;
    return TRUE;
  }
  if (message == WM_NOTIFY) return OnNotify(wParam, lParam, result);
  const WfMsgEntry* entry = FindEntry(message, 0, 0, false);
  if (!entry && message == WM_INITMENUPOPUP) {
    OnInitMenuPopup(CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam), HIWORD(lParam));
    *result = 0;
    return TRUE;
  }
  if (!entry) return FALSE;
  entry->handler(this, wParam, lParam, *result);
  return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  HWND control = reinterpret_cast<HWND>(lParam);
  UINT code = HIWORD(wParam);
  if (control) {
    CWnd* child = FromHandlePermanent(control);
    LRESULT ignored = 0;
    if (child && child != this && child->OnChildNotify(WM_COMMAND, wParam, lParam, &ignored))
      return TRUE;
  } else {
    code = 0;  // a menu command or an accelerator
  }
  LRESULT ignored = 0;
  if (const WfMsgEntry* entry = FindEntry(WM_COMMAND, code, LOWORD(wParam), false)) {
    entry->handler(this, wParam, lParam, ignored);
    return TRUE;
  }
  if (control) return FALSE;
  for (CWnd* target : CommandRoute()) {
    if (target == this) continue;
    if (const WfMsgEntry* entry = target->FindEntry(WM_COMMAND, 0, LOWORD(wParam), false)) {
      entry->handler(target, wParam, lParam, ignored);
      return TRUE;
    }
  }
  return FALSE;
}

std::vector<CWnd*> CWnd::CommandRoute() {
  std::vector<CWnd*> route{this};
  for (HWND hWnd = ::GetFocus(); hWnd && hWnd != m_hWnd && ::IsChild(m_hWnd, hWnd); hWnd = ::GetParent(hWnd))
    if (CWnd* wnd = FromHandlePermanent(hWnd)) route.push_back(wnd);
  return route;
}

void CWnd::OnInitMenuPopup(CMenu* popup, UINT index, BOOL systemMenu) {
  if (popup && !systemMenu) {
    const std::vector<CWnd*> route = CommandRoute();
    const int count = popup->GetMenuItemCount();
    for (int item = 0; item < count; ++item) {
      const UINT id = popup->GetMenuItemID(item);
      if (id == 0 || id == static_cast<UINT>(-1)) continue;  // a separator or a submenu
      CCmdUI state(id, popup, static_cast<UINT>(item));
      for (CWnd* target : route)
        if (state.DoUpdate(target)) break;
    }
  }
  DefaultFor(WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup ? popup->m_hMenu : nullptr),
             MAKELPARAM(index, systemMenu));
}

// ---- command UI ----

void CCmdUI::Enable(BOOL on) {
  if (m_pMenu) m_pMenu->EnableMenuItem(m_nIndex, MF_BYPOSITION | (on ? MF_ENABLED : MF_GRAYED));
}

BOOL CCmdUI::DoUpdate(CWnd* target) {
  const WfMsgEntry* entry = target ? target->FindEntry(kWfUpdateCommandUI, 0, m_nID, false) : nullptr;
  if (!entry) return FALSE;
  LRESULT ignored = 0;
  entry->handler(target, 0, reinterpret_cast<LPARAM>(this), ignored);
  return TRUE;
}

BOOL CWnd::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
  if (!header) return FALSE;
  CWnd* child = FromHandlePermanent(header->hwndFrom);
  if (child && child != this && child->OnChildNotify(WM_NOTIFY, wParam, lParam, result)) return TRUE;
  const WfMsgEntry* entry = FindEntry(WM_NOTIFY, header->code, static_cast<UINT>(header->idFrom), false);
  if (!entry) return FALSE;
  entry->handler(this, wParam, lParam, *result);
  return TRUE;
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  UINT code = 0;
  if (message == WM_COMMAND)
    code = HIWORD(wParam);
  else if (message == WM_NOTIFY)
    code = reinterpret_cast<const NMHDR*>(lParam)->code;
  else
    return FALSE;
  const WfMsgEntry* entry = FindEntry(message, code, 0, true);
  if (!entry) return FALSE;
  entry->handler(this, wParam, lParam, *result);
  return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  return DefWindowProc(current.message, current.wParam, current.lParam);
}

LRESULT CWnd::DefaultFor(UINT message, WPARAM wParam, LPARAM lParam) {
  if (current.hWnd == m_hWnd && current.message == message) return Default();
  return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
  return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

// ---- default handlers ----

namespace {
LPARAM PointParam(POINT p) { return MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y)); }
WPARAM HandleParam(const CWnd* wnd) { return reinterpret_cast<WPARAM>(wnd ? wnd->m_hWnd : nullptr); }
}  // namespace

void CWnd::OnPaint() { DefaultFor(WM_PAINT, 0, 0); }
BOOL CWnd::OnEraseBkgnd(CDC* dc) {
  return static_cast<BOOL>(DefaultFor(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc->m_hDC), 0));
}
void CWnd::OnSize(UINT type, int cx, int cy) { DefaultFor(WM_SIZE, type, MAKELPARAM(cx, cy)); }
void CWnd::OnHScroll(UINT code, UINT pos, CScrollBar* bar) {
  DefaultFor(WM_HSCROLL, MAKEWPARAM(code, pos), static_cast<LPARAM>(HandleParam(bar)));
}
void CWnd::OnVScroll(UINT code, UINT pos, CScrollBar* bar) {
  DefaultFor(WM_VSCROLL, MAKEWPARAM(code, pos), static_cast<LPARAM>(HandleParam(bar)));
}
void CWnd::OnKeyDown(UINT ch, UINT repeat, UINT flags) { DefaultFor(WM_KEYDOWN, ch, MAKELPARAM(repeat, flags)); }
void CWnd::OnKeyUp(UINT ch, UINT repeat, UINT flags) { DefaultFor(WM_KEYUP, ch, MAKELPARAM(repeat, flags)); }
void CWnd::OnSysKeyDown(UINT ch, UINT repeat, UINT flags) {
  DefaultFor(WM_SYSKEYDOWN, ch, MAKELPARAM(repeat, flags));
}
void CWnd::OnChar(UINT ch, UINT repeat, UINT flags) { DefaultFor(WM_CHAR, ch, MAKELPARAM(repeat, flags)); }
void CWnd::OnSysChar(UINT ch, UINT repeat, UINT flags) { DefaultFor(WM_SYSCHAR, ch, MAKELPARAM(repeat, flags)); }
void CWnd::OnLButtonDown(UINT flags, CPoint p) { DefaultFor(WM_LBUTTONDOWN, flags, PointParam(p)); }
void CWnd::OnLButtonUp(UINT flags, CPoint p) { DefaultFor(WM_LBUTTONUP, flags, PointParam(p)); }
void CWnd::OnLButtonDblClk(UINT flags, CPoint p) { DefaultFor(WM_LBUTTONDBLCLK, flags, PointParam(p)); }
void CWnd::OnRButtonDown(UINT flags, CPoint p) { DefaultFor(WM_RBUTTONDOWN, flags, PointParam(p)); }
void CWnd::OnRButtonUp(UINT flags, CPoint p) { DefaultFor(WM_RBUTTONUP, flags, PointParam(p)); }
void CWnd::OnMouseMove(UINT flags, CPoint p) { DefaultFor(WM_MOUSEMOVE, flags, PointParam(p)); }
BOOL CWnd::OnMouseWheel(UINT flags, short delta, CPoint p) {
  return static_cast<BOOL>(DefaultFor(WM_MOUSEWHEEL, MAKEWPARAM(flags, delta), PointParam(p)));
}
void CWnd::OnTimer(UINT_PTR id) { DefaultFor(WM_TIMER, id, 0); }
UINT CWnd::OnGetDlgCode() { return static_cast<UINT>(DefaultFor(WM_GETDLGCODE, 0, 0)); }
void CWnd::OnSetFocus(CWnd* oldWnd) { DefaultFor(WM_SETFOCUS, HandleParam(oldWnd), 0); }
void CWnd::OnKillFocus(CWnd* newWnd) { DefaultFor(WM_KILLFOCUS, HandleParam(newWnd), 0); }
void CWnd::OnCaptureChanged(CWnd* wnd) {
  DefaultFor(WM_CAPTURECHANGED, 0, static_cast<LPARAM>(HandleParam(wnd)));
}
void CWnd::OnSysColorChange() { DefaultFor(WM_SYSCOLORCHANGE, 0, 0); }
BOOL CWnd::OnSetCursor(CWnd* wnd, UINT hitTest, UINT message) {
  return static_cast<BOOL>(DefaultFor(WM_SETCURSOR, HandleParam(wnd), MAKELPARAM(hitTest, message)));
}
int CWnd::OnCreate(LPCREATESTRUCTA cs) {
  return static_cast<int>(DefaultFor(WM_CREATE, 0, reinterpret_cast<LPARAM>(cs)));
}
void CWnd::OnDestroy() { DefaultFor(WM_DESTROY, 0, 0); }
void CWnd::OnClose() { DefaultFor(WM_CLOSE, 0, 0); }
void CWnd::OnSysCommand(UINT id, LPARAM lParam) { DefaultFor(WM_SYSCOMMAND, id, lParam); }
HCURSOR CWnd::OnQueryDragIcon() {
  return reinterpret_cast<HCURSOR>(DefaultFor(WM_QUERYDRAGICON, 0, 0));
}

// ---- window calls ----

void CWnd::SetWindowText(const char* text) { ::SetWindowTextA(m_hWnd, text); }
int CWnd::GetWindowText(char* buffer, int size) const { return ::GetWindowTextA(m_hWnd, buffer, size); }
void CWnd::GetWindowText(CString& text) const {
  const int length = GetWindowTextLength();
  const int copied = ::GetWindowTextA(m_hWnd, text.GetBufferSetLength(length + 1), length + 1);
  text.ReleaseBuffer(copied);
}
int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
void CWnd::SetFont(CFont* font, BOOL redraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font ? font->m_hObject : nullptr), redraw);
}
CFont* CWnd::GetFont() const {
  return CFont::FromHandle(reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)));
}

int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
CWnd* CWnd::GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetOwner() const {
  if (hWndOwner_) return FromHandle(hWndOwner_);
  if (HWND owner = ::GetWindow(m_hWnd, GW_OWNER)) return FromHandle(owner);
  return GetParent();
}
void CWnd::SetOwner(CWnd* owner) { hWndOwner_ = owner ? owner->m_hWnd : nullptr; }
CWnd* CWnd::GetTopLevelParent() const {
  HWND top = m_hWnd;
  while (top && (GetWindowLongA(top, GWL_STYLE) & WS_CHILD)) top = ::GetParent(top);
  return FromHandle(top);
}
BOOL CWnd::IsChild(const CWnd* wnd) const { return wnd && ::IsChild(m_hWnd, wnd->m_hWnd); }
CMenu* CWnd::GetMenu() const { return CMenu::FromHandle(::GetMenu(m_hWnd)); }
CMenu* CWnd::GetSystemMenu(BOOL revert) const {
  return CMenu::FromHandle(::GetSystemMenu(m_hWnd, revert));
}
HICON CWnd::SetIcon(HICON icon, BOOL big) {
  return reinterpret_cast<HICON>(
      SendMessage(WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

void CWnd::GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
void CWnd::GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
void CWnd::ClientToScreen(LPPOINT point) const { ::ClientToScreen(m_hWnd, point); }
void CWnd::ClientToScreen(LPRECT rect) const {
  ::MapWindowPoints(m_hWnd, nullptr, reinterpret_cast<LPPOINT>(rect), 2);
}
void CWnd::ScreenToClient(LPPOINT point) const { ::ScreenToClient(m_hWnd, point); }
void CWnd::ScreenToClient(LPRECT rect) const {
  ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<LPPOINT>(rect), 2);
}
void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  ::MoveWindow(m_hWnd, x, y, width, height, repaint);
}
void CWnd::MoveWindow(LPCRECT r, BOOL repaint) {
  MoveWindow(r->left, r->top, r->right - r->left, r->bottom - r->top, repaint);
}
BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
  return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
}
CWnd* CWnd::WindowFromPoint(POINT screenPoint) { return FromHandle(::WindowFromPoint(screenPoint)); }

BOOL CWnd::ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL enable) { return ::EnableWindow(m_hWnd, enable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(GetWindowLongA(m_hWnd, GWL_STYLE)); }
DWORD CWnd::GetExStyle() const { return static_cast<DWORD>(GetWindowLongA(m_hWnd, GWL_EXSTYLE)); }

namespace {
BOOL ModifyLong(HWND hWnd, int index, DWORD remove, DWORD add, UINT swpFlags) {
  const DWORD old = static_cast<DWORD>(GetWindowLongA(hWnd, index));
  const DWORD updated = (old & ~remove) | add;
  if (old == updated) return FALSE;
  SetWindowLongA(hWnd, index, static_cast<LONG>(updated));
  if (swpFlags)
    ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
  return TRUE;
}
}  // namespace

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT swpFlags) {
  return ModifyLong(m_hWnd, GWL_STYLE, remove, add, swpFlags);
}
BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags) {
  return ModifyLong(m_hWnd, GWL_EXSTYLE, remove, add, swpFlags);
}

void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
void CWnd::Invalidate(BOOL erase) { ::InvalidateRect(m_hWnd, nullptr, erase); }
void CWnd::InvalidateRect(LPCRECT rect, BOOL erase) { ::InvalidateRect(m_hWnd, rect, erase); }
void CWnd::ValidateRect(LPCRECT rect) { ::ValidateRect(m_hWnd, rect); }
BOOL CWnd::RedrawWindow(LPCRECT rect, HRGN region, UINT flags) {
  return ::RedrawWindow(m_hWnd, rect, region, flags);
}
CDC* CWnd::GetDC() { return CDC::FromHandle(::GetDC(m_hWnd)); }
int CWnd::ReleaseDC(CDC* dc) {
  if (!dc) return 0;
  HDC hdc = dc->m_hDC;
  WfDropTemporaryDC(hdc);  // dc is gone from here on
  return ::ReleaseDC(m_hWnd, hdc);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc) {
  return ::SetTimer(m_hWnd, id, elapse, proc);
}
BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
CWnd* CWnd::SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }
CWnd* CWnd::GetCapture() { return FromHandle(::GetCapture()); }
CWnd* CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
CWnd* CWnd::GetFocus() { return FromHandle(::GetFocus()); }

BOOL CWnd::GetScrollInfo(int bar, LPSCROLLINFO info, UINT mask) const {
  info->cbSize = sizeof(SCROLLINFO);
  info->fMask = mask;
  return ::GetScrollInfo(m_hWnd, bar, info);
}
BOOL CWnd::SetScrollInfo(int bar, LPSCROLLINFO info, BOOL redraw) {
  info->cbSize = sizeof(SCROLLINFO);
  ::SetScrollInfo(m_hWnd, bar, info, redraw);
  return TRUE;
}
int CWnd::GetScrollPos(int bar) const { return ::GetScrollPos(m_hWnd, bar); }
int CWnd::SetScrollPos(int bar, int pos, BOOL redraw) { return ::SetScrollPos(m_hWnd, bar, pos, redraw); }
void CWnd::GetScrollRange(int bar, LPINT minPos, LPINT maxPos) const {
  ::GetScrollRange(m_hWnd, bar, minPos, maxPos);
}
void CWnd::SetScrollRange(int bar, int minPos, int maxPos, BOOL redraw) {
  ::SetScrollRange(m_hWnd, bar, minPos, maxPos, redraw);
}
void CWnd::ShowScrollBar(UINT bar, BOOL show) { ::ShowScrollBar(m_hWnd, static_cast<int>(bar), show); }

void CWnd::SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(m_hWnd, id, text); }
int CWnd::GetDlgItemText(int id, CString& text) const {
  text.Empty();
  if (CWnd* item = GetDlgItem(id)) item->GetWindowText(text);
  return text.GetLength();
}
UINT CWnd::GetDlgItemInt(int id, BOOL* translated, BOOL isSigned) const {
  return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
}
void CWnd::SetDlgItemInt(int id, UINT value, BOOL isSigned) {
  ::SetDlgItemInt(m_hWnd, id, value, isSigned);
}
void CWnd::CheckDlgButton(int id, UINT check) { ::CheckDlgButton(m_hWnd, id, check); }
UINT CWnd::IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
  return WfPlatform::Current().MessageBox(m_hWnd, text, caption ? caption : AfxGetAppName(), type);
}
