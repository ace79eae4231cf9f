// ListViewCtl over a real, hidden report-style list view.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unreferenced/ListViewCtl.h"

namespace {

constexpr int kWidth = 400;

class ListViewCtlTest : public testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&init);
    window_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_POPUP | LVS_REPORT, 0, 0, kWidth, 300, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    list_.Attach(window_);
  }
  void TearDown() override { DestroyWindow(window_); }

  std::string Title(int column) {
    char text[64] = {};
    LVCOLUMNA col = {};
    col.mask = LVCF_TEXT;
    col.pszText = text;
    col.cchTextMax = sizeof(text);
    SendMessageA(window_, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&col));
    return text;
  }

  std::vector<int> Widths() {
    std::vector<int> widths;
    for (int i = 0; i < list_.GetColumnCount(); ++i) widths.push_back(list_.GetColumnWidth(i));
    return widths;
  }

  void Fill(int rows) {
    for (int i = 0; i < rows; ++i) {
      const std::string text = "row" + std::to_string(i);
      list_.AppendRow(100 + i, 2, text.c_str(), "second");
    }
  }

  HWND window_ = nullptr;
  ListViewCtl list_;
};

TEST_F(ListViewCtlTest, ColumnCountShrinksFromTheEndAndGrowsWithEmptyTitles) {
  list_.SetColumns(5, "c0", "c1", "c2", "c3", "c4");
  ASSERT_EQ(list_.GetColumnCount(), 5);
  EXPECT_EQ(Title(4), "c4");
  list_.SetColumnCount(2);
  EXPECT_EQ(list_.GetColumnCount(), 2);
  EXPECT_EQ(Title(0), "c0");
  EXPECT_EQ(Title(1), "c1");
  list_.SetColumnCount(4);
  EXPECT_EQ(list_.GetColumnCount(), 4);
  EXPECT_EQ(Title(1), "c1");
  EXPECT_EQ(Title(3), "");
}

TEST_F(ListViewCtlTest, ColumnWidthSpecifications) {
  const int edges = 2 * GetSystemMetrics(SM_CXEDGE);
  const int percentBase = kWidth + 1;
  struct Case {
    int columns;
    const char* spec;
    std::vector<int> widths;  // -1: unchanged from 77
  } cases[] = {
      // Two given, two sharing 25 %: 12.5 % each, the last takes the rest.
      {4, "50 25", {percentBase / 2, percentBase / 4, static_cast<int>(percentBase * 12.5 / 100),
                    kWidth - percentBase / 2 - percentBase / 4 - static_cast<int>(percentBase * 12.5 / 100) - edges}},
      {3, "10", {percentBase / 10, static_cast<int>(percentBase * 45.0 / 100),
                 kWidth - percentBase / 10 - static_cast<int>(percentBase * 45.0 / 100) - edges}},
      // Nothing left to share: the rest stays as it was.
      {3, "60 40", {percentBase * 60 / 100, percentBase * 40 / 100, 77}},
      {3, "70 50", {percentBase * 70 / 100, percentBase * 50 / 100, 77}},
      // More percentages than columns: only existing columns, no share step.
      {2, "30 30 30 30 30", {percentBase * 30 / 100, percentBase * 30 / 100}},
      {1, "", {kWidth - edges}},
      {0, "50", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    list_.SetColumnCount(0);
    list_.SetColumnCount(c.columns);
    for (int i = 0; i < c.columns; ++i) list_.SetColumnWidth(i, 77);
    list_.SetColumnWidths(c.spec);
    EXPECT_EQ(Widths(), c.widths);
  }
}

TEST_F(ListViewCtlTest, RowsTextsAndItemData) {
  list_.SetColumns(3, "a", "b", "c");
  EXPECT_EQ(list_.AppendRow(11, 3, "one", "uno", "eins"), 0);
  EXPECT_EQ(list_.AppendRow(22, 2, "two", "dos"), 1);
  EXPECT_EQ(list_.GetItemCount(), 2);
  EXPECT_EQ(list_.GetItemText(0, 2), "eins");
  EXPECT_EQ(list_.GetItemText(1, 2), "");
  char small[4] = "xyz";
  EXPECT_STREQ(list_.GetItemText(0, 1, small, sizeof(small)), "uno");
  EXPECT_STREQ(list_.GetItemText(0, 0, small, sizeof(small)), "one");
  EXPECT_STREQ(list_.GetItemText(1, 0, small, 3), "tw");

  list_.SetItemTextFormatted(1, 2, "%s-%d", "zwei", 2);
  EXPECT_EQ(list_.GetItemText(1, 2), "zwei-2");

  EXPECT_EQ(list_.GetItemData(1), 22);
  EXPECT_EQ(list_.SetItemData(1, 33), 22);
  EXPECT_EQ(list_.FindByItemData(33, 0), 1);
  EXPECT_EQ(list_.FindByItemData(11, 1), -1);
  EXPECT_EQ(list_.FindByItemData(44, 0), -1);

  list_.SetItemImage(1, 3);
  EXPECT_EQ(list_.GetItemImage(1), 3);
}

TEST_F(ListViewCtlTest, SelectionByIndex) {
  list_.SetColumns(2, "a", "b");
  Fill(6);
  EXPECT_EQ(list_.GetFirstSelected(), -1);
  EXPECT_EQ(list_.GetFirstSelectedItemData(), 0);

  const int wanted[] = {4, 1, 2};
  list_.SelectIndices(3, wanted);
  int indices[6] = {};
  ASSERT_EQ(list_.GetSelectedIndices(indices, 6), 3);
  EXPECT_EQ(std::vector<int>(indices, indices + 3), (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(list_.GetSelectedIndices(indices, 2), 2);
  EXPECT_EQ(list_.CountSelected(2), 2);
  EXPECT_EQ(list_.CountSelected(10), 3);
  EXPECT_EQ(list_.GetFirstSelected(), 1);
  EXPECT_EQ(list_.GetFirstSelectedItemData(), 101);
  LPARAM data[6] = {};
  ASSERT_EQ(list_.GetSelectedItemData(data, 6), 3);
  EXPECT_EQ(data[2], 104);

  list_.SetSelected(2, false, true);
  list_.SetSelected(5, true, true);
  EXPECT_FALSE(list_.IsSelected(2));
  EXPECT_TRUE(list_.IsSelected(5));
  const int one[] = {0};
  list_.SelectIndices(1, one);
  EXPECT_EQ(list_.CountSelected(10), 1);
  EXPECT_TRUE(list_.IsSelected(0));
}

TEST_F(ListViewCtlTest, DeleteSelectedVisitsFromTheHighestIndex) {
  list_.SetColumns(2, "a", "b");
  Fill(6);
  const int wanted[] = {1, 3, 5};
  list_.SelectIndices(3, wanted);
  std::vector<int> visited;
  const int deleted = list_.DeleteSelected([&](int item, LPARAM data) {
    visited.push_back(item);
    EXPECT_EQ(data, 100 + item);  // not yet visited indices are still valid
    return item != 3;
  });
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(visited, (std::vector<int>{5, 3, 1}));
  ASSERT_EQ(list_.GetItemCount(), 4);
  EXPECT_EQ(list_.GetItemText(2, 0), "row3");
  EXPECT_TRUE(list_.IsSelected(2));
  EXPECT_EQ(list_.DeleteSelected(), 1);
  EXPECT_EQ(list_.GetItemCount(), 3);
}

TEST_F(ListViewCtlTest, ReleasingDeletesFreeHeapItemData) {
  list_.SetColumns(1, "a");
  for (int i = 0; i < 4; ++i)
    list_.AppendRow(reinterpret_cast<LPARAM>(HeapAlloc(GetProcessHeap(), 0, 32)), 1, "heap");
  list_.AppendRow(0, 1, "no data");
  list_.SetSelected(1, true, false);
  list_.SetSelected(4, true, false);
  EXPECT_EQ(list_.DeleteSelected(nullptr, true), 2);
  list_.DeleteItem(0, true);
  EXPECT_EQ(list_.GetItemCount(), 2);
  list_.DeleteAll(true);
  EXPECT_EQ(list_.GetItemCount(), 0);
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
}

TEST_F(ListViewCtlTest, LoadIconsFillsBothImageLists) {
  LoadLibraryA("user32.dll");
  ASSERT_TRUE(list_.LoadIcons("user32.dll", 2, false, 32512, 32516));
  HIMAGELIST normal = reinterpret_cast<HIMAGELIST>(SendMessageA(window_, LVM_GETIMAGELIST, LVSIL_NORMAL, 0));
  HIMAGELIST small = reinterpret_cast<HIMAGELIST>(SendMessageA(window_, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ASSERT_NE(normal, nullptr);
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(ImageList_GetImageCount(normal), 2);
  EXPECT_EQ(ImageList_GetImageCount(small), 2);
  int cx = 0, cy = 0;
  ImageList_GetIconSize(small, &cx, &cy);
  EXPECT_EQ(cx, GetSystemMetrics(SM_CXSMICON));

  // Loading again replaces both lists.
  ASSERT_TRUE(list_.LoadIcons("user32.dll", 1, false, 32512));
  EXPECT_EQ(ImageList_GetImageCount(
                reinterpret_cast<HIMAGELIST>(SendMessageA(window_, LVM_GETIMAGELIST, LVSIL_NORMAL, 0))),
            1);

  EXPECT_FALSE(list_.LoadIcons("no-such-module.dll", 1, false, 32512));
  EXPECT_FALSE(list_.LoadIcons("user32.dll", 2, false, 32512, 1));
  EXPECT_FALSE(list_.LoadIcons("user32.dll", 1, true, "NO_SUCH_ICON"));
}

}  // namespace
