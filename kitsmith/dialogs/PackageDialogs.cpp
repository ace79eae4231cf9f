#include "dialogs/PackageDialogs.h"

#include <algorithm>

#include "logpane/LogPane.h"
#include "packages/DataFolders.h"
#include "packages/PackageVersions.h"

namespace {
// A run that names a path, in lines of at most kMessageBoxRunChars: each ends after the last
// backslash that fits, or where it is full when none does. Nothing of the run is left out.
std::string BrokenAtBackslashes(std::string run) {
  std::string broken;
  while (run.size() > kMessageBoxRunChars) {
    const size_t slash = run.rfind('\\', kMessageBoxRunChars - 1);
    const size_t length = slash == std::string::npos ? kMessageBoxRunChars : slash + 1;
    broken += run.substr(0, length) + "\n";
    run.erase(0, length);
  }
  return broken + run;
}
}  // namespace

std::string FitForMessageBox(const std::string& text) {
  constexpr char kBlanks[] = " \t\r\n";
  constexpr char kEllipsis[] = "...";
  const size_t head = (kMessageBoxRunChars - (sizeof(kEllipsis) - 1)) / 2;
  const size_t tail = kMessageBoxRunChars - (sizeof(kEllipsis) - 1) - head;
  std::string fitted;
  for (size_t at = 0; at < text.size();) {
    const size_t runEnd = std::min(text.find_first_of(kBlanks, at), text.size());
    const std::string run = text.substr(at, runEnd - at);
    if (run.size() <= kMessageBoxRunChars)
      fitted += run;
    else if (run.find('\\') != std::string::npos)
      fitted += BrokenAtBackslashes(run);
    else
      fitted += run.substr(0, head) + kEllipsis + run.substr(run.size() - tail);
    at = std::min(text.find_first_not_of(kBlanks, runEnd), text.size());
    fitted += text.substr(runEnd, at - runEnd);
  }
  return fitted;
}

void ShowErrorBox(const std::string& text) {
  WfPlatform::Current().MessageBox(nullptr, FitForMessageBox(text).c_str(), kErrorTitle, MB_ICONERROR | MB_OK);
}

bool AskYesNo(const std::string& question) {
  return WfPlatform::Current().MessageBox(nullptr, FitForMessageBox(question).c_str(), kInformationTitle,
                                          MB_ICONQUESTION | MB_YESNO) == IDYES;
}

void ExploreFolder(const std::string& folder) {
  FolderInfo info(folder);
  if (!info.ExistsAsFolder()) info.Ensure();
  char windows[MAX_PATH + 1] = {};
  const UINT got = GetWindowsDirectoryA(windows, MAX_PATH);
  if (got == 0 || got > MAX_PATH) return;
  const std::string commandLine = std::string(windows) + "\\Explorer.exe /E, " + folder;
  WfPlatform::Current().StartProcess(commandLine.c_str(), SW_SHOWNORMAL);
}

PickPrototypeVersionDlg::PickPrototypeVersionDlg(const std::string& root, CWnd* parent)
    : CDialog(IDD_PICK_PROTOTYPE_VERSION, parent), root_(root) {}

std::string PickPrototypeVersionDlg::GetSelectedPath() const { return root_ + kPathSeparator + chosen_; }

void PickPrototypeVersionDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_VERSION_LIST, list_);
}

INT_PTR PickPrototypeVersionDlg::DoModal() {
  versions_.clear();
  const PrototypeVersionList versions(root_);
  for (size_t i = 0; i < versions.Count(); ++i) versions_.push_back(versions.Entry(i).folderName);
  if (versions_.empty()) {
    const std::string text = "No package prototype was found in " + (root_.empty() ? "(no folder)" : root_) +
                             ".\nEach prototype is a version folder there that holds package-version.cmd.";
    LogLine() << text;
    ShowErrorBox(text);
    return IDABORT;
  }
  return CDialog::DoModal();
}

BOOL PickPrototypeVersionDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  chosen_.clear();
  list_.ResetContent();
  for (const std::string& name : versions_) list_.AddString(name.c_str());
  list_.SetCurSel(0);
  return TRUE;
}

void PickPrototypeVersionDlg::OnOK() {
  const int selected = list_.GetCurSel();
  if (selected < 0) {
    OnCancel();
    return;
  }
  CString text;
  list_.GetText(selected, text);
  chosen_ = text.Str();
  EndDialog(IDOK);
}

BEGIN_MESSAGE_MAP(PackageSaveOpenDlg, CDialog)
  ON_LBN_SELCHANGE(IDC_PACKAGE_LIST, OnPackageSelected)
  ON_EN_SETFOCUS(IDC_PACKAGE_NAME, OnNameFocus)
  ON_BN_CLICKED(IDC_EXPLORE_PACKAGES, OnExplorePackages)
END_MESSAGE_MAP()

PackageSaveOpenDlg::PackageSaveOpenDlg(CWnd* parent, const std::string& root, int mode, const std::string& name)
    : CDialog(IDD_PACKAGE_SAVE_OPEN, parent),
      mode_(mode),
      root_(root.c_str()),
      name_(mode == kSelect ? "" : name.c_str()) {
  if (root.empty()) return;
  const PrototypeVersionList packages(root);
  for (size_t i = 0; i < packages.Count(); ++i) candidates_.push_back(packages.Entry(i).folderName);
}

std::string PackageSaveOpenDlg::GetSelectedPath() const { return root_.Str() + kPathSeparator + name_.Str(); }

void PackageSaveOpenDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDC_PACKAGE_LIST, list_);
  DDX_Control(pDX, IDC_PACKAGE_NAME, nameEdit_);
  DDX_Text(pDX, IDC_PACKAGES_PATH, root_);
  DDX_Text(pDX, IDC_PACKAGE_NAME, name_);
}

BOOL PackageSaveOpenDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(mode_ == kSave ? "Save Package" : "Select Package");
  nameEdit_.EnableWindow(mode_ == kSave);
  for (const std::string& name : candidates_)
    if (FileInfo(root_.Str() + kPathSeparator + name + kPathSeparator + kConfigFileName).exists)
      list_.AddString(name.c_str());
  UpdateData(FALSE);
  if (mode_ != kSave) return TRUE;
  // The first control is the read-only path: the focus goes to the name, its text selected,
  // so that typing replaces it.
  SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(nameEdit_.m_hWnd), TRUE);
  nameEdit_.SetSel(0, -1);
  return FALSE;
}

void PackageSaveOpenDlg::OnPackageSelected() {
  const int selected = list_.GetCurSel();
  if (selected < 0) return;
  list_.GetText(selected, name_);
  UpdateData(FALSE);
  nameEdit_.SetFocus();
  nameEdit_.SetSel(0, -1);
}

// Only selects: writing the controls here would drop what was typed since the last read.
void PackageSaveOpenDlg::OnNameFocus() { nameEdit_.SetSel(0, -1); }

void PackageSaveOpenDlg::OnExplorePackages() { ExploreFolder(root_.Str()); }

void PackageSaveOpenDlg::OnOK() {
  if (!UpdateData(TRUE)) return;
  const std::string name = name_.Str();
  if (name.empty()) return;
  const std::string problem = PackageNameProblem(name);
  if (!problem.empty()) {
    ShowErrorBox(name + "\n is not a valid package name: " + problem + ".");
    return;
  }
  const std::string path = GetSelectedPath();
  const bool hasConfig = FileInfo(path + kPathSeparator + kConfigFileName).exists;
  if (mode_ == kSave) {
    FolderInfo folder(path);
    if (folder.ExistsAsFolder()) {
      if (hasConfig) {
        if (!AskYesNo(name + "\n" + " package exists. Do you want to overwrite it?")) return;
      } else if (!FolderIsEmpty(path)) {
        if (!AskYesNo(name + "\n" + " folder exists and is not empty. Do you want to overwrite it?")) return;
      }
    } else {
      if (!AskYesNo(name + "\n" + " package folder does not exist. Do you want to create it?")) return;
      if (!folder.Ensure()) {
        ShowErrorBox("Create " + name + "\n" + " path failed : " + folder.Message());
        return;
      }
    }
  } else if (!hasConfig) {
    ShowErrorBox(path + " is not a valid Package Folder");
    return;
  }
  EndDialog(IDOK);
}
