#include "cells/InPlaceEdit.h"

#include <algorithm>

#include "CellRange.h"
#include "GridHolders.h"

BEGIN_MESSAGE_MAP(CInPlaceEdit, CEdit)
  ON_WM_KILLFOCUS()
  ON_WM_CHAR()
  ON_WM_KEYDOWN()
  ON_WM_GETDLGCODE()
END_MESSAGE_MAP()

CInPlaceEdit::CInPlaceEdit(CWnd* parent, const CRect& rect, DWORD style, UINT id, int row, int column,
                           const CString& text, UINT firstChar)
    : row_(row), column_(column), initialText_(text), exitOnArrows_(firstChar != VK_LBUTTON), rect_(rect) {
  if (!Create(WS_BORDER | WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | style, rect, parent, id)) return;
  created_ = true;
  SetFont(parent->GetFont());
  SetWindowText(text);
  SetFocus();
  const int length = text.GetLength();
  switch (firstChar) {
    case VK_LBUTTON:
    case VK_RETURN:
      SetSel(length, length);
      SendMessage(EM_SCROLLCARET);
      break;
    case VK_BACK:
      SetSel(length, length);
      PostMessage(WM_CHAR, VK_BACK);
      break;
    case VK_TAB:
    case VK_SPACE:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_END:
    case VK_HOME:
    case VK_LEFT:
    case VK_UP:
    case VK_RIGHT:
    case VK_DOWN:
      SetSel(0, -1);
      break;
    default:
      SetSel(0, -1);
      PostMessage(firstChar < 128 ? WM_CHAR : WM_IME_CHAR, firstChar);
      break;
  }
}

void CInPlaceEdit::LeaveWithKey(UINT key) {
  lastKey_ = key;
  if (CWnd* parent = GetParent()) parent->SetFocus();
}

void CInPlaceEdit::OnKeyDown(UINT key, UINT repeat, UINT flags) {
  const bool leaves = key == VK_PRIOR || key == VK_NEXT || (key >= VK_LEFT && key <= VK_DOWN);
  if (leaves && (exitOnArrows_ || GetKeyState(VK_CONTROL) < 0)) {
    LeaveWithKey(key);
    return;
  }
  CEdit::OnKeyDown(key, repeat, flags);
}

void CInPlaceEdit::OnChar(UINT ch, UINT repeat, UINT flags) {
  if (ch == VK_TAB || ch == VK_RETURN) {
    LeaveWithKey(ch);
    return;
  }
  if (ch == VK_ESCAPE) {
    SetWindowText(initialText_);
    LeaveWithKey(ch);
    return;
  }
  CEdit::OnChar(ch, repeat, flags);

  // Grows to the right while the text outgrows it, up to the grid's right edge.
  CString text;
  GetWindowText(text);
  CClientDC dc(this);
  DCSelection<CFont> font(&dc, GetFont());
  const CSize size = dc.GetTextExtent(text + "  ");
  CRect rect;
  GetWindowRect(&rect);
  CWnd* parent = GetParent();
  parent->ScreenToClient(&rect);
  if (size.cx > rect.Width()) {
    CRect client;
    parent->GetClientRect(&client);
    rect.right = std::min<int>(rect.left + size.cx, client.right);
    rect_ = rect;
    MoveWindow(&rect);
  }
}

UINT CInPlaceEdit::OnGetDlgCode() { return DLGC_WANTALLKEYS; }

BOOL CInPlaceEdit::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_SYSCHAR) return TRUE;
  return CEdit::PreTranslateMessage(msg);
}

void CInPlaceEdit::OnKillFocus(CWnd* newWnd) {
  CEdit::OnKillFocus(newWnd);
  EndEdit();
}

void CInPlaceEdit::EndEdit() {
  // One ending at a time: closing the window moves the focus, which would end it again.
  static bool ending = false;
  if (ending) return;
  ending = true;

  CString text;
  GetWindowText(text);
  GridDisplayInfo info{};
  info.hdr.hwndFrom = GetSafeHwnd();
  info.hdr.idFrom = GetDlgCtrlID();
  info.hdr.code = static_cast<UINT>(GridCode::EndEdit);
  info.item.mask = GridMask::Text | GridMask::Data;
  info.item.row = row_;
  info.item.column = column_;
  info.item.data = lastKey_;
  info.item.text = text;
  if (CWnd* owner = GetOwner()) owner->SendMessage(WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));

  if (::IsWindow(GetSafeHwnd())) SendMessage(WM_CLOSE);
  ending = false;
}

// A window lost while it was being made leaves the object to whoever called new.
void CInPlaceEdit::PostNcDestroy() {
  if (created_) delete this;
}
