// What the grid paints: background areas, grid lines, fixed-cell frames,
// selection and focus, double buffering, and painting switched off.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "GridCtrl.h"
#include "GridTestSupport.h"
#include "MemDC.h"
#include "RecordingDC.h"

namespace {

constexpr COLORREF kCorner = RGB(200, 0, 0);
constexpr COLORREF kFixedRow = RGB(0, 200, 0);
constexpr COLORREF kFixedColumn = RGB(0, 0, 200);
constexpr COLORREF kNormal = RGB(250, 250, 250);
constexpr COLORREF kOutside = RGB(10, 10, 10);
constexpr COLORREF kLines = RGB(0xC0, 0xC0, 0xC0);

// A 4 x 3 grid (one fixed row and column) of 30 x 20 cells in a 200 x 150 client
// area, each default cell with a colour of its own.
class PaintTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeGrid(grid, owner, 4, 3, 30, 20));
    SizeClient(grid, 200, 150);
    grid.GetDefaultCell(TRUE, TRUE)->SetBackColour(kCorner);
    grid.GetDefaultCell(TRUE, FALSE)->SetBackColour(kFixedRow);
    grid.GetDefaultCell(FALSE, TRUE)->SetBackColour(kFixedColumn);
    grid.GetDefaultCell(FALSE, FALSE)->SetBackColour(kNormal);
    grid.SetGridBackColour(kOutside);
  }

  void Render(RenderProbe& probe) {
    probe.Dc().FillSolidRect(CRect(0, 0, probe.Width(), probe.Height()), RGB(255, 0, 255));
    grid.OnDraw(&probe.Dc());
  }

  RecordingOwner owner;
  CGridCtrl grid;
  RenderProbe canvas{200, 150};
};

TEST_F(PaintTest, BackgroundAreasTakeTheirDefaultCellsColours) {
  Render(canvas);
  struct Case {
    int x, y;
    COLORREF colour;
  };
  const Case cases[] = {
      {15, 10, kCorner}, {45, 10, kFixedRow}, {75, 10, kFixedRow}, {15, 30, kFixedColumn}, {15, 70, kFixedColumn},
      {45, 30, kNormal}, {75, 70, kNormal},   {120, 30, kOutside}, {45, 100, kOutside},    {150, 140, kOutside},
  };
  for (const Case& c : cases) EXPECT_EQ(canvas.Pixel(c.x, c.y), c.colour) << c.x << "," << c.y;
}

TEST_F(PaintTest, GridLinesFollowTheSetting) {
  for (int setting = 0; setting <= 3; ++setting) {
    SCOPED_TRACE(setting);
    grid.SetGridLines(setting);
    Render(canvas);
    const bool vertical = setting == 2 || setting == 3;
    const bool horizontal = setting == 1 || setting == 3;
    // The vertical line ends the first scrolling column (x = 30 + 30 - 1), the
    // horizontal one the first scrolling row (y = 20 + 20 - 1).
    EXPECT_EQ(canvas.Pixel(59, 50) == kLines, vertical);
    EXPECT_EQ(canvas.Pixel(89, 50) == kLines, vertical);
    EXPECT_EQ(canvas.Pixel(45, 39) == kLines, horizontal);
    EXPECT_EQ(canvas.Pixel(75, 59) == kLines, horizontal);
    // None run through the cells or beyond the last one.
    EXPECT_EQ(canvas.Pixel(45, 50), kNormal);
    EXPECT_NE(canvas.Pixel(120, 39), kLines);
    // Fixed cells frame themselves whenever lines are on.
    EXPECT_EQ(canvas.Pixel(45, 0) == GetSysColor(COLOR_BTNHIGHLIGHT), setting != 0);
    EXPECT_EQ(canvas.Pixel(59, 10) == GetSysColor(COLOR_3DDKSHADOW), setting != 0);
    EXPECT_EQ(canvas.Pixel(45, 19) == GetSysColor(COLOR_3DDKSHADOW), setting != 0);
  }
}

TEST_F(PaintTest, HiddenColumnsTakeNoSpaceAndGetNoLines) {
  grid.SetColumnWidth(1, 0);
  Render(canvas);
  // Column 2 now starts where column 1 did; one line only, at its end.
  EXPECT_EQ(canvas.Pixel(59, 50), kLines);
  EXPECT_EQ(canvas.Pixel(70, 50), kOutside);
}

TEST_F(PaintTest, SelectionAndFocusColours) {
  grid.SetItemState(1, 1, GridState::Selected);
  grid.SetFocusCell(2, 2);
  Render(canvas);
  EXPECT_EQ(canvas.Pixel(45, 30), GetSysColor(COLOR_HIGHLIGHT));
  // The focus cell (60..89, 40..59) keeps its colour inside a frame of its text colour.
  EXPECT_EQ(canvas.Pixel(75, 50), kNormal);
  EXPECT_EQ(canvas.Pixel(60, 50), GetSysColor(COLOR_WINDOWTEXT));
  EXPECT_EQ(canvas.Pixel(75, 40), GetSysColor(COLOR_WINDOWTEXT));
  // Tracking the focus, its row's and column's headers look pressed: no raised highlight.
  EXPECT_NE(canvas.Pixel(75, 0), GetSysColor(COLOR_BTNHIGHLIGHT));
  EXPECT_EQ(canvas.Pixel(45, 0), GetSysColor(COLOR_BTNHIGHLIGHT));

  // A selected focus cell is filled with the highlight.
  grid.SetItemState(2, 2, grid.GetItemState(2, 2) | GridState::Selected);
  Render(canvas);
  EXPECT_EQ(canvas.Pixel(75, 50), GetSysColor(COLOR_HIGHLIGHT));
  // A cell's own back colour is painted even when the grid paints everything.
  grid.SetItemBackColour(3, 1, RGB(1, 2, 3));
  Render(canvas);
  EXPECT_EQ(canvas.Pixel(45, 70), RGB(1, 2, 3));
}

TEST_F(PaintTest, DoubleBufferingPaintsTheSamePicture) {
  grid.SetItemText(0, 1, "Head");
  grid.SetItemText(1, 1, "Some long text");
  grid.SetItemState(2, 1, GridState::Selected);
  grid.SetFocusCell(3, 2);
  Render(canvas);
  RenderProbe buffered(200, 150, RGB(255, 0, 255));
  {
    CMemDC memory(&buffered.Dc());
    grid.OnDraw(&memory);
  }
  int differing = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x) differing += canvas.Pixel(x, y) != buffered.Pixel(x, y);
  EXPECT_EQ(differing, 0);
}

TEST_F(PaintTest, NothingIsPaintedWhileDrawingIsOff) {
  grid.SetRedraw(FALSE);
  Render(canvas);
  for (int y = 0; y < 150; y += 7)
    for (int x = 0; x < 200; x += 7) ASSERT_EQ(canvas.Pixel(x, y), RGB(255, 0, 255)) << x << "," << y;
  EXPECT_FALSE(grid.RedrawCell(1, 1, &canvas.Dc()));
  grid.SetRedraw(TRUE);
  Render(canvas);
  EXPECT_EQ(canvas.Pixel(45, 30), kNormal);
}

TEST_F(PaintTest, ACellRedrawErasesItAndDrawsItsOwnLines) {
  canvas.Dc().FillSolidRect(CRect(0, 0, 200, 150), RGB(255, 0, 255));
  ASSERT_TRUE(grid.RedrawCell(1, 1, &canvas.Dc()));
  EXPECT_EQ(canvas.Pixel(45, 30), kNormal);
  EXPECT_EQ(canvas.Pixel(59, 30), kLines);
  EXPECT_EQ(canvas.Pixel(45, 39), kLines);
  EXPECT_EQ(canvas.Pixel(70, 30), RGB(255, 0, 255));
  EXPECT_TRUE(grid.RedrawRow(1));
  EXPECT_FALSE(grid.RedrawCell(9, 1));
}

TEST_F(PaintTest, AHeaderRowAloneGetsTheFixedCellsAndTheBackground) {
  grid.SetRowCount(1);
  Render(canvas);
  EXPECT_EQ(canvas.Pixel(15, 10), kCorner);
  EXPECT_EQ(canvas.Pixel(45, 10), kFixedRow);
  EXPECT_EQ(canvas.Pixel(45, 30), kOutside);
  EXPECT_EQ(canvas.Pixel(150, 10), kOutside);
}

TEST_F(PaintTest, TheSortArrowIsDrawnOnlyInRowZeroAndOnlyWhenItHasASize) {
  grid.SetSortColumn(1);
  struct Case {
    int row;
    int height;
    size_t polylines;  // two for a fixed cell's frame, two more for the arrow
  };
  const Case cases[] = {{0, 20, 4}, {1, 20, 0}, {0, 4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.row << " " << c.height);
    RecordingDC dc;
    CGridCellBase* cell = grid.GetCell(c.row, 1);
    ASSERT_TRUE(cell->Draw(&dc, c.row, 1, CRect(30, 0, 59, c.height - 1), FALSE));
    size_t polylines = 0;
    for (const std::string& call : dc.Calls()) {
      if (call.rfind("Polyline ", 0) != 0) continue;
      ++polylines;
      std::istringstream points(call.substr(9));
      int x = 0;
      int y = 0;
      char comma = 0;
      while (points >> x >> comma >> y) {
        EXPECT_GE(x, 30) << call;
        EXPECT_LE(x, 60) << call;
        EXPECT_GE(y, 0) << call;
        EXPECT_LE(y, c.height) << call;
      }
    }
    EXPECT_EQ(polylines, c.polylines);
  }
}

}  // namespace
