#include "AboutDlg.h"

#include "support/KitUtilities.h"
#include "resource.h"

CString AboutVersionText() {
  ModuleVersion version{};
  if (!ReadModuleVersion(nullptr, version)) version = ModuleVersion{};
  CString text;
  text.Format("Qel Security Identra Tools v%s", FormatModuleVersion(version, 2).c_str());
  return text;
}

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX) {}

void CAboutDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_ABOUT_VERSION, m_versionText);
}

BOOL CAboutDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  m_versionText = AboutVersionText();
  UpdateData(FALSE);
  return TRUE;
}
