// The two folder-choosing dialogs of the package operations: which prototype version a new
// package starts from, and which package to edit or where to save one.
#pragma once

#include <string>
#include <vector>

#include "dialogs/PackageDialogIds.h"
#include "WinFrame.h"


// The tool's message boxes, owned by no window: an error with OK, a question with Yes and No.
inline constexpr char kErrorTitle[] = "Qel Identra Deployment Kit Error";
inline constexpr char kInformationTitle[] = "Qel Identra Deployment Kit Information";
void ShowErrorBox(const std::string& text);
bool AskYesNo(const std::string& question);
// Opens the folder in Explorer without waiting, creating the folder first when it is missing;
// failures pass silently.
void ExploreFolder(const std::string& folder);

class PickPrototypeVersionDlg : public CDialog {
 public:
  PickPrototypeVersionDlg(const std::string& root, CWnd* parent);

  // root + "\" + the chosen version folder.
  std::string GetSelectedPath() const;

  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;

 private:
  std::string root_;
  std::string chosen_;
  CListBox list_;
};

class PackageSaveOpenDlg : public CDialog {
 public:
  enum Mode { kSave = 1, kSelect = 2 };

  PackageSaveOpenDlg(CWnd* parent, const std::string& root, int mode, const std::string& name);

  // root + "\" + the package name (also after Cancel).
  std::string GetSelectedPath() const;
  const std::vector<std::string>& Candidates() const { return candidates_; }

  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  void OnPackageSelected();
  void OnNameFocus();
  void OnExplorePackages();

 private:
  int mode_;
  CString root_;
  CString name_;
  std::vector<std::string> candidates_;
  CListBox list_;
  CEdit nameEdit_;

  DECLARE_MESSAGE_MAP()
};
