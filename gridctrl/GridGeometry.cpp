// Sizes of rows and columns, where cells lie in the client area, the scroll
// bars' ranges, fitting and stretching.
#include <algorithm>
#include <climits>

#include "GridCtrl.h"

int CGridCtrl::GetRowHeight(int row) const {
  return row >= 0 && row < static_cast<int>(rowHeights_.size()) ? static_cast<int>(rowHeights_[row]) : -1;
}

int CGridCtrl::GetColumnWidth(int column) const {
  return column >= 0 && column < static_cast<int>(columnWidths_.size()) ? static_cast<int>(columnWidths_[column])
                                                                         : -1;
}

BOOL CGridCtrl::SetRowHeight(int row, int height) {
  if (row < 0 || row >= rowCount_ || height < 0) return FALSE;
  rowHeights_[row] = height;
  ResetScrollBars();
  return TRUE;
}

BOOL CGridCtrl::SetColumnWidth(int column, int width) {
  if (column < 0 || column >= columnCount_ || width < 0) return FALSE;
  columnWidths_[column] = width;
  ResetScrollBars();
  return TRUE;
}

namespace {

// Sizes add up in 64 bits: each is below 2^31, so no count of them overflows.
long long Sum(const std::vector<UINT>& sizes, int from, int to) {
  long long total = 0;
  for (int i = std::max(from, 0); i < to && i < static_cast<int>(sizes.size()); ++i) total += sizes[i];
  return total;
}

int Clamped(long long value) { return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX)); }

// Scroll-bar ranges stay well inside an int, for the system's own arithmetic on them.
constexpr long long kScrollRangeLimit = 0x3FFFFFFF;

int Bar(int bar) { return bar == SB_HORZ ? 0 : 1; }

}  // namespace

int CGridCtrl::EndOf(int start, long long size) { return Clamped(start + size - 1); }

long long CGridCtrl::TotalRowsHeight() const { return Sum(rowHeights_, 0, rowCount_); }
long long CGridCtrl::TotalColumnsWidth() const { return Sum(columnWidths_, 0, columnCount_); }
int CGridCtrl::FixedRowsHeight() const { return Clamped(Sum(rowHeights_, 0, fixedRowCount_)); }
int CGridCtrl::FixedColumnsWidth() const { return Clamped(Sum(columnWidths_, 0, fixedColumnCount_)); }

// ---- scroll positions and the cells in view ----

long long CGridCtrl::GetScrollPosition(int bar, BOOL track) {
  if (!GetSafeHwnd()) return 0;
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | (track ? SIF_TRACKPOS : SIF_POS);
  if (!::GetScrollInfo(GetSafeHwnd(), bar, &info)) return 0;
  const int shift = scrollShift_[Bar(bar)];
  const int step = track ? info.nTrackPos : info.nPos;
  // The bar still where it was put: the pixel position kept; at its end: the last one.
  if (step == scrollPosition_[Bar(bar)] >> shift) return scrollPosition_[Bar(bar)];
  const long long maximum = bar == SB_HORZ ? hScrollMax_ : vScrollMax_;
  if (shift > 0 && step >= info.nMax - static_cast<int>(info.nPage) + 1)
    return std::max(0LL, maximum - scrollPage_[Bar(bar)] + 1);
  return static_cast<long long>(step) << shift;
}

BOOL CGridCtrl::SetScrollPosition(int bar, long long position, BOOL redraw) {
  topLeftCell_ = CCellID();
  if (!GetSafeHwnd()) return FALSE;
  position = std::max(0LL, position);
  scrollPosition_[Bar(bar)] = position;
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_POS;
  info.nPos = Clamped(position >> scrollShift_[Bar(bar)]);
  ::SetScrollInfo(GetSafeHwnd(), bar, &info, redraw);
  return TRUE;
}

void CGridCtrl::EnableScrollBars(int bar, BOOL show) {
  if (!GetSafeHwnd()) return;
  // The state changes before the bar does: showing or hiding it resizes the client
  // area, and the size handler resets the bars again from inside this call.
  const bool want = show != FALSE;
  if ((bar == SB_HORZ || bar == SB_BOTH) && ((scrollBarState_ & 1) != 0) != want) {
    scrollBarState_ ^= 1;
    ::ShowScrollBar(GetSafeHwnd(), SB_HORZ, want);
  }
  if ((bar == SB_VERT || bar == SB_BOTH) && ((scrollBarState_ & 2) != 0) != want) {
    scrollBarState_ ^= 2;
    ::ShowScrollBar(GetSafeHwnd(), SB_VERT, want);
  }
}

void CGridCtrl::ResetScrollBars() {
  topLeftCell_ = CCellID();
  scrollHint_ = CCellID();
  if (!allowDraw_ || !GetSafeHwnd()) return;
  CRect rect;
  ::GetClientRect(GetSafeHwnd(), &rect);
  if (rect.IsRectEmpty()) return;
  if (scrollBarState_ & 2) rect.right += GetSystemMetrics(SM_CXVSCROLL) + GetSystemMetrics(SM_CXBORDER);
  if (scrollBarState_ & 1) rect.bottom += GetSystemMetrics(SM_CYHSCROLL) + GetSystemMetrics(SM_CYBORDER);

  CRect visible(FixedColumnsWidth(), FixedRowsHeight(), rect.right, rect.bottom);
  if (visible.IsRectEmpty()) {
    EnableScrollBars(SB_BOTH, FALSE);
    return;
  }
  // The scrolling parts' sizes, exact.
  const long long virtualWidth = TotalColumnsWidth() - visible.left;
  const long long virtualHeight = TotalRowsHeight() - visible.top;
  if (visible.Height() < virtualHeight) visible.right -= GetSystemMetrics(SM_CXVSCROLL);
  if (visible.Width() < virtualWidth) visible.bottom -= GetSystemMetrics(SM_CYHSCROLL);

  if (visible.Height() < virtualHeight) {
    EnableScrollBars(SB_VERT, TRUE);
    vScrollMax_ = virtualHeight - 1;
  } else {
    EnableScrollBars(SB_VERT, FALSE);
    vScrollMax_ = 0;
  }
  if (visible.Width() < virtualWidth) {
    EnableScrollBars(SB_HORZ, TRUE);
    hScrollMax_ = virtualWidth - 1;
  } else {
    EnableScrollBars(SB_HORZ, FALSE);
    hScrollMax_ = 0;
  }
  UpdateScrollBar(SB_HORZ, hScrollMax_, visible.Width());
  UpdateScrollBar(SB_VERT, vScrollMax_, visible.Height());
}

// The bar's range and page; a grid too large for the range counts in steps of 2^n pixels.
void CGridCtrl::UpdateScrollBar(int bar, long long maximum, long long page) {
  int shift = 0;
  while ((maximum >> shift) > kScrollRangeLimit) ++shift;
  const bool rescaled = shift != scrollShift_[Bar(bar)];
  scrollShift_[Bar(bar)] = shift;
  scrollPage_[Bar(bar)] = maximum > 0 ? page : 0;
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_PAGE | SIF_RANGE | (bar == SB_VERT ? SIF_DISABLENOSCROLL : 0);
  info.nMin = 0;
  info.nMax = static_cast<int>(maximum >> shift);
  info.nPage = maximum > 0 ? static_cast<UINT>(std::max(1LL, page >> shift)) : 0;
  ::SetScrollInfo(GetSafeHwnd(), bar, &info, TRUE);
  if (rescaled) {
    info.fMask = SIF_POS;
    info.nPos = Clamped(scrollPosition_[Bar(bar)] >> shift);
    ::SetScrollInfo(GetSafeHwnd(), bar, &info, TRUE);
  }
}

namespace {

// The first index from `first` on whose preceding sizes (from `first`) reach `position`,
// never past `last`. The walk starts at a known index and its offset, in either direction.
int FirstAtOffset(const std::vector<UINT>& sizes, int first, int last, long long position, int index,
                  long long& offset) {
  while (index > first && offset - static_cast<long long>(sizes[index - 1]) >= position) offset -= sizes[--index];
  while (offset < position && index < last) offset += sizes[index++];
  return index;
}

}  // namespace

CCellID CGridCtrl::FirstScrollableCell(BOOL force) {
  if (!force && topLeftCell_.IsValid()) return topLeftCell_;
  // The walk resumes from the last answer while the sizes have not changed, so that
  // scrolling line by line through a long grid costs a step, not a walk from the top.
  if (!IsValid(scrollHint_)) {
    scrollHint_ = CCellID(fixedRowCount_, fixedColumnCount_);
    scrollHintOffsetX_ = 0;
    scrollHintOffsetY_ = 0;
  }
  CCellID cell;
  cell.col = FirstAtOffset(columnWidths_, fixedColumnCount_, columnCount_ - 1, GetScrollPosition(SB_HORZ),
                           scrollHint_.col, scrollHintOffsetX_);
  cell.row = FirstAtOffset(rowHeights_, fixedRowCount_, rowCount_ - 1, GetScrollPosition(SB_VERT), scrollHint_.row,
                           scrollHintOffsetY_);
  scrollHint_ = cell;
  // Without scrolling rows or columns the cell lies past the grid and is never cached.
  topLeftCell_ = IsValid(cell) ? cell : CCellID();
  if (!IsValid(cell)) scrollHint_ = CCellID();
  return cell;
}

namespace {

// The last index in view from `first` on, and the far edge it reaches.
int LastInView(const std::vector<UINT>& sizes, int count, int first, int start, int limit, bool fully, int& edge) {
  long long position = start;
  int index = first;
  for (; index < count; ++index) {
    position += sizes[index];
    if (position >= limit) break;
  }
  if (fully && position > limit && index > 0 && index < count) --index;
  edge = static_cast<int>(std::min<long long>(position, limit));
  return std::min(index, count - 1);
}

}  // namespace

CellRange CGridCtrl::VisibleScrollableRange(LPRECT rect, BOOL force) {
  CRect client(0, 0, 0, 0);
  if (GetSafeHwnd()) ::GetClientRect(GetSafeHwnd(), &client);
  const CCellID topLeft = FirstScrollableCell(force);
  int bottom = 0;
  int right = 0;
  const int maxRow = LastInView(rowHeights_, rowCount_, topLeft.row, FixedRowsHeight(), client.bottom, false, bottom);
  const int maxColumn =
      LastInView(columnWidths_, columnCount_, topLeft.col, FixedColumnsWidth(), client.right, false, right);
  if (rect) *rect = CRect(0, 0, right, bottom);
  return CellRange(topLeft.row, topLeft.col, maxRow, maxColumn);
}

CellRange CGridCtrl::FullyVisibleScrollableRange(BOOL force) {
  CRect client(0, 0, 0, 0);
  if (GetSafeHwnd()) ::GetClientRect(GetSafeHwnd(), &client);
  const CCellID topLeft = FirstScrollableCell(force);
  int edge = 0;
  const int maxRow = LastInView(rowHeights_, rowCount_, topLeft.row, FixedRowsHeight(), client.bottom, true, edge);
  const int maxColumn =
      LastInView(columnWidths_, columnCount_, topLeft.col, FixedColumnsWidth(), client.right, true, edge);
  return CellRange(topLeft.row, topLeft.col, maxRow, maxColumn);
}

// ---- cell positions ----

BOOL CGridCtrl::CellOrigin(int row, int column, LPPOINT point) {
  if (!IsValid(row, column)) return FALSE;
  CCellID topLeft;
  if (row >= fixedRowCount_ || column >= fixedColumnCount_) topLeft = FirstScrollableCell();
  if (column >= fixedColumnCount_ && column < topLeft.col) return FALSE;
  if (row >= fixedRowCount_ && row < topLeft.row) return FALSE;
  // Far out of view an origin stops at the largest int.
  point->x = Clamped(column < fixedColumnCount_ ? Sum(columnWidths_, 0, column)
                                                : FixedColumnsWidth() + Sum(columnWidths_, topLeft.col, column));
  point->y = Clamped(row < fixedRowCount_ ? Sum(rowHeights_, 0, row)
                                          : FixedRowsHeight() + Sum(rowHeights_, topLeft.row, row));
  return TRUE;
}

BOOL CGridCtrl::CellRectangle(int row, int column, LPRECT rect) {
  CPoint origin;
  if (!CellOrigin(row, column, &origin)) return FALSE;
  rect->left = origin.x;
  rect->top = origin.y;
  rect->right = EndOf(origin.x, GetColumnWidth(column));
  rect->bottom = EndOf(origin.y, GetRowHeight(row));
  return TRUE;
}

BOOL CGridCtrl::CellTextRectangle(int row, int column, LPRECT rect) {
  if (!CellRectangle(row, column, rect)) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetTextRect(rect) : FALSE;
}

BOOL CGridCtrl::RangeRectangle(const CellRange& range, LPRECT rect) {
  CPoint first;
  CPoint last;
  if (!CellOrigin(range.minRow, range.minCol, &first) || !CellOrigin(range.maxRow, range.maxCol, &last)) return FALSE;
  rect->left = first.x;
  rect->top = first.y;
  rect->right = EndOf(last.x, GetColumnWidth(range.maxCol));
  rect->bottom = EndOf(last.y, GetRowHeight(range.maxRow));
  return TRUE;
}

namespace {

// The index under `position` along one axis, -1 for none.
int IndexAt(const std::vector<UINT>& sizes, int count, int fixedCount, int fixedSize, int firstScrolling,
            int position, BOOL allowFixed) {
  if (position < 0 || (!allowFixed && position < fixedSize)) return -1;
  if (position < fixedSize) {
    long long edge = 0;
    for (int i = 0; i < fixedCount; ++i) {
      edge += sizes[i];
      if (edge > position) return i;
    }
    return -1;
  }
  long long edge = fixedSize;
  for (int i = firstScrolling; i < count; ++i) {
    edge += sizes[i];
    if (edge > position) return i;
  }
  return -1;
}

}  // namespace

CCellID CGridCtrl::CellAtPoint(CPoint point, BOOL allowFixed) {
  const CCellID topLeft = FirstScrollableCell();
  if (!allowFixed && !IsValid(topLeft)) return CCellID();
  return CCellID(IndexAt(rowHeights_, rowCount_, fixedRowCount_, FixedRowsHeight(), topLeft.row, point.y, allowFixed),
                 IndexAt(columnWidths_, columnCount_, fixedColumnCount_, FixedColumnsWidth(), topLeft.col, point.x,
                         allowFixed));
}

BOOL CGridCtrl::MouseOverColumnDivider(CPoint point) {
  if (point.y >= FixedRowsHeight()) return FALSE;
  const CCellID cell = CellAtPoint(point, TRUE);
  CPoint origin;
  if (!IsValid(cell) || !CellOrigin(cell.row, cell.col, &origin)) return FALSE;
  if (point.x - origin.x < resizeCaptureRange_ && cell.col != 0) return TRUE;
  return static_cast<long long>(origin.x) + GetColumnWidth(cell.col) - point.x < resizeCaptureRange_;
}

BOOL CGridCtrl::MouseOverRowDivider(CPoint point) {
  if (point.x >= FixedColumnsWidth()) return FALSE;
  const CCellID cell = CellAtPoint(point, TRUE);
  CPoint origin;
  if (!IsValid(cell) || !CellOrigin(cell.row, cell.col, &origin)) return FALSE;
  if (point.y - origin.y < resizeCaptureRange_ && cell.row != 0) return TRUE;
  return static_cast<long long>(origin.y) + GetRowHeight(cell.row) - point.y < resizeCaptureRange_;
}

BOOL CGridCtrl::IsCellOnScreen(int row, int column) {
  if (!GetSafeHwnd() || !IsValid(row, column)) return FALSE;
  const CCellID topLeft = FirstScrollableCell();
  if (column >= fixedColumnCount_ && column < topLeft.col) return FALSE;
  if (row >= fixedRowCount_ && row < topLeft.row) return FALSE;
  CRect client;
  ::GetClientRect(GetSafeHwnd(), &client);
  // Each walk visits the fixed part, then the scrolling part from the top-left cell on.
  auto reaches = [](const std::vector<UINT>& sizes, int fixedCount, int first, int target, int limit) {
    long long edge = 0;
    for (int i = 0; i < fixedCount; ++i) {
      if (edge >= limit) return false;
      if (i == target) return true;
      edge += sizes[i];
    }
    for (int i = first; i <= target; ++i) {
      if (edge >= limit) return false;
      edge += sizes[i];
    }
    return true;
  };
  return reaches(columnWidths_, fixedColumnCount_, topLeft.col, column, client.right) &&
         reaches(rowHeights_, fixedRowCount_, topLeft.row, row, client.bottom);
}

void CGridCtrl::ScrollCellIntoView(int row, int column) {
  if (!allowDraw_ || !GetSafeHwnd() || !IsValid(row, column)) return;
  const HWND focus = ::GetFocus();
  const HWND wnd = GetSafeHwnd();
  const CellRange visible = VisibleScrollableRange();

  if (column >= fixedColumnCount_) {
    for (int c = visible.maxCol; c < column; ++c)
      if (GetColumnWidth(c) > 0) ::SendMessageW(wnd, WM_HSCROLL, SB_LINERIGHT, 0);
    for (int c = column; c < visible.minCol; ++c)
      if (GetColumnWidth(c) > 0) ::SendMessageW(wnd, WM_HSCROLL, SB_LINELEFT, 0);
  }
  if (row >= fixedRowCount_) {
    for (int r = visible.maxRow; r < row; ++r)
      if (GetRowHeight(r) > 0) ::SendMessageW(wnd, WM_VSCROLL, SB_LINEDOWN, 0);
    for (int r = row; r < visible.minRow; ++r)
      if (GetRowHeight(r) > 0) ::SendMessageW(wnd, WM_VSCROLL, SB_LINEUP, 0);
  }

  // Finer steps until the far edges show; each stops once a step no longer moves the view.
  CRect client;
  ::GetClientRect(wnd, &client);
  CRect rect;
  while (CellRectangle(row, column, &rect) && rect.right > client.right && rect.left > FixedColumnsWidth() &&
         IsScrollBarShown(SB_HORZ)) {
    const long long before = GetScrollPosition(SB_HORZ);
    ::SendMessageW(wnd, WM_HSCROLL, SB_LINERIGHT, 0);
    if (GetScrollPosition(SB_HORZ) == before) break;
  }
  while (CellRectangle(row, column, &rect) && rect.bottom > client.bottom && rect.top > FixedRowsHeight() &&
         IsScrollBarShown(SB_VERT)) {
    const long long before = GetScrollPosition(SB_VERT);
    ::SendMessageW(wnd, WM_VSCROLL, SB_LINEDOWN, 0);
    if (GetScrollPosition(SB_VERT) == before) break;
  }
  if (focus && ::IsWindow(focus)) ::SetFocus(focus);
}

BOOL CGridCtrl::InvalidateCellArea(int row, int column) {
  if (!GetSafeHwnd() || !allowDraw_ || !IsValid(row, column) || !IsCellOnScreen(row, column)) return FALSE;
  CRect rect;
  if (!CellRectangle(row, column, &rect)) return FALSE;
  rect.InflateRect(0, 0, 1, 1);
  return ::InvalidateRect(GetSafeHwnd(), &rect, TRUE);
}

BOOL CGridCtrl::InvalidateCellArea(const CellRange& range) {
  if (!GetSafeHwnd() || !allowDraw_) return FALSE;
  const CellRange visible = VisibleScrollableRange().Intersect(range);
  CRect rect;
  if (!RangeRectangle(visible, &rect)) return FALSE;
  rect.InflateRect(0, 0, 1, 1);
  return ::InvalidateRect(GetSafeHwnd(), &rect, TRUE);
}

CSize CGridCtrl::MeasureCellText(int row, int column, LPCSTR text) {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetTextExtent(text) : CSize(0, 0);
}

// ---- fitting ----

BOOL CGridCtrl::FitColumnToContents(int column, int style, BOOL resetScrollBars) {
  if (column < 0 || column >= columnCount_ || GetColumnWidth(column) <= 0 || !GetSafeHwnd()) return FALSE;
  CClientDC dc(this);
  if (style == 0) style = fitStyle_;
  const int first = (style & 1) ? 0 : fixedRowCount_;
  const int last = (style & 2) ? rowCount_ - 1 : fixedRowCount_ - 1;
  if (virtualMode_) SendCacheHint(CellRange(first, column, last, column));
  int width = 0;
  for (int row = first; row <= last; ++row)
    if (CGridCellBase* cell = GetCell(row, column)) width = std::max<int>(width, cell->CellSizeNeeded(&dc).cx);
  if (virtualMode_) SendCacheHint(CellRange());
  columnWidths_[column] = width;
  scrollHint_ = CCellID();
  if (resetScrollBars) ResetScrollBars();
  return TRUE;
}

BOOL CGridCtrl::FitRowToContents(int row, BOOL resetScrollBars) {
  if (row < 0 || row >= rowCount_ || GetRowHeight(row) <= 0 || !GetSafeHwnd()) return FALSE;
  CClientDC dc(this);
  if (virtualMode_) SendCacheHint(CellRange(row, 0, row, columnCount_ - 1));
  int height = 0;
  for (int column = 0; column < columnCount_; ++column)
    if (CGridCellBase* cell = GetCell(row, column)) height = std::max<int>(height, cell->CellSizeNeeded(&dc).cy);
  if (virtualMode_) SendCacheHint(CellRange());
  rowHeights_[row] = height;
  scrollHint_ = CCellID();
  if (resetScrollBars) ResetScrollBars();
  return TRUE;
}

void CGridCtrl::FitAllColumnsToContents(int style) {
  for (int column = 0; column < columnCount_; ++column)
    if (GetColumnWidth(column) > 0) FitColumnToContents(column, style, FALSE);
  ResetScrollBars();
}

void CGridCtrl::FitAllRowsToContents() {
  for (int row = 0; row < rowCount_; ++row)
    if (GetRowHeight(row) > 0) FitRowToContents(row, FALSE);
  ResetScrollBars();
}

void CGridCtrl::FitGridToContents(int style) {
  if (!GetSafeHwnd()) return;
  CClientDC dc(this);
  if (style == 0) style = fitStyle_;
  const int first = (style & 1) ? 0 : fixedRowCount_;
  const int last = (style & 2) ? rowCount_ - 1 : fixedRowCount_ - 1;
  if (virtualMode_) SendCacheHint(CellRange(first, 0, last, columnCount_ - 1));
  std::vector<bool> shownColumn(columnCount_);
  for (int row = first; row <= last; ++row)
    if (rowHeights_[row] > 0) rowHeights_[row] = 1;
  for (int column = 0; column < columnCount_; ++column) {
    shownColumn[column] = columnWidths_[column] > 0;
    if (shownColumn[column]) columnWidths_[column] = 0;
  }
  for (int column = 0; column < columnCount_; ++column) {
    if (!shownColumn[column]) continue;
    for (int row = first; row <= last; ++row) {
      if (rowHeights_[row] == 0) continue;
      CGridCellBase* cell = GetCell(row, column);
      if (!cell) continue;
      const CSize size = cell->CellSizeNeeded(&dc);
      columnWidths_[column] = std::max<UINT>(columnWidths_[column], size.cx);
      rowHeights_[row] = std::max<UINT>(rowHeights_[row], size.cy);
    }
  }
  if (virtualMode_) SendCacheHint(CellRange());
  ResetScrollBars();
  Refresh();
}

// ---- stretching ----

namespace {

// Spreads `difference` over the sizes [first, end) that are not hidden; no size
// falls below one pixel.
void Stretch(std::vector<UINT>& sizes, int first, int end, long long difference) {
  int shown = 0;
  for (int i = first; i < end; ++i)
    if (sizes[i] != 0) ++shown;
  if (shown == 0) return;
  auto add = [&](int i, long long amount) {
    if (sizes[i] == 0) return;
    sizes[i] = static_cast<UINT>(std::clamp<long long>(sizes[i] + amount, 1, INT_MAX));
  };
  for (int i = first; i < end; ++i) add(i, difference / shown);
  const int remainder = static_cast<int>((difference > 0 ? difference : -difference) % shown);
  const int step = difference > 0 ? 1 : -1;
  for (int i = first; i < end && i < first + remainder; ++i) add(i, step);
}

}  // namespace

void CGridCtrl::StretchColumnsToClient(BOOL includeFixed) {
  const int first = includeFixed ? 0 : fixedColumnCount_;
  if (first >= columnCount_ || !GetSafeHwnd()) return;
  EnableScrollBars(SB_HORZ, FALSE);
  CRect client;
  ::GetClientRect(GetSafeHwnd(), &client);
  Stretch(columnWidths_, first, columnCount_, client.Width() - TotalColumnsWidth());
  Refresh();
  ResetScrollBars();
}

void CGridCtrl::StretchRowsToClient(BOOL includeFixed) {
  const int first = includeFixed ? 0 : fixedRowCount_;
  if (first >= rowCount_ || !GetSafeHwnd()) return;
  EnableScrollBars(SB_VERT, FALSE);
  CRect client;
  ::GetClientRect(GetSafeHwnd(), &client);
  Stretch(rowHeights_, first, rowCount_, client.Height() - TotalRowsHeight());
  Refresh();
  ResetScrollBars();
}

void CGridCtrl::StretchLastColumnToClient() {
  if (columnCount_ == 0 || !GetSafeHwnd()) return;
  int last = columnCount_ - 1;
  while (last >= 0 && columnWidths_[last] == 0) --last;
  if (last <= 0) return;
  EnableScrollBars(SB_HORZ, FALSE);
  CRect client;
  ::GetClientRect(GetSafeHwnd(), &client);
  if (client.Width() > TotalColumnsWidth()) {
    columnWidths_[last] += static_cast<UINT>(client.Width() - TotalColumnsWidth());
    Refresh();
  }
  ResetScrollBars();
}

void CGridCtrl::StretchGridToClient(BOOL includeFixed) {
  StretchColumnsToClient(includeFixed);
  StretchRowsToClient(includeFixed);
  StretchColumnsToClient(includeFixed);
  Refresh();
}
