#include "logpane/LogPane.h"

#include <gtest/gtest.h>

#include "ScriptedPlatform.h"

#include <string>
#include <vector>

namespace {

// A hidden multi-line edit control inside a hidden parent, as the main window holds it.
class LogPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    edit_ = CreateWindowExA(0, "EDIT", "", WS_CHILD | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL, 0, 0,
                            400, 300, parent_, nullptr, nullptr, nullptr);
    ASSERT_NE(edit_, nullptr);
  }
  void TearDown() override {
    SetLogWindow(nullptr);
    DestroyWindow(parent_);
  }
  std::string Text() const {
    std::vector<char> text(GetWindowTextLengthA(edit_) + 1);
    GetWindowTextA(edit_, text.data(), static_cast<int>(text.size()));
    return text.data();
  }

  HWND parent_ = nullptr;
  HWND edit_ = nullptr;
};

TEST_F(LogPaneTest, LogLinesAppendWithLineEndsOnlyOnceTheWindowIsSet) {
  LogLine() << "before the window";
  EXPECT_EQ(Text(), "");

  SetLogWindow(edit_);
  LogLine() << "Revision " << 3 << ' ' << std::string("saved");
  LogLine();
  LogLine() << "last";
  EXPECT_EQ(Text(), "Revision 3 saved\r\n\r\nlast\r\n");
  EXPECT_EQ(SendMessageA(edit_, EM_GETLIMITTEXT, 0, 0), LogEditCtl::kLogLimit);
}

TEST_F(LogPaneTest, LastLinesOfTheLog) {
  EXPECT_EQ(LastLogLines(50), "");
  SetLogWindow(edit_);
  for (int i = 1; i <= 60; ++i) LogLine() << "line " << i;
  std::string expected;
  for (int i = 11; i <= 60; ++i) expected += "line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(LastLogLines(50), expected);
  LogEditCtl log;
  log.Attach(edit_);
  log.Append("open end");
  EXPECT_EQ(LastLogLines(2), "line 60\r\nopen end\r\n");
  EXPECT_EQ(LastLogLines(100).substr(0, 8), "line 1\r\n");
}

TEST_F(LogPaneTest, AppendGoesToTheEndWhateverIsSelected) {
  LogEditCtl log;
  log.Attach(edit_);
  EXPECT_EQ(log.Append("first line\r\n"), 12u);
  SendMessageA(edit_, EM_SETSEL, 0, 5);
  EXPECT_EQ(log.Append("second"), 6u);
  EXPECT_EQ(log.Append(""), 0u);
  EXPECT_EQ(log.Append(nullptr), 0u);
  EXPECT_EQ(Text(), "first line\r\nsecond");
  EXPECT_EQ(log.Detach(), edit_);
  EXPECT_EQ(log.Window(), nullptr);
  EXPECT_TRUE(IsWindow(edit_));

  // The limit request never goes below 1000.
  log.Attach(edit_);
  log.SetLimit(10);
  EXPECT_EQ(SendMessageA(edit_, EM_GETLIMITTEXT, 0, 0), 1000);
}

TEST_F(LogPaneTest, TrimDropsTheOldestFifthAndKeepsTheNewestEntryWhole) {
  LogEditCtl log;
  log.Attach(edit_);
  // 29490 characters: one short of nine tenths of the limit.
  std::string filler;
  for (int i = 0; filler.size() < 29490; ++i) filler += "line " + std::to_string(i % 10) + "\r\n";
  filler.resize(29490);
  log.Append(filler.c_str());
  ASSERT_EQ(Text().size(), 29490u);

  // Reaching 29491 drops the oldest 6552 characters; the new text stays whole at the end.
  log.Append("X");
  EXPECT_EQ(Text(), filler.substr(6552) + "X");

  // An entry that would pass the limit makes room for itself first.
  const std::string entry(20000, 'e');
  log.Append((entry + "END").c_str());
  const std::string after = Text();
  EXPECT_LE(after.size(), static_cast<size_t>(LogEditCtl::kLogLimit));
  EXPECT_EQ(after.substr(after.size() - 20003), entry + "END");
  DWORD start = 0, end = 0;
  SendMessageA(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(end, after.size());

  // An entry longer than the limit keeps its last part.
  std::string huge(40000, 'h');
  huge += "TAIL";
  log.Append(huge.c_str());
  const std::string kept = Text();
  EXPECT_EQ(kept.size(), static_cast<size_t>(LogEditCtl::kLogLimit));
  EXPECT_EQ(kept, huge.substr(huge.size() - LogEditCtl::kLogLimit));
}

TEST_F(LogPaneTest, HexDumpPadsTheHexColumn) {
  LogEditCtl log;
  log.Attach(edit_);
  unsigned char bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>('A' + i);
  bytes[1] = '\r';
  bytes[2] = 0x7F;
  bytes[3] = 0xE9;
  log.HexDump(bytes, sizeof(bytes));
  const std::string first =
      "41 0D 7F E9 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50       A...EFGHIJKLMNOP\r\n";
  const std::string second = std::string("51 52 53 54 ") + std::string(39, ' ') + "   QRST\r\n";
  EXPECT_EQ(Text(), first + second);
}

TEST_F(LogPaneTest, FindSelectsMatchesWithAndWithoutCase) {
  LogEditCtl log;
  log.Attach(edit_);
  log.Append("Saving package\r\nsaved PACKAGE");
  EXPECT_EQ(log.Find("package", true, 0), 7);
  DWORD start = 0, end = 0;
  SendMessageA(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 7u);
  EXPECT_EQ(end, 14u);
  EXPECT_EQ(log.Find("package", true, -1), -1);   // from the end of the selection: only PACKAGE is left
  EXPECT_EQ(log.Find("package", false, -1), 22);  // ends exactly at the end of the text
  EXPECT_EQ(log.Find("", false, 0), -1);
  EXPECT_EQ(log.Find("x", false, 29), -1);
}

TEST_F(LogPaneTest, ReplaceCurrentLineAndCopy) {
  LogEditCtl log;
  log.Attach(edit_);
  log.Append("one\r\ntwo\r\nthree");
  SendMessageA(edit_, EM_SETSEL, 6, 6);  // caret inside "two"
  log.ReplaceCurrentLine("2");
  EXPECT_EQ(Text(), "one\r\n2");

  SendMessageA(edit_, EM_SETSEL, 0, 3);
  EXPECT_EQ(log.CopyToClipboardText(), "one");
}

// Drives the find dialog from its owner: the modal loop dispatches the posted messages.
constexpr UINT kTypeAndOk = WM_APP + 1;
constexpr UINT kCancel = WM_APP + 2;
std::string g_typed;
LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND dialog = FindWindowA(nullptr, "Find");
  if (message == kTypeAndOk) {
    SetDlgItemTextA(dialog, 1005, g_typed.c_str());
    CheckDlgButton(dialog, 1003, BST_CHECKED);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    return 0;
  }
  if (message == kCancel) {
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(LogPaneTest, FindDialogSearchesFromTheSelection) {
  SetWindowLongPtrA(parent_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OwnerProc));
  LogEditCtl log;
  log.Attach(edit_);
  log.Append("alpha Beta beta");
  SendMessageA(edit_, EM_SETSEL, 0, 0);
  g_typed = "beta";
  PostMessageA(parent_, kTypeAndOk, 0, 0);
  EXPECT_EQ(log.ShowFindDialog(nullptr, "Beta", false), IDOK);
  DWORD start = 0, end = 0;
  SendMessageA(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 11u);  // match case was ticked

  // No match: the notice, and the dialog stays open until cancelled.
  ScriptedPlatform platform;
  platform.ExpectBox(IDOK, "Text not found");
  g_typed = "gamma";
  PostMessageA(parent_, kTypeAndOk, 0, 0);
  PostMessageA(parent_, kCancel, 0, 0);
  EXPECT_EQ(log.ShowFindDialog(nullptr, nullptr, false), IDCANCEL);
  ASSERT_EQ(platform.Boxes().size(), 1u);
  EXPECT_EQ(platform.Boxes()[0].caption, "Find Text");
}

}  // namespace
