#include "WfDialog.h"

#include <cerrno>
#include <cstdlib>

#include "WfApp.h"

INT_PTR CALLBACK WfDialogProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WfWindowProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// ---- data exchange ----

CDataExchange::CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dlgWnd) {}

HWND CDataExchange::PrepareCtrl(int id) {
  lastControl_ = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
  lastIsEdit_ = false;
  return lastControl_;
}

HWND CDataExchange::PrepareEditCtrl(int id) {
  PrepareCtrl(id);
  lastIsEdit_ = true;
  return lastControl_;
}

void CDataExchange::Fail() {
  if (lastControl_) {
    ::SetFocus(lastControl_);
    if (lastIsEdit_) ::SendMessageA(lastControl_, EM_SETSEL, 0, -1);
  }
  AfxThrowUserException();
}

namespace {

CString ControlText(HWND control) {
  CString text;
  const int length = ::GetWindowTextLengthA(control);
  const int copied = ::GetWindowTextA(control, text.GetBufferSetLength(length + 1), length + 1);
  text.ReleaseBuffer(copied);
  return text;
}

// An edit control notifies a change on every WM_SETTEXT, so unchanged text is not written.
void SetControlText(HWND control, const char* text) {
  if (ControlText(control) != text) ::SetWindowTextA(control, text);
}

// A whole decimal number in int range, with optional white space around it.
bool ParseInt(const char* text, int& value) {
  while (*text == ' ' || *text == '\t') ++text;
  if (!*text) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = strtoll(text, &end, 10);
  if (end == text || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end) return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
  HWND control = pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate)
    value = ControlText(control);
  else
    SetControlText(control, value);
}

void DDX_Text(CDataExchange* pDX, int id, int& value) {
  HWND control = pDX->PrepareEditCtrl(id);
  if (pDX->m_bSaveAndValidate) {
    if (!ParseInt(ControlText(control), value)) {
      AfxMessageBox("Please enter an integer.", MB_ICONEXCLAMATION);
      pDX->Fail();
    }
  } else {
    CString text;
    text.Format("%d", value);
    SetControlText(control, text);
  }
}

void DDX_Check(CDataExchange* pDX, int id, int& value) {
  HWND control = pDX->PrepareCtrl(id);
  if (pDX->m_bSaveAndValidate)
    value = static_cast<int>(::SendMessageA(control, BM_GETCHECK, 0, 0));
  else
    ::SendMessageA(control, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (control.m_hWnd) return;
  pDX->PrepareCtrl(id);
  if (!control.SubclassDlgItem(static_cast<UINT>(id), pDX->m_pDlgWnd)) AfxThrowResourceException();
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minValue, int maxValue) {
  if (!pDX->m_bSaveAndValidate || (value >= minValue && value <= maxValue)) return;
  CString text;
  text.Format("Please enter an integer between %d and %d.", minValue, maxValue);
  AfxMessageBox(text, MB_ICONEXCLAMATION);
  pDX->Fail();
}

// ---- the dialog ----

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_pParentWnd(parent), templateId_(templateId) {}

INT_PTR CALLBACK WfDialogProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Only the first message needs this procedure: from here on the dialog's own window
  // procedure routes everything to the object, which passes on what it leaves to the
  // system's dialog procedure, which calls this one again (and gets FALSE).
  if (message != WM_INITDIALOG) return FALSE;
  auto* dialog = reinterpret_cast<CDialog*>(lParam);
  if (!dialog || CWnd::FromHandlePermanent(hWnd)) return FALSE;
  if (!dialog->SubclassWindow(hWnd)) return FALSE;
  // Straight to the object: a second WM_INITDIALOG through SendMessage would show twice to hooks.
  return static_cast<INT_PTR>(WfWindowProcedure(hWnd, WM_INITDIALOG, wParam, lParam));
}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

HWND CDialog::ModalOwner() const {
  HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  if (!owner) {
    CWnd* main = AfxGetMainWnd();
    if (main && main != this) owner = main->m_hWnd;
  }
  while (owner && (GetWindowLongA(owner, GWL_STYLE) & WS_CHILD)) owner = ::GetParent(owner);
  if (!owner || !::IsWindow(owner)) return nullptr;
  // A dialog already running over that window is the one to stack on.
  return ::GetLastActivePopup(owner);
}

INT_PTR CDialog::DoModal() {
  HWND owner = ModalOwner();
  result_ = -1;
  running_ = true;
  HWND hWnd = ::CreateDialogParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(templateId_), owner,
                                   &WfDialogProcedure, reinterpret_cast<LPARAM>(this));
  if (!hWnd) {
    running_ = false;
    return -1;
  }
  const bool disabledOwner = owner && ::IsWindowEnabled(owner) && running_;
  if (disabledOwner) ::EnableWindow(owner, FALSE);
  if (running_) {
    ShowWindow(SW_SHOWNORMAL);
    RunModalLoop();
  }
  if (disabledOwner) ::EnableWindow(owner, TRUE);
  if (m_hWnd) {
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                   SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (owner && ::GetActiveWindow() == m_hWnd) ::SetActiveWindow(owner);
    DestroyWindow();
  }
  running_ = false;
  return result_;
}

void CDialog::RunModalLoop() {
  MSG msg;
  while (running_ && m_hWnd) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      // Leave the quit message for the loop that owns it.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got < 0) {  // the queue failed: the dialog ends, the program goes on
      result_ = -1;
      break;
    }
    if (CWnd::WalkPreTranslateTree(m_hWnd, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void CDialog::EndDialog(int result) {
  result_ = result;
  running_ = false;
  if (m_hWnd) ::PostMessageA(m_hWnd, WM_NULL, 0, 0);  // wakes the loop
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange exchange(this, saveAndValidate);
  try {
    DoDataExchange(&exchange);
  } catch (const CUserException&) {
    return FALSE;
  }
  return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  return m_hWnd && ::IsDialogMessageA(m_hWnd, msg);
}
