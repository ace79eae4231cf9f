#include "AgentMain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "AppShutdown.h"
#include "Logging.h"
#include "NetMutex.h"
#include "TavoMain.h"
#include "TestSupport.h"
#include "Utilities.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The real idagent.exe, started beside this test

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

struct AgentRun {
  DWORD exitCode = STILL_ACTIVE;
  std::string log;  // what the agent added to its log, line ends as written
  DWORD processId = 0;

  // The start of every line of this process, after the level tag and the time stamp.
  std::string LinePrefix() const {
    char pid[16];
    std::snprintf(pid, sizeof(pid), "\t%04lu\t ", static_cast<unsigned long>(processId));
    return pid;
  }
  bool HasLine(const std::string& text) const { return log.find(LinePrefix() + text + "\r\n") != std::string::npos; }
  bool WroteAnything() const { return log.find(LinePrefix()) != std::string::npos; }
};

// Runs idagent.exe with the arguments and waits up to timeoutMs for it to end (it is ended
// with status 999 when it does not).
AgentRun RunAgent(const std::wstring& arguments, DWORD timeoutMs = 30000) {
  const std::wstring logPath = DefaultLogPath();
  const size_t before = ReadFileBytes(logPath).size();

  std::wstring line = L"\"" + ProgramFolder() + L"\\idagent.exe\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  AgentRun run;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "idagent.exe did not start: " << GetLastError();
    return run;
  }
  HandleHolder processHandle(process.hProcess);
  CloseHandle(process.hThread);
  run.processId = process.dwProcessId;
  if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 999);
    WaitForSingleObject(process.hProcess, 5000);
  }
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  const std::string log = ReadFileBytes(logPath);
  // A first write of a fresh log path starts the log anew.
  run.log = log.size() >= before ? log.substr(before) : log;
  return run;
}

TEST(VersionSwitch, MatchesVersionAnywhereOrExactlyMinusV) {
  const struct {
    const wchar_t* commandLine;
    bool handled;
  } cases[] = {
      {L"-version", true},
      {L"RA[10.0.0.1] -version LD[4]", true},
      {L"--version", true},
      {L"-v", true},
      {L"-vv", false},
      {L" -v", false},
      {L"-VERSION", false},
      {L"version", false},  // the crowbar's word, not the switch
      {L"", false},
      {nullptr, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsVersionSwitch(c.commandLine), c.handled) << (c.commandLine ? c.commandLine : L"(none)");
}

TEST(AgentProcess, VersionSwitchShowsTheBoxAndEndsWithZero) {
  for (const wchar_t* arguments : {L"RA[127.0.0.1] -version LD[4]", L"--version", L"-v"}) {
    SCOPED_TRACE(testing::Message() << arguments);
    auto box = CloseMessageBoxAsync(L"Identra Version", 20000);
    const AgentRun run = RunAgent(arguments);
    std::wstring text;
    ASSERT_NO_THROW(text = box.get());
    EXPECT_EQ(text.rfind(std::wstring(L"Version: ") + VersionText() + L" \r\nBuilt: ", 0), 0u) << text;
    EXPECT_EQ(text.back(), L'\n');
    EXPECT_EQ(run.exitCode, 0u);
    // Nothing else ran: no configuration was loaded, so not one line was logged.
    EXPECT_FALSE(run.WroteAnything()) << run.log;
  }
}

TEST(AgentProcess, StartUpFailuresEndWithStatusOneAndTheirReason) {
  const struct {
    const wchar_t* arguments;
    const wchar_t* boxCaption;  // a box the agent shows first, or null
    const char* line;
  } cases[] = {
      // -vv is no version switch: it is read as configuration and fails at the missing "[".
      {L"-vv", nullptr, "Startup: configuration parse failed - Command line parse failure with command line {-vv}"},
      // The crowbar command shows its box, then the load fails with an empty reason.
      {L"version", L"Qel Identra", "Startup: configuration parse failed - "},
      {L"VeRsIoN", L"Qel Identra", "Startup: configuration parse failed - "},
      {L"RA[127.0.0.1] RP[0]", nullptr, "Startup: configuration parse failed - ERROR: No valid V7100 server port defined"},
      {L"RP[140]", nullptr, "Startup: configuration parse failed - ERROR: No V7100 server defined"},
      // Not started by the service manager: the dispatcher cannot connect to it.
      {L"-service", nullptr, "AuthServ: Startup: StartServiceCtrlDispatcher failed: 1063"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.arguments);
    std::future<std::wstring> box;
    if (c.boxCaption) box = CloseMessageBoxAsync(c.boxCaption, 20000);
    const AgentRun run = RunAgent(c.arguments);
    if (c.boxCaption) {
      std::wstring text;
      ASSERT_NO_THROW(text = box.get());
      EXPECT_EQ(text.rfind(std::wstring(L"Version: ") + VersionText() + L"\nBuild Time: ", 0), 0u) << text;
    }
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_TRUE(run.HasLine(c.line)) << run.log;
  }
}

// ---------------------------------------------------------------------------------------------
// Service control against a stand-in service manager

constexpr DWORD kLoopEnded = 0xE0D;  // recorded when the stand-in main loop has torn down

struct Report {
  DWORD state;
  DWORD checkpoint;
  DWORD exitCode;
  DWORD specificExitCode;
  DWORD waitHint;
};

struct Recorder {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Report> reports;
  ULONGLONG serviceMainStart = 0;
  ULONGLONG handlerRegistered = 0;

  void Add(const Report& report) {
    std::lock_guard<std::mutex> hold(lock);
    reports.push_back(report);
    changed.notify_all();
  }
  std::vector<Report> Reports() {
    std::lock_guard<std::mutex> hold(lock);
    return reports;
  }
  bool WaitForState(DWORD state, DWORD timeoutMs = 10000) {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
      return std::any_of(reports.begin(), reports.end(), [&](const Report& r) { return r.state == state; });
    });
  }
};
Recorder g_recorder;

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
  EXPECT_EQ(status->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(status->dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  g_recorder.Add({status->dwCurrentState, status->dwCheckPoint, status->dwWin32ExitCode,
                  status->dwServiceSpecificExitCode, status->dwWaitHint});
  return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterStandIn(LPCWSTR name, LPHANDLER_FUNCTION handler) {
  EXPECT_STREQ(name, L"Qel_Auth");
  EXPECT_EQ(handler, &ServiceCtrlHandler);
  g_recorder.handlerRegistered = GetTickCount64();
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5eed);
}

HANDLE WINAPI FailThreadCreation(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

// A main loop of its own on the run thread: a window of the main class that answers the quit
// request like the real one, torn down slowly once the loop ends.
LRESULT CALLBACK StandInWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgQuitRequest && wParam == kQuitRequestCode) {
    PostQuitMessage(0);
    return kMsgQuitAnswer;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

EventHolder g_releaseBody;
EventHolder g_standInWindowReady;

int StandInMainLoop() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = StandInWindowProc;
  windowClass.lpszClassName = kMainWindowClass;
  EXPECT_TRUE(RegisterClassW(&windowClass));
  HWND window = CreateWindowExW(0, kMainWindowClass, kMainWindowName, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  EXPECT_TRUE(window);
  g_standInWindowReady.Set();
  // Also ends when the test gives up, so a failing test cannot hang.
  const HANDLE release = g_releaseBody.Get();
  for (bool quit = false; !quit;) {
    if (MsgWaitForMultipleObjects(1, &release, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0) break;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) quit = true;
      DispatchMessageW(&message);
    }
  }
  Sleep(100);
  g_recorder.Add({kLoopEnded, 0, 0, 0, 0});
  DestroyWindow(window);
  UnregisterClassW(kMainWindowClass, nullptr);
  return 0;
}

// A run thread that never gets to its loop (as while it retries the session registration).
int StuckBody() {
  g_releaseBody.Wait(30000);
  return 0;
}

int FailAtOnce() { return 1; }
int EndAtOnce() { return 0; }
int Throw() { throw std::runtime_error("escaped"); }

class ServiceControl : public testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { Finish(); }

  void Fresh() {
    {
      std::lock_guard<std::mutex> hold(g_recorder.lock);
      g_recorder.reports.clear();
    }
    ResetServiceStateForTest();
    AppShutdown::ResetForTest();
    seams_.startDelayMs = 0;
    seams_.stepMs = 20;
    seams_.quitRequestTimeoutMs = 3000;
    seams_.registerHandler = &RegisterStandIn;
    seams_.setStatus = &RecordStatus;
    SetServiceSeams(seams_);
  }
  void Finish() {
    g_releaseBody.Set();
    ResetServiceStateForTest();
    g_releaseBody.Reset();
    g_standInWindowReady.Reset();
    SetServiceSeams(ServiceSeams{});
    AppShutdown::ResetForTest();
  }

  void Use(int (*body)(), decltype(ServiceSeams::createThread) createThread = &CreateThread) {
    seams_.runThreadBody = body;
    seams_.createThread = createThread;
    SetServiceSeams(seams_);
  }

  // Calls the service main as the service manager would, on a thread of its own; false when
  // it did not return within the time.
  static bool RunServiceMain(std::vector<std::wstring> arguments = {L"Qel_Auth"}, DWORD timeoutMs = 10000) {
    struct Call {
      std::vector<std::wstring> arguments;
      std::vector<LPWSTR> argv;
    };
    auto* call = new Call{std::move(arguments), {}};
    for (std::wstring& argument : call->arguments) call->argv.push_back(argument.data());
    g_recorder.serviceMainStart = GetTickCount64();
    HandleHolder thread(CreateThread(
        nullptr, 0,
        [](void* parameter) -> DWORD {
          auto* c = static_cast<Call*>(parameter);
          authServiceMain(static_cast<DWORD>(c->argv.size()), c->argv.data());
          delete c;
          return 0;
        },
        call, 0, nullptr));
    return WaitForSingleObject(thread.Get(), timeoutMs) == WAIT_OBJECT_0;
  }

  static void ExpectStoppedOnceAndLast(const std::vector<Report>& reports, DWORD exitCode, DWORD specificExitCode) {
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(std::count_if(reports.begin(), reports.end(), [](const Report& r) { return r.state == SERVICE_STOPPED; }),
              1);
    EXPECT_EQ(reports.back().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(reports.back().exitCode, exitCode);
    EXPECT_EQ(reports.back().specificExitCode, specificExitCode);
    for (size_t i = 1; i < reports.size(); ++i) {
      if (reports[i].state == kLoopEnded || reports[i - 1].state == kLoopEnded) continue;
      EXPECT_GE(reports[i].checkpoint, reports[i - 1].checkpoint) << "checkpoint went back at " << i;
    }
  }

  ServiceSeams seams_;
};

TEST_F(ServiceControl, RunThreadThatEndsOnItsOwnStopsTheServiceWithItsOutcome) {
  const struct {
    const char* name;
    int (*body)();
    decltype(ServiceSeams::createThread) createThread;
    DWORD exitCode;
    DWORD specificExitCode;
  } cases[] = {
      {"loop ended on its own", &EndAtOnce, &CreateThread, NO_ERROR, 0},
      {"configuration failed", &FailAtOnce, &CreateThread, ERROR_SERVICE_SPECIFIC_ERROR, 1},
      {"exception escaped", &Throw, &CreateThread, ERROR_SERVICE_SPECIFIC_ERROR, 1},
      {"no run thread", &EndAtOnce, &FailThreadCreation, ERROR_NOT_ENOUGH_MEMORY, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Finish();
    Fresh();
    Use(c.body, c.createThread);
    // The run thread may be over before the service main looks: it must not wait for ever.
    ASSERT_TRUE(RunServiceMain());
    ResetServiceStateForTest();  // waits for the run thread
    const std::vector<Report> reports = g_recorder.Reports();
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().state, static_cast<DWORD>(SERVICE_START_PENDING));
    EXPECT_EQ(reports.front().checkpoint, 0u);
    EXPECT_EQ(reports.front().waitHint, 1000u);
    ExpectStoppedOnceAndLast(reports, c.exitCode, c.specificExitCode);
  }
}

TEST_F(ServiceControl, StopEndsTheMainLoopInOrderBeforeReportingStopped) {
  seams_.startDelayMs = 200;
  seams_.stepMs = 100;
  Use(&StandInMainLoop);
  ASSERT_TRUE(RunServiceMain({L"Qel_Auth", L"RA[1.2.3.4]", L" x"}));
  // (the tick count moves in steps of about 16 ms)
  EXPECT_GE(g_recorder.handlerRegistered - g_recorder.serviceMainStart, 180u) << "the start-up wait was skipped";
  EXPECT_EQ(ServiceCommandLine(), L"Qel_AuthRA[1.2.3.4] x");
  ASSERT_TRUE(g_recorder.WaitForState(SERVICE_RUNNING));
  EXPECT_TRUE(IsRunThreadRunning());
  ASSERT_TRUE(g_standInWindowReady.Wait(10000));

  ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
  std::vector<Report> reports = g_recorder.Reports();
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.back().state, static_cast<DWORD>(SERVICE_RUNNING));

  ServiceCtrlHandler(SERVICE_CONTROL_STOP);
  EXPECT_TRUE(AppShutdown::IsShutdownFinished());
  reports = g_recorder.Reports();
  const auto pending = std::find_if(reports.begin(), reports.end(),
                                    [](const Report& r) { return r.state == SERVICE_STOP_PENDING; });
  ASSERT_NE(pending, reports.end());
  EXPECT_EQ(pending->waitHint, 10000u);
  const auto loopEnded =
      std::find_if(reports.begin(), reports.end(), [](const Report& r) { return r.state == kLoopEnded; });
  ASSERT_NE(loopEnded, reports.end()) << "stopped was reported before the main loop had ended";
  EXPECT_LT(pending, loopEnded);
  ExpectStoppedOnceAndLast(reports, NO_ERROR, 0);

  // Once stopped, nothing more reaches the service manager.
  ServiceCtrlHandler(SERVICE_CONTROL_INTERROGATE);
  ResetServiceStateForTest();
  EXPECT_EQ(g_recorder.Reports().size(), reports.size());
}

TEST_F(ServiceControl, StopDoesNotWaitForARunThreadThatNeverReachedItsLoop) {
  Use(&StuckBody);
  ASSERT_TRUE(RunServiceMain());
  ASSERT_TRUE(g_recorder.WaitForState(SERVICE_RUNNING));

  const ULONGLONG start = GetTickCount64();
  ServiceCtrlHandler(SERVICE_CONTROL_STOP);
  EXPECT_LT(GetTickCount64() - start, 2000u);
  EXPECT_TRUE(AppShutdown::IsShutdownFinished());
  EXPECT_TRUE(IsRunThreadRunning());

  // The run thread ending later reports nothing after stopped.
  g_releaseBody.Set();
  ResetServiceStateForTest();
  ExpectStoppedOnceAndLast(g_recorder.Reports(), NO_ERROR, 0);
}

// ---------------------------------------------------------------------------------------------
// The developer's wait for a debugger

struct DebugWaitRecord {
  int sleeps = 0;
  int breaks = 0;
  int attachAfterSleeps = -1;  // -1: no debugger ever
  std::vector<std::string> lines;
};
DebugWaitRecord g_debug;

class DebugWait : public testing::Test {
 protected:
  void SetUp() override {
    DebugWaitSeams seams;
    seams.sleep = [](DWORD ms) {
      EXPECT_EQ(ms, 1000u);
      ++g_debug.sleeps;
    };
    seams.isDebuggerPresent = []() -> BOOL {
      return g_debug.attachAfterSleeps >= 0 && g_debug.sleeps >= g_debug.attachAfterSleeps;
    };
    seams.debugBreak = []() { ++g_debug.breaks; };
    seams.output = [](LPCSTR text) { g_debug.lines.push_back(text); };
    SetDebugWaitSeams(seams);
    createdKey_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\IdentraHack", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, &disposition_) == ERROR_SUCCESS;
    ASSERT_TRUE(createdKey_);
  }
  void TearDown() override {
    RegDeleteValueW(key_, L"AuthDebugTimeout");
    RegCloseKey(key_);
    if (disposition_ == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\IdentraHack");
    SetDebugWaitSeams(DebugWaitSeams{});
  }

  void SetTimeout(const wchar_t* text) {
    if (!text) {
      RegDeleteValueW(key_, L"AuthDebugTimeout");
      return;
    }
    RegSetValueExW(key_, L"AuthDebugTimeout", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
  }

  HKEY key_ = nullptr;
  DWORD disposition_ = 0;
  bool createdKey_ = false;
};

std::string WaitLine(int seconds) {
  char text[256];
  std::snprintf(text, sizeof(text),
                "* * * WaitForDebugger * * * -- Process id %lu waiting for debugger to attach.  %d seconds until "
                "timeout...\n",
                static_cast<unsigned long>(GetCurrentProcessId()), seconds);
  return text;
}

TEST_F(DebugWait, CountsDownAndStopsWhenADebuggerAttaches) {
  const struct {
    const wchar_t* value;  // null: no value
    int attachAfterSleeps;
    bool breakFlag;
    int sleeps;
    int breaks;
    std::vector<int> announced;  // remaining seconds of the lines sent
  } cases[] = {
      {nullptr, -1, true, 0, 0, {}},
      {L"", -1, true, 0, 0, {}},
      {L"0", -1, true, 0, 0, {}},
      {L"-3", -1, true, 0, 0, {}},
      {L"12", -1, true, 12, 0, {11, 10, 0}},
      {L"25 seconds", -1, false, 25, 0, {24, 20, 10, 0}},
      {L"5", 2, true, 2, 1, {4}},
      {L"5", 2, false, 2, 0, {4}},
      {L"30", 0, true, 0, 0, {}},  // already attached: no wait at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.value ? c.value : L"(no value)") << " attach after "
                                    << c.attachAfterSleeps << " break " << c.breakFlag);
    g_debug = DebugWaitRecord{};
    g_debug.attachAfterSleeps = c.attachAfterSleeps;
    SetTimeout(c.value);
    DebugWaitHook(c.breakFlag);
    EXPECT_EQ(g_debug.sleeps, c.sleeps);
    EXPECT_EQ(g_debug.breaks, c.breaks);
    std::vector<std::string> expected;
    for (int seconds : c.announced) expected.push_back(WaitLine(seconds));
    EXPECT_EQ(g_debug.lines, expected);
  }
}

}  // namespace
