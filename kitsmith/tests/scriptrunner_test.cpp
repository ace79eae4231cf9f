// ConExec and MaintScriptExec with Wine's real command interpreter and small fixture scripts.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "packages/ConExec.h"
#include "KitTestSupport.h"
#include "packages/MaintScriptExec.h"
#include "ScriptedPlatform.h"

namespace {

std::string Backslashed(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

const std::string kScript = Backslashed(KIT_TEST_SCRIPTS) + "\\Create-Package.cmd";

std::string SystemCmd() {
  char system[MAX_PATH + 1] = {};
  GetSystemDirectoryA(system, MAX_PATH);
  return std::string(system) + "\\cmd.exe";
}

TEST(ConExec, CapturesOutputAndExitCode) {
  ConExec echo("", "/C echo hello", "");
  EXPECT_EQ(echo.Status(), 0);
  EXPECT_EQ(echo.Message(), "");
  EXPECT_EQ(echo.OutputText(), "hello\r\n");

  ConExec code("cmd", "/C exit 5", "");
  EXPECT_EQ(code.Status(), 5);

  ScratchDir dir;
  ConExec where("", "/C cd", dir.Path());
  EXPECT_EQ(where.OutputText(), dir.Path() + "\r\n");
}

TEST(ConExec, StandardInputFromText) {
  ConExecParams params;
  params.commandLine = "/Q";
  params.stdinText = "echo from-stdin\r\nexit 7\r\n";
  ConExec run(params);
  EXPECT_EQ(run.Status(), 7);
  EXPECT_NE(run.OutputText().find("from-stdin"), std::string::npos) << run.OutputText();
}

TEST(ConExec, GivenOutputFileIsRemovedAfterwards) {
  ScratchDir dir;
  ConExecParams params;
  params.commandLine = "/C echo kept";
  params.stdoutPath = dir / "out.txt";
  {
    ConExec run(params);
    EXPECT_EQ(ReadTextFile(dir / "out.txt"), "kept\r\n");
    EXPECT_EQ(run.OutputText(), "kept\r\n");
  }
  EXPECT_FALSE(PathExists(dir / "out.txt"));

  params.stdoutPath = dir / "missing\\out.txt";
  ConExec unwritable(params);
  EXPECT_EQ(unwritable.Status(), -1);
  EXPECT_EQ(unwritable.Message().rfind("Unable to create stdout handle to file '" + dir / "missing\\out.txt" + "' :", 0),
            0u)
      << unwritable.Message();
  EXPECT_EQ(unwritable.OutputText(), "");
}

TEST(ConExec, MissingProgramLeavesNoStatus) {
  ConExec run("Z:\\no\\such\\program.exe", "program.exe", "");
  EXPECT_EQ(run.Status(), -1);
  EXPECT_EQ(run.Message().rfind("ConExec failed in CreateProcess: ", 0), 0u) << run.Message();
  EXPECT_EQ(run.OutputText(), "");
}

// Runs only inside the child started by the test below.
TEST(ConExec, NoConsoleChild) {
  if (GetEnvironmentVariableA("CONEXEC_NO_CONSOLE_CHILD", nullptr, 0) == 0) GTEST_SKIP() << "child part";
  ScratchDir dir;
  ConExecParams params;
  params.commandLine = "/C echo Probe=000";
  for (const std::string& path : {std::string(), dir / "out.txt"}) {
    params.stdoutPath = path;
    {
      ConExec run(params);
      EXPECT_EQ(run.Status(), 0);
      EXPECT_EQ(run.OutputText(), "Probe=000\r\n");
    }
    // Gone once the console host has let go of it.
    for (int i = 0; i < 100 && !path.empty() && PathExists(path); ++i) Sleep(50);
    if (!path.empty()) {
      EXPECT_FALSE(PathExists(path));
    }
  }
}

// The tool is a windowed program without a console: the interpreter then gets a console of its
// own, whose host inherits the output handle and may hold it a moment after the interpreter
// has ended. The output must still be read, and its file removed. The case runs in a child
// of this test program started without a console, whatever console the test itself has.
TEST(ConExec, ReadsTheOutputWhenTheProgramHasNoConsole) {
  char self[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  ScratchDir dir;
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HandleHolder report(CreateFileA((dir / "child.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_NE(report.Get(), INVALID_HANDLE_VALUE);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = report.Get();
  PROCESS_INFORMATION child = {};
  std::string line =
      "\"" + std::string(self) + "\" --gtest_filter=ConExec.NoConsoleChild";
  SetEnvironmentVariableA("CONEXEC_NO_CONSOLE_CHILD", "1");
  const bool started = StartRetried([&] {
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                          nullptr, &startup, &child);
  });
  SetEnvironmentVariableA("CONEXEC_NO_CONSOLE_CHILD", nullptr);
  ASSERT_TRUE(started);
  HandleHolder process(child.hProcess), thread(child.hThread);
  ASSERT_EQ(WaitForSingleObject(child.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  report.Close();
  const std::string output = ReadTextFile(dir / "child.txt");
  EXPECT_EQ(code, 0u) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

// Without TEMP the system's temporary folder takes the output; the interpreter is the system
// directory's even when the search path offers another first.
TEST(ConExec, TemporaryFolderAndInterpreterDoNotComeFromTheEnvironment) {
  ScratchDir dir;
  WriteTextFile(dir / "cmd.exe", "not a program");
  char oldPath[32768] = {}, oldTemp[MAX_PATH + 1] = {};
  GetEnvironmentVariableA("PATH", oldPath, sizeof(oldPath));
  GetEnvironmentVariableA("TEMP", oldTemp, sizeof(oldTemp));
  SetEnvironmentVariableA("PATH", (dir.Path() + ";" + oldPath).c_str());
  SetEnvironmentVariableA("TEMP", nullptr);

  EXPECT_EQ(CommandInterpreterPath(), SystemCmd());
  ConExec run("", "/C echo fine", "");
  EXPECT_EQ(run.Status(), 0);
  EXPECT_EQ(run.OutputText(), "fine\r\n");

  SetEnvironmentVariableA("PATH", oldPath);
  SetEnvironmentVariableA("TEMP", oldTemp);
}

// The older system family (the version's high bit) names the Windows folder's command.com,
// or nothing while it is missing; the runner keeps to cmd.exe whatever the version says.
TEST(ConExec, OlderSystemFamilyNamesCommandComTheRunnerStillTakesCmd) {
  char windows[MAX_PATH + 1] = {};
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  const std::string commandCom = std::string(windows) + "\\command.com";
  struct Removed {
    std::string path;
    ~Removed() { DeleteFileA(path.c_str()); }
  } removed{commandCom};
  DeleteFileA(commandCom.c_str());

  ScriptedPlatform platform;
  EXPECT_EQ(platform.SystemVersion() & 0x80000000u, 0u);  // this system is of the newer family
  EXPECT_EQ(CommandInterpreterPath(), SystemCmd());
  platform.systemVersion = 0xC0000A04;  // 4.10 of the older family
  EXPECT_EQ(CommandInterpreterPath(), "");
  WriteTextFile(commandCom, "stand-in");
  EXPECT_EQ(CommandInterpreterPath(), commandCom);

  ConExec run("", "/C echo fine", "");
  EXPECT_EQ(run.OutputText(), "fine\r\n");
  ASSERT_EQ(platform.ProcessRuns().size(), 1u);
  EXPECT_EQ(platform.ProcessRuns()[0].program, SystemCmd());
}

TEST(DeleteFileWithRetry, WaitsForAHolderToLetGo) {
  ScratchDir dir;
  const std::string path = dir / "held.txt";
  EXPECT_TRUE(DeleteFileWithRetry(dir / "never-there.txt", 0));

  WriteTextFile(path, "x");
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileWithRetry(path, 400));
  EXPECT_TRUE(PathExists(path));
  std::thread release([held] {
    Sleep(300);
    CloseHandle(held);
  });
  EXPECT_TRUE(DeleteFileWithRetry(path, 5000));
  release.join();
  EXPECT_FALSE(PathExists(path));
}

TEST(MaintScriptExec, ExitCodeFromInterpreterAndOutput) {
  struct Case {
    std::string tail;
    int exit;
    int code;
    bool parseError;
  } cases[] = {
      {"Create-Package=003", 0, 3, false}, {"Create-Package=000", 0, 0, false},
      {"Create-Package: 000", 0, -1, true}, {"Create-Package=12", 0, -1, true},
      {"no code at all", 0, -1, true},       {"Create-Package=000", 2, 2, false},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    LogCapture log;
    const MaintScriptExec run(kScript, "\"" + c.tail + "\" " + std::to_string(c.exit), dir.Path(), false);
    EXPECT_TRUE(run.Ran());
    EXPECT_EQ(run.ExitCode(), c.code);
    EXPECT_EQ(run.Succeeded(), c.code == 0);
    EXPECT_NE(run.OutputText().find(c.tail + "\r\n"), std::string::npos) << run.OutputText();
    EXPECT_EQ(log.Text(), c.parseError ? "ERROR: Can't parse exit code from script [" + kScript + "]\r\n" : "");
  }
}

TEST(MaintScriptExec, VerboseRunLogsAndLeavesReplayFile) {
  ScratchDir dir;
  LogCapture log;
  const std::string parameters = "\"Create-Package=003\" 0";
  const MaintScriptExec run(kScript, parameters, dir.Path(), true);
  const std::string output = "Create-Package running in " + dir.Path() + "\r\nCreate-Package=003\r\n";
  EXPECT_EQ(run.OutputText(), output);
  EXPECT_EQ(log.Text(), "Executing script " + kScript + "\r\n    Parameters: " + parameters +
                            "\r\n    Working dir: " + dir.Path() + "\r\n" + output + "\r\n" +
                            "::::: Script exited with code [3] (FAIL):::::\r\n\r\n");
  EXPECT_EQ(ReadTextFile(dir / "Test-Create-Package.cmd"), "%comspec% /C \"\"" + kScript + "\" " + parameters + "\"");
}

TEST(MaintScriptExec, MissingScriptRunsNothing) {
  ScratchDir dir;
  LogCapture log;
  const MaintScriptExec quiet(dir / "Create-Package.cmd", "x", dir.Path(), false);
  EXPECT_FALSE(quiet.Ran());
  EXPECT_EQ(quiet.ExitCode(), 0);
  EXPECT_FALSE(quiet.Succeeded());
  EXPECT_EQ(log.Text(), "");
  EXPECT_FALSE(PathExists(dir / "Test-Create-Package.cmd"));

  const MaintScriptExec verbose(dir / "Create-Package.cmd", "x", dir.Path(), true);
  EXPECT_EQ(log.Text(), "ERROR: Script " + dir / "Create-Package.cmd" + " was not found\r\n");
}

// A script whose interpreter never started says why, not only that it printed no exit code.
TEST(MaintScriptExec, AnInterpreterThatCannotStartIsLoggedWithWhy) {
  ScratchDir dir;
  LogCapture log;
  const MaintScriptExec run(kScript, "\"Create-Package=000\" 0", dir / "missing", false);
  EXPECT_FALSE(run.Succeeded());
  EXPECT_EQ(run.ExitCode(), -1);
  EXPECT_NE(log.Text().find("ERROR: Script " + kScript + ": ConExec failed in CreateProcess: "),
            std::string::npos)
      << log.Text();
}

TEST(MaintScriptExec, ParametersTheInterpreterWouldExpandAreRefused) {
  struct Case {
    std::string parameters;
    bool safe;
  } cases[] = {
      {"", true},
      {"1f0e \"C:\\Temp\" ", true},
      {"1f0e \"C:\\Temp\"  \"C:\\P\\New Package 1\" 3", true},
      {"%PATH%", false},
      {"\"%PATH%\"", false},
      {"a&calc", false},
      {"a|b", false},
      {"\"a\"b", false},
      {"a\"b", false},
      {"\"unclosed", false},
      {"a\tb", false},
      {"\"line\nbreak\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters);
    EXPECT_EQ(MaintScriptExec::SafeParameters(c.parameters), c.safe);
  }

  ScratchDir dir;
  LogCapture log;
  const MaintScriptExec run(kScript, "\"Create-Package=%PATH%\" 0", dir.Path(), true);
  EXPECT_FALSE(run.Ran());
  EXPECT_FALSE(run.Succeeded());
  EXPECT_EQ(run.ExitCode(), -1);
  EXPECT_EQ(run.OutputText(), "");
  EXPECT_NE(log.Text().find("ERROR: Script " + kScript + " not run:"), std::string::npos) << log.Text();
  EXPECT_FALSE(PathExists(dir / "Test-Create-Package.cmd"));
}

TEST(MaintScriptExec, PlatformRunsTheSystemInterpreterHiddenWithTheScriptLine) {
  ScratchDir dir;
  ScriptedPlatform platform;
  platform.runAnswer = RunAnswer{0, "Create-Package=042\r\n"};
  const MaintScriptExec run(kScript, "id \"C:\\Temp\" ", dir.Path(), false);
  ASSERT_EQ(platform.ProcessRuns().size(), 1u);
  const RecordedRun& started = platform.ProcessRuns()[0];
  EXPECT_EQ(started.program, SystemCmd());
  EXPECT_EQ(started.commandLine, "/C \"\"" + kScript + "\" id \"C:\\Temp\" \"");
  EXPECT_EQ(started.folder, dir.Path());
  EXPECT_TRUE(started.hidden);
  EXPECT_TRUE(run.Ran());
  EXPECT_EQ(run.OutputText(), "Create-Package=042\r\n");
  EXPECT_EQ(run.ExitCode(), 42);
}

TEST(MaintScriptExec, ParseExitCodeCases) {
  const std::string script = "D:\\p\\Create-Package.cmd";
  struct Case {
    int status;
    std::string output;
    int code;
  } cases[] = {
      {0, "Create-Package=003", 3},
      {0, "Create-Package 003\r\n", 3},
      {0, "Create-Package=0001234", 1234},
      {0, "Create-Package=123456789", 123456789},
      {0, "Create-Package=1234567890", -1},
      {0, "Create-Package=009 then Create-Package=001", 1},
      {0, "Create-Package=001 then Create-Package", -1},
      {0, "Create-Package=", -1},
      {0, "Create-Package", -1},
      {0, "", -1},
      {0, "create-package=000", -1},
      {2, "Create-Package=000", 2},
      {-1, "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    EXPECT_EQ(MaintScriptExec::ParseExitCode(script, c.status, c.output), c.code);
  }
  EXPECT_EQ(MaintScriptExec::ParseExitCode("D:\\p\\", 0, "=000"), -1);
}

TEST(PathParts, Cases) {
  struct Case {
    std::string path;
    std::string extension, baseName;
    char drive;
    std::string folder;
    bool unc, valid;
  } cases[] = {
      {"D:\\p\\Create-Package.cmd", "cmd", "Create-Package", 'D', "\\p", false, true},
      {"\\\\srv\\share\\x\\y.txt", "txt", "y", 0, "\\\\srv\\share\\x", true, true},
      {"C:\\Kit 1.10\\Save-Package", "", "Save-Package", 'C', "\\Kit 1.10", false, true},
      {"name.tar.gz", "gz", "name.tar", 0, "", false, true},
      {"C:\\", "", "", 'C', "", false, true},
      {"", "", "", 0, "", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const PathParts parts(c.path);
    EXPECT_EQ(parts.extension, c.extension);
    EXPECT_EQ(parts.baseName, c.baseName);
    EXPECT_EQ(parts.drive, c.drive);
    EXPECT_EQ(parts.folder, c.folder);
    EXPECT_EQ(parts.unc, c.unc);
    EXPECT_EQ(parts.valid, c.valid);
  }
  const PathParts longPath("C:\\" + std::string(300, 'a') + ".txt");
  EXPECT_EQ(longPath.fullPath.size(), 260u);
  EXPECT_EQ(longPath.extension, "");
}

}  // namespace
