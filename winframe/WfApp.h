// The application object and process-wide helpers.
//   CWinApp        the one instance (its constructor registers it): InitInstance (TRUE
//                  runs the message loop, FALSE ends the program), Run, ExitInstance,
//                  SetRegistryKey, m_pMainWnd, m_pszAppName (the constructor's name, else
//                  the program file's name without extension), m_pszRegistryKey,
//                  m_pszProfileName, m_hInstance, LoadIcon(resource id).
//   AfxWinMain     what the program's entry point runs (WfAppMain.cpp supplies wWinMain).
//   AfxGetApp AfxGetMainWnd AfxGetAppName AfxGetInstanceHandle AfxGetResourceHandle
//   AfxMessageBox  a box owned by the main window (when it exists), titled with the
//                  application's name, through the platform seam; text or string id.
//   CWaitCursor    shows the wait cursor while it lives (Restore puts it back early).
#pragma once

#include <windows.h>

#include <string>

#include "WfObject.h"

class CWnd;

class CWinApp : public CObject {
  DECLARE_DYNAMIC(CWinApp)
 public:
  explicit CWinApp(const char* appName = nullptr);
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  virtual int Run();
  virtual int ExitInstance();

  // Where settings would be kept: HKEY_CURRENT_USER\Software\<key>\<application name>.
  void SetRegistryKey(const char* key);
  // An icon resource of the program (shared: not to be destroyed).
  HICON LoadIcon(UINT resourceId) const;

  CWnd* m_pMainWnd = nullptr;
  HINSTANCE m_hInstance = nullptr;
  const char* m_pszAppName = nullptr;
  const char* m_pszRegistryKey = nullptr;
  const char* m_pszProfileName = nullptr;

 private:
  std::string appName_, registryKey_;
};

int AfxWinMain(HINSTANCE instance, int showCommand);

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
const char* AfxGetAppName();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();

int AfxMessageBox(const char* text, UINT type = MB_OK);
int AfxMessageBox(UINT textId, UINT type = MB_OK);

class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
  void Restore();

 private:
  HCURSOR old_;
  bool restored_ = false;
};
