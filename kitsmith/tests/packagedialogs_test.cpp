// The version and package-folder dialogs, driven as an operator would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "packages/DataFolders.h"
#include "DialogDriver.h"
#include "KitTestSupport.h"
#include "dialogs/PackageDialogs.h"
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

TEST(PickPrototypeVersionDlg, OkWithAnEmptyListCancels) {
  DialogDriver driver;
  for (const std::string& root : {std::string(), std::string("Z:\\no\\such\\folder")}) {
    PickPrototypeVersionDlg dialog(root, nullptr);
    driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) {
      EXPECT_TRUE(ui.ListItems(IDC_VERSION_LIST).empty());
      ui.PressOK();
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  }
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

TEST_F(PackageSaveOpenTest, NamesThatAreNoFolderOfPackagesAreRefused) {
  const std::vector<std::string> refused = {"..", ".", "a\\b", "a/b", "c:x", "x*", "q?", "\"q\"", "a<b", "a>b",
                                            "a|b", "100%", "dot.", "blank ", "   ", std::string("tab\tname")};
  for (const std::string& name : refused) platform.ExpectBox(IDOK, name + "\n is not a valid package name.");
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
