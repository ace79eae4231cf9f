// In-place editing: its start, keys, end and the owner's check; continuation into
// the next cell; structural changes while editing; title tips; and a grid in a
// dialog driven through the dialog's message loop.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GridCtrl.h"
#include "GridTestSupport.h"
#include "cells/InPlaceEdit.h"

namespace {

std::string TextOf(HWND wnd) {
  char text[256] = {};
  GetWindowTextA(wnd, text, sizeof(text));
  return text;
}

class EditTest : public OwnedGridTest {
 protected:
  void SetUp() override {
    OwnedGridTest::SetUp();
    if (!HasFatalFailure()) Fill();
  }
  void Fill() {
    ASSERT_TRUE(MakeGrid(grid, owner, 6, 4, 60, 20));
    for (int row = 1; row < 6; ++row)
      for (int column = 1; column < 4; ++column) grid.SetItemText(row, column, "old");
    grid.SetModified(FALSE);
    grid.SetFocus();
  }

  HWND Editor() const { return ::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId); }

  // Starts an edit of the cell by typing a character on it.
  void TypeOn(CCellID cell, UINT ch) {
    grid.SetFocusCell(cell);
    grid.SendMessage(WM_CHAR, ch);
    wftest::DispatchPosted();
  }
  void Type(const char* text) {
    for (; *text; ++text) ::SendMessageA(Editor(), WM_CHAR, static_cast<BYTE>(*text), 0);
  }
  void Press(UINT key) {
    ::SendMessageA(Editor(), WM_KEYDOWN, key, 0);
    wftest::DispatchPosted();
  }
  void End(UINT ch) {
    ::SendMessageA(Editor(), WM_CHAR, ch, 0);
    wftest::DispatchPosted();
  }
};

TEST_F(EditTest, TypingStartsAnEditThatEnterCommits) {
  TypeOn({1, 1}, 'n');
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(TextOf(Editor()), "n");
  EXPECT_TRUE(grid.IsItemEditing(1, 1));
  EXPECT_EQ(grid.GetEditingCell(), CCellID(1, 1));
  EXPECT_EQ(::SendMessageA(Editor(), WM_GETDLGCODE, 0, 0), DLGC_WANTALLKEYS);
  Type("ew");
  End(VK_RETURN);
  EXPECT_EQ(Editor(), nullptr);
  EXPECT_EQ(grid.GetItemText(1, 1), "new");
  EXPECT_TRUE(grid.GetModified(1, 1));
  EXPECT_FALSE(grid.IsItemEditing(1, 1));
  EXPECT_EQ(grid.GetEditingCell(), CCellID());
  const std::vector<Notification> expected = {{GridCode::BeginEdit, 1, 1}, {GridCode::EndEdit, 1, 1}};
  EXPECT_EQ(owner.notifications, expected);
  // The owner is asked with the new text already in the cell.
  ASSERT_EQ(owner.endEditTexts.size(), 1u);
  EXPECT_EQ(owner.endEditTexts[0], "new");
  EXPECT_EQ(grid.GetFocusCell(), CCellID(1, 1));
}

// While it lives, edit windows made on this thread fail their creation: WM_CREATE
// answers -1, as it does when a handler of the layer throws.
class EditCreationRefusal {
 public:
  EditCreationRefusal() : hook_(SetWindowsHookExA(WH_CBT, &OnCbt, nullptr, GetCurrentThreadId())) {}
  ~EditCreationRefusal() { UnhookWindowsHookEx(hook_); }
  EditCreationRefusal(const EditCreationRefusal&) = delete;
  EditCreationRefusal& operator=(const EditCreationRefusal&) = delete;

 private:
  static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
    char className[16] = {};
    const HWND wnd = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_CREATEWND && GetClassNameA(wnd, className, sizeof(className)) &&
        lstrcmpiA(className, "Edit") == 0)
      inner_ = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RefuseCreate)));
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }
  static LRESULT CALLBACK RefuseCreate(HWND wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) return -1;
    return CallWindowProcA(inner_, wnd, message, wParam, lParam);
  }

  static inline WNDPROC inner_ = nullptr;
  HHOOK hook_;
};

TEST_F(EditTest, AnEditorThatCannotBeCreatedLeavesNeitherCellNorGridEditing) {
  {
    EditCreationRefusal refusal;
    TypeOn({2, 2}, 'x');
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_FALSE(grid.IsItemEditing(2, 2));
    EXPECT_EQ(grid.GetEditingCell(), CCellID());
    grid.SendMessage(WM_KEYDOWN, VK_F2);
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_FALSE(grid.IsItemEditing(2, 2));
  }
  EXPECT_EQ(grid.GetItemText(2, 2), "old");
  // Once editors can be made again the same cell edits as usual.
  TypeOn({2, 2}, 'n');
  ASSERT_NE(Editor(), nullptr);
  EXPECT_TRUE(grid.IsItemEditing(2, 2));
  End(VK_RETURN);
  EXPECT_EQ(grid.GetItemText(2, 2), "n");
  EXPECT_EQ(owner.Codes(), std::vector<int>({GridCode::BeginEdit, GridCode::BeginEdit, GridCode::BeginEdit,
                                             GridCode::EndEdit}));
}

TEST_F(EditTest, FirstCharactersDecideTheStartingText) {
  struct Case {
    UINT ch;
    const char* text;
  };
  const Case cases[] = {{'x', "x"}, {VK_BACK, "ol"}, {VK_SPACE, "old"}, {VK_RETURN, "old"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ch);
    grid.SetFocusCell(-1, -1);
    TypeOn({2, 2}, c.ch);
    ASSERT_NE(Editor(), nullptr);
    EXPECT_EQ(TextOf(Editor()), c.text);
    End(VK_ESCAPE);
  }
  // Escape, Tab and Control combinations start nothing.
  TypeOn({2, 2}, VK_ESCAPE);
  EXPECT_EQ(Editor(), nullptr);
  TypeOn({2, 2}, VK_TAB);
  EXPECT_EQ(Editor(), nullptr);
  {
    wftest::KeyStateScope control({.ctrl = true});
    TypeOn({2, 2}, 'c');
    EXPECT_EQ(Editor(), nullptr);
  }
  // F2 keeps the text with the caret at its end.
  grid.SendMessage(WM_KEYDOWN, VK_F2);
  ASSERT_NE(Editor(), nullptr);
  DWORD start = 0;
  DWORD end = 0;
  ::SendMessageA(Editor(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(start, 3u);
  EXPECT_EQ(end, 3u);
}

TEST_F(EditTest, EscapeAndUnchangedTextsTellTheOwnerNothing) {
  TypeOn({1, 1}, 'x');
  End(VK_ESCAPE);
  EXPECT_EQ(grid.GetItemText(1, 1), "old");
  grid.SendMessage(WM_KEYDOWN, VK_F2);
  End(VK_RETURN);
  EXPECT_EQ(owner.Codes(), std::vector<int>({GridCode::BeginEdit, GridCode::BeginEdit}));
  EXPECT_FALSE(grid.GetModified(1, 1));
  EXPECT_FALSE(grid.GetModified());
}

TEST_F(EditTest, TheOwnerMayRefuseTheStartOrTheNewText) {
  owner.answers[GridCode::BeginEdit] = -1;
  TypeOn({1, 1}, 'x');
  EXPECT_EQ(Editor(), nullptr);
  EXPECT_FALSE(grid.IsItemEditing(1, 1));

  owner.answers[GridCode::BeginEdit] = 0;
  owner.answers[GridCode::EndEdit] = -1;
  TypeOn({1, 1}, 'x');
  End(VK_RETURN);
  EXPECT_EQ(grid.GetItemText(1, 1), "old");
  EXPECT_EQ(owner.endEditTexts, std::vector<CString>({CString("x")}));
  // Both stores went through the text setter: the cell stays marked.
  EXPECT_TRUE(grid.GetModified(1, 1));
}

TEST_F(EditTest, TabAndArrowsContinueInTheNextCell) {
  TypeOn({1, 3}, 'a');
  End(VK_TAB);
  EXPECT_EQ(grid.GetItemText(1, 3), "a");
  EXPECT_EQ(grid.GetFocusCell(), CCellID(2, 1));
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(grid.GetEditingCell(), CCellID(2, 1));
  EXPECT_EQ(TextOf(Editor()), "old");
  Type("b");
  Press(VK_DOWN);
  EXPECT_EQ(grid.GetItemText(2, 1), "b");
  EXPECT_EQ(grid.GetEditingCell(), CCellID(3, 1));
  Press(VK_RIGHT);
  EXPECT_EQ(grid.GetEditingCell(), CCellID(3, 2));
  End(VK_ESCAPE);
  EXPECT_EQ(Editor(), nullptr);

  // An edit begun with the mouse keeps the arrows for the caret, unless Control is held.
  grid.SendMessage(WM_KEYDOWN, VK_F2);
  Press(VK_LEFT);
  EXPECT_EQ(grid.GetEditingCell(), CCellID(3, 2));
  ASSERT_NE(Editor(), nullptr);
  {
    wftest::KeyStateScope control({.ctrl = true});
    Press(VK_DOWN);
  }
  EXPECT_EQ(grid.GetEditingCell(), CCellID(4, 2));
  End(VK_ESCAPE);
}

TEST_F(EditTest, AClickOnTheFocusCellsTextStartsAnEditWithTheCaretAtTheEnd) {
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(90, 30));
  grid.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(90, 30));
  EXPECT_EQ(Editor(), nullptr);
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(90, 30));
  grid.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(90, 30));
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(grid.GetEditingCell(), CCellID(1, 1));
  End(VK_ESCAPE);
  // A double click on a cell edits it too; read-only cells and a read-only grid do not.
  grid.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(150, 50));
  EXPECT_EQ(grid.GetEditingCell(), CCellID(2, 2));
  End(VK_ESCAPE);
  grid.SetItemState(3, 2, grid.GetItemState(3, 2) | GridState::ReadOnly);
  grid.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(150, 70));
  EXPECT_EQ(Editor(), nullptr);
  grid.SetEditable(FALSE);
  grid.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(150, 90));
  EXPECT_EQ(Editor(), nullptr);
}

TEST_F(EditTest, TheEditorGrowsWithItsTextUpToTheGridsEdge) {
  TypeOn({1, 1}, 'w');
  CRect before;
  GetWindowRect(Editor(), &before);
  Type("ide enough to outgrow the cell");
  CRect after;
  GetWindowRect(Editor(), &after);
  EXPECT_GT(after.Width(), before.Width());
  Type(" and then a great deal more text than the whole grid can show at once");
  GetWindowRect(Editor(), &after);
  CRect client = ClientOf(grid);
  grid.ClientToScreen(&client);
  EXPECT_EQ(after.right, client.right);
  End(VK_ESCAPE);
}

TEST_F(EditTest, StructuralChangesEndTheEditFirstAndKeepTheText) {
  struct Change {
    const char* name;
    std::function<void()> apply;
    CCellID textNowAt;
  };
  const Change changes[] = {
      {"insert row", [&] { grid.InsertRow("", 1); }, {3, 2}},
      {"insert column", [&] { grid.InsertColumn("", DT_LEFT, 1); }, {2, 3}},
      {"delete row", [&] { grid.DeleteRow(1); }, {1, 2}},
      {"row count", [&] { grid.SetRowCount(7); }, {2, 2}},
      {"fixed rows", [&] { grid.SetFixedRowCount(0); }, {2, 2}},
      {"focus moved, then stop", [&] {
         grid.SetFocusCell(4, 3);
         grid.StopEditing();
       },
       {2, 2}},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    TypeOn({2, 2}, 'k');
    Type("ept");
    ASSERT_NE(Editor(), nullptr);
    owner.notifications.clear();
    change.apply();
    wftest::DispatchPosted();
    EXPECT_EQ(Editor(), nullptr);
    EXPECT_EQ(grid.GetEditingCell(), CCellID());
    EXPECT_EQ(grid.GetItemText(change.textNowAt.row, change.textNowAt.col), "kept");
    ASSERT_FALSE(owner.notifications.empty());
    EXPECT_EQ(owner.notifications[0], (Notification{GridCode::EndEdit, 2, 2}));
    // Back to the starting shape.
    grid.DeleteAllItems();
    Fill();
  }
  // Deleting everything, virtual mode and the destructor end an open edit too.
  TypeOn({2, 2}, 'x');
  grid.DeleteAllItems();
  EXPECT_EQ(Editor(), nullptr);
  Fill();
  TypeOn({2, 2}, 'x');
  grid.SetVirtualMode(TRUE);
  EXPECT_EQ(Editor(), nullptr);
  auto other = std::make_unique<CGridCtrl>(3, 3, 1, 1);
  ASSERT_TRUE(other->Create(CRect(0, 0, 200, 100), &owner, 101, WS_CHILD | WS_VISIBLE));
  other->SetFocusCell(1, 1);
  other->SetFocus();
  other->SendMessage(WM_CHAR, 'y');
  wftest::DispatchPosted();
  ASSERT_NE(::GetDlgItem(other->GetSafeHwnd(), CGridCtrl::kEditId), nullptr);
  other.reset();
  wftest::DispatchPosted();
}

TEST_F(EditTest, TitleTipsShowOnlyTextsThatDoNotFit) {
  grid.SetItemText(2, 1, "short");
  grid.SetItemText(3, 1, "a text much too long for a sixty pixel column");
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(90, 50));
  CTitleTip& tip = grid.GetTitleTip();
  EXPECT_FALSE(tip.GetSafeHwnd() && tip.IsWindowVisible());
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(90, 70));
  ASSERT_NE(tip.GetSafeHwnd(), nullptr);
  EXPECT_TRUE(tip.IsWindowVisible());
  CRect rect;
  tip.GetWindowRect(&rect);
  CRect cell;
  grid.CellRectangle(3, 1, &cell);
  grid.ClientToScreen(&cell);
  EXPECT_EQ(rect.left, cell.left);
  EXPECT_GT(rect.Width(), cell.Width());
  EXPECT_EQ(CWnd::GetCapture(), &tip);
  // Leaving the cell hides it and passes the move on to the grid.
  CPoint away(90, 110);
  grid.ClientToScreen(&away);
  tip.ScreenToClient(&away);
  tip.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(away.x, away.y));
  EXPECT_FALSE(tip.IsWindowVisible());
  EXPECT_NE(CWnd::GetCapture(), &tip);
  // Off: nothing shows.
  grid.EnableTitleTips(FALSE);
  grid.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(90, 70));
  EXPECT_FALSE(tip.IsWindowVisible());
}

// A grid that takes its own end-of-edit notices back from its dialog, as the
// tool's property grid does.
class ReflectingGrid : public CGridCtrl {
 public:
  std::vector<CString> ended;
  LRESULT answer = 0;

 protected:
  void OnEndLabelEdit(NMHDR* header, LRESULT* result) {
    const auto* notify = reinterpret_cast<const GridNotify*>(header);
    ended.push_back(GetItemText(notify->row, notify->column));
    *result = answer;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ReflectingGrid, CGridCtrl)
  ON_NOTIFY_REFLECT(GridCode::EndEdit, OnEndLabelEdit)
END_MESSAGE_MAP()

TEST(GridInADialog, KeystrokesThroughTheDialogLoopEditAndTheDialogReflectsTheEnd) {
  ReflectingGrid grid;
  const std::vector<WORD> dialogTemplate = GridDialogTemplate(1069);
  const HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()), nullptr,
                                                 [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  ASSERT_NE(dialog, nullptr);
  CWnd dialogWnd;
  ASSERT_TRUE(dialogWnd.SubclassWindow(dialog));
  ASSERT_TRUE(grid.SubclassDlgItem(1069, &dialogWnd));

  // Filled as the property grid fills itself: a caption row, read-only names, values.
  grid.SetRowCount(1);
  grid.SetEditable(TRUE);
  grid.SetFixedRowCount(1);
  grid.SetColumnCount(2);
  grid.SetItemText(0, 0, "Name");
  grid.SetItemText(0, 1, "Value");
  for (int row = 1; row <= 2; ++row) {
    grid.SetRowCount(row + 1);
    grid.SetItemState(row, 0, grid.GetItemState(row, 0) | GridState::ReadOnly);
    grid.SetItemText(row, 0, row == 1 ? "RP" : "RH");
    grid.SetItemText(row, 1, row == 1 ? "139" : "60000");
  }
  for (int column = 0; column < 2; ++column) grid.SetColumnWidth(column, 80);
  for (int row = 0; row < 3; ++row) grid.SetRowHeight(row, 20);

  auto pump = [&] {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (CWnd::WalkPreTranslateTree(dialog, &msg)) continue;
      if (IsDialogMessageA(dialog, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  };
  auto typeChar = [&](UINT ch) {
    ::PostMessageA(::GetFocus(), WM_CHAR, ch, 0);
    pump();
  };
  // A key press: the dialog loop translates it into its character for the editor.
  auto typeKey = [&](UINT key) {
    ::PostMessageA(::GetFocus(), WM_KEYDOWN, key, 0);
    pump();
  };

  // A click on the value, then typing: the first character replaces the text.
  grid.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(120, 30));
  grid.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(120, 30));
  pump();
  ASSERT_EQ(::GetFocus(), grid.GetSafeHwnd());
  typeChar('4');
  const HWND editor = ::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId);
  ASSERT_NE(editor, nullptr);
  ASSERT_EQ(::GetFocus(), editor);
  typeChar('4');
  typeChar('3');
  typeKey(VK_RETURN);
  EXPECT_EQ(::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId), nullptr);
  EXPECT_EQ(grid.ended, std::vector<CString>({CString("443")}));
  EXPECT_EQ(grid.GetItemText(1, 1), "443");
  EXPECT_TRUE(grid.GetModified(1, 1));

  // Tab ends the edit and goes on at the start of the next row, here a read-only
  // name, where no edit opens; a refusal restores the text.
  grid.answer = -1;
  typeChar('9');
  typeKey(VK_TAB);
  EXPECT_EQ(grid.GetItemText(1, 1), "443");
  EXPECT_EQ(grid.ended.size(), 2u);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(2, 0));
  EXPECT_EQ(grid.GetEditingCell(), CCellID());
  // Right, then typing, edits the value; Escape ends it unchanged.
  typeKey(VK_RIGHT);
  typeChar('1');
  EXPECT_EQ(grid.GetEditingCell(), CCellID(2, 1));
  typeKey(VK_ESCAPE);
  EXPECT_EQ(grid.GetEditingCell(), CCellID());
  EXPECT_EQ(grid.GetItemText(2, 1), "60000");
  EXPECT_EQ(grid.ended.size(), 2u);
  // The names cannot be edited.
  grid.SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(40, 30));
  EXPECT_EQ(::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId), nullptr);

  grid.DestroyWindow();
  dialogWnd.DestroyWindow();
}

}  // namespace
