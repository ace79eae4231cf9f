// Drives modal dialogs in tests. When a dialog with template id N has initialised (and its
// modal loop runs), the next script queued for N runs with a DialogActions on it.
// A script must end its dialog (PressOK that passes validation, PressCancel, End);
// a dialog still open after its script, or one no script was queued for, fails the test
// and is cancelled. Scripts left over when the driver goes fail the test too.
// Message boxes raised meanwhile are answered by the ScriptedPlatform's queue.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "WfDialog.h"

class DialogActions {
 public:
  explicit DialogActions(CDialog& dialog) : dialog_(dialog) {}

  CDialog& Dialog() { return dialog_; }
  HWND Handle() const { return dialog_.m_hWnd; }
  HWND Item(int id) const;  // fails the test when the dialog has no such control

  // As the program would set it: WM_SETTEXT (an edit then notifies EN_CHANGE).
  void SetText(int id, const char* text);
  // As the user would type it: focus to the control, its text selected, one WM_CHAR each.
  void Type(int id, const char* text);
  // Clicks the check box when its state differs.
  void Tick(int id, bool checked = true);
  void Click(int id);
  // Selects a list item as the user would: selection, then LBN_SELCHANGE to the dialog.
  void PickListItem(int id, int index);
  void PickListItem(int id, const char* text);
  // A menu command to the dialog.
  void Command(UINT id);
  void PressOK() { Command(IDOK); }
  void PressCancel() { Command(IDCANCEL); }
  void End(int result) { dialog_.EndDialog(result); }

  CString ReadText(int id) const;
  bool IsChecked(int id) const;
  std::vector<std::string> ListItems(int id) const;
  int ListSelection(int id) const;
  bool IsEnabled(int id) const;
  // The dialog as shown, frame included, as a PNG file.
  bool Screenshot(const char* path) const;

 private:
  CDialog& dialog_;
};

class DialogDriver {
 public:
  using Script = std::function<void(DialogActions&)>;

  DialogDriver();
  ~DialogDriver();
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  void When(UINT templateId, Script script);

 private:
  struct Pending {
    UINT templateId;
    Script script;
  };
  struct Running {
    HWND dialog;
    WNDPROC previous;
    Script script;
  };
  static LRESULT CALLBACK HookProcedure(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK DialogProcedure(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  void Initialised(HWND dialog);
  Running* Find(HWND dialog);
  void Release(HWND dialog);

  HHOOK hook_;
  std::deque<Pending> pending_;
  std::vector<Running> running_;
};
