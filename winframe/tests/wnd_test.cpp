#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "WfControls.h"
#include "WindowInput.h"
#include "WfWnd.h"

namespace {

const char kClassName[] = "WfTestWindow";

void RegisterTestClass() {
  static bool done = false;
  if (done) return;
  WNDCLASSA wc{};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kClassName;
  done = RegisterClassA(&wc) != 0;
}

std::vector<std::string> trace;

class BaseWnd : public CWnd {
 public:
  int created = 0;

 protected:
  int OnCreate(LPCREATESTRUCTA cs) {
    ++created;
    return CWnd::OnCreate(cs);
  }
  void OnLButtonDown(UINT, CPoint point) {
    trace.push_back("base click " + std::to_string(point.x) + "," + std::to_string(point.y));
  }
  LRESULT OnPing(WPARAM, LPARAM) {
    trace.push_back("base ping");
    return 1;
  }
  LRESULT OnPong(WPARAM, LPARAM) {
    trace.push_back("base pong");
    return 2;
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(BaseWnd, CWnd)
  ON_WM_CREATE()
  ON_WM_LBUTTONDOWN()
  ON_MESSAGE(WM_APP + 1, OnPing)
  ON_MESSAGE(WM_APP + 2, OnPong)
END_MESSAGE_MAP()

class DerivedWnd : public BaseWnd {
 protected:
  void OnKeyDown(UINT ch, UINT repeat, UINT flags) {
    trace.push_back("derived key " + std::to_string(ch));
    CWnd::OnKeyDown(ch, repeat, flags);
  }
  LRESULT OnPing(WPARAM w, LPARAM l) {
    trace.push_back("derived ping");
    return BaseWnd::OnPing(w, l) + 10;
  }
  LRESULT OnSetText(WPARAM, LPARAM lParam) {
    trace.push_back(std::string("settext ") + reinterpret_cast<const char*>(lParam));
    return Default();
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(DerivedWnd, BaseWnd)
  ON_WM_KEYDOWN()
  ON_MESSAGE(WM_APP + 1, OnPing)
  ON_MESSAGE(WM_SETTEXT, OnSetText)
END_MESSAGE_MAP()

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClass();
    trace.clear();
  }
};

TEST_F(WindowTest, DerivedMapIsSearchedFirstThenTheBaseMapThenTheDefaultProcedure) {
  DerivedWnd wnd;
  ASSERT_TRUE(wnd.CreateEx(0, kClassName, "chain", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                           nullptr));
  EXPECT_EQ(wnd.created, 1);  // WM_CREATE reached the object through the creation hook
  EXPECT_EQ(CWnd::FromHandlePermanent(wnd.m_hWnd), &wnd);

  EXPECT_EQ(wnd.SendMessage(WM_APP + 1), 11);
  EXPECT_EQ(wnd.SendMessage(WM_APP + 2), 2);
  wnd.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 7));
  wnd.SendMessage(WM_KEYDOWN, VK_DOWN, 1);
  wnd.SetWindowText("title");
  EXPECT_EQ(trace, (std::vector<std::string>{"derived ping", "base ping", "base pong",
                                             "base click 5,7", "derived key 40", "settext title"}));
  CString text;
  wnd.GetWindowText(text);
  EXPECT_STREQ(text, "title");  // Default() passed WM_SETTEXT on
  EXPECT_EQ(wnd.SendMessage(WM_APP + 3), 0);
}

class Counted : public CWnd {
 public:
  explicit Counted(int* deleted) : deleted_(deleted) {}
  ~Counted() override { ++*deleted_; }
  std::vector<std::string> seen;

 protected:
  void PostNcDestroy() override {
    trace.push_back("post nc destroy");
    delete this;
  }
  void OnClose() {
    trace.push_back("close begins");
    DestroyWindow();
    // Still alive: deletion waits for this handler to return.
    seen.push_back("after destroy");
    trace.push_back(m_hWnd ? "still attached" : "detached");
    trace.push_back("close ends");
  }
  void OnTimer(UINT_PTR id) {
    // A nested message for the same window while destroying it.
    trace.push_back("timer " + std::to_string(id));
    SendMessage(WM_CLOSE);
    trace.push_back("timer ends, seen " + std::to_string(seen.size()));
  }

 private:
  int* deleted_;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Counted, CWnd)
  ON_WM_CLOSE()
  ON_WM_TIMER()
END_MESSAGE_MAP()

TEST_F(WindowTest, WindowThatDestroysItselfInsideAHandlerIsDeletedAfterTheOutermostHandlerReturns) {
  int deleted = 0;
  auto* wnd = new Counted(&deleted);
  ASSERT_TRUE(wnd->CreateEx(0, kClassName, "self", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
  HWND hWnd = wnd->m_hWnd;
  ::SendMessageA(hWnd, WM_TIMER, 42, 0);
  EXPECT_EQ(deleted, 1);
  EXPECT_FALSE(IsWindow(hWnd));
  EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
  EXPECT_EQ(trace, (std::vector<std::string>{"timer 42", "close begins", "detached", "close ends",
                                             "timer ends, seen 1", "post nc destroy"}));

  // Outside any handler the deletion happens within DestroyWindow.
  trace.clear();
  wnd = new Counted(&deleted);
  ASSERT_TRUE(wnd->CreateEx(0, kClassName, "self", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
  wnd->DestroyWindow();
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(trace, (std::vector<std::string>{"post nc destroy"}));
}

class Suicidal : public CWnd {
 public:
  explicit Suicidal(int* deleted) : deleted_(deleted) {}
  ~Suicidal() override { ++*deleted_; }

 protected:
  LRESULT OnBye(WPARAM, LPARAM) {
    delete this;  // destroys the window from inside its own handler
    return 5;
  }

 private:
  int* deleted_;
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Suicidal, CWnd)
  ON_MESSAGE(WM_APP, OnBye)
END_MESSAGE_MAP()

TEST_F(WindowTest, ObjectDeletedInsideItsOwnHandlerLeavesTheDispatchSound) {
  int deleted = 0;
  auto* wnd = new Suicidal(&deleted);
  ASSERT_TRUE(wnd->CreateEx(0, kClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
  HWND hWnd = wnd->m_hWnd;
  EXPECT_EQ(::SendMessageA(hWnd, WM_APP, 0, 0), 5);
  EXPECT_EQ(deleted, 1);
  EXPECT_FALSE(IsWindow(hWnd));
  EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
}

// A control that reflects notifications it sends to its parent.
class ReflectingChild : public CWnd {
 public:
  int endEdits = 0;
  int changes = 0;

 protected:
  void OnEndEdit(NMHDR* header, LRESULT* result) {
    ++endEdits;
    trace.push_back("child end edit from " + std::to_string(header->idFrom));
    *result = 7;
  }
  void OnChange() { ++changes; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ReflectingChild, CWnd)
  ON_NOTIFY_REFLECT(-106, OnEndEdit)
  ON_CONTROL_REFLECT(EN_CHANGE, OnChange)
END_MESSAGE_MAP()

class NotifiedParent : public CWnd {
 protected:
  void OnEndEdit(NMHDR*, LRESULT* result) {
    trace.push_back("parent end edit");
    *result = -1;
  }
  void OnBeginEdit(NMHDR* header, LRESULT* result) {
    trace.push_back("parent begin edit from " + std::to_string(header->idFrom));
    *result = 3;
  }
  void OnChildChange() { trace.push_back("parent change"); }
  void OnOtherChange() { trace.push_back("parent other change"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(NotifiedParent, CWnd)
  ON_NOTIFY(-106, 9, OnEndEdit)
  ON_NOTIFY(-105, 9, OnBeginEdit)
  ON_EN_CHANGE(9, OnChildChange)
  ON_EN_CHANGE(10, OnOtherChange)
END_MESSAGE_MAP()

TEST_F(WindowTest, NotificationsGoToTheSendingControlFirstAndOnlyUnreflectedOnesReachTheParent) {
  NotifiedParent parent;
  ASSERT_TRUE(parent.CreateEx(0, kClassName, "parent", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr));
  ReflectingChild child;
  ASSERT_TRUE(child.Create(kClassName, "child", WS_VISIBLE, CRect(0, 0, 50, 50), &parent, 9));
  CWnd plain;
  ASSERT_TRUE(plain.Create(kClassName, "plain", WS_VISIBLE, CRect(0, 0, 50, 50), &parent, 10));

  NMHDR header{child.m_hWnd, 9, static_cast<UINT>(-106)};
  EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 9, reinterpret_cast<LPARAM>(&header)), 7);
  header.code = static_cast<UINT>(-105);
  EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 9, reinterpret_cast<LPARAM>(&header)), 3);
  parent.SendMessage(WM_COMMAND, MAKEWPARAM(9, EN_CHANGE), reinterpret_cast<LPARAM>(child.m_hWnd));
  parent.SendMessage(WM_COMMAND, MAKEWPARAM(10, EN_CHANGE), reinterpret_cast<LPARAM>(plain.m_hWnd));
  EXPECT_EQ(child.endEdits, 1);
  EXPECT_EQ(child.changes, 1);
  EXPECT_EQ(trace, (std::vector<std::string>{"child end edit from 9", "parent begin edit from 9",
                                             "parent other change"}));
  EXPECT_EQ(child.GetOwner(), &parent);
  EXPECT_EQ(child.GetParent(), &parent);
}

// Commands 101 to 104 of an Edit-like menu: the focused pane answers for 101, 102 and
// 103, its frame for 103 too, and nobody for 104.
enum : UINT { kPaneOn = 101, kPaneOff = 102, kBoth = 103, kNobody = 104 };

class MenuPane : public CWnd {
 public:
  BOOL enableFirst = TRUE;

 protected:
  void OnUpdateOn(CCmdUI* ui) {
    trace.push_back("pane asked " + std::to_string(ui->m_nID));
    ui->Enable(enableFirst);
  }
  void OnUpdateOff(CCmdUI* ui) { ui->Enable(FALSE); }
  void OnUpdateBoth(CCmdUI* ui) {
    trace.push_back("pane asked " + std::to_string(ui->m_nID));
    ui->Enable(FALSE);
  }
  void OnOn() { trace.push_back("pane runs 101"); }
  void OnBoth() { trace.push_back("pane runs 103"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MenuPane, CWnd)
  ON_UPDATE_COMMAND_UI(kPaneOn, OnUpdateOn)
  ON_UPDATE_COMMAND_UI(kPaneOff, OnUpdateOff)
  ON_UPDATE_COMMAND_UI(kBoth, OnUpdateBoth)
  ON_COMMAND(kPaneOn, OnOn)
  ON_COMMAND(kBoth, OnBoth)
END_MESSAGE_MAP()

class MenuFrame : public CWnd {
 protected:
  void OnUpdateBoth(CCmdUI* ui) {
    trace.push_back("frame asked " + std::to_string(ui->m_nID));
    ui->Enable(TRUE);
  }
  void OnBoth() { trace.push_back("frame runs 103"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(MenuFrame, CWnd)
  ON_UPDATE_COMMAND_UI(kBoth, OnUpdateBoth)
  ON_COMMAND(kBoth, OnBoth)
END_MESSAGE_MAP()

TEST_F(WindowTest, AnOpeningMenuAsksTheFrameThenTheFocusedPaneForEachItemsState) {
  MenuFrame frame;
  ASSERT_TRUE(frame.CreateEx(0, kClassName, "frame", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                             nullptr));
  MenuPane pane;
  ASSERT_TRUE(pane.Create(kClassName, "pane", WS_CHILD | WS_VISIBLE, CRect(0, 0, 100, 100), &frame, 5));
  CMenu bar;
  CMenu popup;
  ASSERT_TRUE(bar.CreatePopupMenu());
  ASSERT_TRUE(popup.CreatePopupMenu());
  popup.AppendMenu(MF_STRING | MF_GRAYED, kPaneOn, "On");
  popup.AppendMenu(MF_STRING, kPaneOff, "Off");
  popup.AppendMenu(MF_SEPARATOR);
  popup.AppendMenu(MF_STRING, kBoth, "Both");
  popup.AppendMenu(MF_STRING | MF_GRAYED, kNobody, "Nobody");
  auto enabled = [&](const std::vector<UINT>& states) {
    std::vector<bool> flags;
    for (UINT state : states)
      if (!(state & MF_SEPARATOR)) flags.push_back((state & (MF_GRAYED | MF_DISABLED)) == 0);
    return flags;
  };

  pane.SetFocus();
  EXPECT_EQ(enabled(wftest::MenuStatesWhenOpen(frame.m_hWnd, popup.m_hMenu)),
            (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(trace, (std::vector<std::string>{"pane asked 101", "frame asked 103"}));

  // The handler decides anew at every opening.
  pane.enableFirst = FALSE;
  trace.clear();
  EXPECT_EQ(enabled(wftest::MenuStatesWhenOpen(frame.m_hWnd, popup.m_hMenu)),
            (std::vector<bool>{false, false, true, false}));

  // Commands from the menu take the same way: the frame's own entry first, then the pane.
  trace.clear();
  frame.SendMessage(WM_COMMAND, MAKEWPARAM(kPaneOn, 0), 0);
  frame.SendMessage(WM_COMMAND, MAKEWPARAM(kBoth, 0), 0);
  frame.SendMessage(WM_COMMAND, MAKEWPARAM(kNobody, 0), 0);
  EXPECT_EQ(trace, (std::vector<std::string>{"pane runs 101", "frame runs 103"}));

  // Without the focus inside the frame the pane is not asked: its items keep their states.
  CWnd other;
  ASSERT_TRUE(other.CreateEx(0, kClassName, "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr));
  other.SetFocus();
  trace.clear();
  pane.enableFirst = TRUE;
  EXPECT_EQ(enabled(wftest::MenuStatesWhenOpen(frame.m_hWnd, popup.m_hMenu)),
            (std::vector<bool>{false, false, true, false}));
  frame.SendMessage(WM_COMMAND, MAKEWPARAM(kPaneOn, 0), 0);
  EXPECT_EQ(trace, (std::vector<std::string>{"frame asked 103"}));
}

class Veto : public CWnd {
 public:
  UINT vetoed = 0;
  BOOL PreTranslateMessage(MSG* msg) override {
    trace.push_back("pretranslate " + std::to_string(GetDlgCtrlID()));
    if (msg->message == vetoed) return TRUE;
    return FALSE;
  }
};

TEST_F(WindowTest, PreTranslateWalksFromTheTargetUpToTheTopLevelWindow) {
  Veto top, middle, leaf;
  ASSERT_TRUE(top.CreateEx(0, kClassName, "top", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr));
  ASSERT_TRUE(middle.Create(kClassName, "", WS_VISIBLE, CRect(0, 0, 100, 100), &top, 2));
  ASSERT_TRUE(leaf.Create(kClassName, "", WS_VISIBLE, CRect(0, 0, 50, 50), &middle, 3));
  top.vetoed = WM_KEYDOWN;
  MSG msg{leaf.m_hWnd, WM_KEYDOWN, VK_TAB, 0, 0, {}};
  EXPECT_TRUE(CWnd::WalkPreTranslateTree(nullptr, &msg));
  EXPECT_EQ(trace, (std::vector<std::string>{"pretranslate 3", "pretranslate 2", "pretranslate 0"}));
  trace.clear();
  EXPECT_FALSE(CWnd::WalkPreTranslateTree(middle.m_hWnd, &msg));
  EXPECT_EQ(trace, (std::vector<std::string>{"pretranslate 3", "pretranslate 2"}));
}

class Hooked : public CWnd {
 public:
  std::vector<std::string> order;

 protected:
  BOOL PreCreateWindow(CREATESTRUCTA& cs) override {
    cs.style |= WS_BORDER;
    return TRUE;
  }
  void PreSubclassWindow() override {
    order.push_back("presubclass");
    ModifyStyleEx(0, WS_EX_CLIENTEDGE);
  }
  int OnCreate(LPCREATESTRUCTA cs) {
    order.push_back("create");
    return CWnd::OnCreate(cs);
  }
  void OnSize(UINT type, int cx, int cy) {
    order.push_back("size " + std::to_string(cx));
    CWnd::OnSize(type, cx, cy);
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Hooked, CWnd)
  ON_WM_CREATE()
  ON_WM_SIZE()
END_MESSAGE_MAP()

TEST_F(WindowTest, CreationAndSubclassingRunTheHooksAndRouteMessagesToTheObject) {
  Hooked created;
  ASSERT_TRUE(created.CreateEx(0, kClassName, "", WS_POPUP, 0, 0, 80, 40, nullptr, nullptr));
  EXPECT_TRUE(created.GetStyle() & WS_BORDER);
  EXPECT_TRUE(created.GetExStyle() & WS_EX_CLIENTEDGE);
  ASSERT_GE(created.order.size(), 2u);
  EXPECT_EQ(created.order.front(), "create");
  EXPECT_EQ(created.order.back(), "presubclass");

  HWND plain = CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 60, 30, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  CWnd* temporary = CWnd::FromHandle(plain);
  ASSERT_NE(temporary, nullptr);
  EXPECT_EQ(CWnd::FromHandlePermanent(plain), nullptr);
  EXPECT_EQ(CWnd::FromHandle(plain), temporary);  // one wrapper per handle
  Hooked sub;
  ASSERT_TRUE(sub.SubclassWindow(plain));
  EXPECT_FALSE(CWnd().SubclassWindow(plain));  // one object per window
  EXPECT_EQ(CWnd::FromHandle(plain), &sub);
  sub.MoveWindow(0, 0, 70, 30);
  // The client edge added by PreSubclassWindow takes two pixels each side.
  EXPECT_EQ(sub.order, (std::vector<std::string>{"presubclass", "size 66"}));
  EXPECT_EQ(sub.UnsubclassWindow(), plain);
  ::MoveWindow(plain, 0, 0, 90, 30, FALSE);
  EXPECT_EQ(sub.order.size(), 2u);
  DestroyWindow(plain);
}

TEST_F(WindowTest, TimersCaptureFocusAndScrollBarsReachTheRealWindow) {
  CWnd wnd;
  ASSERT_TRUE(wnd.CreateEx(0, kClassName, "", WS_POPUP | WS_VISIBLE | WS_HSCROLL | WS_VSCROLL, 0, 0,
                           200, 100, nullptr, nullptr));
  EXPECT_EQ(wnd.SetTimer(513, 25), 513u);
  EXPECT_TRUE(wnd.KillTimer(513));
  wnd.SetCapture();
  EXPECT_EQ(CWnd::GetCapture(), &wnd);
  ReleaseCapture();
  wnd.SetFocus();
  EXPECT_EQ(CWnd::GetFocus(), &wnd);

  SCROLLINFO info{};
  info.fMask = SIF_RANGE | SIF_PAGE;
  info.nMax = 999;
  info.nPage = 100;
  wnd.SetScrollInfo(SB_VERT, &info);
  wnd.SetScrollPos(SB_VERT, 250);
  EXPECT_EQ(wnd.GetScrollPos(SB_VERT), 250);
  SCROLLINFO read{};
  ASSERT_TRUE(wnd.GetScrollInfo(SB_VERT, &read));
  EXPECT_EQ(read.nMax, 999);
  EXPECT_EQ(read.nPage, 100u);
  EXPECT_EQ(read.nPos, 250);
}

TEST_F(WindowTest, ObjectsDestroyTheirWindowsAndTemporaryWrappersNeverDo) {
  HWND hWnd = nullptr;
  {
    CWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, kClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    hWnd = wnd.m_hWnd;
  }
  EXPECT_FALSE(IsWindow(hWnd));

  hWnd = CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
  CWnd::FromHandle(hWnd)->SetWindowText("temp");
  WfPurgeTemporaries();
  EXPECT_TRUE(IsWindow(hWnd));
  DestroyWindow(hWnd);
}

// Handlers that fail as the layer's calls fail: a DC or a GDI object that cannot be made.
class Failing : public CWnd {
 public:
  bool failCreate = false;
  int paints = 0;

 protected:
  int OnCreate(LPCREATESTRUCTA cs) {
    if (failCreate) AfxThrowResourceException();
    return CWnd::OnCreate(cs);
  }
  void OnPaint() {
    ++paints;
    AfxThrowResourceException();  // as a CPaintDC whose BeginPaint failed
  }
  LRESULT OnFail(WPARAM outOfMemory, LPARAM) {
    trace.push_back("fail");
    if (outOfMemory) throw std::bad_alloc();
    AfxThrowResourceException();
  }
  LRESULT OnWork(WPARAM, LPARAM) {
    trace.push_back("work");
    return 5;
  }
  LRESULT OnSetText(WPARAM, LPARAM) {
    SendMessage(WM_APP + 1);  // fails inside; this message is still the one Default() passes on
    return Default();
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Failing, CWnd)
  ON_WM_CREATE()
  ON_WM_PAINT()
  ON_MESSAGE(WM_APP + 1, OnFail)
  ON_MESSAGE(WM_APP + 2, OnWork)
  ON_MESSAGE(WM_SETTEXT, OnSetText)
END_MESSAGE_MAP()

TEST_F(WindowTest, AHandlerThatThrowsEndsItsMessageButNotTheWindowOrTheLoop) {
  Failing wnd;
  ASSERT_TRUE(wnd.CreateEx(0, kClassName, "", WS_POPUP | WS_VISIBLE, 0, 0, 100, 50, nullptr,
                           nullptr));
  EXPECT_EQ(wnd.SendMessage(WM_APP + 1), 0);
  EXPECT_EQ(wnd.SendMessage(WM_APP + 1, TRUE), 0);
  EXPECT_EQ(wnd.SendMessage(WM_APP + 2), 5);

  wnd.SetWindowText("kept");
  CString text;
  wnd.GetWindowText(text);
  EXPECT_STREQ(text, "kept");

  // A failed paint leaves nothing to paint, so it does not come back.
  wnd.UpdateWindow();
  wnd.paints = 0;
  wnd.Invalidate(FALSE);
  wnd.UpdateWindow();
  EXPECT_EQ(wnd.paints, 1);
  EXPECT_FALSE(::GetUpdateRect(wnd.m_hWnd, nullptr, FALSE));

  // Through a message loop of the program's own.
  trace.clear();
  wnd.PostMessage(WM_APP + 1);
  wnd.PostMessage(WM_APP + 1, TRUE);
  wnd.PostMessage(WM_APP + 2);
  ::PostQuitMessage(4);
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
  EXPECT_EQ(msg.wParam, 4u);
  EXPECT_EQ(trace, (std::vector<std::string>{"fail", "fail", "work"}));
  EXPECT_EQ(wnd.paints, 1);
  EXPECT_TRUE(::IsWindow(wnd.m_hWnd));

  // A window whose creation handler fails is not made.
  Failing refused;
  refused.failCreate = true;
  EXPECT_FALSE(refused.CreateEx(0, kClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
  EXPECT_EQ(refused.m_hWnd, nullptr);
}

}  // namespace
