#include "DialogDriver.h"

#include <gtest/gtest.h>

#include "RenderProbe.h"
#include "WindowInput.h"

namespace {

DialogDriver* activeDriver = nullptr;
const UINT kRunScript = RegisterWindowMessageA("WfDialogDriverRun");
const UINT kCheckEnded = RegisterWindowMessageA("WfDialogDriverCheck");

}  // namespace

// ---- actions ----

HWND DialogActions::Item(int id) const {
  HWND item = ::GetDlgItem(dialog_.m_hWnd, id);
  EXPECT_NE(item, nullptr) << "dialog " << dialog_.GetTemplateId() << " has no control " << id;
  return item;
}

void DialogActions::SetText(int id, const char* text) { ::SetWindowTextA(Item(id), text); }

void DialogActions::Type(int id, const char* text) {
  HWND item = Item(id);
  ::SetFocus(item);
  ::SendMessageA(item, EM_SETSEL, 0, -1);
  wftest::Chars(item, text);
}

void DialogActions::Tick(int id, bool checked) {
  HWND item = Item(id);
  if ((::SendMessageA(item, BM_GETCHECK, 0, 0) == BST_CHECKED) != checked)
    ::SendMessageA(item, BM_CLICK, 0, 0);
}

void DialogActions::Click(int id) { ::SendMessageA(Item(id), BM_CLICK, 0, 0); }

void DialogActions::PickListItem(int id, int index) {
  HWND item = Item(id);
  EXPECT_NE(::SendMessageA(item, LB_SETCURSEL, index, 0), LB_ERR) << "no item " << index;
  ::SendMessageA(dialog_.m_hWnd, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(item));
}

void DialogActions::PickListItem(int id, const char* text) {
  const int index = static_cast<int>(
      ::SendMessageA(Item(id), LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text)));
  ASSERT_NE(index, LB_ERR) << "no list item \"" << text << "\"";
  PickListItem(id, index);
}

void DialogActions::Command(UINT id) { ::SendMessageA(dialog_.m_hWnd, WM_COMMAND, id, 0); }

CString DialogActions::ReadText(int id) const {
  CString text;
  dialog_.GetDlgItemText(id, text);
  return text;
}

bool DialogActions::IsChecked(int id) const {
  return ::SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<std::string> DialogActions::ListItems(int id) const {
  HWND item = Item(id);
  std::vector<std::string> items;
  const int count = static_cast<int>(::SendMessageA(item, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    std::string text(::SendMessageA(item, LB_GETTEXTLEN, i, 0), '\0');
    ::SendMessageA(item, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    items.push_back(text);
  }
  return items;
}

int DialogActions::ListSelection(int id) const {
  return static_cast<int>(::SendMessageA(Item(id), LB_GETCURSEL, 0, 0));
}

bool DialogActions::IsEnabled(int id) const { return ::IsWindowEnabled(Item(id)); }

bool DialogActions::Screenshot(const char* path) const {
  return RenderProbe::CaptureWindow(dialog_.m_hWnd)->SavePng(path);
}

// ---- the driver ----

DialogDriver::DialogDriver()
    : hook_(SetWindowsHookExA(WH_CALLWNDPROCRET, &HookProcedure, nullptr, GetCurrentThreadId())) {
  activeDriver = this;
}

DialogDriver::~DialogDriver() {
  UnhookWindowsHookEx(hook_);
  activeDriver = nullptr;
  for (const Pending& p : pending_) ADD_FAILURE() << "dialog " << p.templateId << " never shown";
}

void DialogDriver::When(UINT templateId, Script script) {
  pending_.push_back({templateId, std::move(script)});
}

LRESULT CALLBACK DialogDriver::HookProcedure(int code, WPARAM wParam, LPARAM lParam) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_INITDIALOG && activeDriver)
    activeDriver->Initialised(call->hwnd);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void DialogDriver::Initialised(HWND hWnd) {
  auto* dialog = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
  if (!dialog || Find(hWnd)) return;
  const UINT id = dialog->GetTemplateId();
  auto it = pending_.begin();
  while (it != pending_.end() && it->templateId != id) ++it;
  if (it == pending_.end()) {
    ADD_FAILURE() << "dialog " << id << " shown, but no script was queued for it";
    dialog->EndDialog(IDCANCEL);
    return;
  }
  // The script runs from the dialog's own loop: the driver's procedure sits on top of the
  // dialog's until the dialog has ended.
  const auto previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DialogProcedure)));
  running_.push_back({hWnd, previous, std::move(it->script)});
  pending_.erase(it);
  PostMessageA(hWnd, kRunScript, 0, 0);
}

DialogDriver::Running* DialogDriver::Find(HWND dialog) {
  for (Running& r : running_)
    if (r.dialog == dialog) return &r;
  return nullptr;
}

void DialogDriver::Release(HWND dialog) {
  Running* r = Find(dialog);
  if (!r) return;
  SetWindowLongPtrA(dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(r->previous));
  running_.erase(running_.begin() + (r - running_.data()));
}

LRESULT CALLBACK DialogDriver::DialogProcedure(HWND hWnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  DialogDriver* driver = activeDriver;
  Running* running = driver ? driver->Find(hWnd) : nullptr;
  if (!running) return DefWindowProcA(hWnd, message, wParam, lParam);
  const WNDPROC previous = running->previous;
  auto* dialog = dynamic_cast<CDialog*>(CWnd::FromHandlePermanent(hWnd));
  if (message == kRunScript && dialog) {
    const Script script = running->script;
    DialogActions actions(*dialog);
    script(actions);
    PostMessageA(hWnd, kCheckEnded, 0, 0);  // handled only if the dialog's loop still runs
    return 0;
  }
  if (message == kCheckEnded && dialog) {
    ADD_FAILURE() << "dialog " << dialog->GetTemplateId() << " still open after its script";
    dialog->EndDialog(IDCANCEL);
    return 0;
  }
  if (message == WM_NCDESTROY) driver->Release(hWnd);
  return CallWindowProcA(previous, hWnd, message, wParam, lParam);
}
