// Keyboard moves of the focus cell, the scroll bars, the auto-scroll timer, and
// the reactions to resizing, capture loss and system colour changes.
#include <algorithm>

#include "GridCtrl.h"

namespace {

bool KeyHeld(int key) { return GetKeyState(key) < 0; }

}  // namespace

UINT CGridCtrl::OnGetDlgCode() {
  UINT code = DLGC_WANTARROWS | DLGC_WANTCHARS;
  if (handleTab_ && !KeyHeld(VK_CONTROL)) code |= DLGC_WANTTAB;
  return code;
}

int CGridCtrl::NextVisibleRow(int row, int step) const {
  for (row += step; row >= fixedRowCount_ && row < rowCount_; row += step)
    if (GetRowHeight(row) > 0) return row;
  return -1;
}

int CGridCtrl::NextVisibleColumn(int column, int step) const {
  for (column += step; column >= fixedColumnCount_ && column < columnCount_; column += step)
    if (GetColumnWidth(column) > 0) return column;
  return -1;
}

void CGridCtrl::OnKeyDown(UINT key, UINT, UINT) {
  if (!IsValid(focusCell_)) {
    Default();
    return;
  }
  const bool ctrl = KeyHeld(VK_CONTROL);
  const bool shift = KeyHeld(VK_SHIFT);
  const HWND wnd = GetSafeHwnd();
  CCellID next = focusCell_;
  bool changeLine = false;
  bool hScrolled = false;
  bool vScrolled = false;
  auto scroll = [&](UINT message, UINT code) {
    ::SendMessageW(wnd, message, code, 0);
    (message == WM_HSCROLL ? hScrolled : vScrolled) = true;
  };

  if (ctrl && (key == VK_INSERT || key == 'C')) OnEditCopy();
  if (ctrl && key == 'A') OnEditSelectAll();
  if (ctrl && key == 'V') OnEditPaste();
  if (ctrl && key == 'X') OnEditCut();
  if (shift && key == VK_INSERT) OnEditPaste();

  switch (key) {
    case VK_DOWN:
      if (const int row = NextVisibleRow(next.row, 1); row >= 0) next.row = row;
      break;
    case VK_UP:
      if (const int row = NextVisibleRow(next.row, -1); row >= 0) next.row = row;
      break;
    case VK_RIGHT:
    case VK_TAB:
      if (key == VK_TAB && shift) {
        if (const int column = NextVisibleColumn(next.col, -1); column >= 0) {
          next.col = column;
        } else if (next.row > fixedRowCount_) {
          if (const int row = NextVisibleRow(next.row, -1); row >= 0) next.row = row;
          const int last = NextVisibleColumn(columnCount_, -1);
          if (last >= 0) next.col = last;
          changeLine = true;
        } else {
          Default();
          return;
        }
      } else if (const int column = NextVisibleColumn(next.col, 1); column >= 0) {
        next.col = column;
      } else if (key == VK_TAB) {
        if (next.row < rowCount_ - 1) {
          if (const int row = NextVisibleRow(next.row, 1); row >= 0) next.row = row;
          next.col = fixedColumnCount_;
          changeLine = true;
        } else {
          Default();
          return;
        }
      }
      break;
    case VK_LEFT:
      if (const int column = NextVisibleColumn(next.col, -1); column >= 0) next.col = column;
      break;
    case VK_NEXT:
    case VK_PRIOR: {
      const CCellID before = FirstScrollableCell();
      scroll(WM_VSCROLL, key == VK_NEXT ? SB_PAGEDOWN : SB_PAGEUP);
      const int moved = FirstScrollableCell().row - before.row;
      if (key == VK_NEXT)
        next.row = moved == 0 ? rowCount_ - 1 : std::min(rowCount_ - 1, next.row + moved);
      else
        next.row = moved == 0 || next.row + moved < fixedRowCount_ ? fixedRowCount_ : next.row + moved;
      break;
    }
    case VK_END:
      if (ctrl) {
        scroll(WM_VSCROLL, SB_BOTTOM);
        next.row = rowCount_ - 1;
      }
      scroll(WM_HSCROLL, SB_RIGHT);
      next.col = columnCount_ - 1;
      while (next.col > fixedColumnCount_ + 1 && GetColumnWidth(next.col) <= 0) --next.col;
      while (next.row > fixedRowCount_ + 1 && GetRowHeight(next.row) <= 0) --next.row;
      break;
    case VK_HOME:
      if (ctrl) {
        scroll(WM_VSCROLL, SB_TOP);
        next.row = fixedRowCount_;
      }
      scroll(WM_HSCROLL, SB_LEFT);
      next.col = fixedColumnCount_;
      while (next.col < columnCount_ - 1 && GetColumnWidth(next.col) <= 0) ++next.col;
      while (next.row < rowCount_ - 1 && GetRowHeight(next.row) <= 0) ++next.row;
      break;
    case VK_F2:
      BeginCellEdit(focusCell_.row, focusCell_.col, CPoint(-1, -1), VK_LBUTTON);
      break;
    case VK_DELETE:
      ClearSelectedTexts();
      break;
    default:
      Default();
      return;
  }

  if (next == focusCell_) return;
  if (mouseMode_ == ModeNone) {
    previousSelection_.clear();
    mouseMode_ = listMode_ ? ModeSelectRows : ModeSelectCells;
    if (!shift || key == VK_TAB) selectionStart_ = next;
    NotifyOwner(next.row, next.col, GridCode::SelChanging);
    ApplyDragSelection(next);
    NotifyOwner(next.row, next.col, GridCode::SelChanged);
    mouseMode_ = ModeNone;
  }
  SetFocusCell(next);
  if (!IsCellOnScreen(next)) {
    switch (key) {
      case VK_TAB:
        if (shift) {
          if (changeLine) {
            scroll(WM_VSCROLL, SB_LINEUP);
            SetScrollPosition(SB_HORZ, hScrollMax_);
          } else {
            scroll(WM_HSCROLL, SB_LINELEFT);
          }
        } else if (changeLine) {
          scroll(WM_VSCROLL, SB_LINEDOWN);
          SetScrollPosition(SB_HORZ, 0);
        } else {
          scroll(WM_HSCROLL, SB_LINERIGHT);
        }
        break;
      case VK_LEFT:
        scroll(WM_HSCROLL, SB_LINELEFT);
        break;
      case VK_RIGHT:
        scroll(WM_HSCROLL, SB_LINERIGHT);
        break;
      case VK_UP:
        scroll(WM_VSCROLL, SB_LINEUP);
        break;
      case VK_DOWN:
        scroll(WM_VSCROLL, SB_LINEDOWN);
        break;
      default:
        break;
    }
    ScrollCellIntoView(next);
    Refresh();
  }
  ScrollCellIntoView(next);
  if (hScrolled) ::SendMessageW(wnd, WM_HSCROLL, SB_ENDSCROLL, 0);
  if (vScrolled) ::SendMessageW(wnd, WM_VSCROLL, SB_ENDSCROLL, 0);
}

void CGridCtrl::OnSysKeyDown(UINT, UINT, UINT) { Default(); }

void CGridCtrl::OnChar(UINT ch, UINT, UINT) {
  if (!KeyHeld(VK_CONTROL) && mouseMode_ == ModeNone && ch != VK_ESCAPE && !(ch == VK_TAB && handleTab_))
    BeginCellEdit(focusCell_.row, focusCell_.col, CPoint(-1, -1), ch);
  Default();
}

LRESULT CGridCtrl::OnImeChar(WPARAM ch, LPARAM) {
  if (!KeyHeld(VK_CONTROL) && mouseMode_ == ModeNone && ch != VK_ESCAPE)
    BeginCellEdit(focusCell_.row, focusCell_.col, CPoint(-1, -1), static_cast<UINT>(ch));
  return 0;
}

// ---- scroll bars ----

void CGridCtrl::OnHScroll(UINT code, UINT, CScrollBar*) { OnScroll(SB_HORZ, code); }

void CGridCtrl::OnVScroll(UINT code, UINT, CScrollBar*) { OnScroll(SB_VERT, code); }

void CGridCtrl::OnScroll(int bar, UINT code) {
  StopEditing();
  titleTip_.Hide();
  const bool horizontal = bar == SB_HORZ;
  const HWND wnd = GetSafeHwnd();
  const long long position = GetScrollPosition(bar);
  const CCellID before = FirstScrollableCell();
  CRect scrolling;
  ::GetClientRect(wnd, &scrolling);
  if (horizontal)
    scrolling.left = FixedColumnsWidth();
  else
    scrolling.top = FixedRowsHeight();
  const long long maximum = horizontal ? hScrollMax_ : vScrollMax_;
  const int fixedCount = horizontal ? fixedColumnCount_ : fixedRowCount_;
  const int count = horizontal ? columnCount_ : rowCount_;
  const int first = horizontal ? before.col : before.row;
  auto size = [&](int index) { return horizontal ? GetColumnWidth(index) : GetRowHeight(index); };

  switch (code) {
    case SB_LINEUP: {
      if (position <= 0 || first <= fixedCount) return;
      int index = first - 1;
      while (index > fixedCount && size(index) <= 0) --index;
      SetScrollPosition(bar, std::max(0LL, position - size(index)));
      break;
    }
    case SB_LINEDOWN: {
      if (position >= maximum || first >= count) return;
      int index = first;
      while (index < count - 1 && size(index) <= 0) ++index;
      SetScrollPosition(bar, position + size(index));
      if (GetScrollPosition(bar) == position) return;
      break;
    }
    case SB_PAGEUP:
      if (position <= 0) return;
      SetScrollPosition(bar, std::max(0LL, position - (horizontal ? scrolling.Width() : scrolling.Height())));
      break;
    case SB_PAGEDOWN:
      if (position >= maximum) return;
      SetScrollPosition(bar,
                        std::min<long long>(maximum, position + (horizontal ? scrolling.Width() : scrolling.Height())));
      break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK:
      SetScrollPosition(bar, GetScrollPosition(bar, TRUE));
      if (FirstScrollableCell() == before) return;
      break;
    case SB_TOP:
      if (position > 0) {
        SetScrollPosition(bar, 0);
        Refresh();
      }
      return;
    case SB_BOTTOM:
      if (position < maximum) {
        SetScrollPosition(bar, maximum);
        Refresh();
      }
      return;
    default:
      return;
  }
  if (allowDraw_) ::InvalidateRect(wnd, &scrolling, TRUE);
}

// ---- timer, size, capture, colours ----

void CGridCtrl::OnTimer(UINT_PTR id) {
  if (id != kAutoScrollTimer) return;
  const HWND wnd = GetSafeHwnd();
  CPoint point;
  ::GetCursorPos(&point);
  ::ScreenToClient(wnd, &point);
  CRect client;
  ::GetClientRect(wnd, &client);
  const int fixedHeight = FixedRowsHeight();
  const int fixedWidth = FixedColumnsWidth();

  if (point.y > client.bottom || point.y < fixedHeight) {
    const bool below = point.y > client.bottom;
    ::SendMessageW(wnd, WM_KEYDOWN, below ? VK_DOWN : VK_UP, 0);
    const CPoint at(std::clamp<int>(point.x, client.left, client.right), below ? client.bottom : fixedHeight + 1);
    ApplyDragSelection(CellAtPoint(at, TRUE));
  }
  if (point.x > client.right || point.x < fixedWidth) {
    const bool right = point.x > client.right;
    ::SendMessageW(wnd, WM_KEYDOWN, right ? VK_RIGHT : VK_LEFT, 0);
    const CPoint at(right ? client.right : fixedWidth + 1, std::clamp<int>(point.y, client.top, client.bottom));
    ApplyDragSelection(CellAtPoint(at, TRUE));
  }
}

void CGridCtrl::OnSize(UINT, int, int) {
  if (inSize_) return;
  inSize_ = true;
  if (!dropTarget_.IsRegistered()) dropTarget_.Register(this);
  StopEditing();
  Default();
  ResetScrollBars();
  inSize_ = false;
}

void CGridCtrl::OnCaptureChanged(CWnd* wnd) {
  if (wnd == this) return;
  if (timerId_) {
    ::KillTimer(GetSafeHwnd(), timerId_);
    timerId_ = 0;
  }
  if (mouseMode_ == ModeDragging) mouseMode_ = ModeNone;
}

void CGridCtrl::OnSysColorChange() {
  Default();
  for (CGridDefaultCell* cell :
       {defaultCell_.get(), defaultFixedColumnCell_.get(), defaultFixedRowCell_.get(), defaultFixedCell_.get()}) {
    if (cell->GetTextColour() == windowTextColour_) cell->SetTextColour(GetSysColor(COLOR_WINDOWTEXT));
    if (cell->GetBackColour() == windowColour_) cell->SetBackColour(GetSysColor(COLOR_WINDOW));
  }
  if (gridBackColour_ == shadowColour_) gridBackColour_ = GetSysColor(COLOR_BTNSHADOW);
  windowTextColour_ = GetSysColor(COLOR_WINDOWTEXT);
  windowColour_ = GetSysColor(COLOR_WINDOW);
  faceColour_ = GetSysColor(COLOR_BTNFACE);
  shadowColour_ = GetSysColor(COLOR_BTNSHADOW);
}
