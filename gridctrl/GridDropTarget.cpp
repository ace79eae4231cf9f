#include "GridDropTarget.h"

#include "GridCtrl.h"

BOOL CGridDropTarget::Register(CGridCtrl* grid) {
  // The grid asks on every size change; one registration at a time.
  static bool registering = false;
  if (registered_ || registering || !grid || !grid->GetSafeHwnd()) return FALSE;
  registering = true;
  grid_ = grid;
  registered_ = COleDropTarget::Register(grid);
  registering = false;
  return registered_;
}

void CGridDropTarget::Revoke() {
  registered_ = FALSE;
  COleDropTarget::Revoke();
}

bool CGridDropTarget::IsOurs(CWnd* wnd) const {
  return grid_ && wnd && wnd->GetSafeHwnd() == grid_->GetSafeHwnd();
}

DROPEFFECT CGridDropTarget::OnDragEnter(CWnd* wnd, COleDataObject* data, DWORD keyState, CPoint point) {
  return IsOurs(wnd) ? grid_->OnDragEnter(data, keyState, point) : DROPEFFECT_NONE;
}

DROPEFFECT CGridDropTarget::OnDragOver(CWnd* wnd, COleDataObject* data, DWORD keyState, CPoint point) {
  return IsOurs(wnd) ? grid_->OnDragOver(data, keyState, point) : DROPEFFECT_NONE;
}

BOOL CGridDropTarget::OnDrop(CWnd* wnd, COleDataObject* data, DROPEFFECT effect, CPoint point) {
  return IsOurs(wnd) ? grid_->OnDrop(data, effect, point) : FALSE;
}

void CGridDropTarget::OnDragLeave(CWnd* wnd) {
  if (IsOurs(wnd)) grid_->OnDragLeave();
}

DROPEFFECT CGridDropTarget::OnDragScroll(CWnd* wnd, DWORD keyState, CPoint) {
  if (!IsOurs(wnd)) return DROPEFFECT_NONE;
  return (keyState & MK_CONTROL) ? DROPEFFECT_COPY : DROPEFFECT_MOVE;
}
