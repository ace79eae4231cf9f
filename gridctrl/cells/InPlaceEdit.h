#pragma once
// The small edit window laid over a cell while its text is edited. It reports the
// end of the edit to the grid (code -106 with the text and the key that ended it)
// and deletes itself when its window is gone. When the window cannot be made, the
// object has no window (GetSafeHwnd() is null) and its creator deletes it.

#include "WfControls.h"

class CInPlaceEdit : public CEdit {
 public:
  CInPlaceEdit(CWnd* parent, const CRect& rect, DWORD style, UINT id, int row, int column, const CString& text,
               UINT firstChar);

  // Ends the edit: tells the grid, then closes the window (which deletes this object).
  void EndEdit();
  UINT GetLastKey() const { return lastKey_; }

  BOOL PreTranslateMessage(MSG* msg) override;

 protected:
  void PostNcDestroy() override;

  void OnKillFocus(CWnd* newWnd);
  void OnChar(UINT ch, UINT repeat, UINT flags);
  void OnKeyDown(UINT key, UINT repeat, UINT flags);
  UINT OnGetDlgCode();
  DECLARE_MESSAGE_MAP()

 private:
  void LeaveWithKey(UINT key);

  int row_;
  int column_;
  CString initialText_;
  UINT lastKey_ = 0;
  BOOL exitOnArrows_;
  CRect rect_;
  bool created_ = false;
};
