#include "dialogs/AuthPropGrid.h"

#include <gtest/gtest.h>

#include "ScriptedPlatform.h"
#include "WinSupport.h"  // Narrow
#include "WindowInput.h"

using namespace AuthCfg;

namespace {

// A top-level window that owns the grid; its framework reflects the grid's notifications.
class Owner : public CWnd {
 public:
  Owner() {
    static const bool registered = [] {
      WNDCLASSA wc{};
      wc.lpfnWndProc = DefWindowProcA;
      wc.hInstance = GetModuleHandleA(nullptr);
      wc.lpszClassName = "PropGridTestOwner";
      return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    CreateEx(0, "PropGridTestOwner", "options", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600, nullptr, nullptr);
  }
};

class PropGridTest : public testing::Test {
 protected:
  void SetUp() override {
    set.ResetToDefaults();
    ASSERT_TRUE(grid.Create(CRect(0, 0, 780, 580), &owner, 1069, WS_CHILD | WS_VISIBLE));
    ASSERT_TRUE(grid.SetOptions(&set));
    for (int row = 0; row < grid.GetRowCount(); ++row) grid.SetRowHeight(row, 20);
    grid.SetFocus();
  }
  HWND Editor() const { return ::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId); }
  // Types the text over the cell's value and ends the edit with Enter.
  void TypeInto(int row, int column, const char* text) {
    grid.SetFocusCell(CCellID(row, column));
    grid.SendMessage(WM_CHAR, static_cast<BYTE>(*text));
    wftest::DispatchPosted();
    for (++text; *text; ++text) ::SendMessageA(Editor(), WM_CHAR, static_cast<BYTE>(*text), 0);
    ::SendMessageA(Editor(), WM_CHAR, VK_RETURN, 0);
    wftest::DispatchPosted();
  }
  int RowOf(const char* id) const {
    for (int row = 1; row < grid.GetRowCount(); ++row)
      if (grid.GetItemText(row, 0) == id) return row;
    return -1;
  }

  CfgSet set;
  Owner owner;
  AuthPropGrid grid;
};

TEST_F(PropGridTest, OneRowPerOptionButTheDialogsOwn) {
  ASSERT_EQ(grid.GetRowCount(), 21);
  ASSERT_EQ(grid.GetColumnCount(), 5);
  EXPECT_EQ(grid.GetFixedRowCount(), 1);
  const char* captions[] = {"Name", "Value", "Class", "Category", "Description"};
  const int widths[] = {45, 130, 70, 140, 2000};
  for (int column = 0; column < 5; ++column) {
    EXPECT_EQ(grid.GetItemText(0, column), captions[column]);
    EXPECT_EQ(grid.GetColumnWidth(column), widths[column]);
  }
  EXPECT_EQ(grid.GetItemText(1, 0), "RP");
  EXPECT_EQ(grid.GetItemText(1, 1), "139");
  EXPECT_EQ(grid.GetItemText(1, 2), "Basic");
  EXPECT_EQ(grid.GetItemText(1, 3), "Server communication");
  EXPECT_EQ(grid.GetItemText(1, 4), "Server host port number.");
  EXPECT_EQ(grid.GetItemText(20, 0), "WI");
  EXPECT_EQ(grid.GetItemText(RowOf("LC"), 1), "-1");
  EXPECT_EQ(grid.GetItemText(RowOf("RM"), 2), "Advanced");
  EXPECT_EQ(RowOf("RA"), -1);
  EXPECT_EQ(RowOf("CS"), -1);
  EXPECT_EQ(RowOf("CR"), -1);
  for (int column = 0; column < 5; ++column) {
    const bool readOnly = (grid.GetItemState(5, column) & GridState::ReadOnly) != 0;
    EXPECT_EQ(readOnly, column != 1) << column;
    if (readOnly) {
      EXPECT_EQ(grid.GetItemBackColour(5, column), GetSysColor(COLOR_INACTIVEBORDER));
    }
  }
  auto [cell, option] = grid.GetRowOption(1);
  ASSERT_NE(option, nullptr);
  EXPECT_EQ(option, set.Find("RP"));
  EXPECT_EQ(cell, grid.GetCell(1, 1));

  // A second fill gives the same grid.
  grid.SetOptions(&set);
  EXPECT_EQ(grid.GetRowCount(), 21);
  EXPECT_EQ(grid.GetItemText(20, 0), "WI");
}

TEST_F(PropGridTest, TypedValuesGoIntoTheirOptionsAsEditorValues) {
  TypeInto(1, 1, "70000");
  EXPECT_EQ(set.Find("RP")->source, kEditor);
  EXPECT_EQ(set.TextById("RP"), L"4464");
  EXPECT_EQ(grid.GetItemText(1, 1), "70000");  // the cell keeps what was typed until the next fill
  grid.SetOptions(&set);
  EXPECT_EQ(grid.GetItemText(1, 1), "4464");

  // Names and descriptions cannot be edited.
  grid.SetFocusCell(CCellID(2, 0));
  grid.SendMessage(WM_CHAR, 'x');
  wftest::DispatchPosted();
  EXPECT_EQ(Editor(), nullptr);
  EXPECT_EQ(grid.GetItemText(2, 0), "CF");
}

// A value the agents would not read back as it stands is refused as it is typed: the box names
// the option, the cell gets its old text back and the option keeps its value and source.
TEST_F(PropGridTest, ValuesThatCannotBeWrittenAreRefusedAtEntry) {
  ScriptedPlatform platform;
  const struct {
    const char* id;
    const char* typed;
    const char* message;
    const char* held;  // the option's text afterwards
  } cases[] = {
      {"LF", "C:\\logs]x", "The character ']' cannot be used in an option value.", ""},
      {"RM", "1e999", "Value of option 'RM' is not a finite number.", "2.000000"},
      {"LD", "10000", "Value of option 'LD' is longer than 4 characters, the most an agent reads.", "1"},
      {"RH", "3e9", nullptr, "3"},  // digits up to the "e": taken
  };
  for (const auto& c : cases) {
    if (c.message) platform.ExpectBox(IDOK, c.message);
    const int row = RowOf(c.id);
    TypeInto(row, 1, c.typed);
    EXPECT_EQ(grid.GetItemText(row, 1), c.message ? c.held : c.typed) << c.id;
    EXPECT_EQ(Narrow(set.TextById(c.id)), c.held) << c.id;
    EXPECT_EQ(set.Find(c.id)->source, c.message ? kDefault : kEditor) << c.id;
  }
  EXPECT_EQ(platform.Boxes().size(), 3u);
}

TEST(NarrowText, LowEightBits) {
  EXPECT_EQ(NarrowText(nullptr), "");
  EXPECT_EQ(NarrowText(L"a\x0141\x00e9"), "a\x41\xe9");
}

}  // namespace
