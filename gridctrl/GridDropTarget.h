#pragma once
// The grid's drop target: registered once for its window, it hands every drag
// event over to the grid.

#include "WfOle.h"

class CGridCtrl;

class CGridDropTarget : public COleDropTarget {
 public:
  BOOL Register(CGridCtrl* grid);
  BOOL IsRegistered() const { return registered_; }

  void Revoke() override;
  DROPEFFECT OnDragEnter(CWnd* wnd, COleDataObject* data, DWORD keyState, CPoint point) override;
  DROPEFFECT OnDragOver(CWnd* wnd, COleDataObject* data, DWORD keyState, CPoint point) override;
  BOOL OnDrop(CWnd* wnd, COleDataObject* data, DROPEFFECT effect, CPoint point) override;
  void OnDragLeave(CWnd* wnd) override;
  DROPEFFECT OnDragScroll(CWnd* wnd, DWORD keyState, CPoint point) override;

 private:
  bool IsOurs(CWnd* wnd) const;

  CGridCtrl* grid_ = nullptr;
  BOOL registered_ = FALSE;
};
