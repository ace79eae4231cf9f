// The main window, the About box and the application object, driven as the operator would.
#include <gtest/gtest.h>

#include <string>

#include "AboutDlg.h"
#include "packages/DataFolders.h"
#include "DialogDriver.h"
#include "KitTestSupport.h"
#include "KitdeskApp.h"
#include "MainMenu.h"
#include "RecordingDC.h"
#include "ScriptedPlatform.h"
#include "resource.h"

namespace {

// The main window forms the data paths when it starts: one scratch data root for the program.
const auto* const g_environment =
    testing::AddGlobalTestEnvironment(new DataRootEnvironment("kitsmith-mainmenu"));

constexpr char kAboutText[] = "Qel Security Identra Tools v3.0.0.1 {3.0.0.0}";

// Opens PaintMinimised to the test.
class MainMenuProbe : public CMainMenu {
 public:
  MainMenuProbe() : CMainMenu(nullptr) {}
  using CMainMenu::PaintMinimised;
};

// Runs the main window with one script and ends it through File > Exit.
INT_PTR RunMainWindow(DialogDriver& driver, const DialogDriver::Script& script) {
  driver.When(IDD_MAINMENU, [&](DialogActions& ui) {
    script(ui);
    ui.Command(ID_FILE_EXIT);
  });
  CMainMenu mainMenu(nullptr);
  return mainMenu.DoModal();
}

void ExpectAboutBox(DialogDriver& driver) {
  driver.When(IDD_ABOUTBOX, [](DialogActions& ui) {
    EXPECT_STREQ(ui.ReadText(IDC_ABOUT_VERSION), kAboutText);
    ui.PressOK();
  });
}

HICON ProgramIcon() { return ::LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)); }

}  // namespace

TEST(MainMenu, StartsWithTheReadyLogInItsPublishedLogControl) {
  ScriptedPlatform platform;
  DialogDriver driver;
  const INT_PTR result = RunMainWindow(driver, [](DialogActions& ui) {
    EXPECT_EQ(LogWindow(), ui.Item(IDC_LOG));
    EXPECT_STREQ(ui.ReadText(IDC_LOG), "Qel Security Identra Administrative Tools\r\nStatus: Ready. \r\n\r\n");
    // Later lines go to the same control.
    LogLine() << "next";
    EXPECT_STREQ(ui.ReadText(IDC_LOG),
                 "Qel Security Identra Administrative Tools\r\nStatus: Ready. \r\n\r\nnext\r\n");
    EXPECT_EQ(ui.Dialog().SendMessage(WM_GETICON, ICON_BIG), reinterpret_cast<LRESULT>(ProgramIcon()));
    EXPECT_EQ(ui.Dialog().SendMessage(WM_GETICON, ICON_SMALL), reinterpret_cast<LRESULT>(ProgramIcon()));
    EXPECT_EQ(ui.Dialog().SendMessage(WM_QUERYDRAGICON), reinterpret_cast<LRESULT>(ProgramIcon()));
    CString caption;
    ui.Dialog().GetWindowText(caption);
    EXPECT_STREQ(caption, "Identra Deployment Tool");
  });
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(platform.Boxes().empty());
}

// The scripts run from Temp and the prototypes, configurations come from the data root and
// Packages: each of them that others may write to is named at start.
TEST(MainMenu, StartWarnsOfFoldersThatOthersMayWrite) {
  DataRootEnvironment::Empty();
  const DataPaths& paths = DataPaths::Get();
  ASSERT_TRUE(CreatePath(paths.tempFolder + "\\"));
  ASSERT_TRUE(CreatePath(paths.packagesFolder + "\\"));
  const struct {
    std::string folder;
    const char* what;
  } cases[] = {{paths.dataRoot, "the default configuration read from there"},
               {paths.tempFolder, "the package scripts run from there"},
               {paths.packagesFolder, "the packages kept there"},
               {paths.prototypesFolder, "the prototype scripts run from there"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    OpenToEveryone open(c.folder);
    ASSERT_TRUE(open.Opened());
    ScriptedPlatform platform;
    DialogDriver driver;
    RunMainWindow(driver, [&](DialogActions& ui) {
      EXPECT_EQ(
          std::string(ui.ReadText(IDC_LOG)),
          "Qel Security Identra Administrative Tools\r\nWARNING: Other accounts may write to " +
              c.folder + " (Everyone (S-1-1-0)); " + c.what +
              " could be changed by them\r\nStatus: Ready. \r\n\r\n");
    });
  }
  DataRootEnvironment::Empty();
}

TEST(MainMenu, TheAboutBoxComesFromTheSystemMenuAndTheHelpMenu) {
  ScriptedPlatform platform;
  DialogDriver driver;
  RunMainWindow(driver, [&](DialogActions& ui) {
    CMenu* systemMenu = ui.Dialog().GetSystemMenu(FALSE);
    ASSERT_NE(systemMenu, nullptr);
    const int count = systemMenu->GetMenuItemCount();
    ASSERT_GE(count, 2);
    EXPECT_EQ(::GetMenuState(systemMenu->m_hMenu, count - 2, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
    EXPECT_EQ(systemMenu->GetMenuItemID(count - 1), UINT(IDM_ABOUTBOX));
    CString text;
    systemMenu->GetMenuString(count - 1, text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&About Kitdesk...");

    ExpectAboutBox(driver);
    ui.Dialog().SendMessage(WM_SYSCOMMAND, IDM_ABOUTBOX);
    ExpectAboutBox(driver);
    ui.Command(ID_APP_ABOUT_MENU);
    // Other system commands keep their default meaning: restoring a window that is not
    // minimised changes nothing and opens no box.
    ui.Dialog().SendMessage(WM_SYSCOMMAND, SC_RESTORE);
    EXPECT_TRUE(ui.Dialog().IsWindowVisible());
  });
}

TEST(MainMenu, AboutTextIsTheProgramsFileAndProductVersion) {
  EXPECT_STREQ(AboutVersionText(), kAboutText);
}

TEST(MainMenu, ExploreCreatesThePackagesFolderAndStartsExplorerOnIt) {
  DataRootEnvironment::Empty();
  const std::string packages = DataPaths::Get().packagesFolder;
  ASSERT_FALSE(PathExists(packages));

  ScriptedPlatform platform;
  DialogDriver driver;
  RunMainWindow(driver, [](DialogActions& ui) { ui.Command(ID_EXPLORE_PACKAGES); });

  EXPECT_TRUE(IsDirectory(packages));
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  ASSERT_EQ(platform.ProcessStarts().size(), 1u);
  EXPECT_EQ(platform.ProcessStarts()[0], std::string(windows) + "\\Explorer.exe /E, " + packages);
}

TEST(MainMenu, OnlineHelpOpensTheHelpPage) {
  ScriptedPlatform platform;
  platform.shellResult = FALSE;  // a refused request passes silently
  DialogDriver driver;
  RunMainWindow(driver, [](DialogActions& ui) { ui.Command(ID_ONLINE_HELP); });
  ASSERT_EQ(platform.ShellOpens().size(), 1u);
  EXPECT_EQ(platform.ShellOpens()[0], kOnlineHelpAddress);
  EXPECT_TRUE(platform.Boxes().empty());
}

TEST(MainMenu, MinimisedWindowShowsTheIconCentred) {
  ScriptedPlatform platform;
  DialogDriver driver;
  driver.When(IDD_MAINMENU, [](DialogActions& ui) {
    auto& window = static_cast<MainMenuProbe&>(ui.Dialog());
    window.ShowWindow(SW_MINIMIZE);
    EXPECT_TRUE(window.IsIconic());
    CRect client;
    window.GetClientRect(&client);
    RecordingDC dc;
    window.PaintMinimised(dc);
    const int x = (client.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.Height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
    EXPECT_EQ(dc.Calls(), std::vector<std::string>{"DrawIcon " + std::to_string(x) + "," + std::to_string(y)});
    ui.Command(ID_FILE_EXIT);
  });
  MainMenuProbe window;
  window.DoModal();
}

TEST(KitdeskApp, RunsTheMainWindowAsItsMainWindowAndEndsWithIt) {
  ScriptedPlatform platform;
  DialogDriver driver;
  KitdeskApp app;
  driver.When(IDD_MAINMENU, [&](DialogActions& ui) {
    EXPECT_EQ(AfxGetMainWnd(), &ui.Dialog());
    ui.Command(ID_FILE_EXIT);
  });
  EXPECT_FALSE(app.InitInstance());
  EXPECT_STREQ(app.m_pszRegistryKey, "Local AppWizard-Generated Applications");
  EXPECT_EQ(app.ExitInstance(), 0);
}
