// Where cells lie in the client area, scroll ranges, fitting and stretching.
#include <gtest/gtest.h>

#include "GridCtrl.h"
#include "GridTestSupport.h"

namespace {

// A grid of `rows` x `columns` with one fixed row and column, every column
// `width` and every row `height` pixels, in a client area of 300 x 200.
class GeometryTest : public testing::Test {
 protected:
  void Build(int rows, int columns, int width = 50, int height = 20, int fixedRows = 1, int fixedColumns = 1) {
    ASSERT_TRUE(MakeGrid(grid, owner, rows, columns, width, height, fixedRows, fixedColumns));
    SizeClient(grid, 300, 200);
  }

  RecordingOwner owner;
  CGridCtrl grid;
};

TEST_F(GeometryTest, SizesAndTotals) {
  Build(5, 4);
  EXPECT_EQ(grid.GetRowHeight(-1), -1);
  EXPECT_EQ(grid.GetColumnWidth(4), -1);
  EXPECT_FALSE(grid.SetColumnWidth(1, -1));
  EXPECT_EQ(grid.GetColumnWidth(1), 50);
  EXPECT_FALSE(grid.SetRowHeight(5, 10));
  ASSERT_TRUE(grid.SetColumnWidth(2, 0));
  EXPECT_EQ(grid.TotalColumnsWidth(), 150);
  EXPECT_EQ(grid.TotalRowsHeight(), 100);
  EXPECT_EQ(grid.FixedColumnsWidth(), 50);
  EXPECT_EQ(grid.FixedRowsHeight(), 20);
  EXPECT_TRUE(grid.IsFixedCell(0, 3));
  EXPECT_TRUE(grid.IsFixedCell(4, 0));
  EXPECT_FALSE(grid.IsFixedCell(1, 1));
}

TEST_F(GeometryTest, OriginsRectanglesAndCellsUnderPoints) {
  Build(20, 10);
  struct Case {
    int row, column;
    CRect rect;
  };
  const Case cells[] = {
      {0, 0, CRect(0, 0, 49, 19)},
      {0, 3, CRect(150, 0, 199, 19)},
      {4, 0, CRect(0, 80, 49, 99)},
      {2, 2, CRect(100, 40, 149, 59)},
  };
  for (const Case& c : cells) {
    SCOPED_TRACE(testing::Message() << c.row << "," << c.column);
    CRect rect;
    ASSERT_TRUE(grid.CellRectangle(c.row, c.column, &rect));
    EXPECT_EQ(rect, c.rect);
    EXPECT_EQ(grid.CellAtPoint(CPoint(c.rect.left, c.rect.top), TRUE), CCellID(c.row, c.column));
    EXPECT_EQ(grid.CellAtPoint(CPoint(c.rect.right, c.rect.bottom), TRUE), CCellID(c.row, c.column));
  }
  CRect range;
  ASSERT_TRUE(grid.RangeRectangle(CellRange(1, 1, 2, 3), &range));
  EXPECT_EQ(range, CRect(50, 20, 199, 59));

  struct PointCase {
    CPoint point;
    BOOL allowFixed;
    CCellID cell;
  };
  const PointCase points[] = {
      {CPoint(-1, 30), TRUE, CCellID(1, -1)},
      {CPoint(10, 30), FALSE, CCellID(1, -1)},  // a fixed column, not allowed
      {CPoint(10, 30), TRUE, CCellID(1, 0)},
      {CPoint(60, 5), FALSE, CCellID(-1, 1)},
      {CPoint(60, 30), FALSE, CCellID(1, 1)},
  };
  for (const PointCase& p : points) {
    SCOPED_TRACE(testing::Message() << p.point.x << "," << p.point.y);
    EXPECT_EQ(grid.CellAtPoint(p.point, p.allowFixed), p.cell);
  }
  // Right of the last column: no column.
  grid.SetColumnCount(3);
  EXPECT_EQ(grid.CellAtPoint(CPoint(160, 30), TRUE).col, -1);
}

TEST_F(GeometryTest, ScrolledOutCellsHaveNoOriginAndFixedOnesStay) {
  Build(20, 10);
  EXPECT_TRUE(grid.IsScrollBarShown(SB_HORZ));
  EXPECT_TRUE(grid.IsScrollBarShown(SB_VERT));
  grid.SendMessage(WM_HSCROLL, SB_LINERIGHT);
  grid.SendMessage(WM_VSCROLL, SB_LINEDOWN);
  EXPECT_EQ(grid.FirstScrollableCell(), CCellID(2, 2));
  CRect rect;
  EXPECT_FALSE(grid.CellRectangle(1, 1, &rect));
  EXPECT_FALSE(grid.IsCellOnScreen(1, 1));
  ASSERT_TRUE(grid.CellRectangle(2, 2, &rect));
  EXPECT_EQ(rect, CRect(50, 20, 99, 39));
  ASSERT_TRUE(grid.CellRectangle(0, 0, &rect));
  EXPECT_EQ(rect, CRect(0, 0, 49, 19));
  ASSERT_TRUE(grid.CellRectangle(0, 3, &rect));
  EXPECT_EQ(rect, CRect(100, 0, 149, 19));
  EXPECT_EQ(grid.CellAtPoint(CPoint(60, 30)), CCellID(2, 2));
}

TEST_F(GeometryTest, ACellIsOnScreenWhenItsLeftAndTopEdgesAreInside) {
  Build(20, 10);
  const CRect client = ClientOf(grid);
  // Columns end at 50, 100, ...: the column starting at 250 starts inside a client
  // that is wider than 250, whatever the scroll bar leaves.
  ASSERT_GT(client.right, 250);
  EXPECT_TRUE(grid.IsCellOnScreen(1, 5));
  EXPECT_FALSE(grid.IsCellOnScreen(1, 6));
  grid.SetColumnWidth(5, client.right - 250 + 40);
  EXPECT_TRUE(grid.IsCellOnScreen(1, 5));
  // Cut off at the bottom: a row starting one pixel above the client's bottom is on screen.
  grid.SetRowHeight(1, client.bottom - 20 - 1);
  EXPECT_TRUE(grid.IsCellOnScreen(2, 1));
  EXPECT_FALSE(grid.IsCellOnScreen(3, 1));
  EXPECT_EQ(grid.VisibleScrollableRange(), CellRange(1, 1, 2, 5));
  EXPECT_EQ(grid.FullyVisibleScrollableRange().maxRow, 1);
}

TEST_F(GeometryTest, DividersAreGrabbedOnlyInTheHeadersAndNeverLeftOfColumnZero) {
  Build(5, 4);
  struct Case {
    CPoint point;
    bool column;
    bool row;
  };
  const Case cases[] = {
      {CPoint(1, 5), false, false},    // left edge of column 0
      {CPoint(48, 5), true, false},    // right edge of column 0
      {CPoint(51, 5), true, false},    // left edge of column 1, the divider of column 0
      {CPoint(75, 5), false, false},   // middle of a header cell
      {CPoint(49, 30), false, false},  // below the header rows, inside row 1
      {CPoint(10, 39), false, true},   // bottom edge of row 1 in the fixed column
      {CPoint(10, 1), false, false},   // top edge of row 0
      {CPoint(60, 39), false, false},  // outside the fixed column
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.point.x << "," << c.point.y);
    EXPECT_EQ(grid.MouseOverColumnDivider(c.point) != FALSE, c.column);
    EXPECT_EQ(grid.MouseOverRowDivider(c.point) != FALSE, c.row);
  }
}

TEST_F(GeometryTest, OnlyAHeaderRowLeavesAnEmptyScrollingRange) {
  Build(1, 3, 50, 20, 1, 0);
  EXPECT_FALSE(grid.IsValid(grid.VisibleScrollableRange()));
  EXPECT_FALSE(grid.IsValid(grid.FullyVisibleScrollableRange()));
  EXPECT_EQ(grid.CellAtPoint(CPoint(60, 5)), CCellID());
  EXPECT_EQ(grid.CellAtPoint(CPoint(60, 5), TRUE), CCellID(0, 1));
  EXPECT_EQ(grid.CellAtPoint(CPoint(60, 40), TRUE), CCellID(-1, 1));
  EXPECT_TRUE(grid.IsCellOnScreen(0, 2));
  EXPECT_TRUE(grid.MouseOverColumnDivider(CPoint(99, 5)));
  EXPECT_FALSE(grid.IsScrollBarShown(SB_VERT));
  grid.ScrollCellIntoView(0, 2);
  grid.UpdateWindow();
  grid.SendMessage(WM_VSCROLL, SB_LINEDOWN);
  EXPECT_EQ(grid.GetScrollPosition(SB_VERT), 0);
}

TEST_F(GeometryTest, ScrollBarsFollowTheContentsAndClientSize) {
  Build(20, 10);
  EXPECT_EQ(grid.GetScrollMax(SB_VERT), 19 * 20 - 1);
  EXPECT_EQ(grid.GetScrollMax(SB_HORZ), 9 * 50 - 1);
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_ALL;
  ASSERT_TRUE(grid.GetScrollInfo(SB_VERT, &info));
  EXPECT_EQ(info.nMax, 19 * 20 - 1);
  // The page counts the border below the horizontal bar.
  EXPECT_EQ(static_cast<int>(info.nPage), ClientOf(grid).Height() - 20 + GetSystemMetrics(SM_CYBORDER));

  // Everything fits: both bars go and their maxima are 0.
  grid.SetRowCount(5);
  grid.SetColumnCount(4);
  EXPECT_FALSE(grid.IsScrollBarShown(SB_VERT));
  EXPECT_FALSE(grid.IsScrollBarShown(SB_HORZ));
  EXPECT_EQ(grid.GetScrollMax(SB_VERT), 0);
}

TEST_F(GeometryTest, TheTopLeftCellFollowsThePositionInEitherDirection) {
  Build(200, 4);
  for (int row = 1; row < 200; ++row) grid.SetRowHeight(row, 5 + row % 17);
  auto walkFromTop = [&](int position) {
    int row = 1;
    for (int sum = 0; sum < position && row < 199;) sum += grid.GetRowHeight(row++);
    return row;
  };
  for (int position : {0, 3, 400, 1200, 7, 1900, 1899, 650, 651, 0, 2000}) {
    SCOPED_TRACE(position);
    grid.SetScrollPosition(SB_VERT, position);
    const int actual = grid.GetScrollPosition(SB_VERT);
    EXPECT_EQ(grid.FirstScrollableCell().row, walkFromTop(actual));
  }
  // A size change above the view is taken into account.
  grid.SetScrollPosition(SB_VERT, 1000);
  grid.FirstScrollableCell();
  grid.SetRowHeight(3, 300);
  grid.SetScrollPosition(SB_VERT, 1000);
  EXPECT_EQ(grid.FirstScrollableCell().row, walkFromTop(grid.GetScrollPosition(SB_VERT)));
}

TEST_F(GeometryTest, SizesPastTwoToTheThirtyFirstAddUpAndScrollToTheEnd) {
  // Six rows (or columns) of 10^9 pixels behind a small fixed one: 5 * 10^9 scroll.
  constexpr int kHuge = 1000000000;
  for (const bool rows : {true, false}) {
    SCOPED_TRACE(rows ? "rows" : "columns");
    Build(rows ? 6 : 3, rows ? 3 : 6, rows ? 50 : kHuge, rows ? kHuge : 20);
    if (rows)
      grid.SetRowHeight(0, 20);
    else
      grid.SetColumnWidth(0, 50);
    const UINT message = rows ? WM_VSCROLL : WM_HSCROLL;
    const int bar = rows ? SB_VERT : SB_HORZ;
    auto first = [&] { return rows ? grid.FirstScrollableCell().row : grid.FirstScrollableCell().col; };
    auto last = [&] {
      const CellRange visible = grid.VisibleScrollableRange();
      return rows ? visible.maxRow : visible.maxCol;
    };
    auto onScreen = [&](int index) { return rows ? grid.IsCellOnScreen(index, 1) : grid.IsCellOnScreen(1, index); };

    EXPECT_EQ(rows ? grid.TotalRowsHeight() : grid.TotalColumnsWidth(), 5LL * kHuge + (rows ? 20 : 50));
    EXPECT_EQ(grid.GetScrollMax(bar), 5LL * kHuge - 1);
    EXPECT_FALSE(onScreen(5));

    grid.SendMessage(message, SB_BOTTOM);
    EXPECT_EQ(first(), 5);
    EXPECT_EQ(last(), 5);
    EXPECT_TRUE(onScreen(5));
    CRect rect;
    ASSERT_TRUE(rows ? grid.CellRectangle(5, 1, &rect) : grid.CellRectangle(1, 5, &rect));
    EXPECT_EQ(rows ? rect.top : rect.left, rows ? 20 : 50);
    EXPECT_EQ(rows ? rect.bottom : rect.right, (rows ? 20 : 50) + kHuge - 1);

    grid.SendMessage(message, SB_TOP);
    EXPECT_EQ(first(), 1);
    grid.SendMessage(message, SB_LINEDOWN);
    EXPECT_EQ(first(), 2);
    grid.SetScrollPosition(bar, 2500000000LL);
    EXPECT_EQ(grid.GetScrollPosition(bar), 2500000000LL);
    EXPECT_EQ(first(), 4);
    grid.SendMessage(message, SB_LINEUP);
    EXPECT_EQ(first(), 3);
  }
}

TEST_F(GeometryTest, ScrollingACellIntoViewMakesItVisible) {
  Build(60, 20);
  grid.ScrollCellIntoView(45, 15);
  EXPECT_TRUE(grid.IsCellOnScreen(45, 15));
  CRect rect;
  ASSERT_TRUE(grid.CellRectangle(45, 15, &rect));
  EXPECT_LE(rect.bottom, ClientOf(grid).bottom);
  EXPECT_LE(rect.right, ClientOf(grid).right);
  grid.ScrollCellIntoView(2, 2);
  EXPECT_EQ(grid.FirstScrollableCell(), CCellID(2, 2));
  // A cell taller than the client can never show whole: scrolling stops anyway.
  grid.SetRowHeight(59, 1000);
  grid.ScrollCellIntoView(59, 1);
  EXPECT_TRUE(grid.IsCellOnScreen(59, 1));
}

TEST_F(GeometryTest, StretchingSpreadsTheDifferenceAndNeverGoesBelowOnePixel) {
  Build(1, 3, 10, 20, 0, 0);
  struct Case {
    int widths[3];
    int client;
    int expected[3];
  };
  const Case cases[] = {
      {{10, 0, 10}, 31, {16, 0, 15}},
      {{10, 10, 10}, 23, {7, 8, 8}},
      {{1, 5, 5}, 4, {1, 3, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.client);
    SizeClient(grid, c.client, 100);
    for (int i = 0; i < 3; ++i) grid.SetColumnWidth(i, c.widths[i]);
    grid.StretchColumnsToClient(TRUE);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(grid.GetColumnWidth(i), c.expected[i]) << i;
  }
  SizeClient(grid, 100, 45);
  grid.SetRowCount(3);
  grid.StretchRowsToClient(TRUE);
  EXPECT_EQ(grid.TotalRowsHeight(), 45);
  SizeClient(grid, 100, 100);
  for (int i = 0; i < 3; ++i) grid.SetColumnWidth(i, 20);
  grid.StretchLastColumnToClient();
  EXPECT_EQ(grid.GetColumnWidth(2), 60);
}

TEST_F(GeometryTest, FittingMeasuresTheCellsAndLeavesHiddenColumnsHidden) {
  Build(4, 3);
  grid.SetItemText(0, 1, "header");
  grid.SetItemText(2, 1, "a considerably longer text");
  grid.SetColumnWidth(2, 0);
  EXPECT_FALSE(grid.FitColumnToContents(2));
  EXPECT_EQ(grid.GetColumnWidth(2), 0);

  CClientDC dc(&grid);
  const int longWidth = grid.GetCell(2, 1)->CellSizeNeeded(&dc).cx;
  const int headerWidth = grid.GetCell(0, 1)->CellSizeNeeded(&dc).cx;
  ASSERT_TRUE(grid.FitColumnToContents(1, 1));  // header rows only
  EXPECT_EQ(grid.GetColumnWidth(1), headerWidth);
  ASSERT_TRUE(grid.FitColumnToContents(1));
  EXPECT_EQ(grid.GetColumnWidth(1), longWidth);

  grid.FitGridToContents();
  EXPECT_EQ(grid.GetColumnWidth(1), longWidth);
  EXPECT_EQ(grid.GetColumnWidth(2), 0);
  EXPECT_EQ(grid.GetRowHeight(2),
            std::max(grid.GetCell(2, 0)->CellSizeNeeded(&dc).cy, grid.GetCell(2, 1)->CellSizeNeeded(&dc).cy));
}

TEST_F(GeometryTest, FillingWithCellsSurvivesADefaultSizeOfZero) {
  Build(1, 1);
  auto* def = static_cast<CGridDefaultCell*>(grid.GetDefaultCell(FALSE, FALSE));
  def->SetWidth(0);
  def->SetHeight(0);
  grid.FillGridWithCells();
  EXPECT_EQ(grid.GetColumnCount(), 301);
  EXPECT_EQ(grid.GetRowCount(), 201);
  EXPECT_EQ(grid.GetFixedRowCount(), 1);
}

}  // namespace
