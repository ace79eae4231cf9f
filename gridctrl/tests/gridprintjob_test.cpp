// The print job: the printer DC from the print dialog, the document name, and the
// document and page calls around the pages, through the scripted platform.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GridCtrl.h"
#include "GridTestSupport.h"
#include "ScriptedPlatform.h"

namespace {

struct PrintedPage {
  UINT page;
  UINT pages;
  HDC dc;
  bool operator==(const PrintedPage&) const = default;
};

// Notes each page as its footer prints.
class PageGrid : public CGridCtrl {
 public:
  std::vector<PrintedPage> printed;
  void PrintPageFooter(CDC* dc, CPrintInfo* info) override {
    printed.push_back({info->m_nCurPage, info->GetMaxPage(), dc->GetSafeHdc()});
    CGridCtrl::PrintPageFooter(dc, info);
  }
};

class PrintJobTest : public testing::Test {
 protected:
  // A heading row and three body rows, each far taller than a page, so one page each.
  void SetUp() override {
    owner.SetWindowText("Branch office");
    ASSERT_TRUE(MakeGrid(grid, owner, 4, 2, 72, 5000, 1, 0));
    grid.SetRowHeight(0, 20);
  }

  // A memory DC over a bitmap that stands for the printer.
  HDC PrinterDC() {
    HDC dc = CreateCompatibleDC(nullptr);
    BITMAPINFO bits{};
    bits.bmiHeader = {sizeof(BITMAPINFOHEADER), 400, -600, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    page.Attach(CreateDIBSection(dc, &bits, DIB_RGB_COLORS, &pixels, nullptr, 0));
    SelectObject(dc, page.GetSafeHandle());
    return dc;
  }

  CBitmap page;
  RecordingOwner owner;
  PageGrid grid;
  ScriptedPlatform platform;
};

TEST_F(PrintJobTest, PrintsEveryPageInOrderOntoTheDialogsPrinterUnderTheDocumentName) {
  HDC printer = PrinterDC();
  platform.printerDC = printer;
  grid.Print();
  EXPECT_EQ(platform.PrintCalls(),
            std::vector<std::string>({"PrintDialog", "StartDoc Branch office", "StartPage", "EndPage", "StartPage",
                                      "EndPage", "StartPage", "EndPage", "EndDoc"}));
  EXPECT_EQ(grid.printed, std::vector<PrintedPage>({{1, 3, printer}, {2, 3, printer}, {3, 3, printer}}));
  EXPECT_EQ(GetObjectType(printer), 0u) << "the dialog's printer DC is released after the job";
}

TEST_F(PrintJobTest, AGivenDialogsPrinterIsUsedAndLeftToItsOwner) {
  PRINTDLGA dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hDC = PrinterDC();
  grid.Print(&dialog);
  EXPECT_EQ(platform.PrintCalls().front(), "StartDoc Branch office");
  EXPECT_EQ(grid.printed.size(), 3u);
  EXPECT_EQ(GetObjectType(dialog.hDC), static_cast<DWORD>(OBJ_MEMDC));
  DeleteDC(dialog.hDC);
}

TEST_F(PrintJobTest, ACancelledDialogOrAFailingPrinterEndsTheJobCleanly) {
  struct Case {
    const char* name;
    bool confirmed;
    int startDoc, endPage;
    std::vector<std::string> calls;
    size_t pages;
  };
  const Case cases[] = {
      {"cancelled dialog", false, 1, 1, {"PrintDialog"}, 0},
      {"document not started", true, -1, 1, {"PrintDialog", "StartDoc Branch office", "AbortDoc"}, 0},
      {"page not ended", true, 1, -1,
       {"PrintDialog", "StartDoc Branch office", "StartPage", "EndPage", "AbortDoc"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPlatform scripted;
    grid.printed.clear();
    HDC printer = c.confirmed ? PrinterDC() : nullptr;
    scripted.printerDC = printer;
    scripted.startDocResult = c.startDoc;
    scripted.endPageResult = c.endPage;
    grid.Print();
    EXPECT_EQ(scripted.PrintCalls(), c.calls);
    EXPECT_EQ(grid.printed.size(), c.pages);
    if (printer) {
      EXPECT_EQ(GetObjectType(printer), 0u);
    }
    page.DeleteObject();
  }
}

}  // namespace
