// Copy, cut and paste of cell texts, and drag and drop between grids.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "GridCtrl.h"
#include "GridTestSupport.h"

namespace {

// The bytes of a global block, all of them.
std::string BlockBytes(HGLOBAL block) {
  const auto* bytes = static_cast<const char*>(GlobalLock(block));
  std::string text(bytes, GlobalSize(block));
  GlobalUnlock(block);
  return text;
}

std::string SourceBytes(COleDataSource& source) {
  COleDataObject data;
  data.Attach(source.GetInterface(), FALSE);
  HGLOBAL block = data.GetGlobalData(CF_TEXT);
  if (!block) return "<none>";
  std::string text = BlockBytes(block);
  GlobalFree(block);
  return text;
}

std::string ClipboardText() {
  if (!OpenClipboard(nullptr)) return "<closed>";
  std::string text = "<none>";
  if (HANDLE block = GetClipboardData(CF_TEXT)) text = static_cast<const char*>(GlobalLock(block));
  if (HANDLE block = GetClipboardData(CF_TEXT)) GlobalUnlock(block);
  CloseClipboard();
  return text;
}

HGLOBAL TextBlock(const std::string& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
  GlobalUnlock(block);
  return block;
}

// A data source offering the given bytes as text.
std::unique_ptr<COleDataSource> TextSource(const std::string& bytes) {
  auto source = std::make_unique<COleDataSource>();
  source->CacheGlobalData(CF_TEXT, TextBlock(bytes));
  return source;
}

// A 5 x 4 grid (one fixed row and column) whose cells hold their coordinates.
class ClipboardTest : public OwnedGridTest {
 protected:
  void SetUp() override {
    OwnedGridTest::SetUp();
    if (!HasFatalFailure()) Fill();
  }

  void Fill() {
    ASSERT_TRUE(MakeGrid(grid, owner, 5, 4, 50, 20));
    for (int row = 0; row < 5; ++row)
      for (int column = 0; column < 4; ++column) grid.SetItemTextFormatted(row, column, "%d%d", row, column);
  }

  void Paste(CCellID cell, const std::string& bytes, BOOL select = TRUE) {
    const auto source = TextSource(bytes);
    COleDataObject data;
    data.Attach(source->GetInterface(), FALSE);
    ASSERT_TRUE(grid.PasteTextAtCell(cell, &data, select));
  }
};

TEST_F(ClipboardTest, CopiedTextHasTabsBetweenColumnsAndLineEndsBetweenRows) {
  grid.SelectRange(1, 1, 2, 3);
  std::unique_ptr<COleDataSource> source(grid.MakeSelectionDataSource());
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(SourceBytes(*source), std::string("11\t12\t13\r\n21\t22\t23\0", 19));

  // An unselected cell inside the bounds gives an empty field; a hidden column none.
  grid.SetItemState(1, 2, grid.GetItemState(1, 2) & ~GridState::Selected);
  grid.SetColumnWidth(3, 0);
  source.reset(grid.MakeSelectionDataSource());
  EXPECT_EQ(SourceBytes(*source), std::string("11\t\t\r\n21\t22\t\0", 13));

  grid.ClearSelection();
  EXPECT_EQ(grid.MakeSelectionDataSource(), nullptr);
}

TEST_F(ClipboardTest, CopyAndCutGoThroughTheClipboard) {
  // The keys work while a cell has the focus.
  grid.SetFocusCell(3, 2);
  grid.SelectRange(3, 2, 4, 2);
  wftest::KeyDown(grid.GetSafeHwnd(), 'C', {.ctrl = true});
  EXPECT_EQ(ClipboardText(), "32\r\n42");
  wftest::KeyDown(grid.GetSafeHwnd(), 'X', {.ctrl = true});
  EXPECT_EQ(ClipboardText(), "32\r\n42");
  EXPECT_EQ(grid.GetItemText(3, 2), "");
  EXPECT_EQ(grid.GetItemText(4, 2), "");
  EXPECT_EQ(owner.Codes(), std::vector<int>({GridCode::BeginEdit, GridCode::EndEdit, GridCode::BeginEdit,
                                             GridCode::EndEdit}));
}

TEST_F(ClipboardTest, ACutTheClipboardRefusesKeepsTheTexts) {
  grid.SelectRange(1, 1, 1, 1);
  grid.OnEditCopy();
  grid.SelectRange(3, 2, 4, 2);
  // Another window holds the clipboard open.
  ASSERT_TRUE(OpenClipboard(owner.GetSafeHwnd()));
  grid.OnEditCut();
  CloseClipboard();
  EXPECT_EQ(grid.GetItemText(3, 2), "32");
  EXPECT_EQ(grid.GetItemText(4, 2), "42");
  EXPECT_EQ(ClipboardText(), "11");
  EXPECT_EQ(owner.Codes(), std::vector<int>());
}

TEST_F(ClipboardTest, CutWithoutASelectedCellChangesNothing) {
  grid.SelectRange(1, 1, 1, 1);
  grid.OnEditCopy();
  grid.ClearSelection();
  grid.SetFocusCell(2, 2);
  ASSERT_EQ(grid.SelectedCellCount(), 0);
  grid.OnEditCut();
  EXPECT_EQ(ClipboardText(), "11");
  EXPECT_EQ(grid.GetItemText(2, 2), "22");
  // Nor does cut on a grid that cannot be edited.
  grid.SelectRange(3, 3, 3, 3);
  grid.SetEditable(FALSE);
  grid.OnEditCut();
  EXPECT_EQ(ClipboardText(), "11");
  EXPECT_EQ(grid.GetItemText(3, 3), "33");
}

TEST_F(ClipboardTest, PastedTextSpreadsFromTheTargetCell) {
  struct Case {
    const char* name;
    std::string bytes;
    CCellID at;
    std::vector<std::pair<CCellID, const char*>> cells;
  };
  const Case cases[] = {
      {"commas and tabs", "a,b\r\nc\td", {1, 1}, {{{1, 1}, "a"}, {{1, 2}, "b"}, {{2, 1}, "c"}, {{2, 2}, "d"}}},
      {"a final line break adds no line", "p\r\nq\r\n", {1, 1}, {{{1, 1}, "p"}, {{2, 1}, "q"}, {{3, 1}, "31"}}},
      {"a final tab is an empty field", "p\t", {1, 1}, {{{1, 1}, "p"}, {{1, 2}, ""}, {{1, 3}, "13"}}},
      {"spaces trimmed", "  x  , y \r", {2, 2}, {{{2, 2}, "x"}, {{2, 3}, "y"}}},
      {"a comma then a tab is an empty field", "x,\ty", {2, 1}, {{{2, 1}, "x"}, {{2, 2}, ""}, {{2, 3}, "y"}}},
      {"outside the grid dropped", "1\t2\t3\n4\t5\t6\n7", {4, 2}, {{{4, 2}, "1"}, {{4, 3}, "2"}}},
      {"read up to the end of the block", "abc", {3, 1}, {{{3, 1}, "abc"}}},
      {"stopping at a NUL", std::string("ab\0cd", 5), {3, 2}, {{{3, 2}, "ab"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fill();
    Paste(c.at, c.bytes);
    for (const auto& [cell, text] : c.cells) EXPECT_EQ(grid.GetItemText(cell.row, cell.col), text) << cell.row << "," << cell.col;
  }
  // The pasted range is selected afterwards.
  EXPECT_EQ(grid.SelectionBounds(), CellRange(3, 2, 3, 2));
}

TEST_F(ClipboardTest, PastingRespectsReadOnlyCellsHiddenColumnsAndTheOwner) {
  grid.SetItemState(1, 2, grid.GetItemState(1, 2) | GridState::ReadOnly);
  grid.SetColumnWidth(3, 0);
  grid.SetRowHeight(2, 0);
  Paste({1, 1}, "a\tb\tc\nd");
  EXPECT_EQ(grid.GetItemText(1, 1), "a");
  EXPECT_EQ(grid.GetItemText(1, 2), "12");  // read-only
  EXPECT_EQ(grid.GetItemText(1, 3), "13");  // hidden: skipped, the text goes on to the next column
  EXPECT_EQ(grid.GetItemText(2, 1), "21");  // hidden row skipped
  EXPECT_EQ(grid.GetItemText(3, 1), "d");

  owner.answers[GridCode::EndEdit] = -1;
  Paste({4, 1}, "refused");
  EXPECT_EQ(grid.GetItemText(4, 1), "41");
  owner.answers[GridCode::BeginEdit] = -1;
  Paste({4, 2}, "refused");
  EXPECT_EQ(grid.GetItemText(4, 2), "42");

  // A data object without text, and a target that cannot be edited, paste nothing.
  COleDataSource empty;
  COleDataObject data;
  data.Attach(empty.GetInterface(), FALSE);
  EXPECT_FALSE(grid.PasteTextAtCell(CCellID(1, 1), &data, TRUE));
  EXPECT_FALSE(grid.PasteTextAtCell(CCellID(1, 2), &data, TRUE));
}

TEST_F(ClipboardTest, PasteCommandTargetsTheSelectionOrTheFocusAndTheOpenEditor) {
  TextSource(std::string("pasted", 7))->SetClipboard();
  grid.SetFocusCell(2, 2);
  grid.SelectRange(2, 2, 3, 3);
  wftest::KeyDown(grid.GetSafeHwnd(), 'V', {.ctrl = true});
  EXPECT_EQ(grid.GetItemText(2, 2), "pasted");
  grid.ClearSelection();
  grid.SetFocusCell(4, 1);
  wftest::KeyDown(grid.GetSafeHwnd(), VK_INSERT, {.shift = true});
  EXPECT_EQ(grid.GetItemText(4, 1), "pasted");

  // With an editor open on the target, the text goes into the editor.
  grid.ClearSelection();
  grid.SetFocusCell(3, 3);
  grid.SetFocus();
  grid.SendMessage(WM_KEYDOWN, VK_F2);
  const HWND editor = ::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId);
  ASSERT_NE(editor, nullptr);
  grid.OnEditPaste();
  char text[64] = {};
  GetWindowTextA(editor, text, sizeof(text));
  EXPECT_STREQ(text, "33pasted");
  EXPECT_EQ(grid.GetItemText(3, 3), "33");
  ::SendMessageA(editor, WM_CHAR, VK_ESCAPE, 0);
}

TEST_F(ClipboardTest, DeleteClearsTheSelectedTexts) {
  grid.SelectRange(1, 1, 2, 1);
  grid.SetFocusCell(1, 1);
  wftest::KeyDown(grid.GetSafeHwnd(), VK_DELETE);
  EXPECT_EQ(grid.GetItemText(1, 1), "");
  EXPECT_EQ(grid.GetItemText(2, 1), "");
  EXPECT_EQ(grid.GetItemText(3, 1), "31");
  EXPECT_EQ(grid.GetFocusCell(), CCellID(1, 1));
  grid.ClearCellTexts(CellRange(3, 2, 4, 3));
  EXPECT_EQ(grid.GetItemText(4, 3), "");
}

TEST_F(ClipboardTest, CopiedTextOutlivesTheGrid) {
  auto other = std::make_unique<CGridCtrl>(2, 2, 0, 0);
  ASSERT_TRUE(other->Create(CRect(0, 0, 100, 100), &owner, 101, WS_CHILD | WS_VISIBLE));
  other->SetItemText(1, 1, "kept");
  other->SelectRange(1, 1, 1, 1);
  other->OnEditCopy();
  other.reset();
  EXPECT_EQ(ClipboardText(), "kept");
}

TEST_F(ClipboardTest, DroppingTextHighlightsAndFillsTheCellsUnderThePoint) {
  EXPECT_TRUE(grid.GetDropTarget().IsRegistered());
  CGridCtrl source(3, 3, 0, 0);
  source.SetItemText(0, 0, "dragged");
  source.SetItemText(1, 0, "too");
  source.SelectRange(0, 0, 1, 0);
  std::unique_ptr<COleDataSource> offered(source.MakeSelectionDataSource());
  COleDataObject data;
  data.Attach(offered->GetInterface(), FALSE);

  // Not allowed: nothing.
  EXPECT_EQ(grid.OnDragEnter(&data, 0, CPoint(75, 50)), DROPEFFECT_NONE);
  grid.SetDragAndDrop(TRUE);
  EXPECT_EQ(grid.OnDragEnter(&data, 0, CPoint(75, 50)), DROPEFFECT_MOVE);
  EXPECT_TRUE(grid.GetItemState(2, 1) & GridState::DropHighlighted);
  EXPECT_EQ(grid.OnDragOver(&data, MK_CONTROL, CPoint(125, 70)), DROPEFFECT_COPY);
  EXPECT_FALSE(grid.GetItemState(2, 1) & GridState::DropHighlighted);
  EXPECT_TRUE(grid.GetItemState(3, 2) & GridState::DropHighlighted);
  // Over a read-only cell the highlight stays where it was; outside the cells it goes.
  grid.SetItemState(1, 3, grid.GetItemState(1, 3) | GridState::ReadOnly);
  EXPECT_EQ(grid.OnDragOver(&data, 0, CPoint(175, 30)), DROPEFFECT_NONE);
  EXPECT_TRUE(grid.GetItemState(3, 2) & GridState::DropHighlighted);
  EXPECT_EQ(grid.OnDragOver(&data, 0, CPoint(290, 190)), DROPEFFECT_NONE);
  EXPECT_FALSE(grid.GetItemState(3, 2) & GridState::DropHighlighted);
  EXPECT_EQ(grid.GetLastDragOverCell(), CCellID());

  EXPECT_EQ(grid.OnDragOver(&data, 0, CPoint(125, 70)), DROPEFFECT_MOVE);
  EXPECT_TRUE(grid.OnDrop(&data, DROPEFFECT_MOVE, CPoint(125, 70)));
  EXPECT_EQ(grid.GetItemText(3, 2), "dragged");
  EXPECT_EQ(grid.GetItemText(4, 2), "too");
  EXPECT_FALSE(grid.GetItemState(3, 2) & GridState::DropHighlighted);
  EXPECT_EQ(grid.SelectedCellCount(), 0);

  // The drop target hands the events of its own grid over, and refuses other windows.
  EXPECT_EQ(grid.GetDropTarget().OnDragEnter(&grid, &data, 0, CPoint(75, 30)), DROPEFFECT_MOVE);
  EXPECT_EQ(grid.GetDropTarget().OnDragEnter(&owner, &data, 0, CPoint(75, 30)), DROPEFFECT_NONE);
  EXPECT_EQ(grid.GetDropTarget().OnDragScroll(&grid, MK_CONTROL, CPoint(75, 30)), DROPEFFECT_COPY);
  grid.GetDropTarget().OnDragLeave(&grid);
  EXPECT_FALSE(grid.GetItemState(1, 1) & GridState::DropHighlighted);
}

TEST_F(ClipboardTest, TheDragImageIsTheFocusCell) {
  grid.SetFocusCell(2, 2);
  CPoint hotSpot(5, 5);
  std::unique_ptr<CImageList> image(grid.CreateDragImage(&hotSpot));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->GetImageCount(), 1);
  EXPECT_EQ(hotSpot, CPoint(0, 0));
  IMAGEINFO info{};
  ASSERT_TRUE(image->GetImageInfo(0, &info));
  EXPECT_EQ(info.rcImage.right - info.rcImage.left, 50);
  grid.SetFocusCell(-1, -1);
  EXPECT_EQ(grid.CreateDragImage(&hotSpot), nullptr);
}

}  // namespace

namespace {

TEST_F(ClipboardTest, ARealDragMovesTheTextsToTheGridUnderTheCursor) {
  CGridCtrl target(4, 3, 0, 0);
  ASSERT_TRUE(target.Create(CRect(320, 0, 620, 200), &owner, 102, WS_CHILD | WS_VISIBLE));
  for (int column = 0; column < 3; ++column) target.SetColumnWidth(column, 50);
  for (int row = 0; row < 4; ++row) target.SetRowHeight(row, 20);
  target.SetDragAndDrop(TRUE);
  grid.SetDragAndDrop(TRUE);
  ASSERT_TRUE(target.GetDropTarget().IsRegistered());

  CPoint over(75, 30);  // cell (1, 1) of the target
  target.ClientToScreen(&over);
  SetCursorPos(over.x, over.y);
  CPoint cursor;
  GetCursorPos(&cursor);
  if (cursor != over || WindowFromPoint(over) != target.GetSafeHwnd())
    GTEST_SKIP() << "no cursor or window under it on this display";

  grid.SelectRange(1, 1, 1, 2);
  grid.OnBeginDrag();
  EXPECT_EQ(target.GetItemText(1, 1), "11");
  EXPECT_EQ(target.GetItemText(1, 2), "12");
  // Moved: the source's texts are gone.
  EXPECT_EQ(grid.GetItemText(1, 1), "");
  EXPECT_EQ(grid.GetItemText(1, 2), "");
  EXPECT_EQ(owner.notifications.front(), (Notification{GridCode::BeginDrag, 1, 1}));
}

}  // namespace

namespace {

void SetClipboardText(HWND owner, const char* text) {
  ASSERT_TRUE(OpenClipboard(owner));
  EmptyClipboard();
  if (text) SetClipboardData(CF_TEXT, TextBlock(std::string(text) + '\0'));
  CloseClipboard();
}

// The edit menu of the grid's owner as it shows when opened: cut, copy, paste, select all.
std::vector<bool> EditMenuEnabled(CWnd& owner, CMenu& popup) {
  std::vector<bool> enabled;
  for (UINT state : wftest::MenuStatesWhenOpen(owner.GetSafeHwnd(), popup.m_hMenu))
    enabled.push_back((state & (MF_GRAYED | MF_DISABLED)) == 0);
  return enabled;
}

TEST_F(ClipboardTest, TheOwnersEditMenuShowsWhichCommandsTheGridCanCarryOut) {
  CMenu popup;
  ASSERT_TRUE(popup.CreatePopupMenu());
  for (UINT id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_SELECT_ALL}) popup.AppendMenu(MF_STRING, id, "x");
  struct Case {
    const char* name;
    bool selected, editable, focus, readOnlyFocus, clipboardText, selectionEnabled;
    std::vector<bool> cutCopyPasteAll;
  };
  const Case cases[] = {
      {"nothing selected, no focus, empty clipboard", false, true, false, false, false, true,
       {false, false, false, true}},
      {"a selection and text to paste at the focus", true, true, true, false, true, true, {true, true, true, true}},
      {"text on the clipboard but no focus cell", true, true, false, false, true, true, {true, true, false, true}},
      {"a read-only focus cell takes no paste", false, true, true, true, true, true, {false, false, false, true}},
      {"a grid that cannot be edited only copies", true, false, true, false, true, true, {false, true, false, true}},
      {"no text on the clipboard", true, true, true, false, false, true, {true, true, false, true}},
      {"selection switched off", false, true, true, false, false, false, {false, false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    grid.SetEditable(c.editable);
    grid.EnableSelection(c.selectionEnabled);
    grid.SetItemState(2, 2, c.readOnlyFocus ? GridState::ReadOnly : 0);
    grid.SetFocusCell(c.focus ? CCellID(2, 2) : CCellID());
    grid.ClearSelection();
    if (c.selected) grid.SelectRange(1, 1, 1, 2);
    if (c.focus) grid.SetFocusCell(2, 2);
    SetClipboardText(owner.GetSafeHwnd(), c.clipboardText ? "pasted" : nullptr);
    grid.SetFocus();
    EXPECT_EQ(EditMenuEnabled(owner, popup), c.cutCopyPasteAll);
  }

  // Choosing a command in the owner's menu reaches the grid.
  grid.SetEditable(TRUE);
  grid.EnableSelection(TRUE);
  grid.SelectRange(3, 1, 3, 2);
  grid.SetFocus();
  owner.SendMessage(WM_COMMAND, MAKEWPARAM(ID_EDIT_COPY, 0), 0);
  EXPECT_EQ(ClipboardText(), "31\t32");
}

}  // namespace
