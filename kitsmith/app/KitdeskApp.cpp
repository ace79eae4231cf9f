#include "KitdeskApp.h"

#include "MainMenu.h"

BOOL KitdeskApp::InitInstance() {
  CWinApp::InitInstance();
  SetRegistryKey("Local AppWizard-Generated Applications");
  CMainMenu mainMenu(nullptr);
  m_pMainWnd = &mainMenu;
  mainMenu.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

int KitdeskApp::ExitInstance() {
  CWinApp::ExitInstance();
  return 0;
}
