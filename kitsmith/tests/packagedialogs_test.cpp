// The version and package-folder dialogs, driven as an operator would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "packages/DataFolders.h"
#include "DialogDriver.h"
#include "KitTestSupport.h"
#include "dialogs/PackageDialogs.h"
#include "packages/PackageVersions.h"
#include "ScriptedPlatform.h"

namespace {

void MakeVersionFolder(const std::string& folder, bool withConfig) {
  CreatePath(folder + "\\");
  WriteTextFile(folder + "\\package-version.cmd", "set packprover=1\r\n");
  if (withConfig) WriteTextFile(folder + "\\Idagent.cfg", "CS[2] CR[1] ");
}

TEST(PickPrototypeVersionDlg, ListsVersionsInOrderAndReturnsTheChosenFolder) {
  ScratchDir root;
  for (const char* name : {"1.10", "1.9", "2.0", "1.9.1", ".svn"}) MakeVersionFolder(root / name, false);
  DialogDriver driver;
  PickPrototypeVersionDlg dialog(root.Path(), nullptr);
  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) {
    EXPECT_EQ(ui.ListItems(IDC_VERSION_LIST), (std::vector<std::string>{"1.9", "1.9.1", "1.10", "2.0"}));
    EXPECT_EQ(ui.ListSelection(IDC_VERSION_LIST), 0);
    ui.PickListItem(IDC_VERSION_LIST, "1.10");
    ui.PressOK();
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetSelectedPath(), root / "1.10");

  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressCancel(); });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST(PickPrototypeVersionDlg, OkWithoutASelectionCancels) {
  ScratchDir root;
  MakeVersionFolder(root / "2.1", false);
  DialogDriver driver;
  PickPrototypeVersionDlg dialog(root.Path(), nullptr);
  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) {
    ::SendMessageA(ui.Item(IDC_VERSION_LIST), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    ui.PressOK();
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

// With nothing to choose from, the dialog is not shown: the box and the log say where the tool
// looked.
TEST(PickPrototypeVersionDlg, NoPrototypesSaysWhereItLooked) {
  ScratchDir empty;
  CreatePath(empty / "notes\\");  // a folder without package-version.cmd is no prototype
  ScriptedPlatform platform;
  LogCapture log;
  DialogDriver driver;  // fails the test if a dialog shows
  const std::string missing = empty / "none";
  for (const std::string& root : {empty.Path(), missing}) {
    const std::string text = "No package prototype was found in " + root + ".";
    platform.ExpectBox(IDOK, text);
    PickPrototypeVersionDlg dialog(root, nullptr);
    EXPECT_EQ(dialog.DoModal(), IDABORT);
    EXPECT_TRUE(log.Contains(text)) << log.Text();
  }
  ASSERT_EQ(platform.Boxes().size(), 2u);
  EXPECT_EQ(platform.Boxes()[0].caption, kErrorTitle);
}

class PackageSaveOpenTest : public testing::Test {
 protected:
  void SetUp() override {
    MakeVersionFolder(packages / "Alpha", true);
    MakeVersionFolder(packages / "Beta", true);
    MakeVersionFolder(packages / "NoConfig", false);
    CreatePath(packages / "Other\\");
    WriteTextFile(packages / "Other\\notes.txt", "not a package");
    CreatePath(packages / "Empty\\");
  }

  ScratchDir packages;
  ScriptedPlatform platform;
  DialogDriver driver;
};

TEST_F(PackageSaveOpenTest, SelectModeListsAndAcceptsOnlyPackages) {
  PackageSaveOpenDlg dialog(nullptr, packages.Path(), PackageSaveOpenDlg::kSelect, "ignored");
  platform.ExpectBox(IDOK, packages / "NoConfig is not a valid Package Folder");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [&](DialogActions& ui) {
    char caption[64] = {};
    GetWindowTextA(ui.Handle(), caption, sizeof(caption));
    EXPECT_STREQ(caption, "Select Package");
    EXPECT_FALSE(ui.IsEnabled(IDC_PACKAGE_NAME));
    EXPECT_STREQ(ui.ReadText(IDC_PACKAGES_PATH), packages.Path().c_str());
    EXPECT_STREQ(ui.ReadText(IDC_PACKAGE_NAME), "");
    EXPECT_EQ(ui.ListItems(IDC_PACKAGE_LIST), (std::vector<std::string>{"Alpha", "Beta"}));

    ui.SetText(IDC_PACKAGE_NAME, "NoConfig");
    ui.PressOK();  // refused, stays open
    ui.PickListItem(IDC_PACKAGE_LIST, "Beta");
    EXPECT_STREQ(ui.ReadText(IDC_PACKAGE_NAME), "Beta");
    ui.PressOK();
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dialog.GetSelectedPath(), packages / "Beta");
  ASSERT_EQ(platform.Boxes().size(), 1u);
  EXPECT_EQ(platform.Boxes()[0].caption, "Qel Identra Deployment Kit Error");
  EXPECT_EQ(platform.Boxes()[0].type, static_cast<UINT>(MB_ICONERROR | MB_OK));
}

TEST_F(PackageSaveOpenTest, SaveModeAsksBeforeCreatingOrOverwriting) {
  PackageSaveOpenDlg dialog(nullptr, packages.Path(), PackageSaveOpenDlg::kSave, "New Package 1");
  platform.ExpectBox(IDNO, "New Package 1\n package folder does not exist. Do you want to create it?");
  platform.ExpectBox(IDNO, "Alpha\n package exists. Do you want to overwrite it?");
  platform.ExpectBox(IDNO, "Other\n folder exists and is not empty. Do you want to overwrite it?");
  platform.ExpectBox(IDYES, "New Package 1\n package folder does not exist. Do you want to create it?");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [&](DialogActions& ui) {
    char caption[64] = {};
    GetWindowTextA(ui.Handle(), caption, sizeof(caption));
    EXPECT_STREQ(caption, "Save Package");
    EXPECT_TRUE(ui.IsEnabled(IDC_PACKAGE_NAME));
    EXPECT_STREQ(ui.ReadText(IDC_PACKAGE_NAME), "New Package 1");
    ui.PressOK();  // No: stays open, nothing made
    EXPECT_FALSE(PathExists(packages / "New Package 1"));
    ui.PickListItem(IDC_PACKAGE_LIST, "Alpha");
    ui.PressOK();
    ui.SetText(IDC_PACKAGE_NAME, "Other");
    ui.PressOK();
    ui.SetText(IDC_PACKAGE_NAME, "New Package 1");
    ui.PressOK();
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_TRUE(IsDirectory(packages / "New Package 1"));
  EXPECT_EQ(dialog.GetSelectedPath(), packages / "New Package 1");
  ASSERT_EQ(platform.Boxes().size(), 4u);
  EXPECT_EQ(platform.Boxes()[0].caption, "Qel Identra Deployment Kit Information");
  EXPECT_EQ(platform.Boxes()[0].type, static_cast<UINT>(MB_ICONQUESTION | MB_YESNO));

  // An empty folder is taken without a question; an existing package after a Yes.
  for (const char* name : {"Empty", "Alpha"}) {
    if (std::string(name) == "Alpha") platform.ExpectBox(IDYES, "Alpha\n package exists.");
    PackageSaveOpenDlg again(nullptr, packages.Path(), PackageSaveOpenDlg::kSave, name);
    driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) { ui.PressOK(); });
    EXPECT_EQ(again.DoModal(), IDOK) << name;
  }
}

// Save mode opens on the name (the first control is the read-only path): typing replaces it.
TEST_F(PackageSaveOpenTest, SaveModeStartsOnTheNameWithItsTextSelected) {
  PackageSaveOpenDlg dialog(nullptr, packages.Path(), PackageSaveOpenDlg::kSave, "New Package 1");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    const HWND name = ui.Item(IDC_PACKAGE_NAME);
    EXPECT_EQ(GetFocus(), name);
    DWORD start = 1, end = 0;
    ::SendMessageA(name, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 13u);
    for (const char c : std::string("Mine")) ::SendMessageA(GetFocus(), WM_CHAR, static_cast<BYTE>(c), 0);
    EXPECT_STREQ(ui.ReadText(IDC_PACKAGE_NAME), "Mine");
    ui.PressCancel();
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST(FitForMessageBox, LongRunsAreCutInTheirMiddle) {
  const std::string name = "Branch-" + std::string(286, 'n') + "-1234567";  // 300 characters
  const std::string cut = "Branch-" + std::string(21, 'n') + "..." + std::string(21, 'n') + "-1234567";
  const struct {
    std::string text;
    std::string fitted;
  } cases[] = {
      {"", ""},
      {"Alpha\n package exists. Do you want to overwrite it?", "Alpha\n package exists. Do you want to overwrite it?"},
      {std::string(60, 'a') + " " + std::string(61, 'b'), std::string(60, 'a') + " " + std::string(28, 'b') + "..." +
                                                             std::string(29, 'b')},
      {name + "\n package exists.", cut + "\n package exists."},
      {"Create " + name + "\n path failed : \t" + name, "Create " + cut + "\n path failed : \t" + cut},
  };
  for (const auto& c : cases) EXPECT_EQ(FitForMessageBox(c.text), c.fitted);
  EXPECT_EQ(cut.size(), kMessageBoxRunChars);
}

// A run that names a path is broken after its backslashes, so that the box shows it whole.
TEST(FitForMessageBox, PathsAreBrokenAtTheirBackslashesAndShownWhole) {
  const std::string temp = "C:\\Users\\administrator\\AppData\\Roaming\\Qel\\Kitsmith\\Temp\\";  // 57
  const std::string backup = temp + "PackBak-0f8fad5b-d9cb-469f-a165-70867728950e";
  const std::string p60(60, 'p');
  const struct {
    std::string text;
    std::string fitted;
  } cases[] = {
      {backup, temp + "\nPackBak-0f8fad5b-d9cb-469f-a165-70867728950e"},
      {"Old packages left by earlier saves are kept in:\n" + backup + " (its package X holds a configuration file)",
       "Old packages left by earlier saves are kept in:\n" + temp +
           "\nPackBak-0f8fad5b-d9cb-469f-a165-70867728950e (its package X holds a configuration file)"},
      // A part longer than a line between two backslashes is broken where the line is full.
      {"D:\\" + p60 + p60 + std::string(10, 'p') + "\\Idagent.cfg is read-only.",
       "D:\\\n" + p60 + "\n" + p60 + "\n" + std::string(10, 'p') + "\\Idagent.cfg is read-only."},
      // A run of exactly a line is left alone; a backslash at its very end still fits.
      {std::string(59, 'q') + "\\", std::string(59, 'q') + "\\"},
      {std::string(60, 'q') + "\\x", std::string(60, 'q') + "\n\\x"},
  };
  for (const auto& c : cases) EXPECT_EQ(FitForMessageBox(c.text), c.fitted) << c.text;
}

// A 300-character name: both boxes of a failed create are shortened, and a real box fits the
// screen.
TEST_F(PackageSaveOpenTest, LongNamesInBoxesAreShortenedToFitTheScreen) {
  const std::string name = std::string(150, 'L') + std::string(150, 'R');
  const std::string cut = std::string(28, 'L') + "..." + std::string(29, 'R');
  platform.ExpectBox(IDYES, cut + "\n package folder does not exist. Do you want to create it?");
  platform.ExpectBox(IDOK, "Create " + cut + "\n path failed : ");
  PackageSaveOpenDlg dialog(nullptr, packages.Path(), PackageSaveOpenDlg::kSave, name);
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PressOK();  // the folder cannot be made: the dialog stays
    ui.PressCancel();
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  ASSERT_EQ(platform.Boxes().size(), 2u);
  for (const RecordedBox& box : platform.Boxes()) EXPECT_EQ(box.text.find(name), std::string::npos) << box.text;
}

struct ShownBox {
  int width = -1;
  std::string text;  // the longest text of its controls: the message
};

// Shows a real error box and reads its width and message before closing it.
ShownBox ShowAndMeasureErrorBox(const std::string& text) {
  ShownBox shown;
  std::thread closer([&shown] {
    for (int i = 0; i < 400; ++i) {
      if (const HWND box = FindWindowA("#32770", kErrorTitle)) {
        RECT rect = {};
        GetWindowRect(box, &rect);
        shown.width = rect.right - rect.left;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
          char line[4096] = {};
          GetWindowTextA(child, line, sizeof(line));
          if (strlen(line) > shown.text.size()) shown.text = line;
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(25);
    }
  });
  ShowErrorBox(text);
  closer.join();
  return shown;
}

// A long name is cut, a long path broken onto lines; either box fits the screen.
TEST(MessageBoxes, ABoxWithALongNameFitsTheScreen) {
  const ShownBox name = ShowAndMeasureErrorBox(std::string(300, 'W') + "\n is not a valid package name.");
  EXPECT_GT(name.width, 0);
  EXPECT_LE(name.width, GetSystemMetrics(SM_CXSCREEN));

  std::string path = "C:\\Kitsmith";
  for (int i = 0; i < 12; ++i) path += "\\WWWWWWWWWWWWWWWWWWWW";
  path += "\\" + std::string(100, 'W');
  const ShownBox broken = ShowAndMeasureErrorBox("Old packages left by earlier saves are kept in:\n" + path);
  EXPECT_GT(broken.width, 0);
  EXPECT_LE(broken.width, GetSystemMetrics(SM_CXSCREEN));
  std::string shown = broken.text;
  shown.erase(std::remove_if(shown.begin(), shown.end(), [](char c) { return c == '\r' || c == '\n'; }), shown.end());
  EXPECT_NE(shown.find(path), std::string::npos) << broken.text;
}

TEST_F(PackageSaveOpenTest, NamesThatAreNoFolderOfPackagesAreRefused) {
  const std::vector<std::string> refused = {
      "..",   ".",     "a\\b",    "a/b",  "c:x",      "x*",     "q?",     "\"q\"",
      "a<b",  "a>b",   "a|b",     "100%", "dot.",     "blank ", "   ",    std::string("tab\tname"),
      "NUL",  "con",   "Aux.txt", "COM1", "lpt9.cfg", "PRN",    "CONIN$", "conout$.cfg",
      "COM0", "CLOCK$"};
  for (const std::string& name : refused)
    platform.ExpectBox(IDOK, name + "\n is not a valid package name: " + PackageNameProblem(name) + ".");
  PackageSaveOpenDlg dialog(nullptr, packages.Path(), PackageSaveOpenDlg::kSave, "");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [&](DialogActions& ui) {
    ui.PressOK();  // an empty name: nothing happens
    for (const std::string& name : refused) {
      ui.SetText(IDC_PACKAGE_NAME, name.c_str());
      ui.PressOK();
    }
    ui.PressCancel();
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(platform.Boxes().size(), refused.size());
  EXPECT_FALSE(PathExists(packages / "dot"));
  // The box says which rule the name breaks.
  EXPECT_NE(platform.Boxes()[16].text.find("NUL\n is not a valid package name: CON, CONIN$, "
                                           "CONOUT$, PRN, AUX, NUL, CLOCK$, COM0 to COM9 "
                                           "and LPT0 to LPT9 (also with a superscript 1, 2 or 3) "
                                           "name devices, also with an extension."),
            std::string::npos)
      << platform.Boxes()[16].text;
  EXPECT_NE(platform.Boxes()[12].text.find("it may not end in a dot or a blank."), std::string::npos);
}

TEST_F(PackageSaveOpenTest, ExplorePackagesCreatesTheRootAndStartsExplorer) {
  const std::string root = packages / "later\\Packages";
  PackageSaveOpenDlg dialog(nullptr, root, PackageSaveOpenDlg::kSave, "x");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.Click(IDC_EXPLORE_PACKAGES);
    ui.PressCancel();
  });
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_TRUE(IsDirectory(root));
  char windows[MAX_PATH + 1] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  EXPECT_EQ(platform.ProcessStarts(), (std::vector<std::string>{std::string(windows) + "\\Explorer.exe /E, " + root}));
  EXPECT_EQ(dialog.GetSelectedPath(), root + "\\x");
}

}  // namespace
