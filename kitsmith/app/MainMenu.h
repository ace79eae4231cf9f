// The main window: the package operations in its menu and the operation log in its one
// edit control, whose handle it publishes for every log line.
#pragma once

#include "WinFrame.h"

// The page the Help menu opens in the browser.
inline constexpr char kOnlineHelpAddress[] = "https://www.qelsecurity.example/identra/kitsmith/help/";

class CMainMenu : public CDialog {
 public:
  explicit CMainMenu(CWnd* parent);

  BOOL OnInitDialog() override;

 protected:
  void OnNewPackage();
  void OnEditPackage();
  void OnEditDefaultConfig();
  void OnExplorePackages();
  void OnExit();
  void OnOnlineHelp();
  void OnAbout();
  void OnSysCommand(UINT id, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();

  // Draws the icon centred in the client area, as the minimised window shows it.
  void PaintMinimised(CDC& dc);

  HICON m_hIcon;

  DECLARE_MESSAGE_MAP()
};
