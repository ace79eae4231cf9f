// Printing: pages for chosen row heights and page sizes, and what each page shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "GridCtrl.h"
#include "GridTestSupport.h"
#include "RecordingDC.h"

namespace {

// A printer of a chosen page size in pixels; text measures 7 x 13 per character.
class PageDC : public RecordingDC {
 public:
  PageDC(int width, int height) : width_(width), height_(height) { m_bPrinting = TRUE; }
  int GetDeviceCaps(int index) const override {
    switch (index) {
      case HORZRES:
        return width_;
      case VERTRES:
        return height_;
      case LOGPIXELSX:
      case LOGPIXELSY:
        return 300;
      default:
        return RecordingDC::GetDeviceCaps(index);
    }
  }
  bool Drew(const std::string& text) const {
    for (const std::string& call : Calls())
      if (call.rfind("DrawText \"" + text + "\"", 0) == 0) return true;
    return false;
  }

 private:
  int width_;
  int height_;
};

class PrintTest : public OwnedGridTest {
 protected:
  // One fixed row of 20 pixels, then body rows of the given heights; two columns of
  // 72 pixels, so that a page is 200 logical units wide (with side margins of 8 x 7).
  void Build(const std::vector<int>& heights) {
    grid.DeleteAllItems();
    grid.SetRowCount(static_cast<int>(heights.size()) + 1);
    grid.SetColumnCount(2);
    grid.SetFixedRowCount(1);
    grid.SetItemText(0, 0, "Name");
    grid.SetItemText(0, 1, "Value");
    grid.SetRowHeight(0, 20);
    for (size_t i = 0; i < heights.size(); ++i) {
      grid.SetRowHeight(static_cast<int>(i) + 1, heights[i]);
      grid.SetItemTextFormatted(static_cast<int>(i) + 1, 0, "row%d", static_cast<int>(i) + 1);
    }
    grid.SetColumnWidth(0, 72);
    grid.SetColumnWidth(1, 72);
  }

  int Pages(int paperWidth, int paperHeight) {
    PageDC dc(paperWidth, paperHeight);
    CPrintInfo info;
    grid.OnBeginPrinting(&dc, &info);
    return static_cast<int>(info.GetMaxPage());
  }
};

TEST_F(PrintTest, PageCountsFollowRowHeightsAndPageSizes) {
  // A 200 x 400 page leaves 400 - 20 - 6 x 13 = 302 units for body rows: 15 rows of 20.
  struct Case {
    const char* name;
    std::vector<int> heights;
    int width, height;
    int pages;
  };
  const Case cases[] = {
      {"all rows fit", std::vector<int>(15, 20), 200, 400, 1},
      {"one row more", std::vector<int>(16, 20), 200, 400, 2},
      {"a row taller than a page gets a page of its own", {20, 500, 20}, 200, 400, 3},
      {"a tall first row leaves no empty page before it", {500, 20}, 200, 400, 2},
      {"no room at all: one row per page", std::vector<int>(4, 20), 2000, 100, 4},
      {"no body rows", {}, 200, 400, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Build(c.heights);
    EXPECT_EQ(Pages(c.width, c.height), c.pages);
    EXPECT_EQ(grid.GetPagesAcross(), 1);
  }
}

TEST_F(PrintTest, EveryPageRepeatsTheHeadingsAndCarriesHeaderAndFooter) {
  owner.SetWindowText("Options of the agent");
  Build(std::vector<int>(16, 20));
  PageDC dc(200, 400);
  CPrintInfo info;
  grid.OnBeginPrinting(&dc, &info);
  ASSERT_EQ(info.GetMaxPage(), 2u);
  for (UINT page = 1; page <= 2; ++page) {
    SCOPED_TRACE(page);
    dc.Clear();
    info.m_nCurPage = page;
    grid.OnPrint(&dc, &info);
    EXPECT_TRUE(dc.Drew("Options of the agent"));
    EXPECT_TRUE(dc.Drew("Page " + std::to_string(page) + " of 2"));
    EXPECT_TRUE(dc.Drew("Name"));
    EXPECT_TRUE(dc.Drew("Value"));
    EXPECT_EQ(dc.Drew("row15"), page == 1);
    EXPECT_EQ(dc.Drew("row16"), page == 2);
    EXPECT_EQ(dc.Drew("row1"), page == 1);
  }
  grid.OnEndPrinting(&dc, &info);
}

TEST_F(PrintTest, MarginsKeepWhatIsNotGiven) {
  grid.SetPrintMargins(5, -1, 6, -1, -1, 7, -1);
  int margins[7] = {};
  grid.GetPrintMargins(margins[0], margins[1], margins[2], margins[3], margins[4], margins[5], margins[6]);
  EXPECT_EQ(std::vector<int>(margins, margins + 7), std::vector<int>({5, 2, 6, 4, 1, 7, 1}));
}

}  // namespace

namespace {

// A line the page drew, from MoveTo to LineTo.
struct Segment {
  int x1, y1, x2, y2;
  bool Vertical() const { return x1 == x2; }
};

std::vector<Segment> Segments(const std::vector<std::string>& calls) {
  std::vector<Segment> segments;
  int x = 0;
  int y = 0;
  for (const std::string& call : calls) {
    int a = 0;
    int b = 0;
    if (std::sscanf(call.c_str(), "MoveTo %d,%d", &a, &b) == 2) {
      x = a;
      y = b;
    } else if (std::sscanf(call.c_str(), "LineTo %d,%d", &a, &b) == 2) {
      segments.push_back({x, y, a, b});
      x = a;
      y = b;
    }
  }
  return segments;
}

// Where the vertical lines of a part of the page lie, left to right, once each.
std::vector<int> VerticalLines(const std::vector<std::string>& calls) {
  std::vector<int> xs;
  for (const Segment& s : Segments(calls))
    if (s.Vertical() && std::find(xs.begin(), xs.end(), s.x1) == xs.end()) xs.push_back(s.x1);
  std::sort(xs.begin(), xs.end());
  return xs;
}

bool DrewText(const std::vector<std::string>& calls, const std::string& text) {
  for (const std::string& call : calls)
    if (call.rfind("DrawText \"" + text + "\"", 0) == 0) return true;
  return false;
}

// Keeps apart what the heading rows and what the rest of the page (heading columns and
// body) drew.
class PartsGrid : public CGridCtrl {
 public:
  std::vector<std::string> headingRows, body;
  void OnPrint(CDC* dc, CPrintInfo* info) override {
    headingRows.clear();
    body.clear();
    CGridCtrl::OnPrint(dc, info);
  }
  void PrintHeadingRows(CDC* dc, CPrintInfo* info) override {
    auto* recording = static_cast<RecordingDC*>(dc);
    const size_t before = recording->Calls().size();
    CGridCtrl::PrintHeadingRows(dc, info);
    headingRows.assign(recording->Calls().begin() + before, recording->Calls().end());
    body.assign(recording->Calls().begin(), recording->Calls().begin() + before);
    bodyStart = recording->Calls().size();
  }
  void PrintPageFooter(CDC* dc, CPrintInfo* info) override {
    auto* recording = static_cast<RecordingDC*>(dc);
    body.insert(body.end(), recording->Calls().begin() + bodyStart, recording->Calls().end());
    CGridCtrl::PrintPageFooter(dc, info);
  }

 private:
  size_t bodyStart = 0;
};

class PrintedLinesTest : public testing::Test {
 protected:
  // One heading row, two body rows of 20; `widths` give the columns.
  void Build(const std::vector<int>& widths, int fixedColumns) {
    ASSERT_TRUE(MakeGrid(grid, owner, 3, static_cast<int>(widths.size()), 10, 20, 1, fixedColumns));
    for (size_t c = 0; c < widths.size(); ++c) {
      grid.SetColumnWidth(static_cast<int>(c), widths[c]);
      grid.SetItemTextFormatted(0, static_cast<int>(c), "H%d", static_cast<int>(c));
      grid.SetItemTextFormatted(1, static_cast<int>(c), "r1c%d", static_cast<int>(c));
    }
  }

  RecordingOwner owner;
  PartsGrid grid;
};

TEST_F(PrintedLinesTest, EveryPrintedRowHasTheLineLeftOfItsFirstCellAndAtEachRightEdge) {
  struct Case {
    const char* name;
    int fixedColumns;
    std::vector<int> lines;
  };
  const Case cases[] = {
      {"a fixed column", 1, {-1, 49, 89}},
      {"no fixed column", 0, {-1, 49, 89}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Build({50, 40}, c.fixedColumns);
    PageDC dc(1000, 2000);
    CPrintInfo info;
    grid.OnBeginPrinting(&dc, &info);
    info.m_nCurPage = 1;
    grid.OnPrint(&dc, &info);
    EXPECT_EQ(VerticalLines(grid.headingRows), c.lines);
    EXPECT_EQ(VerticalLines(grid.body), c.lines);
    grid.OnEndPrinting(&dc, &info);
  }
}

TEST_F(PrintedLinesTest, PagesAcrossGiveTheirHeadingCellsLinesAndAWideColumnItsHeading) {
  // A page of 1250 x 2500 printer pixels at 300 per inch is 300 x 600 logical units like
  // the screen: 300 - 56 for the side margins - 50 for the fixed column leaves 194 for
  // body columns, so each body column gets a page of its own; the last is wider than one.
  Build({50, 100, 100, 400}, 1);
  grid.SetWysiwygPrinting(TRUE);
  PageDC dc(1250, 2500);
  CPrintInfo info;
  grid.OnBeginPrinting(&dc, &info);
  ASSERT_EQ(grid.GetPagesAcross(), 3);
  struct Page {
    UINT page;
    const char* heading;
    const char* body;
    std::vector<int> lines;
  };
  const Page pages[] = {
      {1, "H1", "r1c1", {-1, 49, 149}},
      {2, "H2", "r1c2", {-1, 49, 149}},
      {3, "H3", "r1c3", {-1, 49, 449}},
  };
  for (const Page& p : pages) {
    SCOPED_TRACE(p.page);
    dc.Clear();
    info.m_nCurPage = p.page;
    grid.OnPrint(&dc, &info);
    EXPECT_TRUE(DrewText(grid.headingRows, "H0"));
    EXPECT_TRUE(DrewText(grid.headingRows, p.heading));
    EXPECT_TRUE(DrewText(grid.body, p.body));
    EXPECT_EQ(VerticalLines(grid.headingRows), p.lines);
    EXPECT_EQ(VerticalLines(grid.body), p.lines);
    int underHeadings = 0;
    for (const Segment& s : Segments(grid.headingRows))
      if (!s.Vertical() && s.y1 == 19) ++underHeadings;
    EXPECT_EQ(underHeadings, 2);
  }
  grid.OnEndPrinting(&dc, &info);
}

TEST_F(PrintedLinesTest, CellsPrintTheirBackgroundsOnlyWithShading) {
  Build({50, 40}, 1);
  grid.SetItemBackColour(1, 1, RGB(255, 0, 0));
  auto fills = [&](BOOL shading) {
    grid.SetPrintShading(shading);
    PageDC dc(1000, 2000);
    CPrintInfo info;
    grid.OnBeginPrinting(&dc, &info);
    info.m_nCurPage = 1;
    grid.OnPrint(&dc, &info);
    grid.OnEndPrinting(&dc, &info);
    std::vector<std::string> filled;
    for (const std::string& call : dc.Calls())
      if (call.rfind("FillRect", 0) == 0) filled.push_back(call.substr(call.rfind(' ') + 1));
    return filled;
  };
  // Shading is on by default: the four fixed cells in the face colour, and the red one.
  const std::vector<std::string> shaded = fills(grid.GetPrintShading());
  EXPECT_EQ(shaded.size(), 5u);
  EXPECT_EQ(std::count(shaded.begin(), shaded.end(), "#FF0000"), 1);
  EXPECT_EQ(fills(FALSE), std::vector<std::string>());
}

}  // namespace
