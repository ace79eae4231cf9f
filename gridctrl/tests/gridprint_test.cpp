// Printing: pages for chosen row heights and page sizes, and what each page shows.
#include <gtest/gtest.h>

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
