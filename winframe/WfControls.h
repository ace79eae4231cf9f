// Wrappers of the standard controls, menus and image lists.
//   CEdit       Create (class "EDIT"), SetSel GetSel ReplaceSel SetLimitText GetLimitText
//               LineScroll GetLineCount
//   CButton     GetCheck SetCheck
//   CStatic     (a static control)
//   CListBox    GetCount GetCurSel SetCurSel AddString InsertString DeleteString ResetContent
//               GetText GetTextLen FindStringExact
//   CMenu       m_hMenu; FromHandle (temporary wrapper), Attach Detach DestroyMenu LoadMenu
//               CreatePopupMenu AppendMenu GetMenuItemCount GetMenuItemID GetMenuString
//               GetSubMenu EnableMenuItem; an attached or created menu is destroyed with it
//   CImageList  m_hImageList; Create Add(bitmap, mask bitmap | mask colour) Add(icon)
//               GetImageCount GetImageInfo Draw DeleteImageList; deleted with the object
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "WfWnd.h"

class CEdit : public CWnd {
  DECLARE_DYNAMIC(CEdit)
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetSel(int start, int end, BOOL noScroll = FALSE);
  DWORD GetSel() const;
  void GetSel(int& start, int& end) const;
  void ReplaceSel(const char* text, BOOL canUndo = FALSE);
  void SetLimitText(UINT maxChars);
  UINT GetLimitText() const;
  void LineScroll(int lines, int chars = 0);
  int GetLineCount() const;
};

class CButton : public CWnd {
  DECLARE_DYNAMIC(CButton)
 public:
  int GetCheck() const;
  void SetCheck(int check);
};

class CStatic : public CWnd {
  DECLARE_DYNAMIC(CStatic)
};

class CListBox : public CWnd {
  DECLARE_DYNAMIC(CListBox)
 public:
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index);
  int AddString(const char* text);
  int InsertString(int index, const char* text);
  int DeleteString(UINT index);
  void ResetContent();
  int GetText(int index, CString& text) const;
  int GetTextLen(int index) const;
  int FindStringExact(int startAfter, const char* text) const;
};

class CMenu : public CObject {
  DECLARE_DYNAMIC(CMenu)
 public:
  HMENU m_hMenu = nullptr;

  CMenu() = default;
  ~CMenu() override;
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

  static CMenu* FromHandle(HMENU handle);
  operator HMENU() const { return m_hMenu; }
  HMENU GetSafeHmenu() const { return m_hMenu; }
  BOOL Attach(HMENU handle);
  HMENU Detach();
  void AttachTemporary(HMENU handle) { m_hMenu = handle; owned_ = false; }
  BOOL DestroyMenu();
  BOOL LoadMenu(UINT resourceId);
  BOOL CreatePopupMenu();
  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, const char* text = nullptr);
  int GetMenuItemCount() const;
  UINT GetMenuItemID(int position) const;
  int GetMenuString(UINT item, CString& text, UINT flags) const;
  CMenu* GetSubMenu(int position) const;
  UINT EnableMenuItem(UINT item, UINT enable);

 private:
  bool owned_ = true;
};

class CImageList : public CObject {
  DECLARE_DYNAMIC(CImageList)
 public:
  HIMAGELIST m_hImageList = nullptr;

  CImageList() = default;
  ~CImageList() override;
  CImageList(const CImageList&) = delete;
  CImageList& operator=(const CImageList&) = delete;

  operator HIMAGELIST() const { return m_hImageList; }
  HIMAGELIST GetSafeHandle() const { return m_hImageList; }
  BOOL Create(int cx, int cy, UINT flags, int initial, int grow);
  int Add(CBitmap* bitmap, CBitmap* mask);
  int Add(CBitmap* bitmap, COLORREF maskColour);
  int Add(HICON icon);
  int GetImageCount() const;
  BOOL GetImageInfo(int image, IMAGEINFO* info) const;
  BOOL Draw(CDC* dc, int image, POINT point, UINT style);
  BOOL DeleteImageList();
};

void WfPurgeMenuTemporaries();
