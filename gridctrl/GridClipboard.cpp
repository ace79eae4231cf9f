// Cell texts as plain text: copy, cut and paste through the clipboard, and the same
// text dragged and dropped between grids.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "GridCtrl.h"
#include "cells/InPlaceEdit.h"

void CGridCtrl::SetCellTextAsEdit(int row, int column, LPCSTR text) {
  if (!IsCellEditable(row, column) || NotifyOwner(row, column, GridCode::BeginEdit) < 0) return;
  StoreEditedText(row, column, text);
}

// A changed text is stored, then kept only when the cell's check and the owner agree.
void CGridCtrl::StoreEditedText(int row, int column, LPCSTR text) {
  const CString old = GetItemText(row, column);
  if (old == text) return;
  SetItemText(row, column, text);
  if (AcceptEditedText(row, column, text) && NotifyOwner(row, column, GridCode::EndEdit) >= 0) {
    SetModified(TRUE, row, column);
    RedrawCell(row, column);
  } else {
    SetItemText(row, column, old);
  }
}

void CGridCtrl::ClearSelectedTexts() {
  if (!editable_) return;
  // The owner's answers may change the selection while it is walked.
  const SelectionMap snapshot = selectedCells_;
  for (const auto& [key, cell] : snapshot) SetCellTextAsEdit(cell.row, cell.col, "");
}

void CGridCtrl::ClearCellTexts(const CellRange& range) {
  for (int row = range.minRow; row <= range.maxRow; ++row) {
    if (GetRowHeight(row) <= 0) continue;
    for (int column = range.minCol; column <= range.maxCol; ++column)
      if (GetColumnWidth(column) > 0) SetCellTextAsEdit(row, column, "");
  }
  Refresh();
}

COleDataSource* CGridCtrl::MakeSelectionDataSource() {
  const CellRange range = SelectionBounds();
  if (!IsValid(range)) return nullptr;
  if (virtualMode_) SendCacheHint(range);
  CSharedFile file(GMEM_MOVEABLE | GMEM_SHARE | GMEM_ZEROINIT, 4096);
  bool written = true;
  for (int row = range.minRow; row <= range.maxRow && written; ++row) {
    if (GetRowHeight(row) <= 0) continue;
    for (int column = range.minCol; column <= range.maxCol && written; ++column) {
      if (GetColumnWidth(column) <= 0) continue;
      CGridCellBase* cell = GetCell(row, column);
      if (cell && IsCellSelected(row, column)) written = file.Write(cell->GetText(), std::strlen(cell->GetText()));
      if (column != range.maxCol) written = written && file.Write("\t", 1);
    }
    if (row != range.maxRow) written = written && file.Write("\r\n", 2);
  }
  written = written && file.Write("", 1);
  if (virtualMode_) SendCacheHint(CellRange());
  const UINT length = file.GetLength();
  HGLOBAL block = file.Detach();
  if (!written || !block) {
    if (block) GlobalFree(block);
    return nullptr;
  }
  HGLOBAL shrunk = GlobalReAlloc(block, length, GMEM_MOVEABLE);
  if (!shrunk) {
    GlobalFree(block);
    return nullptr;
  }
  auto* source = new COleDataSource;
  source->CacheGlobalData(CF_TEXT, shrunk);
  return source;
}

BOOL CGridCtrl::PasteTextAtCell(CCellID cell, COleDataObject* data, BOOL selectPasted) {
  if (!IsValid(cell) || !IsCellEditable(cell) || !data || !data->IsDataAvailable(CF_TEXT)) return FALSE;
  HGLOBAL block = data->GetGlobalData(CF_TEXT);
  if (!block) return FALSE;
  const auto* bytes = static_cast<const char*>(GlobalLock(block));
  if (!bytes) {
    GlobalFree(block);
    return FALSE;
  }
  // Up to the first NUL, and never past the end of the block.
  const std::string text(bytes, strnlen(bytes, GlobalSize(block)));
  GlobalUnlock(block);
  GlobalFree(block);

  CellRange pasted(cell.row, cell.col, -1, -1);
  int rowOffset = 0;
  // A line is the text up to the next "\n"; an empty remainder after the last one is no line.
  for (size_t lineStart = 0; lineStart < text.size();) {
    const size_t lineEnd = text.find('\n', lineStart);
    const std::string line = text.substr(lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
    int row = cell.row + rowOffset;
    while (row < rowCount_ && GetRowHeight(row) == 0) ++row, ++rowOffset;
    int columnOffset = 0;
    for (size_t fieldStart = 0;;) {
      const size_t fieldEnd = line.find_first_of("\t,", fieldStart);
      int column = cell.col + columnOffset;
      while (column < columnCount_ && GetColumnWidth(column) == 0) ++column, ++columnOffset;
      if (IsValid(row, column)) {
        CString field(line.substr(fieldStart, fieldEnd == std::string::npos ? std::string::npos : fieldEnd - fieldStart));
        field.Trim();
        SetCellTextAsEdit(row, column, field);
        SetItemState(row, column, GetItemState(row, column) & ~GridState::Selected);
        pasted.maxRow = std::max(pasted.maxRow, row);
        pasted.maxCol = std::max(pasted.maxCol, column);
      }
      ++columnOffset;
      if (fieldEnd == std::string::npos) break;
      fieldStart = fieldEnd + 1;
    }
    ++rowOffset;
    if (lineEnd == std::string::npos) break;
    lineStart = lineEnd + 1;
  }
  if (selectPasted) {
    SelectRange(pasted, TRUE, TRUE);
  } else {
    ClearSelection();
    Refresh();
  }
  return TRUE;
}

void CGridCtrl::OnEditCut() {
  if (!editable_) return;
  const std::unique_ptr<COleDataSource> source(MakeSelectionDataSource());
  if (!source) return;
  // Texts the clipboard did not take stay in their cells.
  if (source->SetClipboard()) ClearSelectedTexts();
}

void CGridCtrl::OnEditCopy() {
  const std::unique_ptr<COleDataSource> source(MakeSelectionDataSource());
  if (source) source->SetClipboard();
}

void CGridCtrl::OnEditPaste() {
  if (!editable_) return;
  CCellID target;
  const CellRange selection = SelectionBounds();
  if (IsValid(selection))
    target = selection.GetTopLeft();
  else if (IsValid(focusCell_))
    target = focusCell_;
  else
    target = FirstScrollableCell();
  if (!IsValid(target)) return;
  CGridCellBase* cell = GetCell(target.row, target.col);
  if (cell && cell->IsEditing() && cell->GetEditWindow()) {
    cell->GetEditWindow()->SendMessage(WM_PASTE);
    return;
  }
  COleDataObject clipboard;
  if (clipboard.AttachClipboard()) PasteTextAtCell(target, &clipboard, TRUE);
}

// The states of the edit commands while a menu opens.
void CGridCtrl::OnUpdateEditCut(CCmdUI* cmdUI) { cmdUI->Enable(editable_ && !selectedCells_.empty()); }

void CGridCtrl::OnUpdateEditCopy(CCmdUI* cmdUI) { cmdUI->Enable(!selectedCells_.empty()); }

void CGridCtrl::OnUpdateEditPaste(CCmdUI* cmdUI) {
  cmdUI->Enable(IsValid(focusCell_) && IsCellEditable(focusCell_) && ::IsClipboardFormatAvailable(CF_TEXT));
}

void CGridCtrl::OnUpdateEditSelectAll(CCmdUI* cmdUI) { cmdUI->Enable(selectionEnabled_); }

void CGridCtrl::OnEditSelectAll() {
  NotifyOwner(clickDownCell_.row, clickDownCell_.col, GridCode::SelChanging);
  SelectEverything();
  NotifyOwner(focusCell_.row, focusCell_.col, GridCode::SelChanged);
}

// ---- drag and drop ----

void CGridCtrl::OnBeginDrag() {
  if (!dragAndDropAllowed_) return;
  const std::unique_ptr<COleDataSource> source(MakeSelectionDataSource());
  if (!source) return;
  const CellRange selection = SelectionBounds();
  NotifyOwner(selection.minRow, selection.minCol, GridCode::BeginDrag);
  mouseMode_ = ModeDragging;
  leftButtonDown_ = FALSE;
  const DROPEFFECT effect = source->DoDragDrop(DROPEFFECT_COPY | DROPEFFECT_MOVE);
  if (effect & DROPEFFECT_MOVE) ClearSelectedTexts();
}

void CGridCtrl::SetDropHighlight(const CCellID& cell, bool on) {
  if (!IsValid(cell)) return;
  const UINT state = GetItemState(cell.row, cell.col);
  SetItemState(cell.row, cell.col, on ? state | GridState::DropHighlighted : state & ~GridState::DropHighlighted);
  RedrawCell(cell);
}

DROPEFFECT CGridCtrl::OnDragEnter(COleDataObject* data, DWORD keyState, CPoint point) {
  if (!dragAndDropAllowed_ || !data || !data->IsDataAvailable(CF_TEXT)) return DROPEFFECT_NONE;
  lastDragOverCell_ = CellAtPoint(point, FALSE);
  if (!IsValid(lastDragOverCell_) || !IsCellEditable(lastDragOverCell_)) return DROPEFFECT_NONE;
  SetDropHighlight(lastDragOverCell_, true);
  return (keyState & MK_CONTROL) ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
}

DROPEFFECT CGridCtrl::OnDragOver(COleDataObject* data, DWORD keyState, CPoint point) {
  if (!dragAndDropAllowed_ || !editable_ || !data || !data->IsDataAvailable(CF_TEXT)) return DROPEFFECT_NONE;
  const CCellID cell = CellAtPoint(point, FALSE);
  if (!IsValid(cell)) {
    OnDragLeave();
    lastDragOverCell_ = CCellID();
    return DROPEFFECT_NONE;
  }
  if (!IsCellEditable(cell)) return DROPEFFECT_NONE;
  if (cell != lastDragOverCell_) {
    SetDropHighlight(lastDragOverCell_, false);
    lastDragOverCell_ = cell;
    SetDropHighlight(cell, true);
  }
  return (keyState & MK_CONTROL) ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
}

void CGridCtrl::OnDragLeave() { SetDropHighlight(lastDragOverCell_, false); }

BOOL CGridCtrl::OnDrop(COleDataObject* data, DROPEFFECT, CPoint) {
  mouseMode_ = ModeNone;
  if (!dragAndDropAllowed_ || !IsCellEditable(lastDragOverCell_)) return FALSE;
  OnDragLeave();
  return PasteTextAtCell(lastDragOverCell_, data, FALSE);
}

CImageList* CGridCtrl::CreateDragImage(CPoint* hotSpot) {
  CRect rect;
  CGridCellBase* cell = GetCell(focusCell_.row, focusCell_.col);
  if (!GetSafeHwnd() || !cell || !CellRectangle(focusCell_, &rect)) return nullptr;
  const int width = rect.Width() + 1;
  const int height = rect.Height() + 1;
  CClientDC screen(this);
  CDC memory;
  memory.CreateCompatibleDC(&screen);
  CBitmap bitmap;
  if (!bitmap.CreateCompatibleBitmap(&screen, width, height)) return nullptr;
  CBitmap* old = memory.SelectObject(&bitmap);
  const COLORREF mask = defaultCell_->GetBackColour();
  memory.FillSolidRect(CRect(0, 0, width, height), mask);
  memory.SetWindowOrg(rect.left, rect.top);
  cell->Draw(&memory, focusCell_.row, focusCell_.col, rect, FALSE);
  memory.SelectObject(old);
  auto images = std::make_unique<CImageList>();
  if (!images->Create(width, height, ILC_COLOR32 | ILC_MASK, 1, 1) || images->Add(&bitmap, mask) < 0) return nullptr;
  if (hotSpot) *hotSpot = CPoint(0, 0);
  return images.release();
}
