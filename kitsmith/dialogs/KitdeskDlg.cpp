#include "dialogs/KitdeskDlg.h"

#include <algorithm>
#include <cstring>

#include "logpane/LogPane.h"
#include "dialogs/PackageDialogs.h"
#include "support/StringHelpers.h"
#include "WinSupport.h"  // Narrow, Widen

namespace {
// Characters no server address holds, and "]", which would end the value in the
// configuration language. A colon stays: entries may be host:port.
constexpr char kForbiddenServerChars[] = "\\/*?\"<>|]";

constexpr char kManualRevisionQuestion[] =
    " Manually changing the configuration revision is an advanced operation, which may produce unexpected "
    "results unless you fully understand revision management during deployment.  In most cases, you should "
    "simply let the editor automatically increment the revision on each change.\r\n\r\n Would you like to "
    "change the revision manually anyway?";

int OptionNumber(const CfgSet& set, const char* id) {
  const AuthCfg::OptionThunkT* option = set.Find(id);
  return option ? AuthCfg::DecimalToInt(option->ToText()) : 0;
}

// True when the list holds nothing but separators and blanks.
bool IsEmptyServerList(const std::string& list) {
  return list.find_first_not_of(";, \t") == std::string::npos;
}
}  // namespace

std::wstring StoredServerList(const std::wstring& list) {
  // A run of ";" at the end separates nothing; everything else is the operator's (both agents
  // drop the blanks around an entry themselves).
  std::wstring stored = list;
  if (!stored.empty() && stored.back() == L';') stored.erase(stored.find_last_not_of(L';') + 1);
  return stored;
}

std::string WithoutForbiddenServerChars(const std::string& text) {
  std::string kept;
  for (char c : text)
    if (!strchr(kForbiddenServerChars, c) || c == '\0') kept += c;
  return kept;
}

BEGIN_MESSAGE_MAP(KitdeskDlg, CDialog)
  ON_COMMAND(ID_PACKAGE_SAVE, OnSaveCommand)
  ON_COMMAND(ID_PACKAGE_SAVE_AS, OnSaveAsCommand)
  ON_COMMAND(ID_PACKAGE_SAVE_AND_QUIT, OnSaveAndQuitCommand)
  ON_COMMAND(ID_PACKAGE_APPLY_DEFAULTS, OnApplyDefaultsCommand)
  ON_COMMAND(ID_PACKAGE_CANCEL, OnCancelCommand)
  ON_EN_CHANGE(IDC_REVISION, OnRevisionChange)
  ON_EN_CHANGE(IDC_SERVER_LIST, OnServerListChange)
END_MESSAGE_MAP()

KitdeskDlg::KitdeskDlg(CWnd* parent, MaintWorkflow_base& workflow, CfgSet& working)
    : CDialog(IDD_KITDESK, parent), workflow_(workflow), working_(working) {}

std::unique_ptr<PackageEditor> KitdeskDlg::Create(HWND parent, MaintWorkflow_base& workflow, CfgSet& working) {
  return std::make_unique<KitdeskDlg>(CWnd::FromHandle(parent), workflow, working);
}

CString KitdeskDlg::CrLfToLf(const CString& text) {
  CString out(text);
  out.Replace("\r\n", "\n");
  return out;
}

CString KitdeskDlg::LfToCrLf(const CString& text) {
  CString out = CrLfToLf(text);
  out.Replace("\n", "\r\n");
  return out;
}

void KitdeskDlg::OnGridEndEdit(NMHDR* notify, LRESULT* result) { grid_.OnEndLabelEdit(notify, result); }

void KitdeskDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PROPERTY_GRID, grid_);
  if (!pDX->m_bSaveAndValidate) grid_.SetOptions(&working_);
  DDX_Text(pDX, IDC_PACKAGE_FOLDER, path_);
  DDX_Text(pDX, IDC_REVISION, revision_);
  DDV_MinMaxInt(pDX, revision_, 0, 99999);
  DDX_Check(pDX, IDC_SAVE_AS_DEFAULTS, saveAsDefaults_);
  DDX_Text(pDX, IDC_WINDOWS_VERSION, windowsLabel_);
  DDX_Text(pDX, IDC_OSX_VERSION, osxLabel_);
  DDX_Text(pDX, IDC_SCHEMA_VERSION, schemaLabel_);
  if (!pDX->m_bSaveAndValidate) serverList_ = Narrow(working_.TextById("RA")).c_str();
  DDX_Text(pDX, IDC_SERVER_LIST, serverList_);
  if (!pDX->m_bSaveAndValidate) shownServerList_ = serverList_;
}

BOOL KitdeskDlg::ReadControls(bool message) {
  if (UpdateData(TRUE)) return TRUE;
  if (message) ShowErrorBox("Cannot get updated values of controls");
  return FALSE;
}

// Everything the dialog writes into its controls itself passes the change handlers by.
BOOL KitdeskDlg::WriteControls(bool message) {
  ++updateGuard_;
  const BOOL written = UpdateData(FALSE);
  --updateGuard_;
  if (!written && message) ShowErrorBox("Cannot update values to controls");
  return written;
}

BOOL KitdeskDlg::OnInitDialog() {
  CWaitCursor wait;
  ++updateGuard_;  // the framework's first write is the dialog's own too
  CDialog::OnInitDialog();
  --updateGuard_;
  LoadFromConfig();
  path_ = workflow_.SourceFolder().c_str();
  WriteControls(false);
  return TRUE;
}

void KitdeskDlg::LoadFromConfig() {
  revision_ = OptionNumber(working_, "CR");
  if (workflow_.Type() == kOperationEditDefaults) {
    saveAsDefaults_ = 1;
    windowsLabel_ = "Windows Version : All";
    osxLabel_ = "OS X Version : All";
  }
  schemaLabel_.Format("Config. schema version : %s", IntToText(OptionNumber(working_, "CS")).c_str());
  WriteControls(false);
}

BOOL KitdeskDlg::ApplyControls() {
  if (!ReadControls(true)) return FALSE;
  working_.Find("CR")->SetFromText(Widen(IntToText(revision_)), AuthCfg::kEditor);
  // A list left as the dialog showed it keeps the option's own text, which may hold characters
  // the field cannot show: the save then refuses them by name instead of storing what the
  // field made of them.
  const std::wstring list =
      serverList_.Str() == shownServerList_.Str() ? working_.TextById("RA") : Widen(serverList_.Str());
  working_.Find("RA")->SetFromText(StoredServerList(list), AuthCfg::kEditor);
  return WriteControls(true);
}

BOOL KitdeskDlg::CheckServerList() {
  if (!IsEmptyServerList(static_cast<const char*>(serverList_))) return TRUE;
  ShowErrorBox("You must define at least one server address.");
  if (CWnd* list = GetDlgItem(IDC_SERVER_LIST)) list->SetFocus();
  return FALSE;
}

void KitdeskDlg::EndGridEdit() {
  if (grid_.GetSafeHwnd()) grid_.StopEditing();
}

BOOL KitdeskDlg::OnSave() {
  EndGridEdit();
  if (!ReadControls(true) || !CheckServerList() || !ApplyControls()) return FALSE;
  // A new package asks for its folder the first time; OnSaveAs counts its own save.
  if (workflow_.Type() == kOperationNewPackage && saveCount_ < 1) return OnSaveAs();
  if (!SaveCurrent()) return FALSE;
  ++saveCount_;
  return TRUE;
}

BOOL KitdeskDlg::OnSaveAs() {
  EndGridEdit();
  if (!ReadControls(true) || !CheckServerList() || !ApplyControls()) return FALSE;
  const std::string chosen = ChooseSaveLocation(workflow_.PackagePath());
  if (chosen.empty()) return FALSE;
  workflow_.SetPackagePath(chosen);
  if (!SaveCurrent()) return FALSE;
  ++saveCount_;
  return TRUE;
}

std::string KitdeskDlg::ChooseSaveLocation(const std::string& packagePath) {
  std::string path = packagePath;
  if (path.empty()) return "";
  if (path.back() == '\\') path.pop_back();
  const size_t slash = path.rfind('\\');
  if (slash == std::string::npos) return "";
  PackageSaveOpenDlg dialog(nullptr, path.substr(0, slash), PackageSaveOpenDlg::kSave, path.substr(slash + 1));
  if (dialog.DoModal() != IDOK) return "";
  return dialog.GetSelectedPath();
}

BOOL KitdeskDlg::SaveCurrent() {
  if (workflow_.Type() == kOperationEditDefaults) return workflow_.SaveDefaultConfig();
  const int revision = manualRevision_ ? revision_ : -1;
  bool saved;
  {
    CWaitCursor wait;
    saved = workflow_.SavePackage(revision, saveAsDefaults_ != 0);
  }
  if (saved) {
    path_ = workflow_.PackagePath().c_str();
    revision_ = OptionNumber(working_, "CR");
    WriteControls(false);
    return TRUE;
  }
  ErrPopupDlg popup(this);
  popup.DoModal();
  if (popup.CloseEditor()) EndDialog(IDCANCEL);
  return FALSE;
}

BOOL KitdeskDlg::OnSaveAndQuit() {
  if (!OnSave()) return FALSE;
  EndDialog(IDOK);
  return TRUE;
}

void KitdeskDlg::OnOK() { OnSaveAndQuit(); }

void KitdeskDlg::OnCancel() {
  saveCount_ = 0;
  EndDialog(IDCANCEL);
}

void KitdeskDlg::OnApplyDefaults() {
  EndGridEdit();
  CfgSet loaded;
  if (!workflow_.LoadDefaultConfig(loaded)) {
    ShowErrorBox("Default configuration does not exist.");
    return;
  }
  revision_ = OptionNumber(loaded, "CR");
  schemaLabel_.Format("Config. schema version : %s", IntToText(OptionNumber(loaded, "CS")).c_str());
  loaded.CloneInto(working_);
  WriteControls(true);
}

void KitdeskDlg::OnRevisionChange() {
  if (updateGuard_ > 0 || manualRevision_) return;
  if (MessageBox(kManualRevisionQuestion, nullptr, MB_YESNO | MB_ICONEXCLAMATION) != IDNO) {
    manualRevision_ = true;
    return;
  }
  ++updateGuard_;
  revision_ = OptionNumber(working_, "CR");
  SetDlgItemText(IDC_REVISION, IntToText(revision_).c_str());
  --updateGuard_;
}

void KitdeskDlg::OnServerListChange() {
  if (updateGuard_ > 0) return;
  CString text;
  GetDlgItemText(IDC_SERVER_LIST, text);
  const std::string typed = std::string(static_cast<const char*>(text)).substr(0, 259);
  const std::string kept = WithoutForbiddenServerChars(typed);
  if (kept.size() == typed.size()) return;
  MessageBox((std::string("These characters cannot be used in server addresses: ") + kForbiddenServerChars).c_str());
  // The caret stays where it was, less the characters taken out before it.
  DWORD caret = 0;
  ::SendDlgItemMessageA(GetSafeHwnd(), IDC_SERVER_LIST, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
  const size_t before = std::min<size_t>(caret, typed.size());
  caret = static_cast<DWORD>(WithoutForbiddenServerChars(typed.substr(0, before)).size());
  ++updateGuard_;
  SetDlgItemText(IDC_SERVER_LIST, kept.c_str());
  ::SendDlgItemMessageA(GetSafeHwnd(), IDC_SERVER_LIST, EM_SETSEL, caret, caret);
  --updateGuard_;
}

void KitdeskDlg::OnSaveCommand() { OnSave(); }
void KitdeskDlg::OnSaveAsCommand() { OnSaveAs(); }
void KitdeskDlg::OnSaveAndQuitCommand() { OnSaveAndQuit(); }
void KitdeskDlg::OnApplyDefaultsCommand() { OnApplyDefaults(); }
void KitdeskDlg::OnCancelCommand() {
  EndGridEdit();
  OnCancel();
}

BEGIN_MESSAGE_MAP(ErrPopupDlg, CDialog)
  ON_BN_CLICKED(IDC_CLOSE_EDITOR, OnCloseEditor)
  ON_BN_CLICKED(IDC_RETURN_TO_EDITING, OnReturnToEditing)
END_MESSAGE_MAP()

ErrPopupDlg::ErrPopupDlg(CWnd* parent) : CDialog(IDD_ERR_POPUP, parent) {}

void ErrPopupDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Text(pDX, IDC_ERR_LOG, logText_);
}

BOOL ErrPopupDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  logText_ = LastLogLines(50).c_str();
  UpdateData(FALSE);
  if (CWnd* log = GetDlgItem(IDC_ERR_LOG)) log->SendMessage(EM_LINESCROLL, 0, 40);
  return FALSE;
}

void ErrPopupDlg::OnCloseEditor() {
  closeEditor_ = true;
  EndDialog(IDOK);
}

void ErrPopupDlg::OnReturnToEditing() {
  closeEditor_ = false;
  EndDialog(IDOK);
}
