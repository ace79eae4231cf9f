// Package operations end to end: the stand-in package scripts under Wine's cmd.exe, the
// package-folder dialogs driven from their templates, a stand-in for the package dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "options/AuthCfg.h"
#include "options/CfgFile.h"
#include "packages/ConExec.h"
#include "packages/DataFolders.h"
#include "DialogDriver.h"
#include "KitTestSupport.h"
#include "packages/MaintScriptExec.h"
#include "packages/MaintWorkflow.h"
#include "packages/PackageBackup.h"
#include "dialogs/PackageDialogs.h"
#include "ScriptedPlatform.h"
#include "WinSupport.h"

namespace {

const auto* const g_environment =
    testing::AddGlobalTestEnvironment(new DataRootEnvironment("kitsmith-data"));

// What the package dialog would do, as the test says.
std::function<INT_PTR(MaintWorkflow_base&, CfgSet&)> g_editorAction;

class StandInEditor : public PackageEditor {
 public:
  StandInEditor(MaintWorkflow_base& workflow, CfgSet& working) : workflow_(workflow), working_(working) {}
  INT_PTR DoModal() override { return g_editorAction ? g_editorAction(workflow_, working_) : IDCANCEL; }

 private:
  MaintWorkflow_base& workflow_;
  CfgSet& working_;
};

std::unique_ptr<PackageEditor> MakeStandInEditor(HWND, MaintWorkflow_base& workflow, CfgSet& working) {
  return std::make_unique<StandInEditor>(workflow, working);
}

std::string Option(const CfgSet& set, const char* id) { return Narrow(set.TextById(id)); }

class WorkflowTest : public testing::Test {
 protected:
  void SetUp() override {
    previousFactory_ = MaintWorkflow_base::InstallEditorFactory(&MakeStandInEditor);
    g_editorAction = nullptr;
    DataRootEnvironment::Empty();
    runsSeen_ = platform.ProcessRuns().size();
  }
  void TearDown() override {
    // The log tells why a save failed on a machine where the failure cannot be rerun.
    if (HasFailure()) std::cout << "The operation log:\n" << log.Text() << "\n";
    g_editorAction = nullptr;
    MaintWorkflow_base::InstallEditorFactory(previousFactory_);
  }

  // A new package saved once with RA set, through the real scripts.
  std::string MakePackage(const std::string& servers) {
    driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
    g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
      working.Find("RA")->SetFromText(Widen(servers), AuthCfg::kEditor);
      EXPECT_TRUE(workflow.SavePackage(-1, false));
      return IDCANCEL;
    };
    NewPackageWorkflow workflow(nullptr);
    EXPECT_TRUE(workflow.Execute()) << log.Text();
    g_editorAction = nullptr;
    log.Clear();
    runsSeen_ = platform.ProcessRuns().size();
    return workflow.PackagePath();
  }

  // The package chooser of the next edit picks the package MakePackage made.
  void PickNewPackage1() {
    driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
      ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
      ui.PressOK();
    });
  }

  // An edit of New Package 1 that saves it with these servers (and a revision, -1: the next).
  bool EditAndSave(const wchar_t* servers, int revision = -1) {
    PickNewPackage1();
    g_editorAction = [servers, revision](MaintWorkflow_base& workflow, CfgSet& working) {
      working.Find("RA")->SetFromText(servers, AuthCfg::kEditor);
      return workflow.SavePackage(revision, false) ? IDOK : IDCANCEL;
    };
    EditPackageWorkflow edit(nullptr);
    return edit.Execute();
  }

  // An edit of New Package 1 that is refused before its script runs, in a box holding boxPart.
  void ExpectEditRefused(const std::string& boxPart) {
    platform.ExpectBox(IDOK, boxPart);
    PickNewPackage1();
    g_editorAction = [](MaintWorkflow_base&, CfgSet&) {
      ADD_FAILURE() << "the package dialog opened";
      return IDCANCEL;
    };
    const int edits = Count("Edit-Package");
    EditPackageWorkflow refused(nullptr);
    EXPECT_FALSE(refused.Execute());
    EXPECT_EQ(Count("Edit-Package"), edits);
  }

  const DataPaths& paths = DataPaths::Get();
  ScriptedPlatform platform;
  DialogDriver driver;
  LogCapture log;

  // The names of the package scripts run (for real) since the last mark, in order.
  std::vector<std::string> Scripts() const {
    std::vector<std::string> names;
    for (size_t i = runsSeen_; i < platform.ProcessRuns().size(); ++i) {
      const std::string& line = platform.ProcessRuns()[i].commandLine;
      const std::string start = "/C \"\"";
      if (line.rfind(start, 0) != 0) continue;
      const std::string script = line.substr(start.size(), line.find('"', start.size()) - start.size());
      names.push_back(script.substr(script.rfind('\\') + 1));
    }
    return names;
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& s : Scripts()) n += s.rfind(prefix, 0) == 0;
    return n;
  }

 private:
  size_t runsSeen_ = 0;
  PackageEditorFactory previousFactory_ = nullptr;
};

TEST_F(WorkflowTest, NewPackageRunsTheScriptsAndSavesThePackage) {
  const std::string id = "00000001-0000-0000-0000-000000000000";
  const std::string prototype = paths.prototypesFolder + "\\2.1";
  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) {
    EXPECT_EQ(ui.ListItems(IDC_VERSION_LIST), (std::vector<std::string>{"2.1"}));
    ui.PressOK();
  });
  std::string packagePath;
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    EXPECT_EQ(workflow.SourceFolder(), prototype);
    EXPECT_EQ(Option(working, "RP"), "139");
    EXPECT_EQ(working.Find("RP")->source, AuthCfg::kConfigFile);
    working.Find("RA")->SetFromText(L"10.0.0.1;host2 & <co>", AuthCfg::kEditor);
    packagePath = workflow.PackagePath();
    EXPECT_TRUE(workflow.SavePackage(-1, false));
    EXPECT_EQ(Option(working, "CR"), "1");
    return IDCANCEL;  // closed without "Save and Quit": the save still counts
  };
  NewPackageWorkflow workflow(nullptr);
  EXPECT_EQ(workflow.OperationId(), id);
  ASSERT_TRUE(workflow.Execute());

  EXPECT_EQ(packagePath, paths.packagesFolder + "\\New Package 1");
  ExpectInOrder(log.Text(), {"Starting new package operation with ID " + id + "\r\n",
                             "Executing script " + prototype + "\\Create-Package.cmd\r\n    Parameters: " + id + " \"" +
                                 paths.tempFolder + "\" \r\n    Working dir: " + prototype + "\r\n",
                             "Create-Package=000", "::::: Script exited with code [0] (success):::::\r\n",
                             "New configuration initialized. \r\n", "Saving new configuration: \r\n",
                             "   Name: RA\r\n", "Executing script " + paths.tempFolder + "\\PackAsm-" + id +
                                 "\\Save-Package.cmd\r\n    Parameters: " + id + " \"" + paths.tempFolder + "\"  \"" +
                                 packagePath + "\" 1\r\n",
                             "Save-Package=000", "Operation " + id + " (new package) succeeded.\r\n"});
  EXPECT_EQ(ReadTextFile(packagePath + "\\Idagent.cfg"), "CS[2] CR[1] RA[10.0.0.1;host2 & <co>] RP[139] LD[1] ");
  const std::string view = ReadTextFile(packagePath + "\\Packages-View.html");
  EXPECT_NE(view.find("<tr><td>RA</td><td>10.0.0.1;host2 &amp; &lt;co&gt;</td><td>Server host address"),
            std::string::npos)
      << view;
  EXPECT_NE(view.find("<tr><td>CR</td><td>1</td>"), std::string::npos);
  EXPECT_EQ(view.find("<td>CS</td>"), std::string::npos);
  EXPECT_EQ(view.find("<td>LE</td>"), std::string::npos);  // still at its default
  EXPECT_EQ(view.rfind("<!DOCTYPE html PUBLIC '-//W3C//DTD XHTML 1.0 Transitional//EN' ", 0), 0u);
  EXPECT_NE(view.find("</tr>\r\n</table>\r\n</body></html>\r\n"), std::string::npos);  // text mode: CR LF
  for (const char* file : {"package-version.cmd", "Install-Idagent.cmd", "Edit-Package.cmd", "kit\\Save-Package.cmd"})
    EXPECT_TRUE(PathExists(packagePath + "\\" + file)) << file;
  EXPECT_NE(ReadTextFile(packagePath + "\\package-version.cmd").find("set packprover=2.1"), std::string::npos);
  EXPECT_EQ(platform.ShellOpens(), (std::vector<std::string>{packagePath + "\\Packages-View.html"}));

  EXPECT_EQ(Scripts(),
            (std::vector<std::string>{"Create-Package.cmd", "Save-Package.cmd", "cleanup-" + id + ".cmd"}));
  EXPECT_EQ(log.Text().find("ERROR"), std::string::npos);
  EXPECT_FALSE(PathExists(paths.tempFolder + "\\PackAsm-" + id));
  EXPECT_FALSE(PathExists(paths.tempFolder + "\\" + id + ".cfg"));
}

TEST_F(WorkflowTest, CancelledVersionChoiceAndTheCleanupSwitch) {
  ToolRegistry registry;
  registry.SetNumber("NoKitsmithCleanup", 1);
  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressCancel(); });
  NewPackageWorkflow workflow(nullptr);
  EXPECT_FALSE(workflow.Execute());
  EXPECT_TRUE(workflow.Cancelled());
  ExpectInOrder(log.Text(), {"Operation " + workflow.OperationId() + " canceled by user\r\n",
                             "WARNING:  No cleanup performed on TEMPROOT, because NoToolCleanup is defined in registry\r\n"});
  EXPECT_TRUE(Scripts().empty());
}

TEST_F(WorkflowTest, EditPackageSavesAManualRevision) {
  const std::string package = MakePackage("10.0.0.1");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    EXPECT_EQ(ui.ListItems(IDC_PACKAGE_LIST), (std::vector<std::string>{"New Package 1"}));
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    EXPECT_EQ(workflow.SourceFolder(), package);
    EXPECT_EQ(workflow.PackagePath(), package);
    EXPECT_EQ(Option(working, "RA"), "10.0.0.1");
    EXPECT_EQ(Option(workflow.Baseline(), "CR"), "1");
    EXPECT_TRUE(workflow.SavePackage(7, false));
    return IDOK;
  };
  EditPackageWorkflow workflow(nullptr);
  ASSERT_TRUE(workflow.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[7] RA[10.0.0.1] RP[139] LD[1] ");
  ExpectInOrder(log.Text(), {"Starting edit package operation with ID ", "Edit-Package=000",
                             "Moved the old package " + package + " aside", "Save-Package=000",
                             "Removed the old package's backup", "(edit package) succeeded."});
  EXPECT_EQ(Scripts(), (std::vector<std::string>{"Edit-Package.cmd", "Save-Package.cmd",
                                                        "cleanup-" + workflow.OperationId() + ".cmd"}));
  EXPECT_FALSE(PathExists(paths.tempFolder + "\\PackBak-" + workflow.OperationId()));
}

// A save whose script fails leaves the old package as it was; the clean-up then runs twice.
TEST_F(WorkflowTest, FailingSaveKeepsTheOldPackageWhole) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string before = ReadTextFile(package + "\\Idagent.cfg");
  const size_t opened = platform.ShellOpens().size();
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    const std::string assembly = paths.tempFolder + "\\PackAsm-" + workflow.OperationId();
    WriteTextFile(assembly + "\\Save-Package.cmd",
                  "@echo off\r\nmkdir \"%~3\"\r\necho partial>\"%~3\\Idagent.cfg\"\r\n"
                  "echo disk full>\"%~2\\errors-%~1.txt\"\r\necho Save-Package=001\r\nexit /b 1\r\n");
    working.Find("RA")->SetFromText(L"10.9.9.9", AuthCfg::kEditor);
    EXPECT_FALSE(workflow.SavePackage(-1, false));
    EXPECT_FALSE(workflow.SavePackage(-1, false));  // the clean-up took the assembly folder
    return IDCANCEL;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_FALSE(workflow.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), before);
  EXPECT_TRUE(PathExists(package + "\\Install-Idagent.cmd"));
  const std::string id = workflow.OperationId();
  ExpectInOrder(log.Text(), {"Moved the old package " + package + " aside", "Save-Package=001",
                             "::::: Script exited with code [1] (FAIL):::::", "Removed the partial package " + package,
                             "Restored the old package " + package, "Package script reported: disk full",
                             "ERROR: Script " + paths.tempFolder + "\\PackAsm-" + id + "\\Save-Package.cmd was not found",
                             "Operation " + id + " FAILED: \r\n"});
  EXPECT_EQ(Count("cleanup-"), 2);
  EXPECT_EQ(platform.ShellOpens().size(), opened);
}

// What earlier saves left in Temp: backups, their records and half copies.
std::vector<std::string> BackupsLeft(const std::string& temp) { return NamesIn(temp, "PackBak-"); }

// A backup that a failed save could not put back is the only copy of the old package: it
// stays in Temp with its record, and the next save of the package first puts it back (what
// the failed save left goes aside into Temp, never deleted). The failing script leaves a plain
// file where the package was, so the move back fails.
TEST_F(WorkflowTest, BackupThatCouldNotBePutBackIsPutBackBeforeTheNextSave) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string before = ReadTextFile(package + "\\Idagent.cfg");
  ToolRegistry registry;
  registry.SetNumber("NoKitsmithCleanup", 1);  // the assembly folder stays from save to save
  PickNewPackage1();
  std::string backup, aside;
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    const std::string script = paths.tempFolder + "\\PackAsm-" + workflow.OperationId() + "\\Save-Package.cmd";
    backup = paths.tempFolder + "\\PackBak-" + workflow.OperationId();
    aside = paths.tempFolder + "\\PackUnconfirmed-" + workflow.OperationId();
    const std::string realScript = ReadTextFile(script);
    WriteTextFile(script, "@echo off\r\necho partial>\"%~3\"\r\necho Save-Package=001\r\nexit /b 1\r\n");
    working.Find("RA")->SetFromText(L"10.9.9.9", AuthCfg::kEditor);
    EXPECT_FALSE(workflow.SavePackage(-1, false));
    EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), before);
    EXPECT_TRUE(PathExists(backup + ".txt"));
    platform.ExpectBox(
        IDOK, "the old package is back in:\n" + package + " (what the save left is kept in ");
    EXPECT_FALSE(workflow.SavePackage(-1, false));
    EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), before);
    EXPECT_EQ(ReadTextFile(aside), "partial\r\n");

    DeleteFileA(package.c_str());
    WriteTextFile(script, realScript);
    platform.ExpectBox(IDOK, "the old package is back in:\n" + package);
    EXPECT_TRUE(workflow.SavePackage(-1, false));
    EXPECT_TRUE(workflow.SavePackage(-1, false));  // the new package goes aside and is removed
    return IDOK;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_TRUE(workflow.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
  const std::string failed =
      "ERROR: Could not restore the old package " + package + "; it is left in " + backup + ": ";
  const std::string putBack =
      "Putting back the old package " + package + " left in " + backup + " by an earlier save";
  const std::string movedAside =
      "Moved the old package " + package + " aside to " + backup + "\r\n";
  ExpectInOrder(log.Text(),
                {movedAside, "Save-Package=001", failed, putBack,
                 "Moved the unconfirmed package folder " + package + " aside to " + aside + "\r\n",
                 "Restored the old package " + package, movedAside, "Save-Package=001", failed,
                 putBack, "Restored the old package " + package, movedAside, "Save-Package=000",
                 "Removed the old package's backup " + backup + "\r\n", movedAside,
                 "Save-Package=000", "Removed the old package's backup " + backup + "\r\n"});
}

// Every file below the folder with its bytes, in one text.
std::string TreeText(const std::string& folder, const std::string& prefix = "") {
  std::string text;
  // No package path (an operation that failed): its "\\*" would be the whole drive.
  if (folder.empty()) {
    ADD_FAILURE() << "no folder to read";
    return text;
  }
  WIN32_FIND_DATAA entry = {};
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return text;
  std::vector<std::string> names;
  do
    if (strcmp(entry.cFileName, ".") && strcmp(entry.cFileName, "..")) names.push_back(entry.cFileName);
  while (FindNextFileA(find, &entry));
  FindClose(find);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "\\" + name;
    text += IsDirectory(path) ? TreeText(path, prefix + name + "\\")
                              : prefix + name + ": " + ReadTextFile(path) + "\n";
  }
  return text;
}

// Fills the volume just before the tool runs the named script, but for a few bytes: every
// write of the tool's own is done by then, the script's copies find the disk full at once or
// after the first few files.
class FillingPlatform : public ScriptedPlatform {
 public:
  FillingPlatform(SmallVolume& volume, const char* script, LONG leaveFree = 0)
      : volume_(volume), script_(script), leaveFree_(leaveFree) {}
  BOOL RunProcess(const char* program, const char* commandLine, const char* folder,
                  const STARTUPINFOA& startup, DWORD* exitCode,
                  const ProcessStarted& started) override {
    if (commandLine && strstr(commandLine, script_)) volume_.Fill(leaveFree_);
    return ScriptedPlatform::RunProcess(program, commandLine, folder, startup, exitCode, started);
  }

 private:
  SmallVolume& volume_;
  const char* script_;
  LONG leaveFree_;
};

// A package script may write the configuration in its own form: what counts is what the
// tool's reader makes of it. An empty or unreadable file, a lost revision or another value
// fails the save and brings the old package back.
TEST_F(WorkflowTest, SavedConfigurationIsCheckedByWhatItReads) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string before = ReadTextFile(package + "\\Idagent.cfg");
  ToolRegistry registry;
  registry.SetNumber("NoKitsmithCleanup", 1);  // the assembly folder stays from save to save
  const std::string text = "CS[2] CR[5] RA[10.0.0.1] RP[139] LD[1] ";
  std::string utf16 = "\xff\xfe";
  for (const char c : text) utf16 += std::string{c, '\0'};
  const struct {
    const char* what;
    std::string saved;
    bool accepted;
  } cases[] = {{"line ends", "CS[2]\r\nCR[5]\r\nRA[10.0.0.1]\r\nRP[139]\r\nLD[1]\r\n", true},
               {"comments", "CS[2] CR[5]{saved by the kit} RA[10.0.0.1] {servers} RP[139] LD[1]", true},
               {"UTF-16", utf16, true},
               {"empty", "", false},
               {"unreadable", "not a configuration", false},
               {"no revision", "CS[2] RA[10.0.0.1] RP[139] LD[1] ", false},
               {"another value", "CS[2] CR[5] RA[10.0.0.2] RP[139] LD[1] ", false},
               {"a value lost", "CS[2] CR[5] RA[10.0.0.1] RP[139] ", false}};
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet&) {
    const std::string assembly = paths.tempFolder + "\\PackAsm-" + workflow.OperationId();
    std::string script = ReadTextFile(assembly + "\\Save-Package.cmd");
    const std::string copy = "\"%temp_root%\\%id%.cfg\" \"%pkg%\\Idagent.cfg\"";
    const size_t at = script.find(copy);
    EXPECT_NE(at, std::string::npos);
    script.replace(at, copy.size(), "\"%asm%variant.cfg\" \"%pkg%\\Idagent.cfg\"");
    WriteTextFile(assembly + "\\Save-Package.cmd", script);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      WriteTextFile(assembly + "\\variant.cfg", c.saved);
      EXPECT_EQ(workflow.SavePackage(5, false), c.accepted);
      EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), c.accepted ? c.saved : before);
      WriteTextFile(package + "\\Idagent.cfg", before);  // the next case starts from the old package
    }
    return IDOK;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_TRUE(workflow.Execute());
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
  for (const char* fault : {"Idagent.cfg is missing or empty", "Idagent.cfg cannot be read: Error parsing file ",
                            "Idagent.cfg does not hold the configuration saved (CR)",
                            "Idagent.cfg does not hold the configuration saved (RA)",
                            "Idagent.cfg does not hold the configuration saved (LD)"})
    EXPECT_NE(log.Text().find("ERROR: The saved package " + package + " is not whole: " + fault), std::string::npos)
        << fault;
}

// On a disk that fills up the real save script fails at its first failed copy, and the tool
// finds every promised file there and none empty: the save fails either way, and the old
// package comes back whole. With three pages free the configuration, the view and the
// version file are copied whole and everything after them is cut.
TEST_F(WorkflowTest, SaveOnAFullDiskPutsTheOldPackageBack) {
  for (const LONG leaveFree : {0L, 3L * 4096}) {
    SCOPED_TRACE(leaveFree);
    DataRootEnvironment::Empty();
    log.Clear();
    SmallVolume volume("2m");
    if (!volume.Mounted()) GTEST_SKIP() << "no small file system could be mounted (needs root)";
    ASSERT_TRUE(volume.LinkFolder(paths.tempFolder, "Temp"));
    ASSERT_TRUE(volume.LinkFolder(paths.packagesFolder, "Packages"));
    const std::string package = MakePackage("10.0.0.1");
    std::string before;
    driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
      ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
      ui.PressOK();
    });
    g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
      before = TreeText(package);
      EXPECT_NE(before.find("Idagent.cfg: CS[2] CR[1] RA[10.0.0.1]"), std::string::npos);
      working.Find("RA")->SetFromText(L"10.9.9.9", AuthCfg::kEditor);
      FillingPlatform filling(volume, "Save-Package.cmd", leaveFree);
      EXPECT_FALSE(workflow.SavePackage(-1, false));
      EXPECT_TRUE(filling.ShellOpens().empty());
      return IDCANCEL;
    };
    EditPackageWorkflow workflow(nullptr);
    EXPECT_FALSE(workflow.Execute());
    volume.Free();
    EXPECT_EQ(TreeText(package), before);
    EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
    ExpectInOrder(log.Text(), {"Moved the old package " + package + " aside", "Save-Package=001",
                               "Restored the old package " + package, "FAILED"});
    EXPECT_EQ(log.Text().find("Removed the old package's backup"), std::string::npos);
  }
}

// The real scripts that prepare an operation fail on a full Temp instead of leaving empty
// copies of the scripts that come next.
TEST_F(WorkflowTest, PreparingScriptsFailOnAFullDisk) {
  SmallVolume volume("2m");
  if (!volume.Mounted()) GTEST_SKIP() << "no small file system could be mounted (needs root)";
  ASSERT_TRUE(volume.LinkFolder(paths.tempFolder, "Temp"));
  const std::string package = MakePackage("10.0.0.1");
  {
    FillingPlatform filling(volume, "Edit-Package.cmd");
    driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
      ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
      ui.PressOK();
    });
    g_editorAction = [&](MaintWorkflow_base&, CfgSet&) {
      ADD_FAILURE() << "the package dialog opened after a failed Edit-Package.cmd";
      return IDCANCEL;
    };
    EditPackageWorkflow edit(nullptr);
    EXPECT_FALSE(edit.Execute());
    volume.Free();
  }
  {
    FillingPlatform filling(volume, "Create-Package.cmd");
    driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
    NewPackageWorkflow create(nullptr);
    EXPECT_FALSE(create.Execute());
    volume.Free();
  }
  ExpectInOrder(log.Text(), {"Edit-Package=001", "FAILED", "Create-Package=001", "Execute MaintScriptExec failed",
                             "FAILED"});
}

// Temp on another volume: the old package cannot be renamed aside, so it is copied, and
// only a whole copy counts. A copy that cannot finish leaves the package untouched, a failed
// save brings the copy back whole, and a good one leaves no backup behind.
TEST_F(WorkflowTest, SavesWithTempOnAnotherVolume) {
  SmallVolume volume("16m");
  if (!volume.Mounted()) GTEST_SKIP() << "no second file system could be mounted (needs root)";
  ASSERT_TRUE(volume.LinkFolder(paths.tempFolder, "Temp"));
  const std::string package = MakePackage("10.0.0.1");
  ToolRegistry registry;
  registry.SetNumber("NoKitsmithCleanup", 1);  // the assembly folder stays from save to save
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    const std::string script = paths.tempFolder + "\\PackAsm-" + workflow.OperationId() + "\\Save-Package.cmd";
    const std::string realScript = ReadTextFile(script);
    const std::string before = TreeText(package);
    working.Find("RA")->SetFromText(L"10.9.9.9", AuthCfg::kEditor);

    HANDLE held = CreateFileA((package + "\\Install-Idagent.cmd").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(workflow.SavePackage(-1, false));
    CloseHandle(held);
    EXPECT_EQ(TreeText(package), before);
    EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());

    WriteTextFile(script, "@echo off\r\nmkdir \"%~3\"\r\necho partial>\"%~3\\Idagent.cfg\"\r\n"
                          "echo Save-Package=001\r\nexit /b 1\r\n");
    EXPECT_FALSE(workflow.SavePackage(-1, false));
    EXPECT_EQ(TreeText(package), before);
    EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());

    WriteTextFile(script, realScript);
    EXPECT_TRUE(workflow.SavePackage(-1, false));
    return IDOK;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_TRUE(workflow.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
  const std::string backup = paths.tempFolder + "\\PackBak-" + workflow.OperationId();
  ExpectInOrder(log.Text(), {"ERROR: Could not move the old package " + package + " aside to " + backup + ": copying ",
                             "Copied the old package " + package + " aside to " + backup + " (another volume)",
                             "Save-Package=001", "Removed the partial package " + package,
                             "Restored the old package " + package + " (copied back from another volume)",
                             "Copied the old package " + package + " aside to " + backup + " (another volume)",
                             "Save-Package=000", "Removed the old package's backup " + backup});
}

// The step at which CutShortSave.DISABLED_Child ends itself: a step the save reaches, or
// "script" for the real save script right after it copied the configuration file ("script
// waits": its interpreter then waits; "script waits at the end": it waits before its last line).
constexpr char kCutAtVariable[] = "KITSMITH_TEST_CUT_AT";
// The revision the child saves with; unset: the next.
constexpr char kRevisionVariable[] = "KITSMITH_TEST_REVISION";

// Run only by the tests of saves cut short, as a program of its own: the program ends half way
// through a save, as a crash or a power cut would (the save script, when it is cut there, ends
// with it).
TEST(CutShortSave, DISABLED_Child) {
  char variable[64] = "script";
  GetEnvironmentVariableA(kCutAtVariable, variable, sizeof(variable));
  const std::string cutAt = variable;
  // "new package: <step>": the first save of a new package, else an edit of New Package 1.
  const std::string newPackage = "new package: ";
  const bool fresh = cutAt.rfind(newPackage, 0) == 0;
  const std::string step = fresh ? cutAt.substr(newPackage.size()) : cutAt;
  char revision[16] = "-1";
  GetEnvironmentVariableA(kRevisionVariable, revision, sizeof(revision));
  ScriptedPlatform platform;
  DialogDriver driver;
  LogCapture log;
  MaintWorkflow_base::InstallEditorFactory(&MakeStandInEditor);
  platform.atCheckpoint = [&](const std::string& reached) {
    if (reached == step) TerminateProcess(GetCurrentProcess(), 3);
  };
  // An earlier save left alone (in an open Temp) is listed when the operation starts.
  if (!BackupsLeft(DataPaths::Get().tempFolder).empty())
    platform.ExpectBox(IDOK, "Old packages left by earlier saves are kept in:");
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    const std::string script =
        DataPaths::Get().tempFolder + "\\PackAsm-" + workflow.OperationId() + "\\Save-Package.cmd";
    std::string text = ReadTextFile(script);
    // The script is cut right after it copied the configuration file or, "at the end", with
    // only its last line still to write.
    const bool atTheEnd = step == "script waits at the end";
    const std::string copied = "\\Idagent.cfg\" >nul\r\nif errorlevel 1 goto failed\r\n";
    const size_t found =
        text.find(atTheEnd ? std::string(">>\"%pkg%\\package-version.cmd\"") : copied);
    EXPECT_NE(found, std::string::npos);
    const size_t at = atTheEnd ? found : found + copied.size();
    // "script waits": the script goes on once Temp\go-on exists, as a slow script would.
    const std::string end = step.rfind("script waits", 0) == 0
                                ? ":wait\r\nif not exist \"%temp_root%\\go-on\" goto wait\r\n"
                                : "exit /b 1\r\n";
    if (step.rfind("script", 0) == 0)
      text.insert(at,
                  "taskkill /f /pid " + std::to_string(GetCurrentProcessId()) + " >nul\r\n" + end);
    WriteTextFile(script, text);
    working.Find("RA")->SetFromText(L"10.9.9.9", AuthCfg::kEditor);
    workflow.SavePackage(std::atoi(revision), false);
    return IDCANCEL;
  };
  std::unique_ptr<MaintWorkflow_base> workflow;
  if (fresh) {
    driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
    workflow = std::make_unique<NewPackageWorkflow>(nullptr);
  } else {
    driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
      ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
      ui.PressOK();
    });
    workflow = std::make_unique<EditPackageWorkflow>(nullptr);
  }
  workflow->Execute();
  ADD_FAILURE() << "the save was not cut short at " << cutAt << "\nThe operation log:\n"
                << log.Text();
}

// Runs the child that ends itself at the step (saving with the revision, -1: the next); its exit
// code, or STILL_ACTIVE.
DWORD RunCutShortChild(const std::string& step, int revision = -1) {
  SetEnvironmentVariableA(kCutAtVariable, step.c_str());
  SetEnvironmentVariableA(kRevisionVariable, std::to_string(revision).c_str());
  const DWORD code = RunChildTest("CutShortSave.DISABLED_Child");
  SetEnvironmentVariableA(kCutAtVariable, nullptr);
  SetEnvironmentVariableA(kRevisionVariable, nullptr);
  return code;
}

// Runs the child that ends itself at the step; true when it did (and nothing holds a record).
bool RunCutShortSave(const std::string& step, int revision = -1) {
  const DWORD code = RunCutShortChild(step, revision);
  // The script's own end takes the program with it, with no code of ours.
  return (step == "script" ? code != STILL_ACTIVE : code == 3) &&
         ScriptsEnded(DataPaths::Get().tempFolder);
}

// The interpreter of a save script outlives its tool: while it runs, a tool started again
// leaves that save alone; once it has ended the save, never confirmed, is undone.
TEST_F(WorkflowTest, SaveWhoseScriptStillRunsIsLeftAlone) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string oldConfig = ReadTextFile(package + "\\Idagent.cfg");
  EXPECT_NE(RunCutShortChild("script waits"), STILL_ACTIVE);
  const std::string backup = paths.tempFolder + "\\PackBak-00000001-0000-0000-0000-000000000000";
  EXPECT_FALSE(ScriptsEnded(paths.tempFolder, 0));

  PackageBackup::RecoverLeftovers();
  EXPECT_TRUE(log.Contains("The save that keeps an old package in " + backup +
                           " still runs: left alone; its script (process "))
      << log.Text();
  EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), oldConfig);
  EXPECT_TRUE(PathExists(backup + ".txt"));

  WriteTextFile(paths.tempFolder + "\\go-on", "");
  ASSERT_TRUE(ScriptsEnded(paths.tempFolder));
  EXPECT_TRUE(PathExists(package + "\\Edit-Package.cmd"));  // the script wrote the package to its end
  platform.ExpectBox(IDOK, "Saves cut short before they were confirmed");
  PackageBackup::RecoverLeftovers();
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), oldConfig);
  EXPECT_EQ(ReadTextFile(paths.tempFolder + "\\PackUnconfirmed-00000001-0000-0000-0000-000000000000\\Idagent.cfg"),
            "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
}

// The first save of a new package is recorded too: while its script outlives the tool, the
// package it writes is not edited, also when the record lies in a Temp others may write to;
// once that script has ended, nothing holds the package up.
TEST_F(WorkflowTest, ANewPackagesSaveWhoseScriptStillRunsHoldsItUp) {
  for (const bool open : {false, true}) {
    SCOPED_TRACE(open ? "open Temp" : "private Temp");
    DataRootEnvironment::Empty();
    if (open) {
      ASSERT_TRUE(CreatePath(paths.tempFolder + "\\"));
      ASSERT_TRUE(SetHostMode(paths.tempFolder, "0777"));
    }
    EXPECT_NE(RunCutShortChild("new package: script waits at the end"), STILL_ACTIVE);
    const std::string package = paths.packagesFolder + "\\New Package 1";
    ASSERT_FALSE(ScriptsEnded(paths.tempFolder, 0));
    ExpectEditRefused("still runs: its script (process ");

    WriteTextFile(paths.tempFolder + "\\go-on", "");
    ASSERT_TRUE(ScriptsEnded(paths.tempFolder));
    EXPECT_TRUE(EditAndSave(L"10.8.8.8"));
    EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.8.8.8] RP[139] LD[1] ");
    // In an open Temp the record of the new package's save stays where it is; it keeps no old
    // package, so no box lists it.
    EXPECT_EQ(BackupsLeft(paths.tempFolder).size(), open ? 1u : 0u);
  }
}

// A save left alone in an open Temp is stale once the package is saved again, even when the
// later save writes the very configuration it wrote: once Temp is closed the package stays.
// While the later save cannot make it stale (another program holds its record), that save
// saves nothing and names the record and the way out.
TEST_F(WorkflowTest, ASaveLeftAloneIsStaleOnceThePackageIsSavedAgainAlike) {
  const std::string package = MakePackage("10.0.0.1");
  ASSERT_TRUE(SetHostMode(paths.tempFolder, "0777"));
  ASSERT_TRUE(RunCutShortSave("package checked"));
  const std::string cut = ReadTextFile(package + "\\Idagent.cfg");
  const std::string record =
      paths.tempFolder + "\\PackBak-00000001-0000-0000-0000-000000000000.txt";
  HandleHolder holder(CreateFileA(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.Valid());
  platform.ExpectBox(IDOK, "Old packages left by earlier saves are kept in:");
  EXPECT_FALSE(EditAndSave(L"10.9.9.9", 2));
  EXPECT_TRUE(log.Contains("ERROR: The package " + package + " is not saved: the record " + record +
                           " of an earlier save of it cannot be changed ("))
      << log.Text();
  EXPECT_TRUE(log.Contains("). Close what holds " + record +
                           " open, or remove it; then save the package again.\r\n"));
  EXPECT_EQ(Count("Save-Package"), 0);
  holder.Close();
  platform.ExpectBox(IDOK, "Old packages left by earlier saves are kept in:");
  EXPECT_TRUE(EditAndSave(L"10.9.9.9", 2));
  ASSERT_EQ(ReadTextFile(package + "\\Idagent.cfg"), cut);  // the same configuration again
  ASSERT_TRUE(SetHostMode(paths.tempFolder, "0700"));
  platform.ExpectBox(IDOK, "(kept: the package was saved again after it)");
  PackageBackup::RecoverLeftovers();
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), cut);
  EXPECT_TRUE(NamesIn(paths.tempFolder, "PackUnconfirmed-").empty());
}

// A save whose script outlived its tool still writes its package: while that script runs, an
// edit of the package is refused before its script runs, and so is any save onto it, each
// naming the script's process. Once it has ended, the next save first puts the old package
// back and is then confirmed; every later start keeps what it saved.
TEST_F(WorkflowTest, AnEarlierSaveNeverUndoesALaterConfirmedOne) {
  const std::string package = MakePackage("10.0.0.1");
  EXPECT_NE(RunCutShortChild("script waits at the end"), STILL_ACTIVE);
  const std::string record =
      paths.tempFolder + "\\PackBak-00000001-0000-0000-0000-000000000000.txt";
  ASSERT_FALSE(ScriptsEnded(paths.tempFolder, 0));
  PackageBackup::RecoverLeftovers();  // the next start leaves it alone
  EXPECT_TRUE(PathExists(record));

  const std::string running =
      "An earlier save of the package " + package + " still runs: its script (process ";
  ExpectEditRefused("still runs: its script (process ");
  EXPECT_TRUE(log.Contains(running)) << log.Text();
  EXPECT_TRUE(
      log.Contains(") has not ended. Wait for it to end, or end that process (or, if it "
                   "saves nothing, remove " +
                   record + "); then edit or save the package again."))
      << log.Text();

  // Another operation that saves onto the package.
  const std::string confirmed = "CS[2] CR[1] RA[10.7.7.7] RP[139] LD[1] ";
  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    workflow.SetPackagePath(package);
    working.Find("RA")->SetFromText(L"10.7.7.7", AuthCfg::kEditor);
    log.Clear();
    platform.ExpectBox(IDOK, "still runs: its script (process ");
    EXPECT_FALSE(workflow.SavePackage(-1, false));
    EXPECT_TRUE(log.Contains(running)) << log.Text();
    WriteTextFile(paths.tempFolder + "\\go-on", "");
    EXPECT_TRUE(ScriptsEnded(paths.tempFolder));
    platform.ExpectBox(
        IDOK,
        "Saves cut short before they were confirmed; the old package is back in:\n" + package);
    EXPECT_TRUE(workflow.SavePackage(-1, false));
    return IDCANCEL;
  };
  NewPackageWorkflow other(nullptr);
  EXPECT_TRUE(other.Execute());
  EXPECT_EQ(Count("Save-Package"), 1);
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), confirmed);
  EXPECT_EQ(ReadTextFile(paths.tempFolder +
                         "\\PackUnconfirmed-00000001-0000-0000-0000-000000000000\\Idagent.cfg"),
            "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
  ExpectInOrder(log.Text(),
                {"Putting back the old package " + package, "Restored the old package " + package,
                 "Moved the old package " + package + " aside", "Save-Package=000",
                 "Removed the old package's backup"});
  log.Clear();
  PackageBackup::RecoverLeftovers();
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), confirmed);
  EXPECT_EQ(log.Text(), "");
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
}

// A process the test holds up until it lets go: an interpreter reading a pipe.
class WaitingProcess {
 public:
  WaitingProcess() {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inheritable, 0)) return;
    input_.Reset(write);
    const HandleHolder childEnd(read);
    SetHandleInformation(write, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = read;
    PROCESS_INFORMATION process = {};
    char line[] = "cmd.exe /q";
    if (!StartRetried([&] {
          return CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                nullptr, &startup, &process);
        }))
      return;
    CloseHandle(process.hThread);
    process_.Reset(process.hProcess);
  }
  ~WaitingProcess() { End(); }
  HANDLE Get() const { return process_.Get(); }
  // Lets it end, and waits for that.
  void End() {
    input_.Close();
    if (process_.Valid()) WaitForSingleObject(process_.Get(), 10000);
  }

 private:
  HandleHolder input_, process_;
};

// The record's line of a process working on the save ("tool" or "script"), made to name this
// process.
void RecordProcess(const std::string& record, const char* which, HANDLE process) {
  const ProcessMark mark = MarkOf(process);
  std::string text = ReadTextFile(record);
  char line[64] = {};
  std::snprintf(line, sizeof line, "%s %10lu %20llu", which, mark.id, mark.started);
  const size_t at = text.find("\r\n" + std::string(which) + " ");
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at + 2, std::strlen(line), line);
  WriteTextFile(record, text);
}

// While what a save cut short left cannot be undone, the package is not edited: the refusal
// says what holds it up and what to do, and once that is done the next edit first puts the
// old package back and goes on. A record that names the package with a trailing dot is not
// the package's to the recovery, and holds up nothing.
TEST_F(WorkflowTest, ARefusedEditNamesItsWayOutAndGoesOnOnceItIsTaken) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string backup = paths.tempFolder + "\\PackBak-00000001-0000-0000-0000-000000000000";
  const std::string record = backup + ".txt";
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  WaitingProcess other;
  ASSERT_TRUE(other.Get());
  HandleHolder holder;
  const std::string cutShort = "An earlier save of the package " + package +
                               " was cut short, and its old package in " + backup +
                               " could not be put back: ";
  const std::string orRemove = ", or remove " + record +
                               " to give up putting it back (the old package stays in " + backup +
                               "); then edit or save the package again.";
  const struct {
    const char* what;
    std::function<void()> block, unblock;
    std::string refusal;   // what the refusal says
    std::string wayOut;    // the way out it names
    std::string startBox;  // what the start's box says first, if anything
  } cases[] = {
      {"a console works in the package folder", [&] { SetCurrentDirectoryA(package.c_str()); },
       [&] { SetCurrentDirectoryA(previous); },
       cutShort + package + " could not be moved aside to ",
       "Close what works in " + package +
           " (a console or an Explorer window in it, or a program using its files)" + orRemove,
       "could not be put back"},
      {"a program holds the record for reading only",
       [&] {
         holder.Reset(CreateFileA(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
       },
       [&] { holder.Close(); }, cutShort + "its record " + record + " cannot be changed (",
       "Close what holds " + record + " open, or make it writable" + orRemove,
       "could not be put back"},
      {"another Kitsmith saves it", [&] { RecordProcess(record, "tool", other.Get()); },
       [&] { other.End(); },
       "An earlier save of the package " + package +
           " still runs: the Kitsmith that saves it (process " +
           std::to_string(GetProcessId(other.Get())) +
           ") has not ended. Wait for it to end, or end that process (or, if it saves nothing, "
           "remove " +
           record + "); then edit or save the package again.",
       "", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // Cut short once the package was whole (so the package chooser lists it), before it was
    // confirmed.
    ASSERT_TRUE(RunCutShortSave("package checked"));
    c.block();
    if (!c.startBox.empty()) platform.ExpectBox(IDOK, c.startBox);
    log.Clear();
    ExpectEditRefused("An earlier save of the package ");
    const int edits = Count("Edit-Package");
    EXPECT_TRUE(log.Contains("ERROR: " + c.refusal)) << log.Text();
    EXPECT_TRUE(log.Contains(c.wayOut)) << log.Text();
    EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
    EXPECT_TRUE(PathExists(record));

    c.unblock();
    platform.ExpectBox(
        IDOK,
        "Saves cut short before they were confirmed; the old package is back in:\n" + package);
    PickNewPackage1();
    g_editorAction = [](MaintWorkflow_base&, CfgSet& working) {
      EXPECT_EQ(Option(working, "RA"), "10.0.0.1");
      return IDCANCEL;
    };
    EditPackageWorkflow edit(nullptr);
    edit.Execute();
    EXPECT_EQ(Count("Edit-Package"), edits + 1);
    EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
  }

  const std::string dotted = paths.tempFolder + "\\PackBak-dotted";
  ASSERT_TRUE(CreatePath(dotted + "\\"));
  WriteTextFile(dotted + "\\Idagent.cfg", "CS[2] CR[9] RA[10.6.6.6] ");
  WriteTextFile(dotted + ".txt", package + ".\r\nunconfirmed\r\n");
  platform.ExpectBox(IDOK, "PackBak-dotted (its package is not known)");
  PickNewPackage1();
  const int edits = Count("Edit-Package");
  EditPackageWorkflow edit(nullptr);
  edit.Execute();
  EXPECT_EQ(Count("Edit-Package"), edits + 1);
  EXPECT_TRUE(PathExists(dotted + ".txt"));
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[1] RA[10.0.0.1] RP[139] LD[1] ");
}

// A script that has ended holds nothing up, also when its exit code is the one that reads as
// "still active".
TEST_F(WorkflowTest, AScriptThatEndedWithTheStillActiveCodeHasEnded) {
  const std::string package = MakePackage("10.0.0.1");
  ASSERT_TRUE(RunCutShortSave("package checked"));
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  char line[] = "cmd.exe /c exit 259";
  ASSERT_TRUE(StartRetried([&] {
    return CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, &process);
  }));
  const HandleHolder thread(process.hThread), ended(process.hProcess);
  ASSERT_EQ(WaitForSingleObject(ended.Get(), 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(ended.Get(), &code) && code == STILL_ACTIVE);
  RecordProcess(paths.tempFolder + "\\PackBak-00000001-0000-0000-0000-000000000000.txt", "script",
                ended.Get());
  platform.ExpectBox(IDOK,
                     "Saves cut short before they were confirmed; the old package is back in:");
  PackageBackup::RecoverLeftovers();
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[1] RA[10.0.0.1] RP[139] LD[1] ");
}

// A record of the earlier format holds only the package's path, no state: as before the state
// line, its old package is put back only where no configuration file stands; otherwise it is
// kept and named. So is a record whose state the tool never writes.
TEST_F(WorkflowTest, ARecordWithoutAStateIsPutBackOnlyWhereNoConfigurationStands) {
  const std::string package = paths.packagesFolder + "\\Site B";
  const std::string backup = paths.tempFolder + "\\PackBak-0c0ffee1-0000-0000-0000-000000000000";
  const std::string oldConfig = "CS[2] CR[4] RA[10.0.0.4] ";
  const std::string standing = "CS[2] CR[5] RA[10.0.0.5] ";
  const struct {
    const char* what;
    const char* rest;  // what follows the path in the record
    bool configStands;
  } cases[] = {{"path and line end", "\r\n", true},
               {"path alone", "", true},
               {"a state the tool never writes", "\r\nhalf done\r\n", true},
               {"no configuration stands", "\r\n", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DataRootEnvironment::Empty();
    ASSERT_TRUE(CreatePath(backup + "\\"));
    WriteTextFile(backup + "\\Idagent.cfg", oldConfig);
    ASSERT_TRUE(CreatePath(package + "\\kit\\"));
    if (c.configStands) WriteTextFile(package + "\\Idagent.cfg", standing);
    WriteTextFile(backup + ".txt", package + c.rest);
    platform.ExpectBox(
        IDOK, c.configStands
                  ? "Old packages left by earlier saves are kept in:"
                  : "Saves cut short before they were confirmed; the old package is back in:");
    log.Clear();
    PackageBackup::RecoverLeftovers();
    EXPECT_EQ(log.Contains("WARNING: An old package left by an earlier save is kept in " + backup +
                           " (its package " + package + " holds a configuration file)"),
              c.configStands)
        << log.Text();
    EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), c.configStands ? standing : oldConfig);
    EXPECT_EQ(PathExists(backup + ".txt"), c.configStands);
    EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), c.configStands ? oldConfig : "");
  }
}

// A save of the package after an earlier one makes that one's record stale: its old package is
// kept and never put back, not even once no configuration stands there any more. A record that
// another account may write is never acted on: held open by a program, it holds up no save.
TEST_F(WorkflowTest, ASaveMakesEveryEarlierRecordOfThePackageStale) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string backup = paths.tempFolder + "\\PackBak-0c0ffee2-0000-0000-0000-000000000000";
  ASSERT_TRUE(CreatePath(backup + "\\"));
  WriteTextFile(backup + "\\Idagent.cfg", "CS[2] CR[4] RA[10.0.0.4] ");
  WriteTextFile(backup + ".txt", package + "\r\nunconfirmed\r\n");  // an older tool's record
  const std::string planted =
      paths.tempFolder + "\\PackBak-0c0ffee3-0000-0000-0000-000000000000.txt";
  WriteTextFile(planted, package + "\r\nunconfirmed\r\n");
  ASSERT_TRUE(SetHostMode(planted, "0666"));
  const HandleHolder holder(CreateFileA(planted.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.Valid());
  platform.ExpectBox(IDOK, " holds a configuration file)");
  EXPECT_TRUE(EditAndSave(L"10.8.8.8"));
  EXPECT_EQ(ReadTextFile(planted), package + "\r\nunconfirmed\r\n");

  DeleteFileA((package + "\\Idagent.cfg").c_str());
  platform.ExpectBox(IDOK, "(kept: the package was saved again after it)");
  PackageBackup::RecoverLeftovers();
  EXPECT_FALSE(PathExists(package + "\\Idagent.cfg"));
  EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), "CS[2] CR[4] RA[10.0.0.4] ");
  EXPECT_TRUE(PathExists(backup + ".txt"));
}

// Once a later save of the package begins, a save left alone in an open Temp is stale: however
// the later one ends (cut short before it touched the package, undone, or right after it was
// confirmed with the very configuration the earlier one wrote), the earlier one's old package
// is kept and listed once Temp is closed, never put back.
TEST_F(WorkflowTest, ASaveLeftAloneIsStaleOnceALaterSaveBegins) {
  const std::string earlier = "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ";
  const std::string backup = paths.tempFolder + "\\PackBak-00000001-0000-0000-0000-000000000000";
  for (const char* step : {"record written", "package checked", "save confirmed"}) {
    SCOPED_TRACE(step);
    DataRootEnvironment::Empty();
    const std::string package = MakePackage("10.0.0.1");
    ASSERT_TRUE(SetHostMode(paths.tempFolder, "0777"));
    ASSERT_TRUE(RunCutShortSave("package checked"));
    ASSERT_TRUE(RunCutShortSave(step, 2));  // the same configuration again
    ASSERT_TRUE(SetHostMode(paths.tempFolder, "0700"));
    platform.ExpectBox(IDOK,
                       "PackBak-00000001-0000-0000-0000-000000000000 (kept: the package was "
                       "saved again after it)");
    PackageBackup::RecoverLeftovers();
    EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), earlier);
    EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), "CS[2] CR[1] RA[10.0.0.1] RP[139] LD[1] ");
  }
}

// A backup that is not the old package its record names (records and backups renamed, say)
// is kept and listed, never put back.
TEST_F(WorkflowTest, ABackupThatIsNotTheOneItsRecordNamesIsKept) {
  const std::string package = MakePackage("10.0.0.1");
  ASSERT_TRUE(RunCutShortSave("package checked"));
  const std::string backup = paths.tempFolder + "\\PackBak-00000001-0000-0000-0000-000000000000";
  WriteTextFile(backup + "\\Idagent.cfg", "CS[2] CR[7] RA[10.6.6.6] ");
  platform.ExpectBox(IDOK, "(it is not the old package its record names)");
  PackageBackup::RecoverLeftovers();
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
  EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), "CS[2] CR[7] RA[10.6.6.6] ");
}

// Makes every backup record read-only just before the save script runs, so that it cannot be
// removed once the save is confirmed.
class ReadOnlyRecordPlatform : public ScriptedPlatform {
 public:
  BOOL RunProcess(const char* program, const char* commandLine, const char* folder,
                  const STARTUPINFOA& startup, DWORD* exitCode,
                  const ProcessStarted& started) override {
    const std::string& temp = DataPaths::Get().tempFolder;
    if (commandLine && strstr(commandLine, "Save-Package.cmd"))
      for (const std::string& name : BackupsLeft(temp))
        if (name.ends_with(".txt"))
          SetFileAttributesA((temp + "\\" + name).c_str(), FILE_ATTRIBUTE_READONLY);
    return ScriptedPlatform::RunProcess(program, commandLine, folder, startup, exitCode, started);
  }
};

// A confirmed save whose record cannot be removed says so and names the file; that record
// holds up no later edit or save, and a later start removes it once it can.
TEST_F(WorkflowTest, ARecordAConfirmedSaveCannotRemoveIsNamedAndHoldsUpNothing) {
  const std::string package = MakePackage("10.0.0.1");
  std::string record;
  PickNewPackage1();
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet&) {
    record = paths.tempFolder + "\\PackBak-" + workflow.OperationId() + ".txt";
    const ReadOnlyRecordPlatform readOnly;
    return workflow.SavePackage(3, false) ? IDOK : IDCANCEL;
  };
  EditPackageWorkflow first(nullptr);
  EXPECT_TRUE(first.Execute());
  EXPECT_TRUE(log.Contains("ERROR: Could not remove the backup record " + record + ": "))
      << log.Text();
  EXPECT_TRUE(PathExists(record));
  // It no longer names this tool as working on the save.
  char ended[64] = {};
  std::snprintf(ended, sizeof ended, "\r\ntool %10lu %20llu\r\n", 0ul, 0ull);
  EXPECT_NE(ReadTextFile(record).find(ended), std::string::npos) << ReadTextFile(record);

  PickNewPackage1();
  g_editorAction = [](MaintWorkflow_base& workflow, CfgSet&) {
    return workflow.SavePackage(4, false) ? IDOK : IDCANCEL;
  };
  EditPackageWorkflow second(nullptr);
  EXPECT_TRUE(second.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[4] RA[10.0.0.1] RP[139] LD[1] ");

  SetFileAttributesA(record.c_str(), FILE_ATTRIBUTE_NORMAL);
  PackageBackup::RecoverLeftovers();
  EXPECT_FALSE(PathExists(record));
  EXPECT_TRUE(platform.Boxes().empty());
}

// Half copies a crash left, of a backup or of what a recovery moved aside, are removed at the
// next start; in a Temp that others may write to nothing is touched.
TEST_F(WorkflowTest, HalfCopiesLeftByACrashAreRemovedInAPrivateTemp) {
  for (const bool open : {false, true}) {
    SCOPED_TRACE(open ? "open Temp" : "private Temp");
    DataRootEnvironment::Empty();
    const std::vector<std::string> parts = {paths.tempFolder + "\\PackBak-a.part",
                                            paths.tempFolder + "\\PackUnconfirmed-b.part",
                                            paths.tempFolder + "\\PackUnconfirmed-b-2.part"};
    for (const std::string& part : parts) {
      ASSERT_TRUE(CreatePath(part + "\\kit\\"));
      WriteTextFile(part + "\\kit\\Idagent.cfg", "CS[2] ");
    }
    if (open) {
      ASSERT_TRUE(SetHostMode(paths.tempFolder, "0777"));
    }
    log.Clear();
    PackageBackup::RecoverLeftovers();
    for (const std::string& part : parts) {
      EXPECT_EQ(PathExists(part), open) << part;
      EXPECT_TRUE(log.Contains(
          open ? "WARNING: " + part + " left alone: other accounts may write to " + paths.tempFolder
               : "Removed " + part + ", left by an earlier save"))
          << log.Text();
    }
    EXPECT_TRUE(platform.Boxes().empty());
  }
}

// A package script that says it saved is not taken at its word: a package without one of the
// files it promises, or with one of them empty, is refused and the old package comes back.
TEST_F(WorkflowTest, ASavedPackageWithoutEveryPromisedFileIsRefused) {
  const std::string package = MakePackage("10.0.0.1");
  ToolRegistry registry;
  registry.SetNumber("NoKitsmithCleanup", 1);  // the assembly folder stays from save to save
  PickNewPackage1();
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    const std::string assembly = paths.tempFolder + "\\PackAsm-" + workflow.OperationId();
    const std::string realScript = ReadTextFile(assembly + "\\Save-Package.cmd");
    const size_t end = realScript.find("echo Saved revision");
    EXPECT_NE(end, std::string::npos);
    WriteTextFile(assembly + "\\empty.txt", "");
    const std::string before = TreeText(package);
    working.Find("RA")->SetFromText(L"10.9.9.9", AuthCfg::kEditor);
    for (const char* name : {"Edit-Package.cmd", "Packages-View.html", "package-version.cmd"}) {
      for (const bool empty : {false, true}) {
        SCOPED_TRACE(std::string(name) + (empty ? " empty" : " missing"));
        const std::string spoil =
            empty ? "copy /y \"%asm%empty.txt\" \"%pkg%\\" + std::string(name) + "\" >nul\r\n"
                  : "del \"%pkg%\\" + std::string(name) + "\"\r\n";
        WriteTextFile(assembly + "\\Save-Package.cmd", std::string(realScript).insert(end, spoil));
        log.Clear();
        EXPECT_FALSE(workflow.SavePackage(-1, false));
        EXPECT_TRUE(log.Contains("Save-Package=000")) << log.Text();
        EXPECT_TRUE(log.Contains("ERROR: The saved package " + package + " is not whole: " + name +
                                 " is missing or empty"))
            << log.Text();
        EXPECT_EQ(TreeText(package), before);
      }
    }
    return IDCANCEL;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_FALSE(workflow.Execute());
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
}

// The save script's last write, the revision line in package-version.cmd, is checked like its
// copies: on a disk with room for every copy but not for that line (the version file fills its
// page) the save fails and the old package comes back; with one page more it is saved whole.
TEST_F(WorkflowTest, ARevisionLineThatCannotBeWrittenFailsTheSave) {
  SmallVolume volume("2m");
  if (!volume.Mounted()) GTEST_SKIP() << "no small file system could be mounted (needs root)";
  ASSERT_TRUE(volume.LinkFolder(paths.tempFolder, "Temp"));
  ASSERT_TRUE(volume.LinkFolder(paths.packagesFolder, "Packages"));
  const std::string package = MakePackage("10.0.0.1");
  ToolRegistry registry;
  registry.SetNumber("NoKitsmithCleanup", 1);  // the assembly folder stays from save to save
  PickNewPackage1();
  constexpr LONG kPage = 4096;
  constexpr LONG kPagesTheCopiesTake = 12;  // each file the script copies fits a page
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    const std::string version =
        paths.tempFolder + "\\PackAsm-" + workflow.OperationId() + "\\package-version.cmd";
    std::string text = ReadTextFile(version);
    text.resize(kPage - 2, ' ');
    WriteTextFile(version, text + "\r\n");
    working.Find("RA")->SetFromText(L"10.9.9.9", AuthCfg::kEditor);
    for (const bool room : {false, true}) {
      SCOPED_TRACE(room ? "room for the line" : "no room for the line");
      const std::string before = TreeText(package);
      {
        FillingPlatform filling(volume, "Save-Package.cmd",
                                (kPagesTheCopiesTake + (room ? 1 : 0)) * kPage);
        EXPECT_EQ(workflow.SavePackage(2, false), room);
      }
      volume.Free();
      if (room)
        EXPECT_NE(ReadTextFile(package + "\\package-version.cmd").find("set packagerevision=2"),
                  std::string::npos);
      else
        EXPECT_EQ(TreeText(package), before);
    }
    return IDOK;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_TRUE(workflow.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
}

// A backup that cannot be removed keeps its record and is named as it is; a later start
// finishes the removal.
TEST_F(WorkflowTest, BackupThatCannotBeRemovedIsRemovedLater) {
  const std::string package = MakePackage("10.0.0.1");
  WriteTextFile(package + "\\locked.txt", "r");
  SetFileAttributesA((package + "\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  std::string backup;
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet&) {
    backup = paths.tempFolder + "\\PackBak-" + workflow.OperationId();
    EXPECT_TRUE(workflow.SavePackage(4, false));
    return IDOK;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_TRUE(workflow.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[4] RA[10.0.0.1] RP[139] LD[1] ");
  EXPECT_NE(log.Text().find("ERROR: Could not remove the old package's backup " + backup +
                            ".part; a later start removes it"),
            std::string::npos);
  EXPECT_EQ(log.Text().find("Removed the old package's backup"), std::string::npos);
  EXPECT_TRUE(PathExists(backup + ".txt"));

  log.Clear();
  PackageBackup::RecoverLeftovers();  // still read-only: tried again, kept, no box
  EXPECT_NE(log.Text().find("WARNING: Could not remove the old package's backup " + backup), std::string::npos);
  EXPECT_TRUE(PathExists(backup + ".txt"));
  SetFileAttributesA((backup + ".part\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  log.Clear();
  PackageBackup::RecoverLeftovers();
  EXPECT_NE(log.Text().find("Removed the old package's backup " + backup + " left by an earlier save"),
            std::string::npos);
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
  EXPECT_TRUE(platform.Boxes().empty());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[4] RA[10.0.0.1] RP[139] LD[1] ");
}

// A package folder that is a directory link (a host link, which Wine shows as a reparse
// point) is copied aside, and then the link itself goes: neither the save nor the removal of
// the backup touch what it points at. Wine can take no host link away, so there the save fails
// with the package as it was; where the link goes, the new package is a folder of its own.
TEST_F(WorkflowTest, PackageThatIsALinkKeepsItsTargetWhole) {
  const std::string package = MakePackage("10.0.0.1");
  ScratchDir outside;
  ASSERT_TRUE(RunHostScript(outside, "mv '" + HostPath(package) + "' " + outside.UnixPath() + "/target && ln -s " +
                                         outside.UnixPath() + "/target '" + HostPath(package) + "'"));
  ASSERT_TRUE(GetFileAttributesA(package.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  const std::string target = outside / "target";
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  std::string before;
  bool saved = false;
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet&) {
    before = TreeText(target);  // with the edit operation's replay file
    saved = workflow.SavePackage(6, false);
    return IDOK;
  };
  EditPackageWorkflow workflow(nullptr);
  EXPECT_TRUE(workflow.Execute());
  EXPECT_EQ(TreeText(target), before);
  EXPECT_NE(before.find("Idagent.cfg: CS[2] CR[1] RA[10.0.0.1]"), std::string::npos);
  if (saved) {
    EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[6] RA[10.0.0.1] RP[139] LD[1] ");
    EXPECT_FALSE(GetFileAttributesA(package.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
  } else {
    EXPECT_TRUE(GetFileAttributesA(package.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    EXPECT_NE(log.Text().find("ERROR: Could not remove the link " + package + " after copying the old package"),
              std::string::npos);
  }
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
  PackageBackup::RecoverLeftovers();
  EXPECT_EQ(TreeText(target), before);
  EXPECT_TRUE(platform.Boxes().empty());
}

// A save ended at any step loses nothing: until it was confirmed the next start puts the old
// package back and keeps what the save left aside; once confirmed the new package stays and
// the backup goes. Only an undone save is told in a box, and only once.
TEST_F(WorkflowTest, SaveCutShortAtEachStepLosesNothing) {
  const std::string oldConfig = "CS[2] CR[1] RA[10.0.0.1] RP[139] LD[1] ";
  const std::string newConfig = "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ";
  const std::string id = "00000001-0000-0000-0000-000000000000";
  const struct {
    const char* step;
    bool newStays;
    const char* asideConfig;  // what the save left, kept in Temp; null: nothing was there
  } cases[] = {{"record written", false, nullptr}, {"package moved aside", false, nullptr},
               {"script", false, "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] "},
               {"package checked", false, "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] "},
               {"save confirmed", true, nullptr}, {"backup removal begun", true, nullptr},
               {"backup removed", true, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    DataRootEnvironment::Empty();
    const std::string package = MakePackage("10.0.0.1");
    const std::string before = TreeText(package);
    ASSERT_TRUE(RunCutShortSave(c.step));
    const bool undone = !c.newStays && std::string(c.step) != "record written";
    if (undone) platform.ExpectBox(IDOK, "Saves cut short before they were confirmed; the old package is back in:\n" + package);
    log.Clear();
    PackageBackup::RecoverLeftovers();
    EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), c.newStays ? newConfig : oldConfig);
    if (!c.newStays) {
      DeleteFileA((package + "\\Test-Edit-Package.cmd").c_str());  // the cut operation's replay file
      EXPECT_EQ(TreeText(package), before);
    }
    EXPECT_TRUE(PathExists(package + "\\Edit-Package.cmd"));
    EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
    const std::string aside = paths.tempFolder + "\\PackUnconfirmed-" + id;
    if (c.asideConfig) {
      EXPECT_EQ(ReadTextFile(aside + "\\Idagent.cfg"), c.asideConfig);
      ExpectInOrder(log.Text(), {"Putting back the old package " + package, "Moved the unconfirmed package folder " +
                                     package + " aside to " + aside, "Restored the old package " + package});
    } else {
      EXPECT_TRUE(NamesIn(paths.tempFolder, "PackUnconfirmed-").empty());
    }
    if (c.newStays) {
      EXPECT_NE(log.Text().find("Removed the old package's backup"), std::string::npos);
    }
    // Nothing is left for the next start to do or to say.
    const std::string settled = TreeText(package);
    const size_t boxes = platform.Boxes().size();
    log.Clear();
    PackageBackup::RecoverLeftovers();
    EXPECT_EQ(TreeText(package), settled);
    EXPECT_EQ(platform.Boxes().size(), boxes);
    EXPECT_EQ(log.Text(), "");
  }
}

// A save cut short leaves the old package only in its backup; the next operation first puts
// it back. A backup whose package holds a configuration of its own is named and kept.
TEST_F(WorkflowTest, SaveCutShortByACrashIsPutBackAtTheNextStart) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string config = ReadTextFile(package + "\\Idagent.cfg");
  const std::string view = ReadTextFile(package + "\\Packages-View.html");
  ASSERT_TRUE(RunCutShortSave("script"));

  // The real script had copied the new configuration into the package folder first.
  const std::string id = "00000001-0000-0000-0000-000000000000";
  const std::string backup = paths.tempFolder + "\\PackBak-" + id;
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
  EXPECT_EQ(ReadTextFile(backup + "\\Idagent.cfg"), config);
  const auto listed = [](DialogActions& ui) {
    EXPECT_EQ(ui.ListItems(IDC_PACKAGE_LIST), (std::vector<std::string>{"New Package 1"}));
    ui.PressCancel();
  };
  const std::string aside = paths.tempFolder + "\\PackUnconfirmed-" + id;
  platform.ExpectBox(IDOK, "Saves cut short before they were confirmed; the old package is back in:\n" + package +
                               " (what the save left is kept in ");
  driver.When(IDD_PACKAGE_SAVE_OPEN, listed);
  EditPackageWorkflow next(nullptr);
  EXPECT_FALSE(next.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), config);
  EXPECT_EQ(ReadTextFile(package + "\\Packages-View.html"), view);
  EXPECT_EQ(ReadTextFile(aside + "\\Idagent.cfg"), "CS[2] CR[2] RA[10.9.9.9] RP[139] LD[1] ");
  EXPECT_TRUE(BackupsLeft(paths.tempFolder).empty());
  ExpectInOrder(
      log.Text(),
      {"Starting edit package operation",
       "Putting back the old package " + package + " left in " + backup + " by an earlier save",
       "Moved the unconfirmed package folder " + package + " aside to " + aside,
       "Restored the old package " + package});

  const std::string kept = paths.tempFolder + "\\PackBak-kept";
  ScratchDir host;
  ASSERT_TRUE(RunHostScript(host, "cp -r '" + HostPath(package) + "' " + HostPath(kept)));
  WriteTextFile(kept + ".txt", package + "\r\nkept       \r\n");  // a save that could not put it back
  // A record that names no package folder under Packages puts nothing anywhere.
  const std::string stray = paths.tempFolder + "\\PackBak-stray";
  const std::string elsewhere = paths.dataRoot + "\\elsewhere";
  ASSERT_TRUE(CreatePath(stray + "\\"));
  ASSERT_TRUE(CreatePath(elsewhere + "\\"));
  WriteTextFile(elsewhere + "\\keep.txt", "mine");
  WriteTextFile(stray + ".txt", elsewhere);
  platform.ExpectBox(IDOK, "Old packages left by earlier saves are kept in:\n");
  driver.When(IDD_PACKAGE_SAVE_OPEN, listed);
  EditPackageWorkflow again(nullptr);
  EXPECT_FALSE(again.Execute());
  EXPECT_EQ(ReadTextFile(kept + "\\Idagent.cfg"), config);
  EXPECT_TRUE(PathExists(kept + ".txt"));
  EXPECT_EQ(ReadTextFile(elsewhere + "\\keep.txt"), "mine");
  EXPECT_TRUE(PathExists(stray));
  const std::string keptLine = kept + " (its package " + package + " holds a configuration file)";
  const std::string strayLine = stray + " (its package is not known)";
  for (const std::string& line : {keptLine, strayLine}) {
    EXPECT_NE(log.Text().find("WARNING: An old package left by an earlier save is kept in " + line + "\r\n"),
              std::string::npos)
        << line;
    ASSERT_FALSE(platform.Boxes().empty());
    EXPECT_NE(platform.Boxes().back().text.find("\n" + line), std::string::npos) << platform.Boxes().back().text;
  }
}

// Package and data folders may hold & ^ ( ) and blanks: the real scripts echo them in quotes,
// run no part of them, and write their errors file where it belongs.
TEST_F(WorkflowTest, PackageNamedWithCommandCharactersThroughTheRealScripts) {
  const std::string package = paths.packagesFolder + "\\Sales & Support (^1)";
  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    workflow.SetPackagePath(package);
    working.Find("RA")->SetFromText(L"10.0.0.1", AuthCfg::kEditor);
    EXPECT_TRUE(workflow.SavePackage(-1, false));
    // Without package-version.cmd in the assembly folder the script fails and says why.
    DeleteFileA((paths.tempFolder + "\\PackAsm-" + workflow.OperationId() + "\\package-version.cmd").c_str());
    EXPECT_FALSE(workflow.SavePackage(-1, false));
    return IDCANCEL;
  };
  NewPackageWorkflow create(nullptr);
  EXPECT_TRUE(create.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[1] RA[10.0.0.1] RP[139] LD[1] ");
  ExpectInOrder(log.Text(), {"Saved revision 1 of package \"" + package + "\"\r\n", "Save-Package=000",
                             "Save-Package=001", "Restored the old package " + package,
                             "Package script reported: Could not save package \"" + package + "\" of operation " +
                                 create.OperationId() + "\r\n"});

  log.Clear();
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "Sales & Support (^1)");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet&) {
    EXPECT_TRUE(workflow.SavePackage(5, false));
    return IDOK;
  };
  EditPackageWorkflow edit(nullptr);
  EXPECT_TRUE(edit.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[5] RA[10.0.0.1] RP[139] LD[1] ");
  ExpectInOrder(log.Text(), {"Prepared edit operation " + edit.OperationId() + " of package \"" + package + "\\\"\r\n",
                             "Edit-Package=000", "Saved revision 5 of package \"" + package + "\"\r\n",
                             "Save-Package=000"});
}

TEST_F(WorkflowTest, EditPackageRefusesAReadOnlyConfiguration) {
  const std::string package = MakePackage("10.0.0.1");
  SetFileAttributesA((package + "\\Idagent.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
  platform.ExpectBox(IDOK, "Configuration file " + package + "\\Idagent.cfg is read-only.");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, 0);
    ui.PressOK();
  });
  EditPackageWorkflow workflow(nullptr);
  EXPECT_FALSE(workflow.Execute());
  SetFileAttributesA((package + "\\Idagent.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_NE(log.Text().find(" FAILED: "), std::string::npos);
  EXPECT_TRUE(Scripts().empty());
  EXPECT_EQ(platform.Boxes()[0].caption, "Qel Identra Deployment Kit Error");
}

// RM[1e999] is a value the tool refuses: the package, Apply Defaults and the default
// configuration's editor all go on with the file's other values, and the log names it.
TEST_F(WorkflowTest, OneRefusedValueCostsOnlyItself) {
  const std::string package = MakePackage("10.0.0.1");
  WriteTextFile(package + "\\Idagent.cfg", "CS[2] CR[3] RA[10.0.0.1; 10.0.0.2] RM[1e999] RH[30000] ");
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    EXPECT_EQ(Option(working, "RA"), "10.0.0.1; 10.0.0.2");
    EXPECT_EQ(Option(working, "RH"), "30000");
    EXPECT_EQ(Option(working, "RM"), "2.000000");
    EXPECT_EQ(working.Find("RM")->source, AuthCfg::kDefault);
    EXPECT_TRUE(workflow.SavePackage(-1, false));
    return IDOK;
  };
  EditPackageWorkflow edit(nullptr);
  EXPECT_TRUE(edit.Execute());
  EXPECT_EQ(ReadTextFile(package + "\\Idagent.cfg"), "CS[2] CR[3] RA[10.0.0.1; 10.0.0.2] RH[30000] ");  // RM left out
  EXPECT_TRUE(log.Contains("WARNING: Option 'RM' in " + package +
                           "\\Idagent.cfg cannot take the value '1e999': it keeps its default 2.000000"))
      << log.Text();

  const std::string defaults = paths.dataRoot + "\\Idagent-default.cfg";
  const std::string text = "CS[2] CR[2] RA[d1;d2] RP[8080] RM[-1e999] UQ[cn=%1] ";
  WriteTextFile(defaults, text);
  CfgSet applied;
  ASSERT_TRUE(edit.LoadDefaultConfig(applied));  // what Apply Defaults loads
  EXPECT_EQ(Option(applied, "RA"), "d1;d2");
  EXPECT_EQ(Option(applied, "RP"), "8080");
  EXPECT_EQ(Option(applied, "CR"), "3");  // raised to the package's
  EXPECT_EQ(Option(applied, "RM"), "2.000000");

  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    EXPECT_EQ(Option(working, "RA"), "d1;d2");
    EXPECT_EQ(Option(working, "UQ"), "cn=%1");
    working.Find("RH")->SetFromText(L"5000", AuthCfg::kEditor);
    EXPECT_TRUE(workflow.SaveDefaultConfig());
    return IDOK;
  };
  EditDefaultConfigWorkflow editDefaults(nullptr);
  EXPECT_TRUE(editDefaults.Execute());
  EXPECT_EQ(ReadTextFile(defaults), "CS[2] CR[2] RA[d1;d2] RP[8080] UQ[cn=%1] RH[5000] ");
  EXPECT_FALSE(PathExists(defaults + ".unreadable-1"));  // it was read: nothing to keep
  EXPECT_TRUE(log.Contains("WARNING: Option 'RM' in " + defaults + " cannot take the value '-1e999'")) << log.Text();
}

// A default configuration that cannot be read is kept beside itself, under a name no earlier
// kept copy has, before the first save writes over it; one that cannot be kept is not written.
TEST_F(WorkflowTest, AnUnreadableDefaultConfigurationIsKeptBeforeItIsWrittenOver) {
  const std::string defaults = paths.dataRoot + "\\Idagent-default.cfg";
  auto saveDefaults = [&](bool expected) {
    g_editorAction = [expected](MaintWorkflow_base& workflow, CfgSet& working) {
      EXPECT_EQ(Option(working, "RP"), "139");  // the built-in defaults
      working.Find("RA")->SetFromText(L"10.0.0.9", AuthCfg::kEditor);
      EXPECT_EQ(workflow.SaveDefaultConfig(), expected);
      return IDOK;
    };
    EditDefaultConfigWorkflow workflow(nullptr);
    workflow.Execute();
  };
  const std::string garbled = "CS[2] CR[5] RA[10.0.0.1] RP[140] LD[3";
  WriteTextFile(defaults, garbled);
  saveDefaults(true);
  EXPECT_EQ(ReadTextFile(defaults + ".unreadable-1"), garbled);
  EXPECT_EQ(ReadTextFile(defaults), "CS[2] CR[0] RA[10.0.0.9] ");
  EXPECT_TRUE(log.Contains("WARNING: " + defaults + " cannot be read as a configuration; before it is written over "
                           "it is kept as " + defaults + ".unreadable-1")) << log.Text();

  // A second garbled file goes beside the first, which stays as it was.
  WriteTextFile(defaults, "\x01\x02 binary");
  saveDefaults(true);
  EXPECT_EQ(ReadTextFile(defaults + ".unreadable-1"), garbled);
  EXPECT_EQ(ReadTextFile(defaults + ".unreadable-2"), "\x01\x02 binary");
  // Saving again over the file just written keeps nothing more; neither does an empty file.
  saveDefaults(true);
  WriteTextFile(defaults, "");
  saveDefaults(true);
  EXPECT_FALSE(PathExists(defaults + ".unreadable-3"));

  // A file no one may read or move just now can be neither kept nor written over.
  WriteTextFile(defaults, garbled);
  {
    const HandleHolder held(CreateFileA(defaults.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.Valid());
    log.Clear();
    saveDefaults(false);
    EXPECT_TRUE(log.Contains("ERROR: " + defaults + " cannot be read and could not be kept beside itself (error "))
        << log.Text();
  }
  EXPECT_EQ(ReadTextFile(defaults), garbled);
  EXPECT_FALSE(PathExists(defaults + ".unreadable-3"));
}

TEST_F(WorkflowTest, EditDefaultsStartsFromBuiltInDefaultsWithoutAFile) {
  const std::string file = paths.dataRoot + "\\Idagent-default.cfg";
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    EXPECT_EQ(workflow.SourceFolder(), file);
    EXPECT_EQ(working.Size(), 23u);
    EXPECT_EQ(workflow.Baseline().Size(), 23u);
    working.Find("RP")->SetFromText(L"200", AuthCfg::kEditor);
    EXPECT_TRUE(workflow.SaveDefaultConfig());
    return IDOK;
  };
  EditDefaultConfigWorkflow first(nullptr);
  EXPECT_TRUE(first.Execute());
  EXPECT_NE(log.Text().find("No default configuration " + file + " yet: starting from the built-in defaults"),
            std::string::npos);
  EXPECT_EQ(ReadTextFile(file), "CS[2] CR[0] RP[200] ");

  g_editorAction = [&](MaintWorkflow_base&, CfgSet& working) {
    EXPECT_EQ(Option(working, "RP"), "200");
    return IDCANCEL;
  };
  EditDefaultConfigWorkflow second(nullptr);
  EXPECT_FALSE(second.Execute());
  EXPECT_NE(log.Text().find("Operation " + second.OperationId() + " canceled by user"), std::string::npos);
}

TEST_F(WorkflowTest, DefaultsRaiseAnEditedPackagesRevision) {
  const std::string file = paths.dataRoot + "\\Idagent-default.cfg";
  EditPackageWorkflow edit(nullptr);
  edit.Baseline().ResetToDefaults();
  SetRevision(edit.Baseline(), 8);
  for (const auto& [defaults, expected] : std::vector<std::pair<std::string, std::string>>{{"3", "8"}, {"12", "12"}}) {
    WriteTextFile(file, "CS[2] CR[" + defaults + "] RA[d] ");
    CfgSet target;
    ASSERT_TRUE(edit.LoadDefaultConfig(target));
    EXPECT_EQ(Option(target, "CR"), expected);
    EXPECT_EQ(Option(target, "RA"), "d");
  }
  NewPackageWorkflow other(nullptr);
  other.Baseline().ResetToDefaults();
  SetRevision(other.Baseline(), 8);
  CfgSet target;
  ASSERT_TRUE(other.LoadDefaultConfig(target));
  EXPECT_EQ(Option(target, "CR"), "12");

  DeleteFileA(file.c_str());
  CfgSet untouched;
  EXPECT_FALSE(edit.LoadDefaultConfig(untouched));
  EXPECT_TRUE(untouched.Empty());
  EXPECT_NE(log.Text().find("Load Defaults Configuration file failed : "), std::string::npos);
}

// The scripts run from Temp and its assembly folders as this user. The folders the tool makes
// for them are this user's, SYSTEM's and Administrators' alone (an edit makes Temp before its
// script can; an assembly folder a script makes inherits Temp's list on Windows, which Wine
// does not show); an operation in an existing Temp that others may write to is warned of
// before it runs, and runs.
TEST_F(WorkflowTest, FoldersTheScriptsRunFromArePrivateAndAnOpenTempIsWarnedOf) {
  NewPackageWorkflow unprepared(nullptr);
  unprepared.Working().ResetToDefaults();
  EXPECT_FALSE(unprepared.SavePackage(-1, false));  // no script in the assembly folder it made
  ExpectPrivateFolder(paths.tempFolder);
  ExpectPrivateFolder(paths.tempFolder + "\\PackAsm-" + unprepared.OperationId());
  ASSERT_TRUE(RunHostScript(ScratchDir(), "rm -rf '" + HostPath(paths.tempFolder) + "'"));
  log.Clear();

  driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet& working) {
    working.Find("RA")->SetFromText(L"10.0.0.1", AuthCfg::kEditor);
    EXPECT_TRUE(workflow.SavePackage(-1, false));
    ExpectPrivateFolder(paths.tempFolder);
    ExpectPrivateFolder(paths.packagesFolder);
    return IDCANCEL;
  };
  NewPackageWorkflow made(nullptr);
  ASSERT_TRUE(made.Execute());
  EXPECT_EQ(log.Text().find("WARNING"), std::string::npos) << log.Text();

  ASSERT_TRUE(RunHostScript(ScratchDir(), "rm -rf '" + HostPath(paths.tempFolder) + "'"));
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base&, CfgSet&) {
    ExpectPrivateFolder(paths.tempFolder);
    return IDOK;
  };
  EditPackageWorkflow edited(nullptr);
  EXPECT_TRUE(edited.Execute());

  ASSERT_TRUE(SetHostMode(paths.tempFolder, "0777"));
  log.Clear();
  driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& ui) {
    ui.PickListItem(IDC_PACKAGE_LIST, "New Package 1");
    ui.PressOK();
  });
  g_editorAction = [&](MaintWorkflow_base& workflow, CfgSet&) { return workflow.SavePackage(-1, false) ? IDOK : IDCANCEL; };
  EditPackageWorkflow open(nullptr);
  EXPECT_TRUE(open.Execute());
  ExpectInOrder(log.Text(), {"Starting edit package operation with ID " + open.OperationId() + "\r\n",
                             "WARNING: Other accounts may write to " + paths.tempFolder +
                                 " (Everyone (S-1-1-0)); the package scripts run from there could be changed by them\r\n",
                             "Edit-Package=000", "Save-Package=000", "(edit package) succeeded."});
}

// Every folder a script runs from or a configuration is taken from, when others may write to
// it, is named before the operation's script runs; the operation still runs.
TEST_F(WorkflowTest, FoldersOthersMayWriteAreNamedBeforeTheScriptsRun) {
  const std::string package = MakePackage("10.0.0.1");
  const std::string version = paths.prototypesFolder + "\\2.1";
  const struct {
    std::string folder;
    const char* what;
    bool edit;  // else a new package
  } cases[] = {{paths.dataRoot, "the default configuration read from there", true},
               {paths.packagesFolder, "the packages kept there", true},
               {package, "the script and configuration taken from there", true},
               {paths.prototypesFolder, "the prototype scripts run from there", false},
               {version, "the script run from there", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    log.Clear();
    OpenToEveryone open(c.folder);
    ASSERT_TRUE(open.Opened());
    g_editorAction = [](MaintWorkflow_base&, CfgSet&) { return IDCANCEL; };
    std::unique_ptr<MaintWorkflow_base> workflow;
    if (c.edit) {
      PickNewPackage1();
      workflow = std::make_unique<EditPackageWorkflow>(nullptr);
    } else {
      driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& ui) { ui.PressOK(); });
      workflow = std::make_unique<NewPackageWorkflow>(nullptr);
    }
    workflow->Execute();
    const std::string script =
        c.edit ? package + "\\Edit-Package.cmd" : version + "\\Create-Package.cmd";
    ExpectInOrder(
        log.Text(),
        {"WARNING: Other accounts may write to " + c.folder + " (Everyone (S-1-1-0)); " + c.what +
             " could be changed by them\r\n",
         "Executing script " + script, c.edit ? "Edit-Package=000" : "Create-Package=000"});
  }
}

TEST_F(WorkflowTest, NextNewPackagePathSkipsExistingFolders) {
  NewPackageWorkflow workflow(nullptr);
  CreatePath(paths.packagesFolder + "\\New Package 2\\");
  WriteTextFile(paths.packagesFolder + "\\New Package 1", "a file does not count");
  EXPECT_EQ(workflow.NextNewPackagePath(), paths.packagesFolder + "\\New Package 1");
  DeleteFileA((paths.packagesFolder + "\\New Package 1").c_str());
  CreatePath(paths.packagesFolder + "\\New Package 1\\");
  EXPECT_EQ(workflow.NextNewPackagePath(), paths.packagesFolder + "\\New Package 3");
}

TEST_F(WorkflowTest, SaveRefusesTargetsOutsidePackagesAndAMissingScript) {
  NewPackageWorkflow workflow(nullptr);
  workflow.Working().ResetToDefaults();
  workflow.Baseline().ResetToDefaults();
  EXPECT_FALSE(workflow.SavePackage(-1, false));  // no assembly script yet
  const std::string assembly = paths.tempFolder + "\\PackAsm-" + workflow.OperationId();
  WriteTextFile(assembly + "\\Save-Package.cmd", "@echo Save-Package=000\r\n");
  for (const std::string& target : {paths.tempFolder + "\\x", paths.packagesFolder, paths.packagesFolder + "\\a\\b",
                                    paths.packagesFolder + "\\..\\Temp", std::string("C:\\x")}) {
    workflow.SetPackagePath(target);
    EXPECT_FALSE(workflow.SavePackage(-1, false)) << target;
  }
  EXPECT_TRUE(Scripts().empty());
  EXPECT_NE(log.Text().find("is not a package folder directly under " + paths.packagesFolder), std::string::npos);
  EXPECT_NE(log.Text().find("ERROR: Script " + assembly + "\\Save-Package.cmd was not found"), std::string::npos);
}

// The view writer's self-test writes the view of its example set to K:, in text mode: a row
// for each option read (also one at its default value), none for CS or untouched options.
TEST(CfgViewSelfTest, WritesTheExampleViewOnDriveK) {
  TestDriveK drive;
  ASSERT_TRUE(drive.Mapped());
  EXPECT_FALSE(CfgViewSelfTest());  // no folder for it yet
  for (const char* folder : {"K:\\Windows", "K:\\Windows\\Test", "K:\\Windows\\Test\\cfgview"})
    ASSERT_TRUE(CreateDirectoryA(folder, nullptr)) << folder;
  ASSERT_TRUE(CfgViewSelfTest());
  const std::string view = ReadTextFile("K:\\Windows\\Test\\cfgview\\Cfg-View.html");
  EXPECT_EQ(view.rfind("<!DOCTYPE html PUBLIC '-//W3C//DTD XHTML 1.0 Transitional//EN' ", 0), 0u) << view;
  for (const char* row : {"<tr><td>CR</td><td>7</td>", "<tr><td>RA</td><td>10.0.0.1;appliance.example:8080</td>",
                          "<tr><td>RP</td><td>139</td><td>Server host port number.</td></tr>\r\n",
                          "<tr><td>LD</td><td>1</td>", "<tr><td>RH</td><td>30000</td>"})
    EXPECT_NE(view.find(row), std::string::npos) << row;
  EXPECT_EQ(view.find("<td>CS</td>"), std::string::npos);
  EXPECT_EQ(view.find("<td>WI</td>"), std::string::npos);
  EXPECT_EQ(view.substr(view.size() - 16), "</body></html>\r\n");
}

TEST(OperationTypeName, Names) {
  EXPECT_STREQ(OperationTypeName(1), "new package");
  EXPECT_STREQ(OperationTypeName(2), "edit package");
  EXPECT_STREQ(OperationTypeName(3), "edit default configuration");
  EXPECT_STREQ(OperationTypeName(0), "<unknown operation>");
  EXPECT_STREQ(OperationTypeName(4), "<unknown operation>");
}

}  // namespace
