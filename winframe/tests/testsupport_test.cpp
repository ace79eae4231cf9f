// The helpers every later window test stands on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingDC.h"
#include "TestResources.h"
#include "RenderProbe.h"
#include "WinFrame.h"
#include "WindowInput.h"

namespace {

using Events = std::vector<std::string>;

class InputSink : public CWnd {
 public:
  Events events;

 protected:
  static std::string Keys(UINT flags) {
    std::string keys;
    if (flags & MK_CONTROL) keys += "+ctrl";
    if (flags & MK_SHIFT) keys += "+shift";
    return keys;
  }
  static std::string State() {
    std::string state;
    if (GetKeyState(VK_CONTROL) < 0) state += "+ctrl";
    if (GetKeyState(VK_SHIFT) < 0) state += "+shift";
    if (GetKeyState(VK_MENU) < 0) state += "+alt";
    return state;
  }
  void Add(const std::string& what, CPoint p, UINT flags) {
    events.push_back(what + " " + std::to_string(p.x) + "," + std::to_string(p.y) + Keys(flags));
  }
  void OnLButtonDown(UINT flags, CPoint p) { Add("down", p, flags); }
  void OnLButtonUp(UINT flags, CPoint p) { Add("up", p, flags); }
  void OnLButtonDblClk(UINT flags, CPoint p) { Add("dbl", p, flags); }
  void OnRButtonUp(UINT flags, CPoint p) { Add("rup", p, flags); }
  void OnMouseMove(UINT flags, CPoint p) { Add("move", p, flags); }
  BOOL OnMouseWheel(UINT flags, short delta, CPoint screen) {
    ScreenToClient(&screen);
    Add("wheel " + std::to_string(delta), screen, flags);
    return TRUE;
  }
  void OnKeyDown(UINT ch, UINT, UINT) { events.push_back("key " + std::to_string(ch) + State()); }
  void OnSysKeyDown(UINT ch, UINT, UINT) { events.push_back("syskey " + std::to_string(ch) + State()); }
  void OnChar(UINT ch, UINT, UINT) { events.push_back(std::string("char ") + static_cast<char>(ch)); }
  void OnTimer(UINT_PTR id) { events.push_back("timer " + std::to_string(id)); }
  void OnPaint() {
    CPaintDC dc(this);
    dc.FillSolidRect(CRect(0, 0, 10, 10), RGB(200, 0, 0));
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(InputSink, CWnd)
  ON_WM_LBUTTONDOWN()
  ON_WM_LBUTTONUP()
  ON_WM_LBUTTONDBLCLK()
  ON_WM_RBUTTONUP()
  ON_WM_MOUSEMOVE()
  ON_WM_MOUSEWHEEL()
  ON_WM_KEYDOWN()
  ON_WM_SYSKEYDOWN()
  ON_WM_CHAR()
  ON_WM_TIMER()
  ON_WM_PAINT()
END_MESSAGE_MAP()

class TestSupport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sink.CreateEx(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 50, 60, 200, 100, nullptr,
                              nullptr));
  }
  InputSink sink;
};

TEST_F(TestSupport, MouseInputArrivesWithItsKeyFlags) {
  wftest::Click(sink.m_hWnd, {3, 4}, {.ctrl = true});
  wftest::DoubleClick(sink.m_hWnd, {5, 6});
  wftest::RightClick(sink.m_hWnd, {1, 1}, {.shift = true});
  wftest::Drag(sink.m_hWnd, {0, 0}, {20, 10}, 2);
  wftest::Wheel(sink.m_hWnd, -240, {7, 8});
  EXPECT_EQ(sink.events,
            (Events{"down 3,4+ctrl", "up 3,4+ctrl", "down 5,6", "up 5,6", "dbl 5,6", "up 5,6",
                    "rup 1,1+shift", "down 0,0", "move 10,5", "move 20,10", "up 20,10",
                    "wheel -240 7,8"}));
}

TEST_F(TestSupport, KeysSeeTheModifierStateAndLeaveItAsItWas) {
  wftest::KeyDown(sink.m_hWnd, VK_TAB, {.shift = true});
  wftest::KeyDown(sink.m_hWnd, 'C', {.ctrl = true});
  wftest::KeyDown(sink.m_hWnd, VK_F4, {.alt = true});
  wftest::KeyDown(sink.m_hWnd, VK_DOWN);
  wftest::Chars(sink.m_hWnd, "ab");
  wftest::TimerTick(sink.m_hWnd, 513);
  EXPECT_EQ(sink.events, (Events{"key 9+shift", "key 67+ctrl", "syskey 115+alt", "key 40", "char a",
                                 "char b", "timer 513"}));
  EXPECT_GE(GetKeyState(VK_SHIFT), 0);
  EXPECT_GE(GetKeyState(VK_CONTROL), 0);
}

TEST_F(TestSupport, PostedMessagesAreTakenWithoutBeingHandled) {
  for (int i = 0; i < 3; ++i) sink.PostMessage(WM_VSCROLL, SB_LINEUP);
  sink.PostMessage(WM_TIMER, 7);
  const std::vector<MSG> posted = wftest::TakePosted(sink.m_hWnd);
  ASSERT_EQ(posted.size(), 4u);
  EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_VSCROLL));
  EXPECT_EQ(posted[3].message, static_cast<UINT>(WM_TIMER));
  EXPECT_TRUE(sink.events.empty());
  sink.PostMessage(WM_TIMER, 8);
  EXPECT_GE(wftest::DispatchPosted(), 1);
  EXPECT_EQ(sink.events, (Events{"timer 8"}));
}

TEST_F(TestSupport, RenderProbeReadsWhatAWindowPainted) {
  sink.Invalidate();
  auto probe = RenderProbe::CaptureClient(sink.m_hWnd);
  EXPECT_EQ(probe->Width(), 200);
  EXPECT_EQ(probe->Pixel(9, 9), RGB(200, 0, 0));
  EXPECT_EQ(probe->CountPixels(RGB(200, 0, 0)), 100);
  EXPECT_EQ(probe->Pixel(200, 0), CLR_INVALID);

  RenderProbe own(20, 10);
  own.Dc().FillSolidRect(0, 0, 5, 5, RGB(1, 2, 3));
  EXPECT_EQ(own.Pixel(4, 4), RGB(1, 2, 3));
  EXPECT_EQ(own.Pixel(5, 5), RGB(255, 255, 255));
}

TEST(RecordingDC, RecordsDrawingAndMeasuresTextWithoutFonts) {
  RecordingDC dc;
  CDC& any = dc;  // the code under test sees a plain CDC
  any.SetTextColor(RGB(255, 0, 0));
  any.FillSolidRect(CRect(0, 0, 10, 5), RGB(0, 0, 255));
  CRect text(2, 2, 40, 15);
  any.DrawText(CString("abc"), text, DT_LEFT | DT_SINGLELINE);
  any.MoveTo(1, 2);
  any.LineTo(3, 4);
  EXPECT_EQ(any.GetTextExtent(CString("abcd\nx")), CSize(28, 26));
  CRect calc(5, 5, 5, 5);
  any.DrawText(CString("hello"), calc, DT_CALCRECT);
  EXPECT_EQ(calc, CRect(5, 5, 40, 18));
  EXPECT_EQ(dc.Calls(), (Events{"SetTextColor #FF0000", "FillSolidRect 0,0,10,5 #0000FF",
                                "DrawText \"abc\" 2,2,40,15 0x20", "MoveTo 1,2", "LineTo 3,4"}));
}

TEST(App, InitInstanceDecidesWhetherTheLoopRuns) {
  struct OneShot : CWinApp {
    OneShot() : CWinApp("One Shot") {}
    BOOL InitInstance() override {
      SetRegistryKey("Local AppWizard-Generated Applications");
      return FALSE;
    }
    int ExitInstance() override { return 17; }
  } app;
  EXPECT_EQ(AfxGetApp(), &app);
  EXPECT_STREQ(AfxGetAppName(), "One Shot");
  EXPECT_EQ(AfxWinMain(GetModuleHandleA(nullptr), SW_SHOWNORMAL), 17);
  EXPECT_STREQ(app.m_pszRegistryKey, "Local AppWizard-Generated Applications");
  EXPECT_STREQ(app.m_pszProfileName, "One Shot");
  EXPECT_NE(app.LoadIcon(IDI_TEST), nullptr);
  EXPECT_EQ(app.LoadIcon(999), nullptr);
}

TEST(App, WaitCursorPutsTheOldCursorBack) {
  HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  SetCursor(arrow);
  {
    CWaitCursor wait;
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
  }
  EXPECT_EQ(GetCursor(), arrow);
}

}  // namespace
