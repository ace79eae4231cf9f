// Cells, cell storage, counts, inserts and deletes, item access and virtual mode.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

#include "GridCtrl.h"
#include "GridHolders.h"
#include "GridTestSupport.h"

namespace {

CGridDefaultCell* DefaultOf(CGridCtrl& grid, bool fixedRow, bool fixedColumn) {
  return static_cast<CGridDefaultCell*>(grid.GetDefaultCell(fixedRow, fixedColumn));
}

LOGFONTA FontNamed(const char* face, int height) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
  return lf;
}

// ---- cells ----

TEST(GridCells, MarkersResolveThroughTheDefaultCellOfTheCellsFixedness) {
  CGridCtrl grid(3, 3, 1, 1);
  struct Case {
    int row, column;
    bool fixedRow, fixedColumn;
  };
  const Case cases[] = {{1, 1, false, false}, {0, 1, true, false}, {1, 0, false, true}, {0, 0, true, true}};
  const LOGFONTA fonts[] = {FontNamed("Normal", 11), FontNamed("FixedColumn", 12), FontNamed("FixedRow", 13),
                            FontNamed("Corner", 14)};
  // Give each default cell its own format, margin and font so that the source shows.
  for (int i = 0; i < 4; ++i) {
    CGridDefaultCell* def = DefaultOf(grid, i >= 2, i == 1 || i == 3);
    def->SetFormat(0x1000 + i);
    def->SetMargin(20 + i);
    def->SetFont(&fonts[i]);
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.row << "," << c.column);
    CGridCellBase* cell = grid.GetCell(c.row, c.column);
    CGridDefaultCell* def = DefaultOf(grid, c.fixedRow, c.fixedColumn);
    ASSERT_EQ(cell->GetDefaultCell(), def);
    // A new cell took its default cell's format when it was made; the marker resolves.
    cell->SetFormat(static_cast<DWORD>(-1));
    cell->SetMargin(static_cast<UINT>(-1));
    cell->SetFont(nullptr);
    EXPECT_EQ(cell->GetFormat(), def->GetFormat());
    EXPECT_EQ(cell->GetMargin(), def->GetMargin());
    EXPECT_STREQ(cell->GetFont()->lfFaceName, def->GetFont()->lfFaceName);
    EXPECT_TRUE(cell->UsesDefaultFont());
    EXPECT_EQ(cell->GetFontInstance(), def->GetFontInstance());
    // Colours stay markers; the painting code resolves them.
    EXPECT_EQ(cell->GetTextColour(), kDefaultColour);
    EXPECT_EQ(cell->GetBackColour(), kDefaultColour);
    // Own values win.
    cell->SetFormat(DT_RIGHT);
    cell->SetMargin(1);
    const LOGFONTA own = FontNamed("Own", 9);
    cell->SetFont(&own);
    EXPECT_EQ(cell->GetFormat(), static_cast<DWORD>(DT_RIGHT));
    EXPECT_EQ(cell->GetMargin(), 1u);
    EXPECT_STREQ(cell->GetFont()->lfFaceName, "Own");
    EXPECT_FALSE(cell->UsesDefaultFont());
  }
  // A cell without a grid has no default cell: the markers resolve to nothing.
  CGridCell loose;
  EXPECT_EQ(loose.GetDefaultCell(), nullptr);
  EXPECT_EQ(loose.GetFormat(), 0u);
  EXPECT_EQ(loose.GetMargin(), 0u);
  EXPECT_EQ(loose.GetFont(), nullptr);
  EXPECT_EQ(loose.GetFontInstance(), nullptr);
}

TEST(GridCells, DefaultCellsAreReadOnlyAndKeepNoStateOrData) {
  CGridCtrl grid;
  CGridDefaultCell* def = DefaultOf(grid, false, false);
  EXPECT_EQ(def->GetFormat(), static_cast<DWORD>(DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS));
  def->SetState(GridState::Selected);
  def->SetData(42);
  EXPECT_EQ(def->GetState(), GridState::ReadOnly);
  EXPECT_EQ(def->GetData(), 0);
  // The message font gives a margin of one blank and a positive default size.
  EXPECT_GT(def->GetMargin(), 0u);
  EXPECT_GT(def->GetWidth(), 0);
  EXPECT_GT(def->GetHeight(), 0);
  EXPECT_EQ(grid.GetDefaultCell(false, false)->GetBackColour(), GetSysColor(COLOR_WINDOW));
  EXPECT_EQ(grid.GetDefaultCell(true, false)->GetBackColour(), GetSysColor(COLOR_BTNFACE));
}

TEST(GridCells, CopyStoresResolvedFormatAndMarginButKeepsColourMarkers) {
  CGridCtrl grid(2, 2, 0, 0);
  CGridCellBase* source = grid.GetCell(1, 1);
  source->SetText("text");
  source->SetData(7);
  source->SetImage(3);
  source->SetState(GridState::Modified | GridState::ReadOnly);
  source->SetFormat(static_cast<DWORD>(-1));
  source->SetMargin(static_cast<UINT>(-1));
  source->SetBackColour(RGB(1, 2, 3));
  CGridCell copy;
  copy = *source;
  EXPECT_STREQ(copy.GetText(), "text");
  EXPECT_EQ(copy.GetData(), 7);
  EXPECT_EQ(copy.GetImage(), 3);
  EXPECT_EQ(copy.GetState(), GridState::Modified | GridState::ReadOnly);
  EXPECT_EQ(copy.GetGrid(), &grid);
  EXPECT_EQ(copy.GetFormat(), grid.GetDefaultCell(false, false)->GetFormat());
  EXPECT_EQ(copy.GetMargin(), grid.GetDefaultCell(false, false)->GetMargin());
  EXPECT_EQ(copy.GetBackColour(), RGB(1, 2, 3));
  EXPECT_EQ(copy.GetTextColour(), kDefaultColour);
  EXPECT_TRUE(copy.UsesDefaultFont());

  copy.Reset();
  EXPECT_STREQ(copy.GetText(), "");
  EXPECT_EQ(copy.GetImage(), -1);
  EXPECT_EQ(copy.GetState(), 0u);
  EXPECT_EQ(copy.GetGrid(), nullptr);
  EXPECT_EQ(copy.GetBackColour(), kDefaultColour);
}

TEST(GridCells, FontInstancesOfOwnFontsStayAliveAndAreSharedPerDescription) {
  CGridCtrl grid(1, 3, 0, 0);
  const LOGFONTA a = FontNamed("Arial", -13);
  const LOGFONTA b = FontNamed("Arial", -20);
  grid.SetItemFont(0, 0, &a);
  grid.SetItemFont(0, 1, &b);
  grid.SetItemFont(0, 2, &a);
  CFont* first = grid.GetCell(0, 0)->GetFontInstance();
  CFont* second = grid.GetCell(0, 1)->GetFontInstance();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  // Asking for another font leaves the first one's object valid.
  EXPECT_EQ(grid.GetCell(0, 2)->GetFontInstance(), first);
  LOGFONTA read{};
  ASSERT_EQ(GetObjectA(first->GetSafeHandle(), sizeof(read), &read), static_cast<int>(sizeof(read)));
  EXPECT_EQ(read.lfHeight, -13);
}

TEST(GridCells, TextExtentOfWrappedTextIsTheWidestLinePlusMargins) {
  CGridCtrl grid(1, 1, 0, 0);
  CGridCellBase* cell = grid.GetCell(0, 0);
  cell->SetMargin(4);
  cell->SetFormat(DT_LEFT | DT_WORDBREAK);
  CClientDC screen(nullptr);
  DCSelection<CFont> font(&screen, cell->GetFontInstance());
  const CSize longLine = screen.GetTextExtent("a much longer line", 18);
  const CSize size = cell->GetTextExtent("short\na much longer line\nmid", &screen);
  EXPECT_EQ(size.cx, longLine.cx + 8);
  EXPECT_GE(size.cy, 3 * longLine.cy + 8);
  // Without text the default cell's size is the answer.
  EXPECT_EQ(cell->GetTextExtent("", &screen), CSize(DefaultOf(grid, false, false)->GetWidth(),
                                                     DefaultOf(grid, false, false)->GetHeight()));
  // A fixed cell needs one pixel more each way than the same cell unfixed.
  cell->SetText("abc");
  cell->SetFormat(DT_SINGLELINE);
  const CSize plain = cell->CellSizeNeeded(&screen);
  cell->SetState(GridState::Fixed);
  EXPECT_EQ(cell->CellSizeNeeded(&screen), CSize(plain.cx + 1, plain.cy + 1));
}

// ---- counts, inserts, deletes ----

TEST(GridStorage, NewCellsCarryFixednessBitsAndTheirDefaultFormat) {
  CGridCtrl grid(4, 4, 0, 0);
  DefaultOf(grid, true, false)->SetFormat(DT_CENTER);
  ASSERT_TRUE(grid.SetFixedRowCount(2));
  EXPECT_EQ(grid.GetItemState(1, 3), 0x30u);
  ASSERT_TRUE(grid.SetFixedColumnCount(1));
  EXPECT_EQ(grid.GetItemState(1, 0), 0x70u);
  EXPECT_EQ(grid.GetItemState(3, 0), 0x50u);
  EXPECT_EQ(grid.GetItemState(3, 3), 0u);

  // Leaving the fixed rows takes the row bits away and resets the colours.
  grid.SetItemBackColour(1, 3, RGB(9, 9, 9));
  grid.SetItemBackColour(1, 0, RGB(9, 9, 9));
  ASSERT_TRUE(grid.SetFixedRowCount(1));
  EXPECT_EQ(grid.GetItemState(1, 0), 0x50u);
  EXPECT_EQ(grid.GetItemState(1, 3), 0u);
  EXPECT_EQ(grid.GetItemBackColour(1, 3), kDefaultColour);
  EXPECT_EQ(grid.GetItemBackColour(1, 0), RGB(9, 9, 9));

  // A column made now is fixed in the fixed rows and takes the fixed-row format there.
  ASSERT_TRUE(grid.SetColumnCount(5));
  EXPECT_EQ(grid.GetItemState(0, 4), 0x30u);
  EXPECT_EQ(grid.GetItemFormat(0, 4), static_cast<UINT>(DT_CENTER));
  EXPECT_EQ(grid.GetItemFormat(2, 4), DefaultOf(grid, false, false)->GetFormat());

  // Fewer rows than fixed rows lowers the fixed count.
  ASSERT_TRUE(grid.SetRowCount(0));
  EXPECT_EQ(grid.GetFixedRowCount(), 0);
  EXPECT_EQ(grid.GetColumnCount(), 5);
}

TEST(GridStorage, InsertAndDeleteIndexRulesMoveTheFocusWithItsCell) {
  CGridCtrl grid(5, 4, 1, 1);
  struct Insert {
    bool column;
    int index;
    int expected;
  };
  const Insert inserts[] = {
      {true, 0, -1},   // into the fixed columns
      {true, 9, -1},   // beyond the end
      {true, 4, 4},    // equal to the count appends
      {true, -1, 5},   // -1 appends
      {false, 0, -1},  // into the fixed rows
      {false, 5, -1},  // equal to the count does not append
      {false, -1, 5},  // -1 does
      {false, 2, 2},
  };
  for (const Insert& insert : inserts) {
    SCOPED_TRACE(testing::Message() << (insert.column ? "column " : "row ") << insert.index);
    EXPECT_EQ(insert.column ? grid.InsertColumn("H", DT_LEFT, insert.index) : grid.InsertRow("R", insert.index),
              insert.expected);
  }
  EXPECT_EQ(grid.GetColumnCount(), 6);
  EXPECT_EQ(grid.GetRowCount(), 7);
  EXPECT_EQ(grid.GetItemText(0, 4), "H");
  EXPECT_EQ(grid.GetItemText(2, 0), "R");
  EXPECT_EQ(grid.GetItemFormat(3, 4), static_cast<UINT>(DT_LEFT));
  EXPECT_EQ(grid.GetColumnWidth(4), grid.GetCell(0, 4)->GetTextExtent("H").cx);

  grid.SetItemText(3, 2, "F");
  grid.SetFocusCell(3, 2);
  auto focusedText = [&] {
    const CCellID focus = grid.GetFocusCell();
    return std::string(grid.GetItemText(focus.row, focus.col));
  };
  grid.InsertRow("", 1);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(4, 2));
  grid.InsertColumn("", DT_LEFT, 1);
  EXPECT_EQ(grid.GetFocusCell(), CCellID(4, 3));
  EXPECT_EQ(focusedText(), "F");
  EXPECT_TRUE(grid.GetItemState(4, 3) & GridState::Focused);
  EXPECT_TRUE(grid.DeleteRow(1));
  EXPECT_TRUE(grid.DeleteColumn(1));
  EXPECT_EQ(grid.GetFocusCell(), CCellID(3, 2));
  EXPECT_EQ(focusedText(), "F");
  EXPECT_FALSE(grid.DeleteRow(-1));
  EXPECT_FALSE(grid.DeleteColumn(grid.GetColumnCount()));
  EXPECT_TRUE(grid.DeleteColumn(2));
  EXPECT_EQ(grid.GetFocusCell(), CCellID(-1, -1));

  // Deleting a fixed row lowers the fixed count.
  EXPECT_TRUE(grid.DeleteRow(0));
  EXPECT_EQ(grid.GetFixedRowCount(), 0);

  EXPECT_TRUE(grid.DeleteAllItems());
  EXPECT_EQ(grid.GetRowCount() + grid.GetColumnCount() + grid.GetFixedRowCount() + grid.GetFixedColumnCount(), 0);
  EXPECT_EQ(grid.GetFocusCell(), CCellID());
  EXPECT_EQ(grid.GetRowHeight(0), -1);
}

TEST(GridStorage, SelectionKeysDoNotCollideBeyondSixteenBits) {
  CGridCtrl grid(65537, 2, 0, 0);
  // (65536, 1) and (0, 1) once shared a key; (0, 2) and (0, 65536 * 2) likewise for columns.
  ASSERT_FALSE(grid.SetItemState(65536, 1, GridState::Selected) == FALSE);
  ASSERT_TRUE(grid.SetItemState(0, 1, GridState::Selected));
  EXPECT_EQ(grid.SelectedCellCount(), 2);
  ASSERT_TRUE(grid.SetItemState(0, 1, 0));
  EXPECT_EQ(grid.SelectedCellCount(), 1);
  EXPECT_TRUE(grid.IsCellSelected(65536, 1));
  EXPECT_EQ(grid.SelectionBounds(), CellRange(65536, 1, 65536, 1));
  // Dropping the row forgets its selection.
  ASSERT_TRUE(grid.SetRowCount(65536));
  EXPECT_EQ(grid.SelectedCellCount(), 0);
}

class CustomCell : public CGridCell {
  DECLARE_DYNCREATE(CustomCell)
};
IMPLEMENT_DYNCREATE(CustomCell, CGridCell)

class NotACell : public CObject {
  DECLARE_DYNCREATE(NotACell)
};
IMPLEMENT_DYNCREATE(NotACell, CObject)

TEST(GridStorage, CellClassesReplaceCellsAndKeepTheirAttributes) {
  CGridCtrl grid(3, 3, 1, 1);
  const LOGFONTA font = FontNamed("Courier", -11);
  grid.SetItemText(1, 1, "kept");
  grid.SetItemTextColour(1, 1, RGB(10, 20, 30));
  grid.SetItemFont(1, 1, &font);
  grid.GetCell(1, 1)->SetMargin(7);
  grid.SetItemState(1, 1, GridState::ReadOnly);

  EXPECT_FALSE(grid.SetCellClass(1, 1, RUNTIME_CLASS(NotACell)));
  EXPECT_FALSE(grid.SetCellClass(3, 1, RUNTIME_CLASS(CustomCell)));
  ASSERT_TRUE(grid.SetCellClass(1, 1, RUNTIME_CLASS(CustomCell)));
  CGridCellBase* cell = grid.GetCell(1, 1);
  EXPECT_TRUE(cell->IsKindOf(RUNTIME_CLASS(CustomCell)));
  EXPECT_EQ(grid.GetItemText(1, 1), "kept");
  EXPECT_EQ(cell->GetTextColour(), RGB(10, 20, 30));
  EXPECT_STREQ(cell->GetFont()->lfFaceName, "Courier");
  EXPECT_EQ(cell->GetMargin(), 7u);
  EXPECT_EQ(cell->GetState(), GridState::ReadOnly);

  EXPECT_FALSE(grid.SetDefaultCellClass(RUNTIME_CLASS(NotACell)));
  ASSERT_TRUE(grid.SetDefaultCellClass(RUNTIME_CLASS(CustomCell)));
  grid.SetRowCount(4);
  EXPECT_TRUE(grid.GetCell(3, 2)->IsKindOf(RUNTIME_CLASS(CustomCell)));
  EXPECT_FALSE(grid.GetCell(2, 2)->IsKindOf(RUNTIME_CLASS(CustomCell)));
}

// A cell that counts its destructions.
class CountedCell : public CGridCell {
 public:
  explicit CountedCell(int* destroyed) : destroyed_(destroyed) {}
  ~CountedCell() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST(GridStorage, SetCellTakesTheCellAndFreesTheOneItReplaces) {
  int destroyed = 0;
  {
    CGridCtrl grid(3, 3, 1, 1);
    auto* first = new CountedCell(&destroyed);
    ASSERT_TRUE(grid.SetCell(2, 1, first));
    EXPECT_EQ(grid.GetCell(2, 1), first);

    auto* second = new CountedCell(&destroyed);
    ASSERT_TRUE(grid.SetCell(2, 1, second));
    EXPECT_EQ(destroyed, 1);
    ASSERT_TRUE(grid.SetCell(2, 1, second));  // the same cell again is kept
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(grid.GetCell(2, 1), second);

    // A refused cell stays the caller's.
    CountedCell refused(&destroyed);
    EXPECT_FALSE(grid.SetCell(3, 1, &refused));
    EXPECT_FALSE(grid.SetCell(2, 1, nullptr));
    EXPECT_EQ(grid.GetCell(2, 1), second);
  }
  EXPECT_EQ(destroyed, 3);  // the grid's one and the refused one
}

// A grid whose cell creation runs out of memory after a budget of cells.
class StarvedGrid : public CGridCtrl {
 public:
  int budget = 1 << 30;
  CGridCellBase* CreateCell(int row, int column) override {
    if (budget-- <= 0) throw std::bad_alloc();
    return CGridCtrl::CreateCell(row, column);
  }
};

TEST(GridStorage, AMemoryFailureLeavesCountsMatchingWhatWasBuilt) {
  StarvedGrid grid;
  grid.SetColumnCount(3);
  grid.budget = 10;  // three whole rows and one cell of a fourth
  EXPECT_FALSE(grid.SetRowCount(10));
  EXPECT_EQ(grid.GetRowCount(), 3);
  EXPECT_EQ(grid.GetRowHeight(2), DefaultOf(grid, false, false)->GetHeight());
  EXPECT_EQ(grid.GetRowHeight(3), -1);
  for (int row = 0; row < 3; ++row)
    for (int column = 0; column < 3; ++column) EXPECT_NE(grid.GetCell(row, column), nullptr);

  grid.budget = 4;  // two rows get their new columns, the third does not
  EXPECT_FALSE(grid.SetColumnCount(5));
  EXPECT_EQ(grid.GetColumnCount(), 3);
  EXPECT_EQ(grid.GetColumnWidth(3), -1);
  grid.budget = 1 << 30;
  ASSERT_TRUE(grid.SetColumnCount(4));
  EXPECT_NE(grid.GetCell(0, 3), nullptr);
  EXPECT_NE(grid.GetCell(2, 3), nullptr);

  grid.budget = 2;
  EXPECT_EQ(grid.InsertColumn("x", DT_LEFT, 1), -1);
  EXPECT_EQ(grid.GetColumnCount(), 4);
  grid.budget = 2;
  EXPECT_EQ(grid.InsertRow("x", 1), -1);
  EXPECT_EQ(grid.GetRowCount(), 3);
  grid.budget = 1 << 30;
  EXPECT_EQ(grid.InsertRow("x", 1), 1);
  EXPECT_EQ(grid.GetItemText(1, 0), "x");
}

// ---- item access ----

TEST(GridItems, OnlyTextDataAndImageChangesMarkACellModified) {
  CGridCtrl grid(3, 3, 1, 1);
  const LOGFONTA font = FontNamed("Arial", 10);
  struct Change {
    const char* name;
    std::function<BOOL()> apply;
    bool marks;
  };
  const Change changes[] = {
      {"text", [&] { return grid.SetItemText(1, 1, "t"); }, true},
      {"data", [&] { return grid.SetItemData(1, 1, 5); }, true},
      {"image", [&] { return grid.SetItemImage(1, 1, 2); }, true},
      {"back colour", [&] { return grid.SetItemBackColour(1, 1, RGB(1, 1, 1)); }, false},
      {"text colour", [&] { return grid.SetItemTextColour(1, 1, RGB(1, 1, 1)); }, false},
      {"format", [&] { return grid.SetItemFormat(1, 1, DT_RIGHT); }, false},
      {"font", [&] { return grid.SetItemFont(1, 1, &font); }, false},
      {"state", [&] { return grid.SetItemState(1, 1, GridState::ReadOnly); }, false},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    grid.SetModified(FALSE);
    ASSERT_FALSE(grid.GetModified(1, 1));
    EXPECT_TRUE(change.apply());
    EXPECT_EQ(grid.GetModified(1, 1) != FALSE, change.marks);
    EXPECT_EQ(grid.GetModified() != FALSE, change.marks);
  }

  // Clearing the grid-wide flag clears every cell's mark.
  grid.SetItemText(1, 1, "a");
  grid.SetItemText(2, 2, "b");
  grid.SetModified(FALSE, 1, 1);
  EXPECT_FALSE(grid.GetModified(1, 1));
  EXPECT_TRUE(grid.GetModified(2, 2));
  grid.SetModified(FALSE);
  EXPECT_FALSE(grid.GetModified(2, 2));

  // A change in the sort column clears it; one elsewhere does not.
  grid.SetSortColumn(2);
  grid.SetItemText(1, 1, "elsewhere");
  EXPECT_EQ(grid.GetSortColumn(), 2);
  grid.SetItemText(1, 2, "in it");
  EXPECT_EQ(grid.GetSortColumn(), -1);

  // Out of range: nothing changes, defaults are answered.
  EXPECT_FALSE(grid.SetItemText(-1, 0, "x"));
  EXPECT_EQ(grid.GetItemText(-1, 0), "");
  EXPECT_EQ(grid.GetItemImage(3, 0), -1);
  EXPECT_EQ(grid.GetItemState(0, 3), 0u);
  EXPECT_STREQ(grid.GetItemFont(9, 9)->lfFaceName, DefaultOf(grid, false, false)->GetFont()->lfFaceName);
}

TEST(GridItems, WholeItemRecordsApplyAndReadTheMaskedFields) {
  CGridCtrl grid(2, 2, 0, 0);
  GridItem item;
  item.row = 1;
  item.column = 1;
  item.mask = GridMask::Text | GridMask::State | GridMask::BackColour | GridMask::Margin;
  item.text = "record";
  item.state = GridState::Selected;
  item.backColour = RGB(4, 5, 6);
  item.margin = 9;
  item.data = 77;  // not in the mask
  ASSERT_TRUE(grid.SetItem(&item));
  EXPECT_EQ(grid.GetItemText(1, 1), "record");
  EXPECT_EQ(grid.GetItemData(1, 1), 0);
  EXPECT_TRUE(grid.IsCellSelected(1, 1));
  EXPECT_EQ(grid.SelectedCellCount(), 1);
  // The cell is marked first; a state in the record then replaces the whole state word.
  EXPECT_TRUE(grid.GetModified());
  EXPECT_FALSE(grid.GetModified(1, 1));

  GridItem read;
  read.row = 1;
  read.column = 1;
  read.mask = GridMask::All;
  ASSERT_TRUE(grid.GetItem(&read));
  EXPECT_EQ(read.text, "record");
  EXPECT_EQ(read.backColour, RGB(4, 5, 6));
  EXPECT_EQ(read.margin, 9u);
  EXPECT_EQ(read.state, GridState::Selected);
  read.row = 2;
  EXPECT_FALSE(grid.GetItem(&read));
  EXPECT_FALSE(grid.SetItem(nullptr));
}

BOOL FillFromCallback(CGridCtrl*, GridDisplayInfo* info, LPARAM data) {
  info->item.text.Format("%d:%d/%d", info->item.row, info->item.column, static_cast<int>(data));
  info->item.backColour = RGB(0, 0, info->item.column);
  return TRUE;
}

// An owner that answers display requests with the cell's coordinates.
class DisplayOwner : public RecordingOwner {
 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_NOTIFY && static_cast<int>(reinterpret_cast<NMHDR*>(lParam)->code) == GridCode::DisplayRequest) {
      auto* info = reinterpret_cast<GridDisplayInfo*>(lParam);
      states.push_back(info->item.state);
      info->item.text.Format("owner %d %d", info->item.row, info->item.column);
      return 0;
    }
    return RecordingOwner::WindowProc(message, wParam, lParam);
  }

 public:
  std::vector<UINT> states;
};

TEST(GridItems, VirtualModeAsksTheCallbackOrTheOwnerForEveryCell) {
  DisplayOwner owner;
  CGridCtrl grid;
  ASSERT_TRUE(grid.Create(CRect(0, 0, 300, 200), &owner, 100));
  grid.SetEditable(TRUE);
  grid.SetVirtualMode(TRUE);
  EXPECT_FALSE(grid.IsEditable());
  EXPECT_EQ(grid.GetFitStyle(), 1);
  EXPECT_FALSE(grid.GetFixedRowClickSelects());
  ASSERT_TRUE(grid.SetRowCount(100000));
  ASSERT_TRUE(grid.SetColumnCount(4));
  ASSERT_TRUE(grid.SetFixedRowCount(1));
  EXPECT_EQ(grid.GetRowHeight(99999), DefaultOf(grid, false, false)->GetHeight());

  // Through WM_NOTIFY -150: the record arrives with the state the grid knows.
  grid.SetFocusCell(5, 2);
  EXPECT_EQ(grid.GetItemText(5, 2), "owner 5 2");
  ASSERT_FALSE(owner.states.empty());
  EXPECT_EQ(owner.states.back(), GridState::Focused);
  EXPECT_EQ(grid.GetItemText(0, 3), "owner 0 3");
  EXPECT_EQ(owner.states.back(), GridState::Fixed | GridState::FixedRow);

  // Setters answer FALSE, yet the selection map follows the state.
  EXPECT_FALSE(grid.SetItemText(7, 1, "x"));
  EXPECT_FALSE(grid.SetItemState(7, 1, GridState::Selected));
  EXPECT_TRUE(grid.IsCellSelected(7, 1));
  EXPECT_TRUE(grid.GetCell(7, 1)->IsSelected());
  EXPECT_FALSE(grid.SetCellClass(7, 1, RUNTIME_CLASS(CGridCell)));

  // Through the callback, which takes the owner's place.
  grid.SetDisplayCallback(FillFromCallback, 9);
  CGridCellBase* first = grid.GetCell(3, 1);
  EXPECT_STREQ(first->GetText(), "3:1/9");
  CGridCellBase* second = grid.GetCell(99999, 3);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first->GetText(), "99999:3/9");
  EXPECT_EQ(first->GetBackColour(), RGB(0, 0, 3));
  EXPECT_EQ(grid.GetCell(100000, 0), nullptr);
}

TEST(GridItems, ANewFontOnTheWindowReachesAllFourDefaultCells) {
  RecordingOwner owner;
  CGridCtrl grid(2, 2, 1, 1);
  ASSERT_TRUE(grid.Create(CRect(0, 0, 200, 100), &owner, 100));
  const int oldHeight = DefaultOf(grid, false, false)->GetHeight();
  LOGFONTA lf = FontNamed("Arial", -40);
  CFont font;
  ASSERT_TRUE(font.CreateFontIndirect(&lf));
  grid.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font.GetSafeHandle()), FALSE);
  for (int i = 0; i < 4; ++i) {
    CGridDefaultCell* def = DefaultOf(grid, i & 1, i & 2);
    EXPECT_EQ(def->GetFont()->lfHeight, -40);
    EXPECT_GT(def->GetHeight(), oldHeight);
  }
  const auto handle = reinterpret_cast<HFONT>(grid.SendMessage(WM_GETFONT));
  EXPECT_EQ(handle, DefaultOf(grid, false, false)->GetFontInstance()->GetSafeHandle());
}

// ---- the window ----

TEST(GridWindow, SubclassedFromADialogsCustomControl) {
  CGridCtrl grid(4, 3, 1, 1);  // registers the window class the template names
  const std::vector<WORD> dialogTemplate = GridDialogTemplate(1069);
  const HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()), nullptr,
                                                 [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
  ASSERT_NE(dialog, nullptr);
  const HWND control = GetDlgItem(dialog, 1069);
  char className[32] = {};
  GetClassNameA(control, className, sizeof(className));
  EXPECT_STREQ(className, "MFCGridCtrl");
  CRect before;
  GetWindowRect(control, &before);

  ASSERT_TRUE(grid.SubclassDlgItem(1069, CWnd::FromHandle(dialog)));
  EXPECT_EQ(grid.GetSafeHwnd(), control);
  EXPECT_TRUE(GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  CRect after;
  GetWindowRect(control, &after);
  EXPECT_EQ(after, before);
  // The grid now answers the control's messages.
  EXPECT_EQ(SendMessageA(control, WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS | DLGC_WANTCHARS | DLGC_WANTTAB);
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)),
            DefaultOf(grid, false, false)->GetFontInstance()->GetSafeHandle());
  // Its owner is the dialog.
  grid.SetFocusCell(1, 1);
  EXPECT_EQ(grid.GetOwner()->GetSafeHwnd(), dialog);
  grid.DestroyWindow();
  DestroyWindow(dialog);
}

TEST(GridWindow, TheDestructorDestroysTheTitleTipEvenWithTipsTurnedOff) {
  RecordingOwner owner;
  {
    CGridCtrl grid(2, 2, 0, 0);
    ASSERT_TRUE(grid.Create(CRect(0, 0, 100, 100), &owner, 100));
    ASSERT_TRUE(grid.GetTitleTip().Create(&grid));
    EXPECT_NE(FindWindowA("ZTitleTip", nullptr), nullptr);
    grid.EnableTitleTips(FALSE);
  }
  EXPECT_EQ(FindWindowA("ZTitleTip", nullptr), nullptr);
}

}  // namespace
