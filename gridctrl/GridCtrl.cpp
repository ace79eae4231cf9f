// Construction, the window class, and the storage of rows, columns and cells.
#include "GridCtrl.h"

#include <ole2.h>

#include <algorithm>
#include <new>

#include "GridHolders.h"
#include "GridWindowClass.h"

IMPLEMENT_DYNCREATE(CGridCtrl, CWnd)

namespace {

constexpr char kGridClassName[] = "MFCGridCtrl";

void InitialiseOleOnce() {
  static bool initialised = false;
  if (initialised) return;
  initialised = true;
  if (FAILED(OleInitialize(nullptr)))
    AfxMessageBox("OLE initialization failed. Make sure that the OLE libraries are the correct version");
}

int SystemWheelLines() {
  UINT lines = 3;
  if (!SystemParametersInfoA(SPI_GETWHEELSCROLLLINES, 0, &lines, 0)) return 3;
  return static_cast<int>(lines);  // WHEEL_PAGESCROLL becomes -1: a page per notch
}

}  // namespace

BOOL CGridCtrl::RegisterWindowClass() {
  RegisterGridWindowClass(kGridClassName, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, COLOR_3DFACE);
  return TRUE;
}

CGridCtrl::CGridCtrl(int rows, int columns, int fixedRows, int fixedColumns)
    : gridBackColour_(GetSysColor(COLOR_BTNSHADOW)),
      windowTextColour_(GetSysColor(COLOR_WINDOWTEXT)),
      windowColour_(GetSysColor(COLOR_WINDOW)),
      faceColour_(GetSysColor(COLOR_BTNFACE)),
      shadowColour_(GetSysColor(COLOR_BTNSHADOW)),
      cellClass_(RUNTIME_CLASS(CGridCell)),
      defaultCell_(std::make_unique<CGridDefaultCell>()),
      defaultFixedColumnCell_(std::make_unique<CGridDefaultCell>()),
      defaultFixedRowCell_(std::make_unique<CGridDefaultCell>()),
      defaultFixedCell_(std::make_unique<CGridDefaultCell>()),
      rowsPerWheelNotch_(SystemWheelLines()) {
  RegisterWindowClass();
  InitialiseOleOnce();
  for (CGridDefaultCell* cell :
       {defaultCell_.get(), defaultFixedColumnCell_.get(), defaultFixedRowCell_.get(), defaultFixedCell_.get()}) {
    cell->SetGrid(this);
    cell->SetTextColour(windowTextColour_);
    cell->SetBackColour(cell == defaultCell_.get() ? windowColour_ : faceColour_);
  }
  SetRowCount(rows);
  SetColumnCount(columns);
  SetFixedRowCount(fixedRows);
  SetFixedColumnCount(fixedColumns);
}

CGridCtrl::~CGridCtrl() {
  StopEditing();
  DeleteAllItems();
  if (titleTip_.GetSafeHwnd()) titleTip_.DestroyWindow();
  dropTarget_.Revoke();
  if (GetSafeHwnd()) DestroyWindow();
  // Copied text outlives the grid.
  COleDataSource::FlushClipboard();
}

BOOL CGridCtrl::Create(const RECT& rect, CWnd* parent, UINT id, DWORD style) {
  if (!CWnd::Create(kGridClassName, nullptr, style, rect, parent, id)) return FALSE;
  try {
    rowHeights_.assign(rowCount_, NormalDefault()->GetHeight());
    columnWidths_.assign(columnCount_, NormalDefault()->GetWidth());
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

void CGridCtrl::PreSubclassWindow() {
  CWnd::PreSubclassWindow();
  SetupWindow();
}

void CGridCtrl::SetupWindow() {
  if (inSetup_) return;
  inSetup_ = true;
  titleTip_.SetParentWindow(this);
  const HWND wnd = GetSafeHwnd();
  SetWindowLongPtrA(wnd, GWL_EXSTYLE, GetWindowLongPtrA(wnd, GWL_EXSTYLE) | WS_EX_CLIENTEDGE);
  CRect rect;
  ::GetWindowRect(wnd, &rect);
  if (HWND parent = ::GetParent(wnd)) MapWindowPoints(nullptr, parent, reinterpret_cast<LPPOINT>(&rect), 2);
  ::MoveWindow(wnd, rect.left - 1, rect.top - 1, rect.Width() + 2, rect.Height() + 2, TRUE);
  ::MoveWindow(wnd, rect.left, rect.top, rect.Width(), rect.Height(), TRUE);
  inSetup_ = false;
}

HWND CGridCtrl::OwnerWindow() const {
  if (!GetSafeHwnd()) return nullptr;
  CWnd* owner = GetOwner();
  return owner && ::IsWindow(owner->GetSafeHwnd()) ? owner->GetSafeHwnd() : nullptr;
}

CGridCellBase* CGridCtrl::GetDefaultCell(BOOL fixedRow, BOOL fixedColumn) const {
  if (fixedRow && fixedColumn) return defaultFixedCell_.get();
  if (fixedRow) return defaultFixedRowCell_.get();
  if (fixedColumn) return defaultFixedColumnCell_.get();
  return defaultCell_.get();
}

BOOL CGridCtrl::IsValid(const CellRange& range) const {
  return range.minRow >= 0 && range.minCol >= 0 && range.maxRow >= 0 && range.maxCol >= 0 &&
         range.maxRow < rowCount_ && range.maxCol < columnCount_ && range.minRow <= range.maxRow &&
         range.minCol <= range.maxCol;
}

// ---- cells ----

CGridCellBase* CGridCtrl::CreateCell(int row, int column) {
  if (!cellClass_ || !cellClass_->IsDerivedFrom(RUNTIME_CLASS(CGridCellBase))) return nullptr;
  auto* cell = static_cast<CGridCellBase*>(cellClass_->CreateObject());
  if (!cell) return nullptr;
  cell->SetGrid(this);
  cell->SetCellPosition(row, column);
  DWORD state = 0;
  if (column < fixedColumnCount_) state |= GridState::Fixed | GridState::FixedColumn;
  if (row < fixedRowCount_) state |= GridState::Fixed | GridState::FixedRow;
  cell->SetState(state);
  cell->SetFormat(cell->GetDefaultCell()->GetFormat());
  return cell;
}

void CGridCtrl::DestroyCell(int row, int column) {
  SetItemState(row, column, 0);
  if (virtualMode_ || !IsValid(row, column)) return;
  CGridCellBase*& slot = (*rows_[row])[column];
  delete slot;
  slot = nullptr;
}

BOOL CGridCtrl::SetDefaultCellClass(CRuntimeClass* cellClass) {
  if (!cellClass || !cellClass->IsDerivedFrom(RUNTIME_CLASS(CGridCellBase))) return FALSE;
  cellClass_ = cellClass;
  return TRUE;
}

BOOL CGridCtrl::SetCellClass(int row, int column, CRuntimeClass* cellClass) {
  if (virtualMode_ || !IsValid(row, column) || !cellClass ||
      !cellClass->IsDerivedFrom(RUNTIME_CLASS(CGridCellBase)))
    return FALSE;
  auto* cell = static_cast<CGridCellBase*>(cellClass->CreateObject());
  if (!cell) return FALSE;
  CGridCellBase*& slot = (*rows_[row])[column];
  if (slot) *cell = *slot;
  cell->SetCellPosition(row, column);
  delete slot;
  slot = cell;
  return TRUE;
}

// Fills row cells [fromColumn, toColumn); on a memory failure the cells made here are
// deleted again and the row keeps its earlier length.
BOOL CGridCtrl::AppendRowCells(GridRow& row, int rowIndex, int fromColumn, int toColumn) {
  const size_t start = row.size();
  try {
    row.reserve(start + (toColumn - fromColumn));
    for (int column = fromColumn; column < toColumn; ++column) row.push_back(CreateCell(rowIndex, column));
  } catch (const std::bad_alloc&) {
    while (row.size() > start) {
      delete row.back();
      row.pop_back();
    }
    return FALSE;
  }
  return TRUE;
}

void CGridCtrl::DestroyRowCells(int row) {
  for (int column = 0; column < columnCount_; ++column) DestroyCell(row, column);
}

// ---- counts ----

BOOL CGridCtrl::SetRowCount(int rows) {
  if (rows < 0) return FALSE;
  if (rows == rowCount_) return TRUE;
  StopEditing();
  topLeftCell_ = CCellID();
  if (fixedRowCount_ > rows) fixedRowCount_ = rows;
  if (focusCell_.row >= rows) SetFocusCell(-1, -1);

  BOOL result = TRUE;
  if (rows < rowCount_) {
    if (!virtualMode_)
      for (int row = rows; row < rowCount_; ++row) DestroyRowCells(row);
    rows_.resize(virtualMode_ ? 0 : rows);
    rowHeights_.resize(rows);
    rowCount_ = rows;
  } else if (virtualMode_) {
    try {
      rowHeights_.resize(rows, NormalDefault()->GetHeight());
      rowCount_ = rows;
    } catch (const std::bad_alloc&) {
      result = FALSE;
    }
  } else {
    try {
      rows_.reserve(rows);
      rowHeights_.reserve(rows);
      while (rowCount_ < rows) {
        auto row = std::make_unique<GridRow>();
        if (!AppendRowCells(*row, rowCount_, 0, columnCount_)) throw std::bad_alloc();
        rows_.push_back(std::move(row));
        rowHeights_.push_back(NormalDefault()->GetHeight());
        ++rowCount_;
      }
    } catch (const std::bad_alloc&) {
      result = FALSE;
    }
  }
  SetModified();
  ResetScrollBars();
  Refresh();
  return result;
}

BOOL CGridCtrl::SetColumnCount(int columns) {
  if (columns < 0) return FALSE;
  if (columns == columnCount_) return TRUE;
  StopEditing();
  topLeftCell_ = CCellID();
  if (fixedColumnCount_ > columns) fixedColumnCount_ = columns;
  if (focusCell_.col >= columns) SetFocusCell(-1, -1);

  BOOL result = TRUE;
  if (columns < columnCount_) {
    if (!virtualMode_) {
      for (int row = 0; row < rowCount_; ++row)
        for (int column = columns; column < columnCount_; ++column) DestroyCell(row, column);
      for (auto& row : rows_) row->resize(columns);
    }
    columnWidths_.resize(columns);
    columnCount_ = columns;
  } else {
    const int oldCount = columnCount_;
    try {
      columnWidths_.reserve(columns);
      int built = 0;
      for (; built < static_cast<int>(rows_.size()); ++built)
        if (!AppendRowCells(*rows_[built], built, oldCount, columns)) break;
      if (built < static_cast<int>(rows_.size())) {
        // Every row keeps the old length so that the count describes all of them.
        for (int row = 0; row < built; ++row) {
          GridRow& cells = *rows_[row];
          while (static_cast<int>(cells.size()) > oldCount) {
            delete cells.back();
            cells.pop_back();
          }
        }
        result = FALSE;
      } else {
        columnWidths_.resize(columns, defaultFixedColumnCell_->GetWidth());
        columnCount_ = columns;
      }
    } catch (const std::bad_alloc&) {
      result = FALSE;
    }
  }
  SetModified();
  ResetScrollBars();
  Refresh();
  return result;
}

BOOL CGridCtrl::SetFixedRowCount(int count) {
  if (count < 0) return FALSE;
  if (count == fixedRowCount_) return TRUE;
  StopEditing();
  ClearSelection();
  topLeftCell_ = CCellID();
  if (count > rowCount_ && !SetRowCount(count)) return FALSE;
  if (!virtualMode_) RefixCells(true, count);
  fixedRowCount_ = count;
  ResetScrollBars();
  Refresh();
  return TRUE;
}

BOOL CGridCtrl::SetFixedColumnCount(int count) {
  if (count < 0) return FALSE;
  if (count == fixedColumnCount_) return TRUE;
  StopEditing();
  if (count > columnCount_ && !SetColumnCount(count)) return FALSE;
  ClearSelection();
  topLeftCell_ = CCellID();
  if (!virtualMode_) RefixCells(false, count);
  fixedColumnCount_ = count;
  ResetScrollBars();
  Refresh();
  return TRUE;
}

// Rows (or columns) between the old and the new fixed count enter or leave the
// fixed area: their fixed bits follow and their colours go back to the defaults.
void CGridCtrl::RefixCells(bool rows, int count) {
  const int oldCount = rows ? fixedRowCount_ : fixedColumnCount_;
  const UINT lineBit = rows ? GridState::FixedRow : GridState::FixedColumn;
  const int crossFixed = rows ? fixedColumnCount_ : fixedRowCount_;
  const int crossCount = rows ? columnCount_ : rowCount_;
  for (int line = std::min(count, oldCount); line < std::max(count, oldCount); ++line) {
    for (int cross = 0; cross < crossCount; ++cross) {
      CGridCellBase* cell = rows ? GetCell(line, cross) : GetCell(cross, line);
      if (!cell) continue;
      const DWORD state = cell->GetState();
      if (line < count) {
        cell->SetState(state | GridState::Fixed | lineBit);
      } else if (cross < crossFixed) {
        cell->SetState(state & ~lineBit);  // still fixed the other way: colours stay
        continue;
      } else {
        cell->SetState(state & ~(GridState::Fixed | lineBit));
      }
      cell->SetBackColour(kDefaultColour);
      cell->SetTextColour(kDefaultColour);
    }
  }
}

// Structural changes deselect everything but keep the focus on the same cell,
// which the caller then moves with the shifted indices.
void CGridCtrl::ResetSelectedRange() {
  const CCellID focus = focusCell_;
  ClearSelection();
  focusCell_ = CCellID();
  SetFocusCell(focus);
}

int CGridCtrl::InsertColumn(LPCSTR heading, UINT format, int column) {
  if (column >= 0 && (column < fixedColumnCount_ || column > columnCount_)) return -1;
  StopEditing();
  topLeftCell_ = CCellID();
  ResetSelectedRange();
  if (rowCount_ < 1) SetRowCount(1);
  const int index = column < 0 ? columnCount_ : column;

  try {
    columnWidths_.reserve(columnCount_ + 1);
    if (!virtualMode_) {
      for (auto& row : rows_) row->reserve(columnCount_ + 1);
      std::vector<CGridCellBase*> made;
      made.reserve(rowCount_);
      try {
        for (int row = 0; row < rowCount_; ++row) made.push_back(CreateCell(row, index));
      } catch (const std::bad_alloc&) {
        for (CGridCellBase* cell : made) delete cell;
        throw;
      }
      for (int row = 0; row < rowCount_; ++row) rows_[row]->insert(rows_[row]->begin() + index, made[row]);
    }
    columnWidths_.insert(columnWidths_.begin() + index, 0);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  ++columnCount_;
  // Cells right of the new column learn their new places.
  if (!virtualMode_)
    for (int row = 0; row < rowCount_; ++row)
      for (int c = index + 1; c < columnCount_; ++c)
        if (CGridCellBase* cell = GetCell(row, c)) cell->SetCellPosition(row, c);

  SetItemText(0, index, heading);
  for (int row = 0; row < rowCount_; ++row) SetItemFormat(row, index, format);
  if (CGridCellBase* cell = GetCell(0, index)) columnWidths_[index] = cell->GetTextExtent(heading).cx;
  if (focusCell_.IsValid() && focusCell_.col >= index) {
    const CCellID moved(focusCell_.row, focusCell_.col + 1);
    focusCell_ = CCellID();
    SetFocusCell(moved);
  }
  ResetScrollBars();
  SetModified();
  return index;
}

int CGridCtrl::InsertRow(LPCSTR heading, int row) {
  if (row >= 0 && (row < fixedRowCount_ || row >= rowCount_)) return -1;
  StopEditing();
  topLeftCell_ = CCellID();
  ResetSelectedRange();
  if (columnCount_ < 1) SetColumnCount(1);
  const int index = row < 0 ? rowCount_ : row;

  try {
    rowHeights_.reserve(rowCount_ + 1);
    if (!virtualMode_) {
      rows_.reserve(rowCount_ + 1);
      auto cells = std::make_unique<GridRow>();
      if (!AppendRowCells(*cells, index, 0, columnCount_)) return -1;
      rows_.insert(rows_.begin() + index, std::move(cells));
    }
    rowHeights_.insert(rowHeights_.begin() + index, 0);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  ++rowCount_;
  if (!virtualMode_)
    for (int r = index + 1; r < rowCount_; ++r)
      for (int c = 0; c < columnCount_; ++c)
        if (CGridCellBase* cell = GetCell(r, c)) cell->SetCellPosition(r, c);

  SetItemText(index, 0, heading);
  CGridCellBase* first = GetCell(index, 0);
  rowHeights_[index] = heading && *heading && first ? first->GetTextExtent(heading).cy
                                                    : defaultFixedRowCell_->GetHeight();
  if (focusCell_.IsValid() && focusCell_.row >= index) {
    const CCellID moved(focusCell_.row + 1, focusCell_.col);
    focusCell_ = CCellID();
    SetFocusCell(moved);
  }
  ResetScrollBars();
  SetModified();
  return index;
}

BOOL CGridCtrl::DeleteColumn(int column) {
  if (column < 0 || column >= columnCount_) return FALSE;
  StopEditing();
  ResetSelectedRange();
  if (!virtualMode_) {
    for (int row = 0; row < rowCount_; ++row) {
      DestroyCell(row, column);
      rows_[row]->erase(rows_[row]->begin() + column);
      for (int c = column; c < columnCount_ - 1; ++c)
        if (CGridCellBase* cell = (*rows_[row])[c]) cell->SetCellPosition(row, c);
    }
  }
  columnWidths_.erase(columnWidths_.begin() + column);
  --columnCount_;
  if (column < fixedColumnCount_) --fixedColumnCount_;
  if (focusCell_.col == column) {
    SetFocusCell(-1, -1);
  } else if (focusCell_.col > column) {
    const CCellID moved(focusCell_.row, focusCell_.col - 1);
    focusCell_ = CCellID();
    SetFocusCell(moved);
  }
  topLeftCell_ = CCellID();
  ResetScrollBars();
  SetModified();
  return TRUE;
}

BOOL CGridCtrl::DeleteRow(int row) {
  if (row < 0 || row >= rowCount_) return FALSE;
  StopEditing();
  ResetSelectedRange();
  if (!virtualMode_) {
    DestroyRowCells(row);
    rows_.erase(rows_.begin() + row);
    for (int r = row; r < rowCount_ - 1; ++r)
      for (int c = 0; c < columnCount_; ++c)
        if (CGridCellBase* cell = (*rows_[r])[c]) cell->SetCellPosition(r, c);
  }
  rowHeights_.erase(rowHeights_.begin() + row);
  --rowCount_;
  if (row < fixedRowCount_) --fixedRowCount_;
  if (focusCell_.row == row) {
    SetFocusCell(-1, -1);
  } else if (focusCell_.row > row) {
    const CCellID moved(focusCell_.row - 1, focusCell_.col);
    focusCell_ = CCellID();
    SetFocusCell(moved);
  }
  topLeftCell_ = CCellID();
  ResetScrollBars();
  SetModified();
  return TRUE;
}

BOOL CGridCtrl::DeleteScrollableRows() {
  ClearSelection();
  for (int row = rowCount_ - 1; row >= fixedRowCount_; --row) DeleteRow(row);
  return TRUE;
}

BOOL CGridCtrl::DeleteAllItems() {
  StopEditing();
  ClearSelection();
  columnWidths_.clear();
  rowHeights_.clear();
  if (!virtualMode_)
    for (int row = 0; row < rowCount_; ++row) DestroyRowCells(row);
  rows_.clear();
  focusCell_ = CCellID();
  topLeftCell_ = CCellID();
  rowCount_ = fixedRowCount_ = columnCount_ = fixedColumnCount_ = 0;
  ResetScrollBars();
  SetModified();
  return TRUE;
}

void CGridCtrl::FillGridWithCells() {
  CRect client;
  if (!GetSafeHwnd()) return;
  ::GetClientRect(GetSafeHwnd(), &client);
  // A default size of 0 (a font with no extent) counts as one pixel.
  const int width = std::max(1, NormalDefault()->GetWidth());
  const int height = std::max(1, NormalDefault()->GetHeight());
  SetColumnCount(client.Width() / width + 1);
  SetRowCount(client.Height() / height + 1);
  SetFixedRowCount(1);
  SetFixedColumnCount(1);
  StretchGridToClient();
}

// ---- virtual-mode owner messages and fonts ----

LRESULT CGridCtrl::RequestCellDisplay(GridDisplayInfo* info) {
  const HWND owner = OwnerWindow();
  if (!owner) return 0;
  info->hdr.hwndFrom = GetSafeHwnd();
  info->hdr.idFrom = ::GetDlgCtrlID(GetSafeHwnd());
  info->hdr.code = static_cast<UINT>(GridCode::DisplayRequest);
  return ::SendMessageW(owner, WM_NOTIFY, info->hdr.idFrom, reinterpret_cast<LPARAM>(info));
}

LRESULT CGridCtrl::SendCacheHint(const CellRange& range) {
  const HWND owner = OwnerWindow();
  if (!owner) return 0;
  GridCacheHint hint{};
  hint.hdr.hwndFrom = GetSafeHwnd();
  hint.hdr.idFrom = ::GetDlgCtrlID(GetSafeHwnd());
  hint.hdr.code = static_cast<UINT>(GridCode::CacheHint);
  hint.range = range;
  return ::SendMessageW(owner, WM_NOTIFY, hint.hdr.idFrom, reinterpret_cast<LPARAM>(&hint));
}

LRESULT CGridCtrl::OnSetFont(WPARAM font, LPARAM) {
  const LRESULT result = Default();
  LOGFONTA lf{};
  if (font && GetObjectA(reinterpret_cast<HGDIOBJ>(font), sizeof(lf), &lf) == sizeof(lf)) {
    for (CGridDefaultCell* cell :
         {defaultCell_.get(), defaultFixedColumnCell_.get(), defaultFixedRowCell_.get(), defaultFixedCell_.get()})
      cell->SetFont(&lf);
    if (GetSafeHwnd()) ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
  }
  return result;
}

LRESULT CGridCtrl::OnGetFont(WPARAM, LPARAM) {
  CFont* font = defaultCell_->GetFontInstance();
  return reinterpret_cast<LRESULT>(font ? font->GetSafeHandle() : nullptr);
}
