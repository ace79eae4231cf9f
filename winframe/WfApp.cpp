#include "WfApp.h"

#include "WfPlatform.h"
#include "WfString.h"
#include "WfWnd.h"

namespace {

CWinApp* theApp = nullptr;

std::string ProgramBaseName() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path);
  name = name.substr(name.find_last_of("\\/") + 1);
  return name.substr(0, name.rfind('.'));
}

}  // namespace

IMPLEMENT_DYNAMIC(CWinApp, CObject)

CWinApp::CWinApp(const char* appName)
    : m_hInstance(GetModuleHandleA(nullptr)), appName_(appName ? appName : ProgramBaseName()) {
  m_pszAppName = appName_.c_str();
  theApp = this;
}

CWinApp::~CWinApp() {
  if (theApp == this) theApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (CWnd::WalkPreTranslateTree(nullptr, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return ExitInstance();
}

int CWinApp::ExitInstance() { return 0; }

void CWinApp::SetRegistryKey(const char* key) {
  registryKey_ = key ? key : "";
  m_pszRegistryKey = registryKey_.c_str();
  m_pszProfileName = m_pszAppName;
}

HICON CWinApp::LoadIcon(UINT resourceId) const {
  return ::LoadIconA(m_hInstance, MAKEINTRESOURCEA(resourceId));
}

int AfxWinMain(HINSTANCE instance, int) {
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  app->m_hInstance = instance;
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}

CWinApp* AfxGetApp() { return theApp; }

CWnd* AfxGetMainWnd() { return theApp ? theApp->m_pMainWnd : nullptr; }

const char* AfxGetAppName() {
  static const std::string fallback = ProgramBaseName();
  return theApp ? theApp->m_pszAppName : fallback.c_str();
}

HINSTANCE AfxGetInstanceHandle() { return theApp ? theApp->m_hInstance : GetModuleHandleA(nullptr); }

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

int AfxMessageBox(const char* text, UINT type) {
  CWnd* main = AfxGetMainWnd();
  HWND owner = main && IsWindow(main->m_hWnd) ? main->m_hWnd : nullptr;
  return WfPlatform::Current().MessageBox(owner, text, AfxGetAppName(), type);
}

int AfxMessageBox(UINT textId, UINT type) {
  CString text;
  text.LoadString(textId);
  return AfxMessageBox(text, type);
}

CWaitCursor::CWaitCursor() : old_(SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)))) {}

CWaitCursor::~CWaitCursor() { Restore(); }

void CWaitCursor::Restore() {
  if (restored_) return;
  restored_ = true;
  SetCursor(old_);
}
