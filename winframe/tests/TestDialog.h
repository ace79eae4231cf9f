// The layer's test dialog (template IDD_TEST): data exchange of every kind, a list box and a
// custom control sub-classed into a derived class that reflects its own notifications.
// Defines its message maps: include it in one file of a program.
#pragma once

#include <string>
#include <vector>

#include "TestResources.h"
#include "WinFrame.h"

// Notification codes of the custom control, as a grid sends them.
constexpr int kBeginEdit = -105;
constexpr int kEndEdit = -106;

inline void RegisterCustomControlClass() {
  WNDCLASSA wc{};
  if (GetClassInfoA(GetModuleHandleA(nullptr), "WfTestCustom", &wc)) return;
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "WfTestCustom";
  RegisterClassA(&wc);
}

// A base control: paints a frame and a text, tells its owner of clicks.
class CustomBase : public CWnd {
 public:
  std::vector<std::string> events;
  CString caption = "custom";

  LRESULT Notify(int code) {
    NMHDR header{m_hWnd, static_cast<UINT_PTR>(GetDlgCtrlID()), static_cast<UINT>(code)};
    return GetOwner()->SendMessage(WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
  }

 protected:
  void PreSubclassWindow() override { events.push_back("presubclass"); }
  void OnPaint() {
    CPaintDC dc(this);
    CRect client;
    GetClientRect(client);
    dc.FillSolidRect(client, RGB(255, 255, 224));
    CBrush frame(RGB(0, 0, 160));
    dc.FrameRect(CRect(4, 4, client.right - 4, client.bottom - 4), &frame);
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(RGB(0, 0, 160));
    CFont* old = dc.SelectObject(GetParent()->GetFont());
    dc.DrawText(caption, client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    dc.SelectObject(old);
  }
  void OnLButtonDown(UINT, CPoint) {
    events.push_back("base click");
    events.push_back("begin answered " + std::to_string(Notify(kBeginEdit)));
    events.push_back("end answered " + std::to_string(Notify(kEndEdit)));
  }
  UINT OnGetDlgCode() { return DLGC_WANTARROWS | DLGC_WANTCHARS; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CustomBase, CWnd)
  ON_WM_PAINT()
  ON_WM_LBUTTONDOWN()
  ON_WM_GETDLGCODE()
END_MESSAGE_MAP()

// Adds the reflected end-of-edit handler and a key handler; everything else is the base's.
class CustomDerived : public CustomBase {
 public:
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_APP + 5) {
      events.push_back("pretranslated");
      return TRUE;
    }
    return CustomBase::PreTranslateMessage(msg);
  }

 protected:
  void OnEndEdit(NMHDR* header, LRESULT* result) {
    events.push_back("reflected end edit from " + std::to_string(header->idFrom));
    *result = 0;
  }
  void OnKeyDown(UINT ch, UINT, UINT) { events.push_back("key " + std::to_string(ch)); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CustomDerived, CustomBase)
  ON_NOTIFY_REFLECT(kEndEdit, OnEndEdit)
  ON_WM_KEYDOWN()
END_MESSAGE_MAP()

class TestDialog : public CDialog {
 public:
  explicit TestDialog(CWnd* parent = nullptr) : CDialog(IDD_TEST, parent) { RegisterCustomControlClass(); }

  CString name = "initial";
  int count = 5;
  int enabled = 0;
  CString picked;
  int nameChanges = 0;
  int applied = 0;
  std::vector<std::string> dialogEvents;
  CustomDerived custom;
  CListBox list;

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    for (const char* item : {"alpha", "beta", "gamma"}) list.AddString(item);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, IDC_CUSTOM, custom);
    DDX_Control(pDX, IDC_LIST, list);
    DDX_Text(pDX, IDC_NAME, name);
    DDX_Text(pDX, IDC_COUNT, count);
    DDV_MinMaxInt(pDX, count, 0, 99999);
    DDX_Check(pDX, IDC_ENABLED, enabled);
  }
  void OnOK() override {
    const int selection = list.GetCurSel();
    if (selection >= 0) list.GetText(selection, picked);
    CDialog::OnOK();
  }
  void OnNameChange() { ++nameChanges; }
  void OnListPick() { dialogEvents.push_back("list pick " + std::to_string(list.GetCurSel())); }
  void OnApply() { ++applied; }
  void OnNested() {
    CDialog nested(IDD_SMALL, this);
    dialogEvents.push_back("nested returned " + std::to_string(nested.DoModal()));
  }
  void OnCustomBeginEdit(NMHDR*, LRESULT* result) {
    dialogEvents.push_back("begin edit");
    *result = 3;
  }
  void OnCustomEndEdit(NMHDR*, LRESULT* result) {
    dialogEvents.push_back("end edit reached the dialog");
    *result = -1;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
  ON_EN_CHANGE(IDC_NAME, OnNameChange)
  ON_LBN_SELCHANGE(IDC_LIST, OnListPick)
  ON_COMMAND(IDM_APPLY, OnApply)
  ON_COMMAND(IDM_NESTED, OnNested)
  ON_NOTIFY(kBeginEdit, IDC_CUSTOM, OnCustomBeginEdit)
  ON_NOTIFY(kEndEdit, IDC_CUSTOM, OnCustomEndEdit)
END_MESSAGE_MAP()
