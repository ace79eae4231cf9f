#include "WfControls.h"

#include "WfApp.h"
#include "WfTempMap.h"

IMPLEMENT_DYNAMIC(CEdit, CWnd)
IMPLEMENT_DYNAMIC(CButton, CWnd)
IMPLEMENT_DYNAMIC(CStatic, CWnd)
IMPLEMENT_DYNAMIC(CListBox, CWnd)
IMPLEMENT_DYNAMIC(CMenu, CObject)
IMPLEMENT_DYNAMIC(CImageList, CObject)

namespace {
thread_local WfTempMap<CMenu, HMENU> temporaryMenus;
}

void WfPurgeMenuTemporaries() {
  temporaryMenus.Purge([](HMENU h) { return !IsMenu(h); });
}

BOOL CEdit::Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
  return CWnd::Create("EDIT", nullptr, style, rect, parent, id);
}
void CEdit::SetSel(int start, int end, BOOL noScroll) {
  SendMessage(EM_SETSEL, start, end);
  if (!noScroll) SendMessage(EM_SCROLLCARET);
}
DWORD CEdit::GetSel() const { return static_cast<DWORD>(SendMessage(EM_GETSEL)); }
void CEdit::GetSel(int& start, int& end) const {
  DWORD s = 0, e = 0;
  SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  start = static_cast<int>(s);
  end = static_cast<int>(e);
}
void CEdit::ReplaceSel(const char* text, BOOL canUndo) {
  SendMessage(EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(text));
}
void CEdit::SetLimitText(UINT maxChars) { SendMessage(EM_SETLIMITTEXT, maxChars); }
UINT CEdit::GetLimitText() const { return static_cast<UINT>(SendMessage(EM_GETLIMITTEXT)); }
void CEdit::LineScroll(int lines, int chars) { SendMessage(EM_LINESCROLL, chars, lines); }
int CEdit::GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }

int CButton::GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
void CButton::SetCheck(int check) { SendMessage(BM_SETCHECK, check); }

int CListBox::GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
int CListBox::GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
int CListBox::SetCurSel(int index) { return static_cast<int>(SendMessage(LB_SETCURSEL, index)); }
int CListBox::AddString(const char* text) {
  return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
}
int CListBox::InsertString(int index, const char* text) {
  return static_cast<int>(SendMessage(LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text)));
}
int CListBox::DeleteString(UINT index) { return static_cast<int>(SendMessage(LB_DELETESTRING, index)); }
void CListBox::ResetContent() { SendMessage(LB_RESETCONTENT); }
int CListBox::GetTextLen(int index) const { return static_cast<int>(SendMessage(LB_GETTEXTLEN, index)); }
int CListBox::GetText(int index, CString& text) const {
  const int length = GetTextLen(index);
  if (length == LB_ERR) {
    text.Empty();
    return LB_ERR;
  }
  const int copied = static_cast<int>(
      SendMessage(LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.GetBufferSetLength(length + 1))));
  text.ReleaseBuffer(copied == LB_ERR ? 0 : copied);
  return copied;
}
int CListBox::FindStringExact(int startAfter, const char* text) const {
  return static_cast<int>(SendMessage(LB_FINDSTRINGEXACT, startAfter, reinterpret_cast<LPARAM>(text)));
}

CMenu::~CMenu() {
  if (owned_) DestroyMenu();
}
CMenu* CMenu::FromHandle(HMENU handle) { return handle ? temporaryMenus.Get(handle) : nullptr; }
BOOL CMenu::Attach(HMENU handle) {
  if (!handle) return FALSE;
  DestroyMenu();
  m_hMenu = handle;
  owned_ = true;
  return TRUE;
}
HMENU CMenu::Detach() {
  HMENU handle = m_hMenu;
  m_hMenu = nullptr;
  return handle;
}
BOOL CMenu::DestroyMenu() { return m_hMenu ? ::DestroyMenu(Detach()) : FALSE; }
BOOL CMenu::LoadMenu(UINT resourceId) {
  return Attach(::LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(resourceId)));
}
BOOL CMenu::CreatePopupMenu() { return Attach(::CreatePopupMenu()); }
BOOL CMenu::AppendMenu(UINT flags, UINT_PTR id, const char* text) {
  return ::AppendMenuA(m_hMenu, flags, id, text);
}
int CMenu::GetMenuItemCount() const { return ::GetMenuItemCount(m_hMenu); }
UINT CMenu::GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }
int CMenu::GetMenuString(UINT item, CString& text, UINT flags) const {
  const int length = ::GetMenuStringA(m_hMenu, item, nullptr, 0, flags);
  const int copied = ::GetMenuStringA(m_hMenu, item, text.GetBufferSetLength(length + 1), length + 1, flags);
  text.ReleaseBuffer(copied);
  return copied;
}
CMenu* CMenu::GetSubMenu(int position) const { return FromHandle(::GetSubMenu(m_hMenu, position)); }
UINT CMenu::EnableMenuItem(UINT item, UINT enable) { return ::EnableMenuItem(m_hMenu, item, enable); }

CImageList::~CImageList() { DeleteImageList(); }
BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  DeleteImageList();
  m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
  return m_hImageList != nullptr;
}
int CImageList::Add(CBitmap* bitmap, CBitmap* mask) {
  return ImageList_Add(m_hImageList, static_cast<HBITMAP>(bitmap->m_hObject),
                       mask ? static_cast<HBITMAP>(mask->m_hObject) : nullptr);
}
int CImageList::Add(CBitmap* bitmap, COLORREF maskColour) {
  return ImageList_AddMasked(m_hImageList, static_cast<HBITMAP>(bitmap->m_hObject), maskColour);
}
int CImageList::Add(HICON icon) { return ImageList_AddIcon(m_hImageList, icon); }
int CImageList::GetImageCount() const { return ImageList_GetImageCount(m_hImageList); }
BOOL CImageList::GetImageInfo(int image, IMAGEINFO* info) const {
  return ImageList_GetImageInfo(m_hImageList, image, info);
}
BOOL CImageList::Draw(CDC* dc, int image, POINT point, UINT style) {
  return ImageList_Draw(m_hImageList, image, dc->m_hDC, point.x, point.y, style);
}
BOOL CImageList::DeleteImageList() {
  if (!m_hImageList) return FALSE;
  const BOOL ok = ImageList_Destroy(m_hImageList);
  m_hImageList = nullptr;
  return ok;
}
