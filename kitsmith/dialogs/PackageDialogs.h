// The two folder-choosing dialogs of the package operations: which prototype version a new
// package starts from, and which package to edit or where to save one.
#pragma once

#include <string>
#include <vector>

#include "dialogs/PackageDialogIds.h"
#include "WinFrame.h"


// The tool's message boxes, owned by no window: an error with OK, a question with Yes and No.
// Their text is fitted to the screen (FitForMessageBox); the log is the place for the whole of
// a name cut there.
inline constexpr char kErrorTitle[] = "Qel Identra Deployment Kit Error";
inline constexpr char kInformationTitle[] = "Qel Identra Deployment Kit Information";
void ShowErrorBox(const std::string& text);
bool AskYesNo(const std::string& question);
// A box is as wide as the longest stretch of its text without a blank: a longer stretch that
// holds a backslash (a path) is broken after its backslashes onto further lines, so that it is
// shown whole; one without any (a long package name) is cut in its middle to "..." with its
// beginning and end kept.
inline constexpr size_t kMessageBoxRunChars = 60;
std::string FitForMessageBox(const std::string& text);
// Opens the folder in Explorer without waiting, creating the folder first when it is missing;
// failures pass silently.
void ExploreFolder(const std::string& folder);

class PickPrototypeVersionDlg : public CDialog {
 public:
  PickPrototypeVersionDlg(const std::string& root, CWnd* parent);

  // root + "\" + the chosen version folder.
  std::string GetSelectedPath() const;

  // With no version to choose the dialog is not shown: an error box says where the tool looked
  // (the log has it too), and the answer is IDABORT.
  INT_PTR DoModal() override;
  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;

 private:
  std::string root_;
  std::string chosen_;
  std::vector<std::string> versions_;
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
