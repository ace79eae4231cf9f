// Dialogs from resource templates, with data exchange and validation.
//   CDialog(templateId, parent)  DoModal (our own loop, so PreTranslateMessage works inside
//               the dialog; the owner is the parent's top-level window, else the main
//               window, in both cases its last active pop-up; the owner is disabled while
//               the dialog runs), EndDialog, OnInitDialog (UpdateData(FALSE); TRUE),
//               OnOK (UpdateData(TRUE), then EndDialog(IDOK)), OnCancel (EndDialog(IDCANCEL)),
//               DoDataExchange, UpdateData, GetTemplateId, m_pParentWnd.
//               IDOK and IDCANCEL commands (Enter, Escape, the close box) reach OnOK/OnCancel.
//   CDataExchange  m_bSaveAndValidate, m_pDlgWnd, PrepareCtrl, PrepareEditCtrl, Fail
//   DDX_Text     CString or int; loading writes the control only when its text differs
//                (an edit sends EN_CHANGE on every WM_SETTEXT); saving an int that is not a
//                whole decimal number in int range shows "Please enter an integer." and fails
//   DDX_Check    check box state (0, 1, 2)
//   DDX_Control  sub-classes the dialog's control into the given object (once)
//   DDV_MinMaxInt  on saving, outside [min, max] shows
//                "Please enter an integer between <min> and <max>." and fails
//   A failure puts the focus on the control concerned (an edit's text selected) and makes
//   UpdateData return FALSE. The messages go through AfxMessageBox (the platform seam).
#pragma once

#include <windows.h>

#include "WfWnd.h"

class CDataExchange {
 public:
  CDataExchange(CWnd* dlgWnd, BOOL saveAndValidate);

  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;

  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  [[noreturn]] void Fail();

 private:
  HWND lastControl_ = nullptr;
  bool lastIsEdit_ = false;
};

void DDX_Text(CDataExchange* pDX, int id, CString& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minValue, int maxValue);

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)
 public:
  CDialog() = default;
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);

  virtual INT_PTR DoModal();
  void EndDialog(int result);
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  UINT GetTemplateId() const { return templateId_; }

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  BOOL PreTranslateMessage(MSG* msg) override;

  CWnd* m_pParentWnd = nullptr;

 protected:
  virtual void DoDataExchange(CDataExchange* pDX);
  LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);

 private:
  HWND ModalOwner() const;
  void RunModalLoop();

  UINT templateId_ = 0;
  bool running_ = false;
  INT_PTR result_ = -1;

  DECLARE_MESSAGE_MAP()
};
