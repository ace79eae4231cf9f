// Painting: the background areas, the four blocks of cells, grid lines, and the
// repainting of single cells, rows and columns.
#include <algorithm>
#include <climits>
#include <memory>

#include "GridCtrl.h"
#include "GridHolders.h"
#include "MemDC.h"

void CGridCtrl::OnPaint() {
  CPaintDC dc(this);
  if (doubleBuffer_) {
    CMemDC buffer(&dc);
    OnDraw(&buffer);
  } else {
    OnDraw(&dc);
  }
}

BOOL CGridCtrl::OnEraseBkgnd(CDC*) { return TRUE; }

void CGridCtrl::EraseBkgnd(CDC* dc) {
  CRect clip;
  if (dc->GetClipBox(&clip) == ERROR) return;
  CBrush fixedBoth(defaultFixedCell_->GetBackColour());
  CBrush fixedRow(defaultFixedRowCell_->GetBackColour());
  CBrush fixedColumn(defaultFixedColumnCell_->GetBackColour());
  CBrush normal(defaultCell_->GetBackColour());
  CBrush background(gridBackColour_);

  const int fixedWidth = FixedColumnsWidth();
  const int fixedHeight = FixedRowsHeight();
  CRect visible;
  VisibleScrollableRange(&visible);

  if (clip.left < fixedWidth && clip.top < fixedHeight)
    dc->FillRect(CRect(clip.left, clip.top, fixedWidth, fixedHeight), &fixedBoth);
  // The fixed-column area starts below the corner, which keeps its own colour.
  if (clip.left < fixedWidth && clip.top < visible.bottom)
    dc->FillRect(CRect(clip.left, std::max<int>(clip.top, fixedHeight), fixedWidth, visible.bottom), &fixedColumn);
  if (clip.top < fixedHeight && clip.right > fixedWidth && clip.left < visible.right)
    dc->FillRect(CRect(fixedWidth - 1, clip.top, visible.right, fixedHeight), &fixedRow);
  CRect cells;
  if (cells.IntersectRect(visible, clip)) {
    cells.left = std::max<int>(cells.left, fixedWidth);
    cells.top = std::max<int>(cells.top, fixedHeight);
    if (!cells.IsRectEmpty()) dc->FillRect(cells, &normal);
  }
  if (visible.right < clip.right) dc->FillRect(CRect(visible.right, clip.top, clip.right, clip.bottom), &background);
  if (visible.bottom < clip.bottom && clip.left < visible.right)
    dc->FillRect(CRect(clip.left, visible.bottom, visible.right, clip.bottom), &background);
}

void CGridCtrl::DrawBlock(CDC* dc, int firstRow, int lastRow, int top, int firstColumn, int lastColumn, int left,
                          const CRect* clip) {
  CRect rect;
  rect.bottom = top - 1;
  // Nothing lies past the largest coordinate.
  for (int row = firstRow; row <= lastRow && rect.bottom < INT_MAX; ++row) {
    const int height = GetRowHeight(row);
    if (height <= 0) continue;
    rect.top = rect.bottom + 1;
    rect.bottom = EndOf(rect.top, height);
    if (clip && rect.bottom < clip->top) continue;
    if (clip && rect.top > clip->bottom) break;
    rect.right = left - 1;
    for (int column = firstColumn; column <= lastColumn && rect.right < INT_MAX; ++column) {
      const int width = GetColumnWidth(column);
      if (width <= 0) continue;
      rect.left = rect.right + 1;
      rect.right = EndOf(rect.left, width);
      if (clip && rect.right < clip->left) continue;
      if (clip && rect.left > clip->right) break;
      if (CGridCellBase* cell = GetCell(row, column)) {
        cell->SetCellPosition(row, column);
        cell->Draw(dc, row, column, rect, FALSE);
      }
    }
  }
}

void CGridCtrl::OnDraw(CDC* dc) {
  CRect clip;
  if (!allowDraw_ || dc->GetClipBox(&clip) == ERROR) return;
  EraseBkgnd(dc);

  const int fixedHeight = FixedRowsHeight();
  const int fixedWidth = FixedColumnsWidth();
  CRect visibleRect;
  const CellRange visible = VisibleScrollableRange(&visibleRect);
  if (virtualMode_) SendCacheHint(visible);

  DrawBlock(dc, 0, fixedRowCount_ - 1, 0, 0, fixedColumnCount_ - 1, 0, nullptr);
  DrawBlock(dc, visible.minRow, visible.maxRow, fixedHeight, 0, fixedColumnCount_ - 1, 0, &clip);
  DrawBlock(dc, 0, fixedRowCount_ - 1, 0, visible.minCol, visible.maxCol, fixedWidth, &clip);
  DrawBlock(dc, visible.minRow, visible.maxRow, fixedHeight, visible.minCol, visible.maxCol, fixedWidth, &clip);

  {
    CPen pen(PS_SOLID, 0, gridLineColour_);
    DCSelection<CPen> selected(dc, &pen);
    if (gridLines_ == 3 || gridLines_ == 2) {
      int x = fixedWidth;
      for (int column = visible.minCol; column <= visible.maxCol; ++column) {
        if (GetColumnWidth(column) <= 0) continue;
        x = EndOf(x, GetColumnWidth(column) + 1LL);
        dc->MoveTo(x - 1, fixedHeight);
        dc->LineTo(x - 1, visibleRect.bottom);
      }
    }
    if (gridLines_ == 3 || gridLines_ == 1) {
      int y = fixedHeight;
      for (int row = visible.minRow; row <= visible.maxRow; ++row) {
        if (GetRowHeight(row) <= 0) continue;
        y = EndOf(y, GetRowHeight(row) + 1LL);
        dc->MoveTo(fixedWidth, y - 1);
        dc->LineTo(visibleRect.right, y - 1);
      }
    }
  }
  dc->SelectStockObject(NULL_PEN);
  if (virtualMode_) SendCacheHint(CellRange());
}

BOOL CGridCtrl::RedrawCell(int row, int column, CDC* dc) {
  CRect rect;
  if (!allowDraw_ || !IsCellOnScreen(row, column) || !CellRectangle(row, column, &rect)) return FALSE;
  std::unique_ptr<CClientDC> own;
  if (!dc) {
    try {
      own = std::make_unique<CClientDC>(this);
    } catch (const CResourceException&) {
      rect.InflateRect(0, 0, 1, 1);
      ::InvalidateRect(GetSafeHwnd(), &rect, TRUE);
      return TRUE;
    }
    dc = own.get();
  }
  BOOL result = FALSE;
  if (CGridCellBase* cell = GetCell(row, column)) {
    cell->SetCellPosition(row, column);
    result = cell->Draw(dc, row, column, rect, TRUE);
  }
  if (!IsFixedCell(row, column)) {
    CPen pen(PS_SOLID, 0, gridLineColour_);
    DCSelection<CPen> selected(dc, &pen);
    if (gridLines_ == 3 || gridLines_ == 1) {
      dc->MoveTo(rect.left, rect.bottom);
      dc->LineTo(rect.right + 1, rect.bottom);
    }
    if (gridLines_ == 3 || gridLines_ == 2) {
      dc->MoveTo(rect.right, rect.top);
      dc->LineTo(rect.right, rect.bottom + 1);
    }
  }
  return result;
}

BOOL CGridCtrl::RedrawRow(int row) {
  if (!GetSafeHwnd()) return FALSE;
  CClientDC dc(this);
  BOOL result = TRUE;
  for (int column = 0; column < columnCount_; ++column) result = RedrawCell(row, column, &dc) && result;
  return result;
}

BOOL CGridCtrl::RedrawColumn(int column) {
  if (!GetSafeHwnd()) return FALSE;
  CClientDC dc(this);
  BOOL result = TRUE;
  for (int row = 0; row < rowCount_; ++row) result = RedrawCell(row, column, &dc) && result;
  return result;
}

void CGridCtrl::SetRedraw(BOOL allow, BOOL resetScrollBars) {
  if (allow && !allowDraw_) {
    allowDraw_ = TRUE;
    Refresh();
  }
  allowDraw_ = allow;
  if (resetScrollBars) ResetScrollBars();
}
