// The record of one print job that a printing window fills and reads.
//   CPrintInfo  m_nCurPage (the page being printed), m_rectDraw (the drawing rectangle in
//               logical units), m_bContinuePrinting; Set/GetMinPage, Set/GetMaxPage,
//               GetFromPage/GetToPage (the whole range)
#pragma once

#include <windows.h>
#include <commdlg.h>

#include "WfGeometry.h"

class CPrintInfo {
 public:
  UINT m_nCurPage = 1;
  CRect m_rectDraw;
  BOOL m_bContinuePrinting = TRUE;

  void SetMinPage(UINT page) { minPage_ = page; }
  void SetMaxPage(UINT page) { maxPage_ = page; }
  UINT GetMinPage() const { return minPage_; }
  UINT GetMaxPage() const { return maxPage_; }
  UINT GetFromPage() const { return minPage_; }
  UINT GetToPage() const { return maxPage_; }

 private:
  UINT minPage_ = 1;
  UINT maxPage_ = 1;
};
