// Owner notifications and in-place editing: its start, its end with the owner's
// check, and the continuation into the next cell.
#include "GridCtrl.h"
#include "cells/InPlaceEdit.h"

BEGIN_MESSAGE_MAP(CGridCtrl, CWnd)
  ON_WM_PAINT()
  ON_WM_ERASEBKGND()
  ON_WM_HSCROLL()
  ON_WM_VSCROLL()
  ON_WM_SIZE()
  ON_WM_LBUTTONDOWN()
  ON_WM_LBUTTONUP()
  ON_WM_LBUTTONDBLCLK()
  ON_WM_MOUSEMOVE()
  ON_WM_RBUTTONDOWN()
  ON_WM_RBUTTONUP()
  ON_WM_MOUSEWHEEL()
  ON_WM_SETCURSOR()
  ON_WM_TIMER()
  ON_WM_GETDLGCODE()
  ON_WM_KEYDOWN()
  ON_WM_SYSKEYDOWN()
  ON_WM_CHAR()
  ON_MESSAGE(WM_IME_CHAR, OnImeChar)
  ON_WM_SYSCOLORCHANGE()
  ON_WM_CAPTURECHANGED()
  ON_MESSAGE(WM_SETFONT, OnSetFont)
  ON_MESSAGE(WM_GETFONT, OnGetFont)
  ON_NOTIFY(GridCode::EndEdit, CGridCtrl::kEditId, OnEndInPlaceEdit)
  ON_COMMAND(ID_EDIT_CUT, OnEditCut)
  ON_COMMAND(ID_EDIT_COPY, OnEditCopy)
  ON_COMMAND(ID_EDIT_PASTE, OnEditPaste)
  ON_COMMAND(ID_EDIT_SELECT_ALL, OnEditSelectAll)
  ON_UPDATE_COMMAND_UI(ID_EDIT_CUT, OnUpdateEditCut)
  ON_UPDATE_COMMAND_UI(ID_EDIT_COPY, OnUpdateEditCopy)
  ON_UPDATE_COMMAND_UI(ID_EDIT_PASTE, OnUpdateEditPaste)
  ON_UPDATE_COMMAND_UI(ID_EDIT_SELECT_ALL, OnUpdateEditSelectAll)
END_MESSAGE_MAP()

LRESULT CGridCtrl::NotifyOwner(int row, int column, int code) {
  const HWND owner = OwnerWindow();
  if (!owner) return 0;
  GridNotify notify{};
  notify.hdr.hwndFrom = GetSafeHwnd();
  notify.hdr.idFrom = GetDlgCtrlID();
  notify.hdr.code = static_cast<UINT>(code);
  notify.row = row;
  notify.column = column;
  return ::SendMessageW(owner, WM_NOTIFY, notify.hdr.idFrom, reinterpret_cast<LPARAM>(&notify));
}

BOOL CGridCtrl::IsCellEditable(int row, int column) const {
  return editable_ && IsValid(row, column) && !(GetItemState(row, column) & GridState::ReadOnly);
}

void CGridCtrl::BeginCellEdit(int row, int column, CPoint point, UINT firstChar) {
  titleTip_.Hide();
  if (!IsValid(row, column) || !IsCellEditable(row, column)) return;
  ScrollCellIntoView(row, column);
  CRect rect;
  if (!IsCellOnScreen(row, column) || !CellRectangle(row, column, &rect)) return;
  if (NotifyOwner(row, column, GridCode::BeginEdit) < 0) return;
  CGridCellBase* cell = GetCell(row, column);
  if (!cell) return;
  editingCell_ = CCellID(row, column);
  if (!cell->Edit(row, column, rect, point, kEditId, firstChar)) editingCell_ = CCellID();
}

BOOL CGridCtrl::AcceptEditedText(int row, int column, LPCSTR text) {
  CGridCellBase* cell = GetCell(row, column);
  return cell ? cell->ValidateEdit(text) : TRUE;
}

void CGridCtrl::FinishCellEdit(int row, int column, LPCSTR text) {
  StoreEditedText(row, column, text);
  if (CGridCellBase* cell = GetCell(row, column)) cell->OnEndEdit();
}

// Ends the open edit, if any, through its normal end (the text is kept). The grid
// remembers the edited cell: the focus may have moved since the edit began.
void CGridCtrl::StopEditing() {
  const CCellID cell = editingCell_;
  if (!IsValid(cell)) return;
  if (CGridCellBase* edited = GetCell(cell.row, cell.col)) edited->EndEdit();
}

void CGridCtrl::OnEndInPlaceEdit(NMHDR* header, LRESULT* result) {
  *result = 0;
  if (!GetSafeHwnd()) return;
  const auto* info = reinterpret_cast<const GridDisplayInfo*>(header);
  const CCellID cell(info->item.row, info->item.column);
  editingCell_ = CCellID();
  // A record for a cell that no longer exists is ignored.
  if (!IsValid(cell) || !GetCell(cell.row, cell.col)) return;
  FinishCellEdit(cell.row, cell.col, info->item.text);
  const UINT key = static_cast<UINT>(info->item.data);
  if (key == VK_TAB || (key >= VK_PRIOR && key <= VK_DOWN)) {
    SendMessage(WM_KEYDOWN, key);
    BeginCellEdit(focusCell_.row, focusCell_.col, CPoint(-1, -1), key);
  }
}
