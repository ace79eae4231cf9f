#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DialogDriver.h"
#include "RenderProbe.h"
#include "ScriptedPlatform.h"
#include "TestDialog.h"
#include "WindowInput.h"

namespace {

using Events = std::vector<std::string>;

CWinApp app("Winframe Tests");

TEST(Dialog, TinyDialogDrivenEndToEnd) {
  ScriptedPlatform platform;
  DialogDriver driver;
  TestDialog dialog;
  platform.ExpectBox(IDOK, "Please enter an integer between 0 and 99999.");
  platform.ExpectBox(IDOK, "Please enter an integer.");
  driver.When(IDD_TEST, [&](DialogActions& ui) {
    // Initialised from the members.
    EXPECT_STREQ(ui.ReadText(IDC_NAME), "initial");
    EXPECT_STREQ(ui.ReadText(IDC_COUNT), "5");
    EXPECT_FALSE(ui.IsChecked(IDC_ENABLED));
    EXPECT_EQ(ui.ListItems(IDC_LIST), (std::vector<std::string>{"alpha", "beta", "gamma"}));

    ui.Type(IDC_NAME, "typed");
    ui.SetText(IDC_COUNT, "100000");
    ui.PressOK();  // refused: the message, the focus on the count with its text selected
    EXPECT_EQ(::GetFocus(), ui.Item(IDC_COUNT));
    EXPECT_EQ(::SendMessageA(ui.Item(IDC_COUNT), EM_GETSEL, 0, 0), MAKELRESULT(0, 6));
    ui.SetText(IDC_COUNT, "12abc");
    ui.PressOK();
    ui.SetText(IDC_COUNT, " 42 ");
    ui.Tick(IDC_ENABLED);
    ui.PickListItem(IDC_LIST, "beta");
    ui.Command(IDM_APPLY);
    wftest::Click(ui.Item(IDC_CUSTOM), {10, 10});
    ui.PressOK();
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);

  EXPECT_STREQ(dialog.name, "typed");
  EXPECT_EQ(dialog.count, 42);
  EXPECT_EQ(dialog.enabled, 1);
  EXPECT_STREQ(dialog.picked, "beta");
  EXPECT_EQ(dialog.applied, 1);
  EXPECT_EQ(dialog.dialogEvents, (Events{"list pick 1", "begin edit"}));
  // The derived control got the base class's click and its own reflected end of edit;
  // the dialog's own handler for that code never ran.
  EXPECT_EQ(dialog.custom.events,
            (Events{"presubclass", "base click", "begin answered 3", "reflected end edit from 1005",
                    "end answered 0"}));
  ASSERT_EQ(platform.Boxes().size(), 2u);
  EXPECT_STREQ(platform.Boxes()[0].caption.c_str(), "Winframe Tests");
  EXPECT_EQ(dialog.m_hWnd, nullptr);
  EXPECT_EQ(dialog.custom.m_hWnd, nullptr);
}

TEST(Dialog, CancelLeavesTheMembersAlone) {
  DialogDriver driver;
  TestDialog dialog;
  driver.When(IDD_TEST, [](DialogActions& ui) {
    ui.SetText(IDC_NAME, "changed");
    ui.PressCancel();
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_STREQ(dialog.name, "initial");
}

TEST(Dialog, DataExchangeWritesAControlOnlyWhenItsTextDiffers) {
  DialogDriver driver;
  TestDialog dialog;
  driver.When(IDD_TEST, [&](DialogActions& ui) {
    EXPECT_EQ(dialog.nameChanges, 1);  // "" -> "initial" while initialising
    dialog.UpdateData(FALSE);
    EXPECT_EQ(dialog.nameChanges, 1);
    dialog.name = "other";
    dialog.UpdateData(FALSE);
    EXPECT_EQ(dialog.nameChanges, 2);
    // What the layer works around: Wine's edit control notifies every WM_SETTEXT.
    ::SetWindowTextA(ui.Item(IDC_NAME), "other");
    EXPECT_EQ(dialog.nameChanges, 3);
    ui.End(IDCANCEL);
  });
  dialog.DoModal();
}

// A check the edit makes when it loses the focus, as a dialog's field validation would.
class Insisting : public CEdit {
 public:
  HWND insistOn = nullptr;
  Events* events = nullptr;

 protected:
  void OnKillFocus(CWnd* next) {
    events->push_back("kill, next " + std::to_string(next ? next->GetDlgCtrlID() : 0));
    CEdit::OnKillFocus(next);
    if (insistOn) ::SetFocus(insistOn);
    events->push_back("kill done, focus " + std::to_string(::GetDlgCtrlID(::GetFocus())));
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(Insisting, CEdit)
  ON_WM_KILLFOCUS()
END_MESSAGE_MAP()

class FocusWatch : public CWnd {
 public:
  Events* events = nullptr;

 protected:
  void OnSetFocus(CWnd* old) {
    events->push_back("set " + std::to_string(GetDlgCtrlID()));
    CWnd::OnSetFocus(old);
  }
  void OnKillFocus(CWnd* next) {
    events->push_back("lost " + std::to_string(GetDlgCtrlID()));
    CWnd::OnKillFocus(next);
  }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(FocusWatch, CWnd)
  ON_WM_SETFOCUS()
  ON_WM_KILLFOCUS()
END_MESSAGE_MAP()

TEST(Dialog, FocusSetInsideKillFocusWinsOverTheFocusBeingSet) {
  DialogDriver driver;
  TestDialog dialog;
  Events events;
  driver.When(IDD_TEST, [&](DialogActions& ui) {
    Insisting name;
    FocusWatch count, list;  // list: the check box
    name.events = count.events = list.events = &events;
    ASSERT_TRUE(name.SubclassWindow(ui.Item(IDC_NAME)));
    ASSERT_TRUE(count.SubclassWindow(ui.Item(IDC_COUNT)));
    ASSERT_TRUE(list.SubclassWindow(ui.Item(IDC_ENABLED)));
    name.SetFocus();
    events.clear();
    name.insistOn = count.m_hWnd;
    list.SetFocus();
    // Wine has made the check box the focus before the edit hears of it; the inner SetFocus
    // takes it away from the check box (which never got WM_SETFOCUS) and the outer SetFocus
    // then gives up: the count keeps the focus.
    EXPECT_EQ(events, (Events{"kill, next 1003", "lost 1003", "set 1002", "kill done, focus 1002"}));
    EXPECT_EQ(::GetFocus(), count.m_hWnd);
    name.UnsubclassWindow();
    count.UnsubclassWindow();
    list.UnsubclassWindow();
    ui.End(IDCANCEL);
  });
  dialog.DoModal();
}

TEST(Dialog, ModalLoopOffersMessagesToControlsAndTurnsEnterIntoOk) {
  DialogDriver driver;
  TestDialog dialog;
  driver.When(IDD_TEST, [](DialogActions& ui) {
    ::PostMessageA(ui.Item(IDC_CUSTOM), WM_APP + 5, 0, 0);
    ::PostMessageA(ui.Item(IDC_CUSTOM), WM_KEYDOWN, VK_DOWN, 1);
    ::PostMessageA(ui.Item(IDC_NAME), WM_KEYDOWN, VK_RETURN, 1);
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.custom.events, (Events{"presubclass", "pretranslated", "key 40"}));
}

TEST(Dialog, AQuitRequestEndsTheDialogAndIsLeftForTheProgramsLoop) {
  TestDialog dialog;
  ::PostQuitMessage(9);
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
  MSG msg;
  ASSERT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 9u);
}

TEST(Dialog, NullParentIsOwnedByTheMainWindowWhichIsDisabledWhileItRuns) {
  CWnd main;
  ASSERT_TRUE(main.CreateEx(0, "STATIC", "main", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                            nullptr));
  app.m_pMainWnd = &main;
  DialogDriver driver;
  TestDialog dialog;
  HWND owner = nullptr, nestedOwner = nullptr, outer = nullptr;
  bool mainEnabled = true;
  driver.When(IDD_TEST, [&](DialogActions& ui) {
    outer = ui.Handle();
    owner = ::GetWindow(ui.Handle(), GW_OWNER);
    mainEnabled = main.IsWindowEnabled();
    ui.Command(IDM_NESTED);
    ui.End(IDCANCEL);
  });
  driver.When(IDD_SMALL, [&](DialogActions& ui) {
    nestedOwner = ::GetWindow(ui.Handle(), GW_OWNER);
    EXPECT_FALSE(::IsWindowEnabled(outer));
    ui.End(7);
  });
  dialog.DoModal();
  app.m_pMainWnd = nullptr;
  EXPECT_EQ(owner, main.m_hWnd);
  EXPECT_FALSE(mainEnabled);
  EXPECT_TRUE(main.IsWindowEnabled());
  EXPECT_EQ(nestedOwner, outer);
  EXPECT_EQ(dialog.dialogEvents, (Events{"nested returned 7"}));
}

TEST(Dialog, TheDriverAndTheSeamFailTheTestOnWhatNobodyExpected) {
  EXPECT_NONFATAL_FAILURE(
      {
        ScriptedPlatform platform;
        EXPECT_EQ(AfxMessageBox("surprise", MB_YESNO), IDNO);
      },
      "unexpected message box: \"surprise\"");
  EXPECT_NONFATAL_FAILURE(
      {
        DialogDriver driver;
        TestDialog dialog;
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
      },
      "no script was queued");
  EXPECT_NONFATAL_FAILURE(
      {
        DialogDriver driver;
        TestDialog dialog;
        driver.When(IDD_TEST, [](DialogActions&) {});
        EXPECT_EQ(dialog.DoModal(), IDCANCEL);
      },
      "still open after its script");
}

TEST(Dialog, ShellAndProcessRequestsGoThroughTheSeam) {
  ScriptedPlatform platform;
  WfPlatform& seam = WfPlatform::Current();
  EXPECT_TRUE(seam.ShellOpen(nullptr, "https://help.example/", SW_SHOWNORMAL));
  EXPECT_TRUE(seam.StartProcess("C:\\windows\\Explorer.exe /E, C:\\Packages", SW_SHOWNORMAL));
  GUID first{}, second{};
  seam.CreateGuid(&first);
  seam.CreateGuid(&second);
  EXPECT_EQ(platform.ShellOpens(), (Events{"https://help.example/"}));
  EXPECT_EQ(platform.ProcessStarts(), (Events{"C:\\windows\\Explorer.exe /E, C:\\Packages"}));
  EXPECT_EQ(first.Data1, 1u);
  EXPECT_EQ(second.Data1, 2u);
}

TEST(Dialog, ScreenshotShowsTheDialogAndItsCustomControl) {
  DialogDriver driver;
  TestDialog dialog;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string path = std::string(temp) + "winframe-dialog.png";
  std::unique_ptr<RenderProbe> shot;
  driver.When(IDD_TEST, [&](DialogActions& ui) {
    EXPECT_TRUE(ui.Screenshot(path.c_str()));
    shot = RenderProbe::CaptureClient(ui.Item(IDC_CUSTOM));
    ui.End(IDCANCEL);
  });
  dialog.DoModal();
  ASSERT_TRUE(shot);
  // The custom control painted its background and its frame.
  EXPECT_EQ(shot->Pixel(1, 1), RGB(255, 255, 224));
  EXPECT_EQ(shot->Pixel(4, 10), RGB(0, 0, 160));
  WIN32_FILE_ATTRIBUTE_DATA file{};
  ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &file));
  EXPECT_GT(file.nFileSizeLow, 1000u);
  DeleteFileA(path.c_str());
}

}  // namespace
