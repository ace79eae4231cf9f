#include "MainMenu.h"

#include "AboutDlg.h"
#include "packages/DataFolders.h"
#include "logpane/LogPane.h"
#include "packages/MaintWorkflow.h"
#include "packages/PackageBackup.h"
#include "dialogs/PackageDialogs.h"
#include "resource.h"

BEGIN_MESSAGE_MAP(CMainMenu, CDialog)
  ON_WM_SYSCOMMAND()
  ON_WM_PAINT()
  ON_WM_QUERYDRAGICON()
  ON_COMMAND(ID_NEW_PACKAGE, OnNewPackage)
  ON_COMMAND(ID_EDIT_PACKAGE, OnEditPackage)
  ON_COMMAND(ID_EDIT_DEFAULT_CONFIG, OnEditDefaultConfig)
  ON_COMMAND(ID_EXPLORE_PACKAGES, OnExplorePackages)
  ON_COMMAND(ID_FILE_EXIT, OnExit)
  ON_COMMAND(ID_ONLINE_HELP, OnOnlineHelp)
  ON_COMMAND(ID_APP_ABOUT_MENU, OnAbout)
END_MESSAGE_MAP()

CMainMenu::CMainMenu(CWnd* parent)
    : CDialog(IDD_MAINMENU, parent),
      m_hIcon(::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))) {}

BOOL CMainMenu::OnInitDialog() {
  CDialog::OnInitDialog();
  SetLogWindow(::GetDlgItem(m_hWnd, IDC_LOG));

  if (CMenu* systemMenu = GetSystemMenu(FALSE)) {
    CString aboutText;
    if (aboutText.LoadString(IDS_ABOUTBOX) && !aboutText.IsEmpty()) {
      systemMenu->AppendMenu(MF_SEPARATOR);
      systemMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutText);
    }
  }
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);

  LogLine() << "Qel Security Identra Administrative Tools";
  // Said before the recovery, which leaves alone what others could have written.
  DataPaths::Get().WarnOfOpenFolders();
  PackageBackup::RecoverLeftovers();
  LogLine() << "Status: Ready. \r\n";
  return TRUE;
}

// Each operation runs to its end inside the command; its log lines tell how it went.
void CMainMenu::OnNewPackage() {
  CWaitCursor wait;
  NewPackageWorkflow workflow(m_hWnd);
  workflow.Execute();
  wait.Restore();
}

void CMainMenu::OnEditPackage() {
  CWaitCursor wait;
  EditPackageWorkflow workflow(m_hWnd);
  workflow.Execute();
  wait.Restore();
}

void CMainMenu::OnEditDefaultConfig() {
  EditDefaultConfigWorkflow workflow(m_hWnd);
  workflow.Execute();
}

void CMainMenu::OnExplorePackages() {
  CWaitCursor wait;
  ExploreFolder(DataPaths::Get().packagesFolder);
}

void CMainMenu::OnExit() { EndDialog(0); }

void CMainMenu::OnOnlineHelp() { WfPlatform::Current().ShellOpen(m_hWnd, kOnlineHelpAddress, SW_SHOWNORMAL); }

void CMainMenu::OnAbout() {
  CAboutDlg about;
  about.DoModal();
}

void CMainMenu::OnSysCommand(UINT id, LPARAM lParam) {
  if ((id & 0xFFF0) == IDM_ABOUTBOX)
    OnAbout();
  else
    CDialog::OnSysCommand(id, lParam);
}

void CMainMenu::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  CPaintDC dc(this);
  PaintMinimised(dc);
}

void CMainMenu::PaintMinimised(CDC& dc) {
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const int iconWidth = ::GetSystemMetrics(SM_CXICON);
  const int iconHeight = ::GetSystemMetrics(SM_CYICON);
  CRect client;
  GetClientRect(&client);
  dc.DrawIcon((client.Width() - iconWidth + 1) / 2, (client.Height() - iconHeight + 1) / 2, m_hIcon);
}

HCURSOR CMainMenu::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }
