// Focus and selection, the mouse, and resizing rows and columns by their dividers.
#include <algorithm>
#include <cstdlib>
#include <memory>

#include "GridCtrl.h"

namespace {

void ShowCursor(LPCTSTR cursor) { ::SetCursor(::LoadCursor(nullptr, cursor)); }

}  // namespace

// ---- focus and selection ----

CCellID CGridCtrl::SetFocusCell(int row, int column) { return SetFocusCell(CCellID(row, column)); }

CCellID CGridCtrl::SetFocusCell(CCellID cell) {
  if (cell == focusCell_) return focusCell_;
  if (cell.row != -1 && cell.row < fixedRowCount_) cell.row = fixedRowCount_;
  if (cell.col != -1 && cell.col < fixedColumnCount_) cell.col = fixedColumnCount_;
  const CCellID old = focusCell_;
  focusCell_ = cell;
  if (IsValid(old)) {
    SetItemState(old.row, old.col, GetItemState(old.row, old.col) & ~GridState::Focused);
    RedrawCell(old);
    RepaintHeaders(old, cell);
  }
  if (IsValid(cell)) {
    SetItemState(cell.row, cell.col, GetItemState(cell.row, cell.col) | GridState::Focused);
    RedrawCell(cell);
    RepaintHeaders(cell, old);
  }
  return old;
}

// With focus tracking, the headers of `cell`'s column and row show whether the
// focus is in them; they repaint when `other` lies in another column or row.
void CGridCtrl::RepaintHeaders(const CCellID& cell, const CCellID& other) {
  if (!trackFocusCell_) return;
  if (cell.col != other.col)
    for (int row = 0; row < fixedRowCount_; ++row) RedrawCell(row, cell.col);
  if (cell.row != other.row)
    for (int column = 0; column < fixedColumnCount_; ++column) RedrawCell(cell.row, column);
}

void CGridCtrl::SelectRange(int minRow, int minColumn, int maxRow, int maxColumn, BOOL forceRepaint, BOOL select) {
  if (!selectionEnabled_) return;
  CWaitCursor wait;
  std::unique_ptr<CClientDC> dc;
  if (forceRepaint && GetSafeHwnd()) dc = std::make_unique<CClientDC>(this);
  CellRange visible;
  if (GetSafeHwnd()) visible = VisibleScrollableRange();
  if (minRow >= 0) minRow = std::max(minRow, fixedRowCount_);
  if (maxRow >= 0) maxRow = std::max(maxRow, fixedRowCount_);
  if (minColumn >= 0) minColumn = std::max(minColumn, fixedColumnCount_);
  if (maxColumn >= 0) maxColumn = std::max(maxColumn, fixedColumnCount_);
  const CellRange range(minRow, minColumn, maxRow, maxColumn);
  auto paint = [&](int row, int column) {
    if (dc)
      RedrawCell(row, column, dc.get());
    else
      InvalidateCellArea(row, column);
  };
  const bool allSet = minRow >= 0 && minColumn >= 0 && maxRow >= 0 && maxColumn >= 0;

  if (select) {
    // The item-state setter edits the map, so the walk goes over a copy.
    const SelectionMap snapshot = selectedCells_;
    for (const auto& [key, cell] : snapshot) {
      if (!IsValid(cell)) {
        selectedCells_.erase(key);
        continue;
      }
      SetItemState(cell.row, cell.col, GetItemState(cell.row, cell.col) & ~GridState::Selected);
      if (!range.InRange(cell) && visible.InRange(cell)) paint(cell.row, cell.col);
    }
    if (!GetSingleRowSelection() && allSet) {
      const SelectionMap previous = previousSelection_;
      for (const auto& [key, cell] : previous) {
        if (!IsValid(cell)) continue;
        SetItemState(cell.row, cell.col, GetItemState(cell.row, cell.col) | GridState::Selected);
        if (visible.InRange(cell)) paint(cell.row, cell.col);
      }
    }
  }

  if (allSet && maxRow < rowCount_ && maxColumn < columnCount_ && minRow <= maxRow && minColumn <= maxColumn) {
    for (int row = minRow; row <= maxRow; ++row) {
      for (int column = minColumn; column <= maxColumn; ++column) {
        const bool selected = selectedCells_.count(SelectionKey(row, column)) != 0;
        if (selected == (select != FALSE)) continue;
        const UINT state = GetItemState(row, column);
        SetItemState(row, column, select ? state | GridState::Selected : state & ~GridState::Selected);
        if (visible.InRange(row, column)) paint(row, column);
      }
    }
  }
}

void CGridCtrl::SelectEverything() {
  if (selectionEnabled_) SelectRange(fixedRowCount_, fixedColumnCount_, rowCount_ - 1, columnCount_ - 1);
}

void CGridCtrl::ExtendSelectionByColumns(CCellID cell, BOOL forceRepaint, BOOL select) {
  if (!selectionEnabled_ || cell.col < fixedColumnCount_ || !IsValid(cell)) return;
  if (singleColumnSelection_)
    SelectRange(fixedRowCount_, cell.col, rowCount_ - 1, cell.col, forceRepaint, select);
  else
    SelectRange(fixedRowCount_, std::min(selectionStart_.col, cell.col), rowCount_ - 1,
                std::max(selectionStart_.col, cell.col), forceRepaint, select);
}

void CGridCtrl::ExtendSelectionByRows(CCellID cell, BOOL forceRepaint, BOOL select) {
  if (!selectionEnabled_ || cell.row < fixedRowCount_ || !IsValid(cell)) return;
  if (GetSingleRowSelection())
    SelectRange(cell.row, fixedColumnCount_, cell.row, columnCount_ - 1, forceRepaint, select);
  else
    SelectRange(std::min(selectionStart_.row, cell.row), fixedColumnCount_, std::max(selectionStart_.row, cell.row),
                columnCount_ - 1, forceRepaint, select);
}

void CGridCtrl::ExtendSelectionByCells(CCellID cell, BOOL forceRepaint, BOOL select) {
  if (!selectionEnabled_ || cell.row < fixedRowCount_ || cell.col < fixedColumnCount_ || !IsValid(cell)) return;
  SelectRange(std::min(selectionStart_.row, cell.row), std::min(selectionStart_.col, cell.col),
              std::max(selectionStart_.row, cell.row), std::max(selectionStart_.col, cell.col), forceRepaint, select);
}

void CGridCtrl::ApplyDragSelection(CCellID cell) {
  if (!selectionEnabled_) return;
  switch (mouseMode_) {
    case ModeSelectAll:
      SelectEverything();
      break;
    case ModeSelectColumns:
      ExtendSelectionByColumns(cell);
      break;
    case ModeSelectRows:
      ExtendSelectionByRows(cell);
      break;
    case ModeSelectCells:
      ExtendSelectionByCells(cell);
      break;
    default:
      break;
  }
}

CellRange CGridCtrl::SelectionBounds() const {
  CellRange bounds(rowCount_, columnCount_, -1, -1);
  for (const auto& [key, cell] : selectedCells_) {
    bounds.minRow = std::min(bounds.minRow, cell.row);
    bounds.minCol = std::min(bounds.minCol, cell.col);
    bounds.maxRow = std::max(bounds.maxRow, cell.row);
    bounds.maxCol = std::max(bounds.maxCol, cell.col);
  }
  return bounds;
}

void CGridCtrl::ClearSelection() {
  previousSelection_.clear();
  SelectRange(-1, -1, -1, -1);
  SetFocusCell(-1, -1);
}

BOOL CGridCtrl::IsCellSelected(int row, int column) const {
  if (!selectionEnabled_) return FALSE;
  if (virtualMode_) return selectedCells_.count(SelectionKey(row, column)) != 0;
  return (GetItemState(row, column) & GridState::Selected) != 0;
}

void CGridCtrl::EnableSelection(BOOL enable) {
  ClearSelection();
  selectionEnabled_ = enable;
}

void CGridCtrl::SetListMode(BOOL listMode) {
  ClearSelection();
  SetSortColumn(-1);
  listMode_ = listMode;
  fixedColumnClickSelects_ = FALSE;
  Refresh();
}

void CGridCtrl::SetSortColumn(int column) {
  if (sortColumn_ >= 0) InvalidateCellArea(0, sortColumn_);
  sortColumn_ = column;
  if (column >= 0) InvalidateCellArea(0, column);
}

CCellID CGridCtrl::FindCellByState(CCellID start, UINT flags) {
  UINT wanted = flags & (GridState::Focused | GridState::Selected | GridState::DropHighlighted |
                         GridState::ReadOnly | GridState::Fixed);
  if (flags & 0x20) wanted |= GridState::Modified;
  auto qualifies = [&](int row, int column) { return (GetItemState(row, column) & wanted) != 0; };
  if (wanted == 0) return CCellID();

  const UINT direction = flags & 0xF00;
  if ((direction & 0xE00) == 0xE00) {
    // Reading order from the cell after the start.
    int row = start.row <= 0 ? fixedRowCount_ : start.row;
    int column = start.col + 1 <= 0 ? fixedColumnCount_ : start.col + 1;
    for (; row < rowCount_; ++row, column = fixedColumnCount_)
      for (; column < columnCount_; ++column)
        if (qualifies(row, column)) return CCellID(row, column);
  } else if ((direction & 0xA00) == 0xA00) {
    for (int row = start.row <= 0 ? fixedRowCount_ : start.row; row < rowCount_; ++row)
      for (int column = start.col < 0 ? fixedColumnCount_ : start.col + 1; column < columnCount_; ++column)
        if (qualifies(row, column)) return CCellID(row, column);
  } else if (direction & 0x100) {
    for (int row = start.row - 1; row >= fixedRowCount_; --row)
      if (qualifies(row, start.col)) return CCellID(row, start.col);
  } else if (direction & 0x200) {
    for (int row = start.row + 1; row < rowCount_; ++row)
      if (qualifies(row, start.col)) return CCellID(row, start.col);
  } else if (direction & 0x400) {
    for (int column = start.col - 1; column >= fixedColumnCount_; --column)
      if (qualifies(start.row, column)) return CCellID(start.row, column);
  } else if (direction & 0x800) {
    for (int column = start.col + 1; column < columnCount_; ++column)
      if (qualifies(start.row, column)) return CCellID(start.row, column);
  }
  return CCellID();
}

// ---- mouse ----

void CGridCtrl::OnLButtonDown(UINT flags, CPoint point) {
  const HWND wnd = GetSafeHwnd();
  ::SetFocus(wnd);
  leftButtonDown_ = TRUE;
  clickDownPoint_ = point;
  clickDownCell_ = CellAtPoint(point, TRUE);
  if (!IsValid(clickDownCell_)) return;
  const bool ctrl = (flags & MK_CONTROL) != 0;

  if (!(flags & MK_SHIFT))
    selectionStart_ = clickDownCell_;
  else if (!IsValid(selectionStart_))
    selectionStart_ = focusCell_;

  StopEditing();
  CPoint origin;
  if (CellOrigin(clickDownCell_.row, clickDownCell_.col, &origin))
    if (CGridCellBase* cell = GetCell(clickDownCell_.row, clickDownCell_.col)) cell->OnPress(point - origin);

  CRect text;
  if (clickDownCell_ == focusCell_ && !ctrl && CellTextRectangle(clickDownCell_, &text) && text.PtInRect(point) &&
      IsCellEditable(clickDownCell_)) {
    mouseMode_ = ModePrepareEdit;
    return;
  }
  if (IsCellSelected(clickDownCell_)) {
    SetFocusCell(clickDownCell_);
    if (ctrl) {
      if (listMode_)
        ExtendSelectionByRows(clickDownCell_, TRUE, FALSE);
      else
        ExtendSelectionByCells(clickDownCell_, TRUE, FALSE);
      return;
    }
    if (dragAndDropAllowed_) mouseMode_ = ModePrepareDrag;
  } else if (mouseMode_ != ModeOverColumnDivider && mouseMode_ != ModeOverRowDivider) {
    if (clickDownCell_.row < fixedRowCount_ || clickDownCell_.col < fixedColumnCount_)
      SetFocusCell(-1, -1);
    else
      SetFocusCell(clickDownCell_);
  }

  ::SetCapture(wnd);
  if (mouseMode_ == ModeNone) {
    if (allowColumnResize_ && MouseOverColumnDivider(point)) {
      ShowCursor(IDC_SIZEWE);
      mouseMode_ = ModeOverColumnDivider;
    } else if (allowRowResize_ && MouseOverRowDivider(point)) {
      ShowCursor(IDC_SIZENS);
      mouseMode_ = ModeOverRowDivider;
    }
  }

  if (mouseMode_ == ModeOverColumnDivider || mouseMode_ == ModeOverRowDivider) {
    StartSizing(point, mouseMode_ == ModeOverColumnDivider);
  } else if (mouseMode_ != ModePrepareDrag) {
    NotifyOwner(clickDownCell_.row, clickDownCell_.col, GridCode::SelChanging);
    previousSelection_.clear();
    if (ctrl) previousSelection_ = selectedCells_;
    if (clickDownCell_.row < fixedRowCount_) {
      OnHeaderRowPress(clickDownCell_);
    } else if (clickDownCell_.col < fixedColumnCount_) {
      OnHeaderColumnPress(clickDownCell_);
    } else {
      mouseMode_ = listMode_ ? ModeSelectRows : ModeSelectCells;
      ApplyDragSelection(clickDownCell_);
      timerId_ = ::SetTimer(wnd, kAutoScrollTimer, timerInterval_, nullptr);
    }
  }
  lastMousePoint_ = point;
}

void CGridCtrl::OnHeaderRowPress(CCellID cell) {
  if (!IsValid(cell)) return;
  if (sortOnHeaderClick_) {
    CWaitCursor wait;
    SortByColumn(cell.col, cell.col == sortColumn_ && sortAscending_ ? FALSE : TRUE, 0);
    Refresh();
  }
  if (!fixedRowClickSelects_) return;
  mouseMode_ = cell.col < fixedColumnCount_ ? ModeSelectAll : ModeSelectColumns;
  ApplyDragSelection(cell);
}

void CGridCtrl::OnHeaderColumnPress(CCellID cell) {
  if (!IsValid(cell) || !fixedColumnClickSelects_) return;
  mouseMode_ = cell.row < fixedRowCount_ ? ModeSelectAll : ModeSelectRows;
  ApplyDragSelection(cell);
}

void CGridCtrl::OnMouseMove(UINT flags, CPoint point) {
  CRect client;
  ::GetClientRect(GetSafeHwnd(), &client);
  if (mouseMode_ != ModeDragging && !client.PtInRect(point)) return;

  if (!(flags & MK_LBUTTON) || mouseMode_ == ModeNone) {
    if (allowColumnResize_ && MouseOverColumnDivider(point)) {
      if (mouseMode_ != ModeOverColumnDivider) {
        ShowCursor(IDC_SIZEWE);
        mouseMode_ = ModeOverColumnDivider;
      }
    } else if (allowRowResize_ && MouseOverRowDivider(point)) {
      if (mouseMode_ != ModeOverRowDivider) {
        ShowCursor(IDC_SIZENS);
        mouseMode_ = ModeOverRowDivider;
      }
    } else if (mouseMode_ != ModeNone) {
      ShowCursor(IDC_ARROW);
      mouseMode_ = ModeNone;
    }
    if (mouseMode_ == ModeNone && !(virtualMode_ && !titleTips_)) {
      const CCellID id = CellAtPoint(point, TRUE);
      if (CGridCellBase* cell = GetCell(id.row, id.col)) {
        cell->OnHover();
        CRect rect;
        CRect tipRect;
        if (titleTips_ && *cell->GetTipText() && !rightButtonDown_ && !cell->IsEditing() &&
            CellRectangle(id, &rect) && CellRectangle(id, &tipRect) && cell->TipTextRectangle(&tipRect))
          titleTip_.Show(tipRect, cell->GetTipText(), 0, &rect, cell->GetFont(), titleTipTextColour_,
                         titleTipBackColour_);
      }
    }
    lastMousePoint_ = point;
    return;
  }

  if (IsValid(clickDownCell_)) {
    switch (mouseMode_) {
      case ModeSelectColumns:
      case ModeSelectRows:
      case ModeSelectCells: {
        const CCellID cell = CellAtPoint(point, TRUE);
        if (!IsValid(cell) || cell == focusCell_) break;
        ApplyDragSelection(cell);
        if (mouseMode_ != ModeSelectCells || (cell.row >= fixedRowCount_ && cell.col >= fixedColumnCount_))
          SetFocusCell(cell);
        break;
      }
      case ModeSizingColumn:
      case ModeSizingRow:
        DrawTrackingLine(lastMousePoint_, mouseMode_ == ModeSizingColumn);
        DrawTrackingLine(point, mouseMode_ == ModeSizingColumn);
        break;
      case ModePrepareEdit:
      case ModePrepareDrag:
        mouseMode_ = ModePrepareDrag;
        OnBeginDrag();
        break;
      default:
        break;
    }
  }
  lastMousePoint_ = point;
}

void CGridCtrl::OnLButtonUp(UINT, CPoint point) {
  const HWND wnd = GetSafeHwnd();
  leftButtonDown_ = FALSE;
  ::ClipCursor(nullptr);
  if (::GetCapture() == wnd) {
    ::ReleaseCapture();
    if (timerId_) ::KillTimer(wnd, timerId_);
    timerId_ = 0;
  }
  CPoint relative(0, 0);
  CPoint origin;
  if (CellOrigin(focusCell_.row, focusCell_.col, &origin)) relative = point - origin;

  switch (mouseMode_) {
    case ModePrepareEdit:
      BeginCellEdit(focusCell_.row, focusCell_.col, point, VK_LBUTTON);
      break;
    case ModePrepareDrag:
      if (CGridCellBase* cell = GetCell(focusCell_.row, focusCell_.col)) cell->OnMouseHook4(relative);
      NotifyOwner(clickDownCell_.row, clickDownCell_.col, GridCode::Click);
      NotifyOwner(clickDownCell_.row, clickDownCell_.col, GridCode::SelChanging);
      ClearSelection();
      NotifyOwner(focusCell_.row, focusCell_.col, GridCode::SelChanged);
      break;
    case ModeSizingColumn:
    case ModeSizingRow:
      FinishSizing(point, mouseMode_ == ModeSizingColumn);
      break;
    default:
      NotifyOwner(focusCell_.row, focusCell_.col, GridCode::SelChanged);
      if (CGridCellBase* cell = GetCell(focusCell_.row, focusCell_.col)) cell->OnMouseHook4(relative);
      NotifyOwner(clickDownCell_.row, clickDownCell_.col, GridCode::Click);
      break;
  }
  mouseMode_ = ModeNone;
  ShowCursor(IDC_ARROW);
  const HWND owner = OwnerWindow();
  if (IsValid(focusCell_) && owner)
    ::PostMessageW(owner, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(wnd), 0), reinterpret_cast<LPARAM>(wnd));
}

void CGridCtrl::OnLButtonDblClk(UINT, CPoint point) {
  const CCellID cell = CellAtPoint(point, TRUE);
  if (!IsValid(cell)) return;
  if (mouseMode_ == ModeOverColumnDivider || mouseMode_ == ModeOverRowDivider) {
    FitDividerAt(point, mouseMode_ == ModeOverColumnDivider);
  } else if (mouseMode_ == ModeNone) {
    CPoint origin;
    CellOrigin(cell.row, cell.col, &origin);
    CRect text;
    const bool inText = CellTextRectangle(cell, &text) && text.PtInRect(point);
    if (cell.row >= fixedRowCount_ && cell.col >= fixedColumnCount_ && inText &&
        (listMode_ || IsValid(clickDownCell_)))
      BeginCellEdit(cell.row, cell.col, point, VK_LBUTTON);
    if (CGridCellBase* target = GetCell(cell.row, cell.col)) target->OnDoubleClick(point - origin);
    NotifyOwner(cell.row, cell.col, GridCode::DoubleClick);
  }
  Default();
}

void CGridCtrl::OnRButtonDown(UINT, CPoint) {
  Default();
  rightButtonDown_ = TRUE;
}

void CGridCtrl::OnRButtonUp(UINT, CPoint point) {
  Default();
  rightButtonDown_ = FALSE;
  const CCellID cell = CellAtPoint(point, TRUE);
  StopEditing();
  if (!IsValid(cell)) {
    NotifyOwner(-1, -1, GridCode::RightClick);
    return;
  }
  SetFocusCell(-1, -1);
  SetFocusCell(std::max(cell.row, fixedRowCount_), std::max(cell.col, fixedColumnCount_));
  CPoint origin;
  if (CellOrigin(cell.row, cell.col, &origin))
    if (CGridCellBase* target = GetCell(cell.row, cell.col)) target->OnRightClick(point - origin);
  NotifyOwner(cell.row, cell.col, GridCode::RightClick);
}

BOOL CGridCtrl::OnMouseWheel(UINT, short delta, CPoint) {
  // 64-bit arithmetic, and never more steps than there are rows to scroll.
  long long steps;
  UINT up;
  UINT down;
  if (rowsPerWheelNotch_ == -1) {
    steps = delta / 120;
    up = SB_PAGEUP;
    down = SB_PAGEDOWN;
  } else {
    steps = static_cast<long long>(delta) * rowsPerWheelNotch_ / 120;
    up = SB_LINEUP;
    down = SB_LINEDOWN;
  }
  const UINT code = steps > 0 ? up : down;
  steps = std::min<long long>(std::llabs(steps), rowCount_);
  for (long long i = 0; i < steps; ++i) ::PostMessageW(GetSafeHwnd(), WM_VSCROLL, code, 0);
  Default();
  return TRUE;
}

BOOL CGridCtrl::OnSetCursor(CWnd*, UINT hitTest, UINT) {
  if (hitTest == HTCLIENT) {
    switch (mouseMode_) {
      case ModeOverRowDivider:
      case ModeSizingRow:
        ShowCursor(IDC_SIZENS);
        return TRUE;
      case ModeOverColumnDivider:
      case ModeSizingColumn:
        ShowCursor(IDC_SIZEWE);
        return TRUE;
      default: {
        CPoint point;
        ::GetCursorPos(&point);
        ::ScreenToClient(GetSafeHwnd(), &point);
        const CCellID id = CellAtPoint(point, TRUE);
        if (CGridCellBase* cell = GetCell(id.row, id.col)) return cell->OnSetCursor();
        break;
      }
    }
  }
  return static_cast<BOOL>(Default());
}

// ---- resizing by the dividers ----

void CGridCtrl::DrawTrackingLine(CPoint point, bool column) {
  if (!GetSafeHwnd()) return;
  CRect client;
  ::GetClientRect(GetSafeHwnd(), &client);
  CClientDC dc(this);
  const CRect line = column ? CRect(point.x, client.top, point.x + 2, client.bottom)
                            : CRect(client.left, point.y, client.right, point.y + 2);
  dc.InvertRect(line);
}

void CGridCtrl::StartSizing(CPoint point, bool column) {
  mouseMode_ = column ? ModeSizingColumn : ModeSizingRow;
  const CCellID cell = CellAtPoint(point, TRUE);
  const int count = column ? columnCount_ : rowCount_;
  auto size = [&](int index) { return column ? GetColumnWidth(index) : GetRowHeight(index); };
  CRect visible;
  VisibleScrollableRange(&visible);
  const int last = count - 1;
  const int at = column ? point.x : point.y;
  const int farEdge = column ? visible.right : visible.bottom;

  int pressed = column ? cell.col : cell.row;
  if (size(last) < resizeCaptureRange_ && std::abs(farEdge - at) < resizeCaptureRange_) pressed = last;
  CPoint origin;
  int target = pressed;
  if (CellOrigin(column ? cell.row : pressed, column ? pressed : cell.col, &origin) &&
      at - (column ? origin.x : origin.y) < resizeCaptureRange_ &&
      !(pressed == last && size(last) < resizeCaptureRange_)) {
    target = pressed - 1;
    if (!(column ? allowColumnUnhide_ : allowRowUnhide_))
      while (target >= 0 && size(target) == 0) --target;
  }
  if (target < 0) {
    mouseMode_ = ModeNone;
    return;
  }
  (column ? clickDownCell_.col : clickDownCell_.row) = target;

  DrawTrackingLine(point, column);
  CRect client;
  ::GetClientRect(GetSafeHwnd(), &client);
  CPoint targetOrigin;
  CellOrigin(clickDownCell_.row, clickDownCell_.col, &targetOrigin);
  CRect confine = client;
  if (column) {
    confine.left = targetOrigin.x + 1;
    confine.right = targetOrigin.x + client.Width() - FixedColumnsWidth() + 1;
  } else {
    confine.top = targetOrigin.y + 1;
    confine.bottom = targetOrigin.y + client.Height() - FixedRowsHeight() + 1;
  }
  ::MapWindowPoints(GetSafeHwnd(), nullptr, reinterpret_cast<LPPOINT>(&confine), 2);
  ::ClipCursor(&confine);
}

void CGridCtrl::FinishSizing(CPoint point, bool column) {
  DrawTrackingLine(lastMousePoint_, column);
  ::ClipCursor(nullptr);
  if (point == clickDownPoint_ || (point.x == 0 && point.y == 0)) return;
  // A row or column scrolled out of view during the drag has no origin: it keeps its size.
  CPoint origin;
  if (!CellOrigin(clickDownCell_.row, clickDownCell_.col, &origin)) return;
  if (column) {
    SetColumnWidth(clickDownCell_.col, std::max<int>(point.x - origin.x, allowColumnHide_ ? 0 : 1));
  } else {
    SetRowHeight(clickDownCell_.row, std::max<int>(point.y - origin.y, allowRowHide_ ? 0 : 1));
  }
  ResetScrollBars();
  ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}

void CGridCtrl::FitDividerAt(CPoint point, bool column) {
  const CCellID cell = CellAtPoint(point, TRUE);
  CPoint origin;
  if (!IsValid(cell) || !CellOrigin(cell.row, cell.col, &origin)) return;
  int index = column ? cell.col : cell.row;
  if ((column ? point.x - origin.x : point.y - origin.y) < resizeCaptureRange_) --index;
  while (index >= 0 && (column ? GetColumnWidth(index) : GetRowHeight(index)) == 0) --index;
  if (index < 0) return;
  if (column)
    FitColumnToContents(index, fitStyle_, TRUE);
  else
    FitRowToContents(index, TRUE);
  ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}
