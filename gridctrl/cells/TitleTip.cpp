#include "cells/TitleTip.h"

#include "GridHolders.h"
#include "GridWindowClass.h"

namespace {

constexpr char kTipClassName[] = "ZTitleTip";
constexpr COLORREF kDefault = 0xFF000000;

}  // namespace

BEGIN_MESSAGE_MAP(CTitleTip, CWnd)
  ON_WM_MOUSEMOVE()
  ON_WM_PAINT()
END_MESSAGE_MAP()

CTitleTip::CTitleTip() : doubleClickTime_(GetDoubleClickTime()) {
  RegisterGridWindowClass(kTipClassName, CS_SAVEBITS, COLOR_INFOBK);
}

CTitleTip::~CTitleTip() {
  if (GetSafeHwnd()) DestroyWindow();
}

BOOL CTitleTip::Create(CWnd* parent) {
  if (created_) return TRUE;
  parent_ = parent;
  created_ = CreateEx(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kTipClassName, nullptr, WS_BORDER | WS_POPUP, 0, 0, 0, 0,
                      nullptr, nullptr);
  return created_;
}

BOOL CTitleTip::DestroyWindow() {
  created_ = FALSE;
  return CWnd::DestroyWindow();
}

void CTitleTip::Show(CRect titleRect, LPCSTR text, int xOffset, LPCRECT hoverRect, const LOGFONTA* font,
                     COLORREF textColour, COLORREF backColour) {
  if (!GetSafeHwnd() && !Create(parent_)) return;
  if (titleRect.IsRectEmpty() || IsWindowVisible() || !parent_) return;

  // Kept in screen coordinates: the tip moves, the place under the mouse does not.
  hoverRect_ = hoverRect ? CRect(hoverRect) : titleRect;
  hoverRect_.right++;
  hoverRect_.bottom++;
  parent_->ClientToScreen(&hoverRect_);

  if (!CWnd::GetFocus()) return;

  titleRect_ = CRect(-xOffset - 1, -1, titleRect.Width() - xOffset, titleRect.Height() + 1);
  parent_->ClientToScreen(&titleRect);

  text_ = CString(" ") + text + " ";
  font_.DeleteObject();
  if (font) font_.CreateFontIndirect(font);
  textColour_ = textColour;
  backColour_ = backColour;

  CClientDC dc(this);
  DCSelection<CFont> selected(&dc, font_.GetSafeHandle() ? &font_ : parent_->GetFont());
  CSize size = dc.GetTextExtent(text_);
  TEXTMETRICA metrics{};
  dc.GetTextMetrics(&metrics);
  size.cx += metrics.tmOverhang;

  CRect window = titleRect;
  window.left += xOffset;
  window.right = window.left + size.cx + xOffset;
  // Only text that does not fit in its cell gets a tip.
  if (window.right <= titleRect.right - xOffset) return;
  SetWindowPos(&wndTopMost, window.left, window.top, window.Width(), window.Height(),
               SWP_SHOWWINDOW | SWP_NOACTIVATE);
  Paint(&dc);
  SetCapture();
}

void CTitleTip::Paint(CDC* dc) {
  DCSelection<CFont> selected(dc, font_.GetSafeHandle() ? &font_ : (parent_ ? parent_->GetFont() : nullptr));
  if (backColour_ != kDefault) {
    CRect client;
    GetClientRect(&client);
    dc->FillSolidRect(client, backColour_);
  }
  if (textColour_ != kDefault) dc->SetTextColor(textColour_);
  dc->SetBkMode(TRANSPARENT);
  dc->TextOut(0, 0, text_);
}

void CTitleTip::OnPaint() {
  CPaintDC dc(this);
  Paint(&dc);
}

void CTitleTip::Hide() {
  if (!GetSafeHwnd()) return;
  if (CWnd::GetCapture() == this) ::ReleaseCapture();
  ShowWindow(SW_HIDE);
}

HWND CTitleTip::WindowBeneath(CPoint screen) const {
  HWND wnd = ::WindowFromPoint(screen);
  if (wnd == GetSafeHwnd() && parent_) wnd = parent_->GetSafeHwnd();
  return wnd;
}

void CTitleTip::OnMouseMove(UINT flags, CPoint point) {
  CPoint screen = point;
  ClientToScreen(&screen);
  if (hoverRect_.PtInRect(screen)) return;
  Hide();
  const HWND beneath = WindowBeneath(screen);
  if (!beneath) return;
  const LRESULT hit = ::SendMessageW(beneath, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
  if (hit == HTCLIENT) {
    CPoint client = screen;
    ::ScreenToClient(beneath, &client);
    ::PostMessageW(beneath, WM_MOUSEMOVE, flags, MAKELPARAM(client.x, client.y));
  } else {
    ::PostMessageW(beneath, WM_NCMOUSEMOVE, hit, MAKELPARAM(screen.x, screen.y));
  }
}

BOOL CTitleTip::PreTranslateMessage(MSG* msg) {
  switch (msg->message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
      bool doubleClick = false;
      if (msg->message == WM_LBUTTONDOWN) {
        const DWORD now = GetTickCount();
        doubleClick = lastPressTime_ != static_cast<DWORD>(-1) && now - lastPressTime_ <= doubleClickTime_;
        lastPressTime_ = now;
      }
      CPoint screen(msg->lParam);
      ::ClientToScreen(msg->hwnd, &screen);
      Hide();
      const HWND beneath = WindowBeneath(screen);
      if (!beneath) return CWnd::PreTranslateMessage(msg);
      const LRESULT hit = ::SendMessageW(beneath, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
      UINT message = msg->message;
      WPARAM wParam = msg->wParam;
      LPARAM lParam;
      if (hit == HTCLIENT) {
        CPoint client = screen;
        ::ScreenToClient(beneath, &client);
        lParam = MAKELPARAM(client.x, client.y);
      } else {
        message = msg->message == WM_LBUTTONDOWN   ? WM_NCLBUTTONDOWN
                  : msg->message == WM_RBUTTONDOWN ? WM_NCRBUTTONDOWN
                                                   : WM_NCMBUTTONDOWN;
        wParam = hit;
        lParam = MAKELPARAM(screen.x, screen.y);
      }
      if (doubleClick) message = WM_LBUTTONDBLCLK;
      ::PostMessageW(beneath, message, wParam, lParam);
      return TRUE;
    }
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      Hide();
      if (parent_) parent_->PostMessage(msg->message, msg->wParam, msg->lParam);
      return TRUE;
    default:
      break;
  }
  if (CWnd::GetFocus()) return CWnd::PreTranslateMessage(msg);
  Hide();
  return TRUE;
}
