// The About box: the program's file and product versions from its version resource.
#pragma once

#include "WinFrame.h"

class CAboutDlg : public CDialog {
 public:
  CAboutDlg();

  BOOL OnInitDialog() override;

  CString m_versionText;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
};

// "Qel Security Identra Tools v" with the running program's "file {product}" version
// (zeros when the version resource cannot be read).
CString AboutVersionText();
