// The package dialog from its template, inside real package operations (the stand-in package
// scripts under Wine's cmd.exe), driven as an operator would.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "packages/DataFolders.h"
#include "DialogDriver.h"
#include "KitTestSupport.h"
#include "dialogs/KitdeskDlg.h"
#include "packages/MaintWorkflow.h"
#include "dialogs/PackageDialogs.h"
#include "ScriptedPlatform.h"
#include "WinSupport.h"

namespace {

const auto* const g_environment =
    testing::AddGlobalTestEnvironment(new DataRootEnvironment("kitdesk-data"));

class KitdeskTest : public testing::Test {
 protected:
  void SetUp() override {
    previousFactory_ = MaintWorkflow_base::InstallEditorFactory(&KitdeskDlg::Create);
    DataRootEnvironment::Empty();
  }
  void TearDown() override { MaintWorkflow_base::InstallEditorFactory(previousFactory_); }

  // A new package through the dialog: the version, the server list, Save (which asks for the
  // folder the first time), then Cancel.
  std::string NewPackage(const char* servers, const char* name) {
    driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
    driver.When(IDD_KITDESK, [servers](DialogActions& ui) {
      ui.Type(IDC_SERVER_LIST, servers);
      ui.Command(ID_PACKAGE_SAVE);
      ui.Command(ID_PACKAGE_CANCEL);
    });
    driver.When(IDD_PACKAGE_SAVE_OPEN, [name](DialogActions& ui) {
      ui.SetText(IDC_PACKAGE_NAME, name);
      ui.PressOK();
    });
    platform.ExpectBox(IDYES, "package folder does not exist");
    NewPackageWorkflow workflow(nullptr);
    workflow.Execute();
    return paths.packagesFolder + "\\" + name;
  }
  // Opens the package for editing and runs the script on the package dialog.
  // A later package-folder dialog (Save As) runs saveAs.
  bool EditPackage(const char* name, DialogDriver::Script script, DialogDriver::Script saveAs = nullptr) {
    driver.When(IDD_PACKAGE_SAVE_OPEN, [name](DialogActions& ui) {
      ui.PickListItem(IDC_PACKAGE_LIST, name);
      ui.PressOK();
    });
    driver.When(IDD_KITDESK, script);
    if (saveAs) driver.When(IDD_PACKAGE_SAVE_OPEN, saveAs);
    EditPackageWorkflow workflow(nullptr);
    return workflow.Execute();
  }
  static KitdeskDlg& Dialog(DialogActions& ui) { return static_cast<KitdeskDlg&>(ui.Dialog()); }
  static AuthPropGrid& Grid(DialogActions& ui) {
    return *static_cast<AuthPropGrid*>(CWnd::FromHandlePermanent(ui.Item(IDC_PROPERTY_GRID)));
  }

  const DataPaths& paths = DataPaths::Get();
  ScriptedPlatform platform;
  DialogDriver driver;
  LogCapture log;

 private:
  PackageEditorFactory previousFactory_ = nullptr;
};

TEST_F(KitdeskTest, ServerListWithPortsSurvivesOpenAndSave) {
  const std::string package = NewPackage("10.0.0.1:139;appliance.example:8080", "Ports");
  const size_t boxes = platform.Boxes().size();
  const std::string before = ReadTextFile(package + "\\Idagent.cfg");
  EXPECT_EQ(before, "CS[2] CR[1] RA[10.0.0.1:139;appliance.example:8080] RP[139] LD[1] ");

  // Opening shows the list as saved and asks nothing; saving it untouched keeps it.
  EXPECT_TRUE(EditPackage("Ports", [](DialogActions& ui) {
    EXPECT_EQ(ui.ReadText(IDC_SERVER_LIST), "10.0.0.1:139;appliance.example:8080");
    EXPECT_EQ(ui.ReadText(IDC_REVISION), "1");
    EXPECT_EQ(ui.ReadText(IDC_SCHEMA_VERSION), "Config. schema version : 2");
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  }));
  // Re-entered in the editor, RA and CR count as changed, so the revision goes up by one.
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.0.0.1:139;appliance.example:8080] RP[139] LD[1] ");
  EXPECT_EQ(platform.Boxes().size(), boxes);
}

TEST_F(KitdeskTest, ServerListRefusesOnlyTheOffendingCharactersAndTrailingSeparators) {
  NewPackage("10.0.0.1", "Servers");
  platform.ExpectBox(IDOK, "These characters cannot be used in server addresses: ");
  platform.ExpectBox(IDOK, "You must define at least one server address.");
  EXPECT_TRUE(EditPackage("Servers", [](DialogActions& ui) {
    ui.Type(IDC_SERVER_LIST, "10.0.0.1:139]; 10.0.0.2");
    EXPECT_EQ(ui.ReadText(IDC_SERVER_LIST), "10.0.0.1:139; 10.0.0.2");
    ui.SetText(IDC_SERVER_LIST, " ;; ");
    ui.Command(ID_PACKAGE_SAVE);  // only separators and blanks: empty
    ui.SetText(IDC_SERVER_LIST, "10.0.0.1; 10.0.0.2;;");
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  }));
  EXPECT_NE(ReadTextFile(paths.packagesFolder + "\\Servers\\Idagent.cfg").find("RA[10.0.0.1; 10.0.0.2] "),
            std::string::npos);
}

// Stored as typed: only a run of ";" at the end goes (the agents drop the blanks around an
// entry themselves).
TEST(StoredServerList, OnlyTheTrailingRunOfSemicolonsGoes) {
  const struct {
    const wchar_t* typed;
    const wchar_t* stored;
  } cases[] = {
      {L"10.1.2.3; filter2.example.com", L"10.1.2.3; filter2.example.com"},
      {L"10.1.2.3; filter2.example.com;;", L"10.1.2.3; filter2.example.com"},
      {L"10.1.2.3; filter2.example.com; ", L"10.1.2.3; filter2.example.com; "},
      {L" 10.0.0.1:139 ;\tb , c ", L" 10.0.0.1:139 ;\tb , c "},
      {L"a; ;b;", L"a; ;b"},
      {L"a;b,;", L"a;b,"},
      {L";;;", L""},
      {L"", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(StoredServerList(c.typed), c.stored) << Narrow(c.typed);
}

TEST_F(KitdeskTest, TheDialogsOwnExampleIsStoredAsTyped) {
  const std::string package = NewPackage("10.1.2.3; filter2.example.com", "Example");
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[1] RA[10.1.2.3; filter2.example.com] RP[139] LD[1] ");
}

// A server list loaded with characters the field cannot show (U+0100 would cut it at a NUL)
// and saved untouched is refused by name; the package stays as it was.
TEST_F(KitdeskTest, AServerListTheFileCannotHoldIsRefusedNotCut) {
  const std::string package = NewPackage("10.0.0.1", "Wide");
  std::string utf16 = "\xff\xfe";
  for (const wchar_t c : std::wstring(L"CS[2] CR[1] RA[10.0.0.1;h\x0100st] "))
    utf16 += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  WriteTextFile(package + "\\Idagent.cfg", utf16);
  driver.When(IDD_ERR_POPUP, [](DialogActions& ui) {
    EXPECT_NE(std::string(ui.ReadText(IDC_ERR_LOG)).find("Value of option 'RA' holds the character U+0100"),
              std::string::npos)
        << ui.ReadText(IDC_ERR_LOG);
    ui.Click(IDC_CLOSE_EDITOR);
  });
  EXPECT_FALSE(EditPackage("Wide", [](DialogActions& ui) {
    EXPECT_EQ(ui.ReadText(IDC_SERVER_LIST), "10.0.0.1;h");
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  }));
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), utf16);
}

// A box shows a long path whole, broken after its backslashes onto lines that fit the
// screen; the log keeps it on one line.
TEST_F(KitdeskTest, ABoxShowsTheWholePathTheLogHasOnOneLine) {
  const std::string name = "Site-" + std::string(120, 'x') + "-end";
  const std::string folder = paths.packagesFolder + "\\" + name;
  CreatePath(folder + "\\");
  WriteTextFile(folder + "\\package-version.cmd", "set packprover=2.1\r\n");
  WriteTextFile(folder + "\\Idagent.cfg", "CS[2] CR[1] RA[10.0.0.1] ");
  SetFileAttributesA((folder + "\\Idagent.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
  platform.ExpectBox(IDOK, " is read-only.");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [&name](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, name.c_str());
    ui.PressOK();
  });
  EditPackageWorkflow workflow(nullptr);
  EXPECT_FALSE(workflow.Execute());
  SetFileAttributesA((folder + "\\Idagent.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_EQ(platform.Boxes().size(), 1u);
  const std::string box = platform.Boxes()[0].text;
  size_t run = 0, longest = 0;
  for (const char c : box) longest = std::max(longest, run = (c == ' ' || c == '\n') ? 0 : run + 1);
  std::string joined = box;
  joined.erase(std::remove(joined.begin(), joined.end(), '\n'), joined.end());
  EXPECT_EQ(joined, "Configuration file " + folder + "\\Idagent.cfg is read-only.") << box;
  EXPECT_LE(longest, kMessageBoxRunChars) << box;
  EXPECT_TRUE(log.Contains("Configuration file " + folder + "\\Idagent.cfg is read-only.")) << log.Text();
}

TEST_F(KitdeskTest, GridEditsReachTheSavedFileEvenWhenNotYetConfirmed) {
  const std::string package = NewPackage("10.0.0.1", "Edited");
  EXPECT_TRUE(EditPackage("Edited", [](DialogActions& ui) {
    AuthPropGrid& grid = Grid(ui);
    ASSERT_EQ(grid.GetRowCount(), 21);
    grid.SetFocus();
    grid.SetFocusCell(CCellID(1, 1));  // RP
    grid.SendMessage(WM_CHAR, '4');
    wftest::DispatchPosted();
    const HWND editor = ::GetDlgItem(grid.GetSafeHwnd(), CGridCtrl::kEditId);
    ASSERT_NE(editor, nullptr);
    ::SendMessageA(editor, WM_CHAR, '4', 0);
    ::SendMessageA(editor, WM_CHAR, '3', 0);
    // No Enter: the menu command ends the edit first.
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  }));
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.0.0.1] RP[443] LD[1] ");
}

// The dialog's pass-through hands the grid's end of an edit to the grid as reflection does:
// the value goes into the option, one holding "]" is refused and leaves the option alone.
TEST_F(KitdeskTest, EndOfEditPassedOnByTheDialogReachesTheOption) {
  const std::string package = NewPackage("10.0.0.1", "Passed");
  platform.ExpectBox(IDOK, "The character ']' cannot be used in an option value.");
  EXPECT_TRUE(EditPackage("Passed", [](DialogActions& ui) {
    AuthPropGrid& grid = Grid(ui);
    ASSERT_EQ(grid.GetItemText(1, 0), "RP");
    GridNotify notify = {{grid.GetSafeHwnd(), IDC_PROPERTY_GRID, static_cast<UINT>(GridCode::EndEdit)}, 1, 1};
    LRESULT result = 7;
    grid.SetItemText(1, 1, "8139");
    Dialog(ui).OnGridEndEdit(&notify.hdr, &result);
    EXPECT_EQ(result, 0);
    grid.SetItemText(1, 1, "81]");
    Dialog(ui).OnGridEndEdit(&notify.hdr, &result);
    EXPECT_EQ(result, -1);
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  }));
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.0.0.1] RP[8139] LD[1] ");
}

TEST(KitdeskText, LineEndsEitherWay) {
  const struct {
    const char* text;
    const char* lf;
    const char* crLf;
  } cases[] = {
      {"", "", ""},
      {"one", "one", "one"},
      {"a\r\nb\r\n", "a\nb\n", "a\r\nb\r\n"},
      {"a\nb\n\n", "a\nb\n\n", "a\r\nb\r\n\r\n"},
      {"mixed\r\nand\nplain", "mixed\nand\nplain", "mixed\r\nand\r\nplain"},
      {"lone\rcr\r\r\n", "lone\rcr\r\n", "lone\rcr\r\r\n"},  // a CR not before an LF stays
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(KitdeskDlg::CrLfToLf(c.text), c.lf);
    EXPECT_EQ(KitdeskDlg::LfToCrLf(c.text), c.crLf);
  }
}

TEST_F(KitdeskTest, ManualRevisionIsAskedOnlyForTheOperatorsEdits) {
  const std::string package = NewPackage("10.0.0.1", "Revision");
  platform.ExpectBox(IDNO, "Manually changing the configuration revision");
  platform.ExpectBox(IDYES, "Manually changing the configuration revision");
  EXPECT_TRUE(EditPackage("Revision", [](DialogActions& ui) {
    ui.Type(IDC_REVISION, "5");
    EXPECT_EQ(ui.ReadText(IDC_REVISION), "1");  // No puts the revision back
    ui.Type(IDC_REVISION, "7");
    ui.Type(IDC_REVISION, "9");  // asked once only
    ui.Command(ID_PACKAGE_SAVE);
    EXPECT_EQ(ui.ReadText(IDC_REVISION), "9");
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  }));
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[9] RA[10.0.0.1] RP[139] LD[1] ");

  // A revision of 100000 is refused when saving.
  platform.ExpectBox(IDYES, "Manually changing");
  platform.ExpectBox(IDOK, "between 0 and 99999");
  platform.ExpectBox(IDOK, "Cannot get updated values of controls");
  EXPECT_FALSE(EditPackage("Revision", [](DialogActions& ui) {
    ui.Type(IDC_REVISION, "100000");
    ui.Command(ID_PACKAGE_SAVE);
    ui.Command(ID_PACKAGE_CANCEL);
  }));
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[9] RA[10.0.0.1] RP[139] LD[1] ");
}

TEST_F(KitdeskTest, SaveAsWritesANewFolderAndApplyDefaults) {
  NewPackage("10.0.0.1", "Original");
  platform.ExpectBox(IDOK, "Default configuration does not exist.");
  platform.ExpectBox(IDYES, "package folder does not exist");
  EXPECT_TRUE(EditPackage(
      "Original",
      [](DialogActions& ui) {
        ui.Command(ID_PACKAGE_APPLY_DEFAULTS);
        ui.Command(ID_PACKAGE_SAVE_AS);
        EXPECT_EQ(std::string(ui.ReadText(IDC_PACKAGE_FOLDER)), DataPaths::Get().packagesFolder + "\\Copy");
        ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
      },
      [](DialogActions& ui) {
        ui.SetText(IDC_PACKAGE_NAME, "Copy");
        ui.PressOK();
      }));
  EXPECT_NE(ReadTextFile(paths.packagesFolder + "\\Copy\\Idagent.cfg"), "");

  // With a default configuration, Apply Defaults replaces the grid's values.
  driver.When(IDD_KITDESK, [](DialogActions& ui) {
    EXPECT_TRUE(ui.IsChecked(IDC_SAVE_AS_DEFAULTS));
    EXPECT_EQ(ui.ReadText(IDC_WINDOWS_VERSION), "Windows Version : All");
    EXPECT_EQ(ui.ReadText(IDC_OSX_VERSION), "OS X Version : All");
    ui.SetText(IDC_SERVER_LIST, "10.7.7.7");
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  });
  EditDefaultConfigWorkflow defaults(nullptr);
  ASSERT_TRUE(defaults.Execute());
  EXPECT_FALSE(EditPackage("Original", [](DialogActions& ui) {
    ui.Command(ID_PACKAGE_APPLY_DEFAULTS);
    EXPECT_EQ(ui.ReadText(IDC_SERVER_LIST), "10.7.7.7");
    ui.Command(ID_PACKAGE_CANCEL);
  }));
}

// A default configuration with one value the tool refuses still applies the rest of it.
TEST_F(KitdeskTest, ApplyDefaultsTakesTheRestOfAFileWithARefusedValue) {
  const std::string package = NewPackage("10.0.0.1", "Refused");
  WriteTextFile(paths.dataRoot + "\\Idagent-default.cfg", "CS[2] CR[1] RA[10.7.7.7; 10.7.7.8] RM[1e999] RH[30000] ");
  EXPECT_TRUE(EditPackage("Refused", [](DialogActions& ui) {
    ui.Command(ID_PACKAGE_APPLY_DEFAULTS);  // no box: it applies
    EXPECT_EQ(ui.ReadText(IDC_SERVER_LIST), "10.7.7.7; 10.7.7.8");
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);
  }));
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.7.7.7; 10.7.7.8] RH[30000] ");
  EXPECT_TRUE(log.Contains("cannot take the value '1e999': it keeps its default 2.000000")) << log.Text();
}

TEST_F(KitdeskTest, FailingSaveShowsThePopupWithTheLatestLogLines) {
  NewPackage("10.0.0.1", "Failing");
  const std::string temp = paths.tempFolder;
  auto breakSaveScript = [temp](DialogActions&) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((temp + "\\PackAsm-*").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    const std::string assembly = temp + "\\" + found.cFileName;
    FindClose(search);
    WriteTextFile(assembly + "\\Save-Package.cmd", "@echo off\r\necho Save-Package=001\r\nexit /b 1\r\n");
  };
  driver.When(IDD_ERR_POPUP, [](DialogActions& ui) {
    EXPECT_NE(std::string(ui.ReadText(IDC_ERR_LOG)).find("Save-Package=001"), std::string::npos);
    ui.Click(IDC_RETURN_TO_EDITING);
  });
  driver.When(IDD_ERR_POPUP, [](DialogActions& ui) { ui.Click(IDC_CLOSE_EDITOR); });
  EXPECT_FALSE(EditPackage("Failing", [breakSaveScript](DialogActions& ui) {
    breakSaveScript(ui);
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);  // fails; the editor stays
    EXPECT_TRUE(IsWindow(ui.Handle()));
    ui.Command(ID_PACKAGE_SAVE_AND_QUIT);  // fails again; the popup closes the editor
  }));
}

}  // namespace
