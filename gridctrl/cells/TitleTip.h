#pragma once
// The pop-up that shows a cell's whole text when it does not fit in the cell, and
// passes the mouse and keys on to what lies beneath it.

#include "WfWnd.h"

class CTitleTip : public CWnd {
 public:
  CTitleTip();
  ~CTitleTip() override;

  virtual BOOL Create(CWnd* parent);
  void SetParentWindow(CWnd* parent) { parent_ = parent; }
  // titleRect and hoverRect are in the parent's client coordinates.
  void Show(CRect titleRect, LPCSTR text, int xOffset = 0, LPCRECT hoverRect = nullptr,
            const LOGFONTA* font = nullptr, COLORREF textColour = 0xFF000000, COLORREF backColour = 0xFF000000);
  void Hide();

  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL DestroyWindow() override;

 protected:
  void OnMouseMove(UINT flags, CPoint point);
  void OnPaint();
  DECLARE_MESSAGE_MAP()

 private:
  void Paint(CDC* dc);
  HWND WindowBeneath(CPoint screen) const;

  CWnd* parent_ = nullptr;
  CRect titleRect_;
  CRect hoverRect_;  // screen coordinates
  DWORD lastPressTime_ = static_cast<DWORD>(-1);
  DWORD doubleClickTime_;
  BOOL created_ = FALSE;
  CString text_;
  CFont font_;
  COLORREF textColour_ = 0xFF000000;
  COLORREF backColour_ = 0xFF000000;
};
