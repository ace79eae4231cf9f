// Keyboard moves of the focus cell, the selection they make, scrolling and the
// auto-scroll timer.
#include <gtest/gtest.h>

#include <vector>

#include "GridCtrl.h"
#include "GridTestSupport.h"

namespace {

// A 6 x 6 grid (one fixed row and column) of 40 x 20 cells that all fit.
class KeysTest : public testing::Test {
 protected:
  void SetUp() override {
    Build(6, 6);
  }

  void Build(int rows, int columns) { ASSERT_TRUE(MakeGrid(grid, owner, rows, columns, 40, 20)); }

  void Key(UINT key, wftest::Modifiers held = {}) { wftest::KeyDown(grid.GetSafeHwnd(), key, held); }

  RecordingOwner owner;
  CGridCtrl grid;
};

TEST_F(KeysTest, MoveTable) {
  struct Step {
    UINT key;
    wftest::Modifiers held;
    CCellID from;
    CCellID to;
  };
  const Step steps[] = {
      {VK_RIGHT, {}, {1, 1}, {1, 2}},
      {VK_DOWN, {}, {1, 2}, {2, 2}},
      {VK_LEFT, {}, {2, 2}, {2, 1}},
      {VK_LEFT, {}, {2, 1}, {2, 1}},             // not into the fixed column
      {VK_UP, {}, {1, 1}, {1, 1}},               // not into the fixed row
      {VK_TAB, {}, {1, 5}, {2, 1}},              // line change to the next row
      {VK_TAB, {.shift = true}, {2, 1}, {1, 5}},      // and back
      {VK_TAB, {.shift = true}, {1, 1}, {1, 1}},      // first cell: left to the dialog
      {VK_TAB, {}, {5, 5}, {5, 5}},              // last cell
      {VK_END, {}, {3, 2}, {3, 5}},
      {VK_HOME, {}, {3, 4}, {3, 1}},
      {VK_END, {.ctrl = true}, {2, 2}, {5, 5}},
      {VK_HOME, {.ctrl = true}, {4, 4}, {1, 1}},
      {VK_NEXT, {}, {2, 3}, {5, 3}},             // nothing to scroll: the last row
      {VK_PRIOR, {}, {4, 3}, {1, 3}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(testing::Message() << "key " << step.key << " from " << step.from.row << "," << step.from.col);
    grid.SetFocusCell(step.from);
    Key(step.key, step.held);
    EXPECT_EQ(grid.GetFocusCell(), step.to);
  }
}

TEST_F(KeysTest, HiddenRowsAndColumnsAreStepppedOver) {
  grid.SetColumnWidth(2, 0);
  grid.SetRowHeight(3, 0);
  grid.SetFocusCell(1, 1);
  Key(VK_RIGHT);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(1, 3));
  grid.SetFocusCell(2, 1);
  Key(VK_DOWN);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(4, 1));
  // Everything right of the fixed column hidden: Right stays.
  for (int column = 2; column < 6; ++column) grid.SetColumnWidth(column, 0);
  grid.SetFocusCell(1, 1);
  Key(VK_RIGHT);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(1, 1));
}

TEST_F(KeysTest, AMoveSelectsTheNewCellBetweenTheTwoNotifications) {
  grid.SetFocusCell(2, 2);
  owner.notifications.clear();
  Key(VK_RIGHT);
  const std::vector<Notification> expected = {{GridCode::SelChanging, 2, 3}, {GridCode::SelChanged, 2, 3}};
  EXPECT_EQ(owner.notifications, expected);
  EXPECT_EQ(grid.SelectedCellCount(), 1);
  EXPECT_TRUE(grid.IsCellSelected(2, 3));
  // Shift extends from the start cell; a plain move starts anew.
  Key(VK_DOWN, {.shift = true});
  Key(VK_RIGHT, {.shift = true});
  EXPECT_EQ(grid.SelectionBounds(), CellRange(2, 3, 3, 4));
  EXPECT_EQ(grid.SelectedCellCount(), 4);
  Key(VK_LEFT);
  EXPECT_EQ(grid.SelectedCellCount(), 1);
  EXPECT_TRUE(grid.IsCellSelected(3, 3));
  // In list mode a move selects the whole row.
  grid.SetListMode(TRUE);
  grid.SetFocusCell(2, 2);
  Key(VK_DOWN);
  EXPECT_EQ(grid.SelectionBounds(), CellRange(3, 1, 3, 5));
}

TEST_F(KeysTest, KeysWithoutAFocusCellGoToTheDefaultHandling) {
  grid.SetFocusCell(-1, -1);
  Key(VK_DOWN);
  EXPECT_EQ(grid.GetFocusCell(), CCellID());
  EXPECT_TRUE(owner.notifications.empty());
}

TEST_F(KeysTest, ControlAAndTheDialogCode) {
  grid.SetFocusCell(1, 1);
  Key('A', {.ctrl = true});
  EXPECT_EQ(grid.SelectedCellCount(), 25);
  EXPECT_EQ(grid.SendMessage(WM_GETDLGCODE), DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTTAB);
  {
    wftest::KeyStateScope control({.ctrl = true});
    EXPECT_EQ(grid.SendMessage(WM_GETDLGCODE), DLGC_WANTARROWS | DLGC_WANTCHARS);
  }
  grid.SetHandleTabKey(FALSE);
  EXPECT_EQ(grid.SendMessage(WM_GETDLGCODE), DLGC_WANTARROWS | DLGC_WANTCHARS);
}

TEST_F(KeysTest, MovingOutOfViewScrollsTheCellIn) {
  Build(40, 12);
  SizeClient(grid, 200, 150);
  grid.SetFocusCell(1, 1);
  for (int i = 0; i < 20; ++i) Key(VK_DOWN);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(21, 1));
  EXPECT_TRUE(grid.IsCellOnScreen(21, 1));
  CRect rect;
  ASSERT_TRUE(grid.CellRectangle(21, 1, &rect));
  EXPECT_LE(rect.bottom, ClientOf(grid).bottom);
  // Tab from the last column to the next row goes back to the left.
  grid.SetFocusCell(21, 11);
  Key(VK_TAB);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(22, 1));
  EXPECT_EQ(grid.GetScrollPosition(SB_HORZ), 0);
  EXPECT_TRUE(grid.IsCellOnScreen(22, 1));
  // Page Down moves as far as the view moved.
  const int before = grid.FirstScrollableCell().row;
  Key(VK_NEXT);
  const int moved = grid.FirstScrollableCell().row - before;
  EXPECT_GT(moved, 0);
  EXPECT_EQ(grid.GetFocusCell().row, 22 + moved);
}

TEST_F(KeysTest, ScrollCodesMoveThePositionByCellsAndPages) {
  Build(40, 12);
  SizeClient(grid, 200, 150);
  const int page = grid.GetScrollMax(SB_VERT) > 0 ? 150 - 20 : 0;
  struct Step {
    UINT code;
    int position;
  };
  const Step steps[] = {
      {SB_LINEDOWN, 20}, {SB_LINEDOWN, 40}, {SB_LINEUP, 20}, {SB_PAGEDOWN, 20 + page}, {SB_PAGEUP, 20},
      {SB_LINEUP, 0},    {SB_LINEUP, 0},    {SB_BOTTOM, -1}, {SB_TOP, 0},
  };
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_ALL;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.code);
    grid.SendMessage(WM_VSCROLL, step.code);
    grid.GetScrollInfo(SB_VERT, &info);
    const int last = info.nMax - static_cast<int>(info.nPage) + 1;
    EXPECT_EQ(grid.GetScrollPosition(SB_VERT), step.position < 0 ? last : std::min(step.position, last));
  }
  // At the end a line step changes nothing.
  grid.SendMessage(WM_VSCROLL, SB_BOTTOM);
  const int end = grid.GetScrollPosition(SB_VERT);
  grid.SendMessage(WM_VSCROLL, SB_LINEDOWN);
  EXPECT_EQ(grid.GetScrollPosition(SB_VERT), end);
}

TEST_F(KeysTest, TimerTicksBelowTheWindowMoveTheFocusDownAndExtendTheSelection) {
  Build(40, 6);
  SizeClient(grid, 200, 150);
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 30));
  ASSERT_EQ(grid.GetFocusCell(), CCellID(1, 1));
  CPoint below(50, 180);
  grid.ClientToScreen(&below);
  SetCursorPos(below.x, below.y);
  CPoint cursor;
  GetCursorPos(&cursor);
  if (cursor != below) GTEST_SKIP() << "the cursor cannot be placed here";
  for (int tick = 0; tick < 3; ++tick) grid.SendMessage(WM_TIMER, CGridCtrl::kAutoScrollTimer);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(4, 1));
  EXPECT_TRUE(grid.IsCellSelected(1, 1));
  EXPECT_TRUE(grid.IsCellSelected(4, 1));
  grid.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(50, 30));
  // Other timers are not the grid's.
  grid.SendMessage(WM_TIMER, 7);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(4, 1));
}

}  // namespace
