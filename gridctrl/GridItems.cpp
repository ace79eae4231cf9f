// Item access by row and column, the modified marks, grid-wide properties and
// virtual mode.
#include <cstdarg>

#include "GridCtrl.h"

CGridCellBase* CGridCtrl::GetCell(int row, int column) const {
  if (row < 0 || row >= rowCount_ || column < 0 || column >= columnCount_) return nullptr;
  if (!virtualMode_) return (*rows_[row])[column];

  // One record and one cell for the whole program: each call refills them.
  static GridDisplayInfo info;
  static CGridCell cell;
  const BOOL fixedRow = row < fixedRowCount_;
  const BOOL fixedColumn = column < fixedColumnCount_;
  CGridCellBase* def = GetDefaultCell(fixedRow, fixedColumn);
  GridItem& item = info.item;
  item.row = row;
  item.column = column;
  item.mask = GridMask::All;
  item.state = 0;
  item.format = def->GetFormat();
  item.image = def->GetImage();
  item.backColour = def->GetBackColour();
  item.textColour = def->GetTextColour();
  item.data = def->GetData();
  item.font = def->GetFont() ? *def->GetFont() : LOGFONTA{};
  item.margin = def->GetMargin();
  item.text = "";
  if (selectedCells_.count(SelectionKey(row, column))) item.state |= GridState::Selected;
  if (fixedRow) item.state |= GridState::Fixed | GridState::FixedRow;
  if (fixedColumn) item.state |= GridState::Fixed | GridState::FixedColumn;
  if (focusCell_ == CCellID(row, column)) item.state |= GridState::Focused;

  auto* self = const_cast<CGridCtrl*>(this);
  if (displayCallback_)
    displayCallback_(self, &info, displayCallbackData_);
  else
    self->RequestCellDisplay(&info);

  cell.SetState(item.state);
  cell.SetFormat(item.format);
  cell.SetImage(item.image);
  cell.SetBackColour(item.backColour);
  cell.SetTextColour(item.textColour);
  cell.SetData(item.data);
  cell.SetFont(&item.font);
  cell.SetMargin(item.margin);
  cell.SetText(item.text);
  cell.SetGrid(self);
  return &cell;
}

BOOL CGridCtrl::SetCell(int row, int column, CGridCellBase* cell) {
  if (virtualMode_ || !cell || !IsValid(row, column)) return FALSE;
  cell->SetCellPosition(row, column);
  // The grid owns its cells and the caller gets no way back to the one replaced.
  CGridCellBase*& slot = (*rows_[row])[column];
  if (slot != cell) delete slot;
  slot = cell;
  return TRUE;
}

BOOL CGridCtrl::SetItem(const GridItem* item) {
  if (virtualMode_ || !item) return FALSE;
  CGridCellBase* cell = GetCell(item->row, item->column);
  if (!cell) return FALSE;
  SetModified(TRUE, item->row, item->column);
  if (item->mask & GridMask::Text) cell->SetText(item->text);
  if (item->mask & GridMask::Data) cell->SetData(item->data);
  if (item->mask & GridMask::Image) cell->SetImage(item->image);
  if (item->mask & GridMask::State) SetItemState(item->row, item->column, item->state);
  if (item->mask & GridMask::Format) cell->SetFormat(item->format);
  if (item->mask & GridMask::BackColour) cell->SetBackColour(item->backColour);
  if (item->mask & GridMask::TextColour) cell->SetTextColour(item->textColour);
  if (item->mask & GridMask::Font) cell->SetFont(&item->font);
  if (item->mask & GridMask::Margin) cell->SetMargin(item->margin);
  return TRUE;
}

BOOL CGridCtrl::GetItem(GridItem* item) {
  if (!item) return FALSE;
  CGridCellBase* cell = GetCell(item->row, item->column);
  if (!cell) return FALSE;
  if (item->mask & GridMask::Text) item->text = GetItemText(item->row, item->column);
  if (item->mask & GridMask::Data) item->data = cell->GetData();
  if (item->mask & GridMask::Image) item->image = cell->GetImage();
  if (item->mask & GridMask::State) item->state = cell->GetState();
  if (item->mask & GridMask::Format) item->format = cell->GetFormat();
  if (item->mask & GridMask::BackColour) item->backColour = cell->GetBackColour();
  if (item->mask & GridMask::TextColour) item->textColour = cell->GetTextColour();
  if (item->mask & GridMask::Font) item->font = cell->GetFont() ? *cell->GetFont() : LOGFONTA{};
  if (item->mask & GridMask::Margin) item->margin = cell->GetMargin();
  return TRUE;
}

BOOL CGridCtrl::SetItemText(int row, int column, LPCSTR text) {
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetText(text ? text : "");
  SetModified(TRUE, row, column);
  return TRUE;
}

BOOL CGridCtrl::SetItemTextFormatted(int row, int column, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  CString text;
  text.FormatV(format, args);
  va_end(args);
  return SetItemText(row, column, text);
}

BOOL CGridCtrl::SetItemTextFromResource(int row, int column, UINT formatId, ...) {
  CString format;
  if (!format.LoadString(formatId)) return FALSE;
  va_list args;
  va_start(args, formatId);
  CString text;
  text.FormatV(format, args);
  va_end(args);
  return SetItemText(row, column, text);
}

CString CGridCtrl::GetItemText(int row, int column) const {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? CString(cell->GetText()) : CString();
}

BOOL CGridCtrl::SetItemData(int row, int column, LPARAM data) {
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetData(data);
  SetModified(TRUE, row, column);
  return TRUE;
}

LPARAM CGridCtrl::GetItemData(int row, int column) const {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetData() : 0;
}

BOOL CGridCtrl::SetItemImage(int row, int column, int image) {
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetImage(image);
  SetModified(TRUE, row, column);
  return TRUE;
}

int CGridCtrl::GetItemImage(int row, int column) const {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetImage() : -1;
}

BOOL CGridCtrl::SetItemState(int row, int column, UINT state) {
  if (!IsValid(row, column)) return FALSE;
  const uint64_t key = SelectionKey(row, column);
  const bool selected = selectedCells_.count(key) != 0;
  if (!selected && (state & GridState::Selected))
    selectedCells_[key] = CCellID(row, column);
  else if (selected && !(state & GridState::Selected))
    selectedCells_.erase(key);
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetState(state);
  return TRUE;
}

UINT CGridCtrl::GetItemState(int row, int column) const {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetState() : 0;
}

BOOL CGridCtrl::SetItemFormat(int row, int column, UINT format) {
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetFormat(format);
  return TRUE;
}

UINT CGridCtrl::GetItemFormat(int row, int column) const {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetFormat() : 0;
}

BOOL CGridCtrl::SetItemBackColour(int row, int column, COLORREF colour) {
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetBackColour(colour);
  return TRUE;
}

COLORREF CGridCtrl::GetItemBackColour(int row, int column) const {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetBackColour() : 0;
}

BOOL CGridCtrl::SetItemTextColour(int row, int column, COLORREF colour) {
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetTextColour(colour);
  return TRUE;
}

COLORREF CGridCtrl::GetItemTextColour(int row, int column) const {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->GetTextColour() : 0;
}

BOOL CGridCtrl::SetItemFont(int row, int column, const LOGFONTA* font) {
  if (virtualMode_) return FALSE;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return FALSE;
  cell->SetFont(font);
  return TRUE;
}

const LOGFONTA* CGridCtrl::GetItemFont(int row, int column) {
  CGridCellBase* cell = GetCell(row, column);
  if (cell) return cell->GetFont();
  return GetDefaultCell(row < fixedRowCount_, column < fixedColumnCount_)->GetFont();
}

BOOL CGridCtrl::IsItemEditing(int row, int column) {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->IsEditing() : FALSE;
}

void CGridCtrl::SetVirtualMode(BOOL virtualMode) {
  DeleteAllItems();
  virtualMode_ = virtualMode;
  if (virtualMode) {
    editable_ = FALSE;
    sortOnHeaderClick_ = FALSE;
    fitStyle_ = 1;
    fixedRowClickSelects_ = FALSE;
    fixedColumnClickSelects_ = FALSE;
  }
}

void CGridCtrl::SetDisplayCallback(GridDisplayCallback callback, LPARAM data) {
  displayCallback_ = callback;
  displayCallbackData_ = data;
}

void CGridCtrl::SetGridLines(int kind) {
  gridLines_ = kind;
  Refresh();
}

void CGridCtrl::SetModified(BOOL modified, int row, int column) {
  if (column < 0 || column == sortColumn_) SetSortColumn(-1);
  if (row < 0 || column < 0) {
    modified_ = modified;
  } else if (!virtualMode_) {
    if (CGridCellBase* cell = GetCell(row, column)) {
      if (modified) {
        cell->SetState(cell->GetState() | GridState::Modified);
        modified_ = TRUE;
      } else {
        cell->SetState(cell->GetState() & ~GridState::Modified);
      }
    }
  }
  if (!modified_ && !virtualMode_) {
    for (const auto& cells : rows_)
      for (CGridCellBase* cell : *cells)
        if (cell) cell->SetState(cell->GetState() & ~GridState::Modified);
  }
}

BOOL CGridCtrl::GetModified(int row, int column) {
  if (row < 0 || column < 0) return modified_;
  CGridCellBase* cell = GetCell(row, column);
  return cell && (cell->GetState() & GridState::Modified) ? TRUE : FALSE;
}

void CGridCtrl::Refresh() {
  if (GetSafeHwnd() && allowDraw_) ::InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}
