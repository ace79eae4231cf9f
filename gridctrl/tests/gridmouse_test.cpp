// Mouse sequences: focus, selection, header presses, notifications, the wheel,
// the right button and resizing by the dividers.
#include <gtest/gtest.h>

#include <vector>

#include "GridCtrl.h"
#include "GridTestSupport.h"

namespace {

// A 6 x 6 grid (one fixed row and column) of 40 x 20 cells that all fit.
class MouseTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeGrid(grid, owner, 6, 6, 40, 20));
  }

  static LPARAM At(CCellID cell) { return MAKELPARAM(cell.col * 40 + 20, cell.row * 20 + 10); }

  // A press and release on a cell, with the given key flags (MK_SHIFT, MK_CONTROL).
  void Click(CCellID cell, UINT keys = 0) {
    grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON | keys, At(cell));
    grid.SendMessage(WM_LBUTTONUP, keys, At(cell));
  }

  std::vector<CCellID> Selected() {
    std::vector<CCellID> cells;
    for (int row = 0; row < 6; ++row)
      for (int column = 0; column < 6; ++column)
        if (grid.IsCellSelected(row, column)) cells.emplace_back(row, column);
    return cells;
  }

  RecordingOwner owner;
  CGridCtrl grid;
};

TEST_F(MouseTest, AClickFocusesAndSelectsTheCellAndTellsTheOwner) {
  Click({2, 2});
  EXPECT_EQ(grid.GetFocusCell(), CCellID(2, 2));
  EXPECT_EQ(Selected(), std::vector<CCellID>({{2, 2}}));
  const std::vector<Notification> expected = {
      {GridCode::SelChanging, 2, 2}, {GridCode::SelChanged, 2, 2}, {GridCode::Click, 2, 2}};
  EXPECT_EQ(owner.notifications, expected);
  wftest::DispatchPosted();
  ASSERT_EQ(owner.commands.size(), 1u);
  EXPECT_EQ(owner.commands[0], MAKEWPARAM(100, 0));
}

TEST_F(MouseTest, ShiftAndControlPressesBuildTheSelection) {
  Click({2, 2});
  Click({4, 3}, MK_SHIFT);
  EXPECT_EQ(grid.SelectionBounds(), CellRange(2, 2, 4, 3));
  EXPECT_EQ(grid.SelectedCellCount(), 6);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(4, 3));

  // Control on an unselected cell adds it to what is selected.
  Click({1, 5}, MK_CONTROL);
  EXPECT_EQ(grid.SelectedCellCount(), 7);
  EXPECT_TRUE(grid.IsCellSelected(2, 2));

  // Control on a selected cell deselects just it, without a selection-changing notice.
  owner.notifications.clear();
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, At({3, 3}));
  EXPECT_EQ(grid.SelectedCellCount(), 6);
  EXPECT_FALSE(grid.IsCellSelected(3, 3));
  for (const Notification& n : owner.notifications) EXPECT_NE(n.code, GridCode::SelChanging);
  grid.SendMessage(WM_LBUTTONUP, MK_CONTROL, At({3, 3}));

  // A plain click starts over.
  Click({5, 1});
  EXPECT_EQ(Selected(), std::vector<CCellID>({{5, 1}}));
}

TEST_F(MouseTest, DraggingSelectsTheRectangleAndMovesTheFocus) {
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At({1, 1}));
  grid.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At({2, 2}));
  grid.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At({3, 2}));
  EXPECT_EQ(grid.SelectionBounds(), CellRange(1, 1, 3, 2));
  EXPECT_EQ(grid.SelectedCellCount(), 6);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(3, 2));
  // Back over the start: the selection shrinks with the mouse.
  grid.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At({1, 2}));
  EXPECT_EQ(grid.SelectedCellCount(), 2);
  grid.SendMessage(WM_LBUTTONUP, 0, At({1, 2}));
  EXPECT_EQ(grid.GetMouseMode(), CGridCtrl::ModeNone);
}

TEST_F(MouseTest, HeaderPressesSelectColumnsRowsOrEverything) {
  struct Case {
    CCellID pressed;
    CellRange selected;
  };
  const Case cases[] = {
      {{0, 2}, CellRange(1, 2, 5, 2)},  // a column header
      {{3, 0}, CellRange(3, 1, 3, 5)},  // a row header
      {{0, 0}, CellRange(1, 1, 5, 5)},  // the corner
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pressed.row << "," << c.pressed.col);
    grid.SetFocusCell(2, 2);
    Click(c.pressed);
    EXPECT_EQ(grid.SelectionBounds(), c.selected);
    EXPECT_EQ(grid.SelectedCellCount(),
              (c.selected.maxRow - c.selected.minRow + 1) * (c.selected.maxCol - c.selected.minCol + 1));
    EXPECT_EQ(grid.GetFocusCell(), CCellID());
  }
  // Dragging along the headers extends the column selection.
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, At({0, 2}));
  grid.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, At({0, 4}));
  grid.SendMessage(WM_LBUTTONUP, 0, At({0, 4}));
  EXPECT_EQ(grid.SelectionBounds(), CellRange(1, 2, 5, 4));
  // Without header selection a header press leaves the selection as it was.
  grid.SetFixedRowClickSelects(FALSE);
  Click({2, 2});
  Click({0, 3});
  EXPECT_EQ(Selected(), std::vector<CCellID>({{2, 2}}));
}

TEST_F(MouseTest, PressesOutsideTheCellsOrWithSelectionOffChangeNothing) {
  Click({2, 2});
  owner.notifications.clear();
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(280, 150));
  EXPECT_TRUE(owner.notifications.empty());
  EXPECT_EQ(grid.GetFocusCell(), CCellID(2, 2));
  grid.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(280, 150));

  grid.EnableSelection(FALSE);
  Click({3, 3});
  Click({4, 4}, MK_SHIFT);
  EXPECT_EQ(grid.SelectedCellCount(), 0);
  EXPECT_FALSE(grid.IsCellSelected(3, 3));
}

TEST_F(MouseTest, ListModeSelectsWholeRows) {
  grid.SetListMode(TRUE);
  Click({2, 3});
  EXPECT_EQ(grid.SelectionBounds(), CellRange(2, 1, 2, 5));
  Click({4, 2}, MK_SHIFT);
  EXPECT_EQ(grid.SelectionBounds(), CellRange(2, 1, 4, 5));
  grid.SetSingleRowSelection(TRUE);
  Click({3, 2});
  Click({5, 2}, MK_SHIFT);
  EXPECT_EQ(grid.SelectionBounds(), CellRange(5, 1, 5, 5));
}

TEST_F(MouseTest, RightClicksReportTheCellOrNone) {
  grid.SendMessage(WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(280, 150));
  grid.SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(280, 150));
  grid.SendMessage(WM_RBUTTONDOWN, MK_RBUTTON, At({3, 2}));
  grid.SendMessage(WM_RBUTTONUP, 0, At({3, 2}));
  const std::vector<Notification> expected = {{GridCode::RightClick, -1, -1}, {GridCode::RightClick, 3, 2}};
  EXPECT_EQ(owner.notifications, expected);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(3, 2));
}

TEST_F(MouseTest, DoubleClicksReportTheCell) {
  Click({2, 2});
  owner.notifications.clear();
  grid.SetEditable(FALSE);
  grid.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, At({2, 2}));
  ASSERT_EQ(owner.notifications.size(), 1u);
  EXPECT_EQ(owner.notifications[0], (Notification{GridCode::DoubleClick, 2, 2}));
}

TEST_F(MouseTest, WheelNotchesPostLineStepsBoundedByTheRows) {
  const int rows = grid.GetMouseWheelRows();
  if (rows <= 0) GTEST_SKIP() << "the system scrolls a page per notch";
  struct Case {
    short delta;
    UINT code;
    long long steps;
  };
  const Case cases[] = {
      {240, SB_LINEUP, 240LL * rows / 120},
      {-60, SB_LINEDOWN, 60LL * rows / 120},
      {30, SB_LINEUP, 30LL * rows / 120},
      {32767, SB_LINEUP, 6},  // no more steps than rows
  };
  wftest::DispatchPosted();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delta);
    grid.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, c.delta), 0);
    long long posted = 0;
    MSG msg;
    while (PeekMessageA(&msg, grid.GetSafeHwnd(), WM_VSCROLL, WM_VSCROLL, PM_REMOVE)) {
      EXPECT_EQ(LOWORD(msg.wParam), c.code);
      ++posted;
    }
    EXPECT_EQ(posted, std::min<long long>(c.steps, 6));
  }
}

class ResizeTest : public MouseTest {
 protected:
  // Column 1 spans 40..79: its divider is at its right edge.
  void Drag(CPoint from, CPoint to) {
    grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(from.x, from.y));
    grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
    grid.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
    grid.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
  }
};

TEST_F(ResizeTest, DraggingAColumnDividerSetsTheWidth) {
  Drag(CPoint(79, 5), CPoint(100, 5));
  EXPECT_EQ(grid.GetColumnWidth(1), 60);
  EXPECT_EQ(grid.GetMouseMode(), CGridCtrl::ModeNone);
  // The left edge of column 2 is column 1's divider too.
  Drag(CPoint(101, 5), CPoint(90, 5));
  EXPECT_EQ(grid.GetColumnWidth(1), 50);
  // Past the column's own left edge: hidden, or one pixel when hiding is not allowed.
  Drag(CPoint(89, 5), CPoint(30, 5));
  EXPECT_EQ(grid.GetColumnWidth(1), 0);
  grid.SetColumnWidth(1, 40);
  grid.SetColumnHide(FALSE);
  Drag(CPoint(79, 5), CPoint(30, 5));
  EXPECT_EQ(grid.GetColumnWidth(1), 1);
  grid.SetColumnWidth(1, 40);
  // A release where the press was changes nothing.
  Drag(CPoint(79, 5), CPoint(79, 5));
  EXPECT_EQ(grid.GetColumnWidth(1), 40);
  // Rows by the dividers in the fixed column.
  Drag(CPoint(10, 39), CPoint(10, 50));
  EXPECT_EQ(grid.GetRowHeight(1), 30);
}

TEST_F(ResizeTest, AColumnScrolledAwayDuringTheDragKeepsItsWidth) {
  grid.SetColumnCount(20);
  for (int column = 6; column < 20; ++column) grid.SetColumnWidth(column, 40);
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(79, 5));
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(79, 5));
  grid.SendMessage(WM_HSCROLL, SB_LINERIGHT);
  grid.SendMessage(WM_HSCROLL, SB_LINERIGHT);
  ASSERT_GT(grid.FirstScrollableCell().col, 1);
  grid.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(150, 5));
  EXPECT_EQ(grid.GetColumnWidth(1), 40);
}

TEST_F(ResizeTest, ADoubleClickOnADividerFitsTheColumn) {
  grid.SetItemText(3, 1, "a text far wider than forty pixels");
  CClientDC dc(&grid);
  const int needed = grid.GetCell(3, 1)->CellSizeNeeded(&dc).cx;
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(79, 5));
  grid.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(79, 5));
  EXPECT_EQ(grid.GetColumnWidth(1), needed);
}

TEST_F(ResizeTest, TheCursorFollowsTheMode) {
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(79, 5));
  EXPECT_EQ(grid.GetMouseMode(), CGridCtrl::ModeOverColumnDivider);
  grid.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(grid.GetSafeHwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_SIZEWE));
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(10, 39));
  EXPECT_EQ(grid.GetMouseMode(), CGridCtrl::ModeOverRowDivider);
  grid.SendMessage(WM_SETCURSOR, reinterpret_cast<WPARAM>(grid.GetSafeHwnd()), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_SIZENS));
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(100, 50));
  EXPECT_EQ(grid.GetMouseMode(), CGridCtrl::ModeNone);
}

}  // namespace
