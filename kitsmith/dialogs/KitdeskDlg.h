// The package configuration dialog: the working option set in the property grid, plus the
// server list, revision, schema and package path; its menu saves through the workflow. And
// the failure popup a failed save shows, with the latest log lines.
#pragma once

#include <string>

#include "dialogs/AuthPropGrid.h"
#include "dialogs/KitdeskDlgIds.h"
#include "packages/MaintWorkflow.h"
#include "WinFrame.h"

class KitdeskDlg : public CDialog, public PackageEditor {
 public:
  KitdeskDlg(CWnd* parent, MaintWorkflow_base& workflow, CfgSet& working);

  INT_PTR DoModal() override { return CDialog::DoModal(); }
  BOOL OnInitDialog() override;
  // Enter: save and quit.
  void OnOK() override;
  void OnCancel() override;

  // Each answers TRUE when the package (or the default configuration) was saved.
  BOOL OnSave();
  BOOL OnSaveAs();
  BOOL OnSaveAndQuit();
  void OnApplyDefaults();

  // Runs the dialog for the workflow: the editor the workflows build.
  static std::unique_ptr<PackageEditor> Create(HWND parent, MaintWorkflow_base& workflow, CfgSet& working);

  // Every CR LF of the text as LF.
  static CString CrLfToLf(const CString& text);
  // Every LF of the text as CR LF; one that already follows a CR stays as it is.
  static CString LfToCrLf(const CString& text);
  // Hands the grid's end-of-edit notification on to the grid, as reflection does.
  void OnGridEndEdit(NMHDR* notify, LRESULT* result);

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  void OnRevisionChange();
  void OnServerListChange();
  void OnSaveCommand();
  void OnSaveAsCommand();
  void OnSaveAndQuitCommand();
  void OnApplyDefaultsCommand();
  void OnCancelCommand();

  DECLARE_MESSAGE_MAP()

 private:
  BOOL ReadControls(bool message);
  BOOL WriteControls(bool message);
  void LoadFromConfig();
  BOOL ApplyControls();
  BOOL CheckServerList();
  BOOL SaveCurrent();
  std::string ChooseSaveLocation(const std::string& packagePath);
  // Ends an in-place edit of the grid, so that a typed value is in the set first.
  void EndGridEdit();

  MaintWorkflow_base& workflow_;
  AuthPropGrid grid_;
  CfgSet& working_;
  int updateGuard_ = 0;
  CString path_;
  int revision_ = 0;
  int saveAsDefaults_ = 0;
  CString windowsLabel_;
  CString osxLabel_;
  CString schemaLabel_;
  CString serverList_;
  CString shownServerList_;  // as the last write put it into the field
  int saveCount_ = 0;
  bool manualRevision_ = false;
};

// "Operation Failed": the latest 50 log lines and the choice to close the editor.
class ErrPopupDlg : public CDialog {
 public:
  explicit ErrPopupDlg(CWnd* parent);

  BOOL OnInitDialog() override;
  bool CloseEditor() const { return closeEditor_; }

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  void OnCloseEditor();
  void OnReturnToEditing();

  DECLARE_MESSAGE_MAP()

 private:
  CString logText_;
  bool closeEditor_ = false;
};

// The server list as stored: as typed, without the run of ";" at its end.
std::wstring StoredServerList(const std::wstring& list);
// The server list without what an agent cannot read in it ("]", and the characters no host
// name holds); host:port entries stay.
std::string WithoutForbiddenServerChars(const std::string& text);
