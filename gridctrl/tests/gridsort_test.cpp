// Sorting rows, and saving and loading delimited text files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "GridCtrl.h"
#include "GridTestSupport.h"

namespace {

std::vector<std::string> Column(CGridCtrl& grid, int column) {
  std::vector<std::string> texts;
  for (int row = 0; row < grid.GetRowCount(); ++row) texts.emplace_back(grid.GetItemText(row, column));
  return texts;
}

int ByLength(const CGridCellBase* first, const CGridCellBase* second, LPARAM data) {
  EXPECT_EQ(data, 77);
  return static_cast<int>(std::strlen(first->GetText())) - static_cast<int>(std::strlen(second->GetText()));
}

class SortTest : public OwnedGridTest {
 protected:
  void SetUp() override {
    OwnedGridTest::SetUp();
    if (!HasFatalFailure()) Fill({"pear", "Apple", "fig", "apple", "10"});
  }
  void Fill(const std::vector<const char*>& texts) {
    grid.DeleteAllItems();
    grid.SetRowCount(static_cast<int>(texts.size()) + 1);
    grid.SetColumnCount(2);
    grid.SetFixedRowCount(1);
    grid.SetItemText(0, 0, "Row");
    grid.SetItemText(0, 1, "Text");
    for (size_t i = 0; i < texts.size(); ++i) {
      grid.SetItemTextFormatted(static_cast<int>(i) + 1, 0, "%d", static_cast<int>(i) + 1);
      grid.SetItemText(static_cast<int>(i) + 1, 1, texts[i]);
      grid.SetRowHeight(static_cast<int>(i) + 1, 20 + static_cast<int>(i));
    }
  }
};

TEST_F(SortTest, RowsSortByTheColumnWithTheFixedRowsInPlace) {
  struct Case {
    const char* name;
    std::function<BOOL()> sort;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"text ascending", [&] { return grid.SortByText(1, TRUE); }, {"Text", "10", "Apple", "apple", "fig", "pear"}},
      {"text descending", [&] { return grid.SortByText(1, FALSE); }, {"Text", "pear", "fig", "apple", "Apple", "10"}},
      {"caller's function", [&] {
         grid.SetCompareFunction(ByLength);
         return grid.SortByColumn(1, TRUE, 77);
       },
       {"Text", "10", "fig", "pear", "Apple", "apple"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fill({"pear", "Apple", "fig", "apple", "10"});
    grid.SetFocusCell(2, 1);
    grid.SelectRange(1, 1, 2, 1);
    ASSERT_TRUE(c.sort());
    std::vector<std::string> texts = Column(grid, 1);
    // Equal lengths may come in either order.
    if (std::string(c.name) == "caller's function") {
      EXPECT_EQ(texts[1], "10");
      EXPECT_EQ(texts[2], "fig");
      EXPECT_EQ(texts[3].size() + texts[4].size() + texts[5].size(), 14u);
    } else {
      EXPECT_EQ(texts, c.expected);
    }
    EXPECT_EQ(grid.GetSortColumn(), 1);
    EXPECT_EQ(grid.GetFocusCell(), CCellID());
    EXPECT_EQ(grid.SelectedCellCount(), 0);
    // Each row took its height and its other cells along.
    for (int row = 1; row < 6; ++row) {
      const int original = std::atoi(grid.GetItemText(row, 0));
      EXPECT_EQ(grid.GetRowHeight(row), 20 + original - 1);
    }
  }
}

TEST_F(SortTest, NumbersSortByValue) {
  Fill({"10", "-3", "7", "100", "0"});
  ASSERT_TRUE(grid.SortRows(CGridCtrl::CompareNumbers, 1, TRUE));
  EXPECT_EQ(Column(grid, 1), std::vector<std::string>({"Text", "-3", "0", "7", "10", "100"}));
  EXPECT_FALSE(grid.SortByText(2, TRUE));
}

TEST_F(SortTest, HeaderClicksSortAscendingThenDescending) {
  grid.SetSortOnHeaderClick(TRUE);
  wftest::Click(grid.GetSafeHwnd(), CPoint(grid.GetColumnWidth(0) + 5, 5));
  EXPECT_EQ(Column(grid, 1)[1], "10");
  EXPECT_TRUE(grid.GetSortAscending());
  wftest::Click(grid.GetSafeHwnd(), CPoint(grid.GetColumnWidth(0) + 5, 5));
  EXPECT_EQ(Column(grid, 1)[1], "pear");
  EXPECT_FALSE(grid.GetSortAscending());
  // Another header sorts ascending by its column; the click still selects that column.
  wftest::Click(grid.GetSafeHwnd(), CPoint(5, 5));
  EXPECT_EQ(grid.GetSortColumn(), 0);
  EXPECT_EQ(Column(grid, 0), std::vector<std::string>({"Row", "1", "2", "3", "4", "5"}));
  EXPECT_EQ(grid.SelectionBounds(), CellRange(1, 0, 5, 0));
}

TEST_F(SortTest, SortingEndsAnOpenEditFirstAndNeverRunsInVirtualMode) {
  grid.SetFocusCell(3, 1);
  grid.SetFocus();
  grid.SendMessage(WM_CHAR, 'b');
  wftest::DispatchPosted();
  ASSERT_NE(::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId), nullptr);
  ASSERT_TRUE(grid.SortByText(1, TRUE));
  EXPECT_EQ(::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId), nullptr);
  EXPECT_EQ(Column(grid, 1), std::vector<std::string>({"Text", "10", "Apple", "apple", "b", "pear"}));

  grid.SetVirtualMode(TRUE);
  grid.SetRowCount(5);
  grid.SetColumnCount(2);
  EXPECT_FALSE(grid.SortByText(1, TRUE));
}

// ---- delimited text ----

class TextFileTest : public SortTest {
 protected:
  void SetUp() override {
    SortTest::SetUp();
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    char name[MAX_PATH] = {};
    GetTempFileNameA(folder, "grd", 0, name);
    path = name;
  }
  void TearDown() override { DeleteFileA(path.c_str()); }

  std::string Bytes() const {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  void WriteBytes(const std::string& bytes) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  std::string path;
};

TEST_F(TextFileTest, SavedTextLoadsBackAndSavesTheSameBytes) {
  Fill({"pear", "", "fig"});
  const std::string longText(5000, 'x');
  grid.SetItemText(3, 0, longText.c_str());
  ASSERT_TRUE(grid.SaveAsDelimitedText(path.c_str(), ';'));
  const std::string saved = Bytes();
  EXPECT_EQ(saved, "Row;Text\r\n1;pear\r\n2;\r\n" + longText + ";fig\r\n");

  CGridCtrl loaded;
  ASSERT_TRUE(loaded.LoadDelimitedText(path.c_str(), ';'));
  EXPECT_EQ(loaded.GetRowCount(), 4);
  EXPECT_EQ(loaded.GetColumnCount(), 2);
  EXPECT_EQ(loaded.GetItemFormat(0, 1), static_cast<UINT>(DT_CENTER | DT_VCENTER | DT_SINGLELINE));
  EXPECT_EQ(loaded.GetItemText(3, 0), longText.c_str());
  EXPECT_EQ(loaded.GetItemText(2, 1), "");
  ASSERT_TRUE(loaded.SaveAsDelimitedText(path.c_str(), ';'));
  EXPECT_EQ(Bytes(), saved);
}

TEST_F(TextFileTest, LoadingTakesHeadingsTokensAndLineEndsAsTheyCome) {
  struct Case {
    const char* name;
    std::string bytes;
    int rows;
    int columns;
    std::vector<std::pair<CCellID, const char*>> cells;
  };
  const Case cases[] = {
      {"headings only", "a,b,c\r\n", 1, 3, {{{0, 2}, "c"}}},
      {"empty tokens in the middle count", "a,,c\n1,,3\n", 2, 3, {{{0, 1}, ""}, {{1, 2}, "3"}}},
      {"a final empty token is a cell of its own", "a,b,\n1,2,\n", 2, 3, {{{0, 2}, ""}, {{1, 1}, "2"}}},
      {"an empty line is a row with one empty cell", "a,b\n\nx,y\n", 3, 2, {{{1, 0}, ""}, {{2, 1}, "y"}}},
      {"surplus tokens are lost", "a,b\n1,2,3,4\n", 2, 2, {{{1, 1}, "2"}}},
      {"a bare line feed and a CR before it", "a,b\nx,y\r\nz,w\n", 3, 2, {{{1, 1}, "y"}, {{2, 1}, "w"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(c.bytes);
    CGridCtrl loaded;
    ASSERT_TRUE(loaded.LoadDelimitedText(path.c_str(), ','));
    EXPECT_EQ(loaded.GetRowCount(), c.rows);
    EXPECT_EQ(loaded.GetColumnCount(), c.columns);
    for (const auto& [cell, text] : c.cells) EXPECT_EQ(loaded.GetItemText(cell.row, cell.col), text);
  }
  CGridCtrl virtualGrid;
  virtualGrid.SetVirtualMode(TRUE);
  EXPECT_FALSE(virtualGrid.LoadDelimitedText(path.c_str(), ','));
}

TEST_F(TextFileTest, EmptyLastHeadingsAndFieldsSurviveSavingAndLoading) {
  grid.DeleteAllItems();
  grid.SetRowCount(4);
  grid.SetColumnCount(3);
  const char* texts[4][3] = {{"Name", "Value", ""}, {"a", "", ""}, {"", "", ""}, {"b", "c", "d"}};
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 3; ++column) grid.SetItemText(row, column, texts[row][column]);
  ASSERT_TRUE(grid.SaveAsDelimitedText(path.c_str(), ','));
  EXPECT_EQ(Bytes(), "Name,Value,\r\na,,\r\n,,\r\nb,c,d\r\n");

  CGridCtrl loaded;
  ASSERT_TRUE(loaded.LoadDelimitedText(path.c_str(), ','));
  ASSERT_EQ(loaded.GetRowCount(), 4);
  ASSERT_EQ(loaded.GetColumnCount(), 3);
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 3; ++column) EXPECT_EQ(loaded.GetItemText(row, column), texts[row][column]);
}

// What appending a column per heading and a row per line gives: the grid a load must build.
void BuildByInserts(CGridCtrl& grid, const std::vector<std::vector<std::string>>& lines) {
  grid.DeleteAllItems();
  for (const std::string& heading : lines[0]) grid.InsertColumn(heading.c_str());
  for (size_t i = 1; i < lines.size(); ++i) {
    const int row = grid.InsertRow(lines[i][0].c_str());
    for (size_t c = 1; c < lines[i].size() && static_cast<int>(c) < grid.GetColumnCount(); ++c)
      grid.SetItemText(row, static_cast<int>(c), lines[i][c].c_str());
  }
  grid.FitAllColumnsToContents();
}

TEST_F(TextFileTest, ALoadBuildsTheGridThatInsertingEveryHeadingAndLineWould) {
  const std::vector<std::vector<std::string>> lines = {
      {"Option", "Value", "Longer heading than any value", ""},
      {"RA", "10.1.2.3;filter2.example.com", "", "x"},
      {"", "empty heading", "y"},
      {"RP", "139", "z", "surplus", "dropped"},
      {"only a heading"},
  };
  std::string bytes;
  for (const auto& line : lines) {
    for (size_t c = 0; c < line.size(); ++c) bytes += (c ? "," : "") + line[c];
    bytes += "\n";
  }
  WriteBytes(bytes);
  CGridCtrl expected;
  ASSERT_TRUE(expected.Create(CRect(0, 0, 300, 200), &owner, 101, WS_CHILD | WS_VISIBLE));
  BuildByInserts(expected, lines);
  grid.SetSortColumn(1);
  grid.SelectRange(1, 1, 2, 1);
  ASSERT_TRUE(grid.LoadDelimitedText(path.c_str(), ','));

  ASSERT_EQ(grid.GetRowCount(), expected.GetRowCount());
  ASSERT_EQ(grid.GetColumnCount(), expected.GetColumnCount());
  EXPECT_EQ(grid.GetFixedRowCount(), 0);
  EXPECT_EQ(grid.GetSortColumn(), -1);
  EXPECT_EQ(grid.SelectedCellCount(), 0);
  EXPECT_EQ(grid.GetModified(), expected.GetModified());
  for (int column = 0; column < grid.GetColumnCount(); ++column)
    EXPECT_EQ(grid.GetColumnWidth(column), expected.GetColumnWidth(column)) << column;
  for (int row = 0; row < grid.GetRowCount(); ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(grid.GetRowHeight(row), expected.GetRowHeight(row));
    for (int column = 0; column < grid.GetColumnCount(); ++column) {
      EXPECT_EQ(grid.GetItemText(row, column), expected.GetItemText(row, column)) << column;
      EXPECT_EQ(grid.GetItemState(row, column), expected.GetItemState(row, column)) << column;
      EXPECT_EQ(grid.GetItemFormat(row, column), expected.GetItemFormat(row, column)) << column;
    }
  }
  EXPECT_EQ(grid.GetScrollMax(SB_VERT), expected.GetScrollMax(SB_VERT));
  EXPECT_EQ(grid.GetScrollMax(SB_HORZ), expected.GetScrollMax(SB_HORZ));
}

}  // namespace
