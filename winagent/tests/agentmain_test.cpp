#include "app/AgentMain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/AppShutdown.h"
#include "app/NetMutex.h"
#include "app/TavoMain.h"
#include "ApplianceProcess.h"
#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestPlatform.h"
#include "TestSupport.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The real idagent.exe, started beside this test

std::wstring AgentPath() { return ProgramFolder() + L"\\idagent.exe"; }

// Bound of a step of the real agent or service manager whose point is that it happens, not how
// fast: generous, because a loaded machine (several Wine servers at once) can take many seconds.
constexpr DWORD kSlowStepMs = 60000;

// The lines of one process in the agent's log file, as the log writer lays them out: the
// level tag, the time stamp, the process id, then the text.
class AgentLog {
 public:
  AgentLog() : path_(DefaultLogPath()), start_(ReadFileBytes(path_).size()) {}

  // What was written since this object was made.
  std::string Added() const {
    const std::string log = ReadFileBytes(path_);
    // A first write of a fresh log path starts the log anew.
    return log.size() >= start_ ? log.substr(start_) : log;
  }
  static std::string LinePrefix(DWORD processId) {
    char pid[16];
    std::snprintf(pid, sizeof(pid), "\t%04lu\t ", static_cast<unsigned long>(processId));
    return pid;
  }
  int Count(DWORD processId, const std::string& text) const {
    const std::string log = Added();
    const std::string needle = LinePrefix(processId) + text;
    int count = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + needle.size())) ++count;
    return count;
  }
  bool WaitFor(DWORD processId, const std::string& text, DWORD timeoutMs = 20000) const {
    return WaitUntil([&] { return Count(processId, text) > 0; }, timeoutMs);
  }

 private:
  std::wstring path_;
  size_t start_;
};

// One idagent.exe (this tree's, or a copy elsewhere), ended with status 999 if it still runs
// when the object goes.
class AgentProcess {
 public:
  explicit AgentProcess(const std::wstring& arguments, const std::wstring& program = AgentPath(),
                        const std::wstring& workingFolder = L"") {
    std::wstring line = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!StartProcess(line, false, startup, process,
                      workingFolder.empty() ? nullptr : workingFolder.c_str())) {
      ADD_FAILURE() << "idagent.exe did not start: " << GetLastError();
      return;
    }
    process_.Reset(process.hProcess);
    CloseHandle(process.hThread);
    id_ = process.dwProcessId;
  }
  ~AgentProcess() {
    if (WaitExit(0) == STILL_ACTIVE) {
      TerminateProcess(process_.Get(), 999);
      WaitForSingleObject(process_.Get(), 5000);
    }
  }
  AgentProcess(const AgentProcess&) = delete;
  AgentProcess& operator=(const AgentProcess&) = delete;

  DWORD Id() const { return id_; }
  // The exit status once the process ended within the time, else STILL_ACTIVE.
  DWORD WaitExit(DWORD timeoutMs) const {
    DWORD code = STILL_ACTIVE;
    if (process_.Valid() && WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process_.Get(), &code);
    return code;
  }
  // The quit handshake with the agent's main window; true when it answered 0x8192.
  bool Quit() const {
    HWND window = nullptr;
    WaitUntil(
        [&] {
          for (window = FindWindowExW(nullptr, nullptr, kMainWindowClass, nullptr); window;
               window = FindWindowExW(nullptr, window, kMainWindowClass, nullptr)) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == id_) return true;
          }
          return false;
        },
        10000);
    DWORD_PTR answer = 0;
    return window && SendMessageTimeoutW(window, kMsgQuitRequest, kQuitRequestCode, 0, SMTO_ABORTIFHUNG, 10000, &answer) &&
           answer == kMsgQuitAnswer;
  }

 private:
  HandleHolder process_;
  DWORD id_ = 0;
};

struct AgentRun {
  DWORD exitCode = STILL_ACTIVE;
  DWORD processId = 0;
  std::string log;
};

// Runs idagent.exe to its end (at most timeoutMs).
AgentRun RunAgent(const std::wstring& arguments, DWORD timeoutMs = 30000) {
  AgentLog log;
  AgentRun run;
  {
    AgentProcess agent(arguments);
    run.processId = agent.Id();
    run.exitCode = agent.WaitExit(timeoutMs);
  }
  run.log = log.Added();
  return run;
}

bool HasLine(const AgentRun& run, const std::string& text) {
  return run.log.find(AgentLog::LinePrefix(run.processId) + text + "\r\n") != std::string::npos;
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
    EXPECT_FALSE(run.log.find(AgentLog::LinePrefix(run.processId)) != std::string::npos) << run.log;
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
    EXPECT_TRUE(HasLine(run, c.line)) << run.log;
  }
}

std::wstring ApplianceAddress(const Appliance& appliance) {
  return L"RA[127.0.0.1:" + std::to_wstring(appliance.Port()) + L"]";
}

// A second instance takes over: the first stops its client (the logoff reaches the appliance)
// and ends with 0; the second logs on and, asked to quit, logs off and ends with 0 as well.
TEST(AgentProcess, SessionModeLogsOnBeatsAndLogsOffWhenTakenOver) {
  Appliance appliance("--heartbeat 1000");
  ASSERT_NE(appliance.Port(), 0);
  const std::wstring arguments = ApplianceAddress(appliance) + L" RH[1000] NP[1] LD[4]";
  AgentLog log;

  AgentProcess first(arguments);
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 1, kSlowStepMs));
  ASSERT_TRUE(appliance.WaitForCommand("BEAT", 2, 10000));
  EXPECT_EQ(log.Count(first.Id(), "Main: Qel Identra Version " + Narrow(VersionText()) + ", build date "), 1);
  const ApplianceEvent logon = [&] {
    for (const ApplianceEvent& e : appliance.Events())
      if (e.command == "LGON") return e;
    return ApplianceEvent{};
  }();
  EXPECT_FALSE(logon.Param("UN").empty()) << logon.line;

  AgentProcess second(arguments);
  EXPECT_EQ(first.WaitExit(kSlowStepMs), 0u);
  EXPECT_EQ(log.Count(first.Id(), "Startup: Term()\r\n"), 1);
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 2, kSlowStepMs));
  std::vector<std::vector<std::string>> connections = appliance.Connections();
  ASSERT_GE(connections.size(), 2u);
  EXPECT_EQ(connections[0].back(), "LGOF");

  ASSERT_TRUE(appliance.WaitForCommand("BEAT", 4, 10000));
  EXPECT_TRUE(second.Quit());
  EXPECT_EQ(second.WaitExit(kSlowStepMs), 0u);
  ASSERT_TRUE(WaitUntil([&] { return appliance.Connections().back().back() == "LGOF"; }, 10000));
}

// Another account made the shutdown event's name first, open to everyone, to stop the agent
// whenever it likes. The agent refuses it and names its owner; setting it stops nothing: the
// client beats on and sends no logoff until the agent is asked to quit.
TEST(AgentProcess, RefusesAShutdownEventThatAnotherAccountMade) {
  Appliance appliance("--heartbeat 1000");
  ASSERT_NE(appliance.Port(), 0);
  HandleHolder squatted = MakeSecuredEvent(L"O:WDD:(A;;0x1f0003;;;WD)", kShutdownEventName);
  ASSERT_TRUE(squatted.Valid());
  AgentLog log;
  AgentProcess agent(ApplianceAddress(appliance) + L" RH[1000] NP[1] LD[4]");
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 1, kSlowStepMs));
  EXPECT_EQ(log.Count(agent.Id(),
                      "AppShutdown: ERROR: Refusing the event Qel_Identra (owner Everyone "
                      "(S-1-1-0)): its owner is "
                      "not this account, SYSTEM or Administrators; using an unnamed event\r\n"),
            1)
      << log.Added();

  // A logoff may go before the first logon; none follows it until the quit.
  const size_t logoffs = appliance.CountCommand("LGOF");
  SetEvent(squatted.Get());
  const size_t beats = appliance.CountCommand("BEAT");
  EXPECT_TRUE(appliance.WaitForCommand("BEAT", beats + 2, 10000));
  EXPECT_EQ(appliance.CountCommand("LGOF"), logoffs);
  EXPECT_TRUE(agent.Quit());
  EXPECT_EQ(agent.WaitExit(kSlowStepMs), 0u);
  EXPECT_TRUE(appliance.WaitForCommand("LGOF", logoffs + 1, 10000));
}

// The first Novell client library is tried at every start in a session (UT 255, the default).
// Only the system folder and the program's own folder are looked in: the library planted in
// the working folder or in a folder on PATH is not loaded, the one beside the program is.
TEST(AgentProcess, LoadsRunTimeLibrariesOnlyFromTheSystemOrItsOwnFolder) {
  const std::wstring planted = ProgramFolder() + L"\\planted\\NETWIN32.DLL";
  ASSERT_NE(GetFileAttributesW(planted.c_str()), INVALID_FILE_ATTRIBUTES)
      << "the planted library was not built";
  enum class Where { kWorkingFolder, kPath, kProgramFolder };
  const struct {
    const char* name;
    Where where;
  } cases[] = {{"working folder", Where::kWorkingFolder},
               {"a folder on PATH", Where::kPath},
               {"beside the program", Where::kProgramFolder}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir work("agentmain-work");
    ScratchDir onPath("agentmain-path");
    ScratchDir programFolder("agentmain-program");
    std::wstring program = AgentPath();
    const std::wstring plantedIn = c.where == Where::kWorkingFolder ? work.WidePath()
                                   : c.where == Where::kPath        ? onPath.WidePath()
                                                                    : programFolder.WidePath();
    ASSERT_TRUE(CopyFileW(planted.c_str(), (plantedIn + L"\\NETWIN32.DLL").c_str(), FALSE));
    if (c.where == Where::kProgramFolder) {
      program = programFolder / L"idagent.exe";
      ASSERT_TRUE(CopyFileW(AgentPath().c_str(), program.c_str(), FALSE));
    }
    wchar_t path[32767] = {};
    GetEnvironmentVariableW(L"PATH", path, 32767);
    const std::wstring oldPath = path;
    SetEnvironmentVariableW(L"PATH", (onPath.WidePath() + L";" + oldPath).c_str());
    AgentLog log;
    AgentProcess agent(L"RA[127.0.0.1:9] NP[1] LD[4]", program, work.WidePath());
    SetEnvironmentVariableW(L"PATH", oldPath.c_str());

    // A lone first library is no client: the environment is Windows whichever was loaded.
    ASSERT_TRUE(log.WaitFor(agent.Id(), "IdentInfo: Environment type: Windows", kSlowStepMs))
        << log.Added();
    EXPECT_TRUE(agent.Quit());
    EXPECT_EQ(agent.WaitExit(kSlowStepMs), 0u);
    const bool loaded = GetFileAttributesW((plantedIn + L"\\NETWIN32.DLL.loaded").c_str()) !=
                        INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(loaded, c.where == Where::kProgramFolder);
  }
}

// ---------------------------------------------------------------------------------------------
// The real service under Wine's service manager

// Without a directory the service ends itself at its first directory check. A Novell
// workstation has none: the registry names the Novell user and a connection to the Novell
// port (524) is up. Both are undone afterwards.
class NovellWorkstation {
 public:
  NovellWorkstation() {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key_,
                        &disposition_) != ERROR_SUCCESS)
      return;
    SetText(L"DefaultNetWareUserName", L"svcuser");
    SetText(L"DefaultNDSContext", L"staff.acme");
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    // Our own listener whenever the port is free: a connection to another test's listener ends
    // when that test does, and the service then finds no connection and ends with status 1.
    connected_ = (Listen() && Connect()) || Connect();
  }
  ~NovellWorkstation() {
    for (SOCKET s : {client_, server_, listener_})
      if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    if (!key_) return;
    RegCloseKey(key_);
    if (disposition_ == REG_CREATED_NEW_KEY) RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Novell\\NWGINA");
  }
  bool Ready() const { return key_ && connected_; }

 private:
  static constexpr wchar_t kKey[] = L"SOFTWARE\\Novell\\NWGINA\\Login Screen";

  void SetText(const wchar_t* name, const wchar_t* value) {
    RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
  }
  static sockaddr_in Address() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(524);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  // A listener some other test keeps on the port does when ours cannot have it.
  bool Connect() {
    client_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const sockaddr_in address = Address();
    if (connect(client_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      if (listener_ != INVALID_SOCKET) server_ = accept(listener_, nullptr, nullptr);
      return true;
    }
    closesocket(client_);
    client_ = INVALID_SOCKET;
    return false;
  }
  bool Listen() {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    BOOL reuse = TRUE;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof(reuse));
    const sockaddr_in address = Address();
    if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
        listen(listener_, 1) == 0)
      return true;
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return false;
  }

  HKEY key_ = nullptr;
  DWORD disposition_ = 0;
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  SOCKET server_ = INVALID_SOCKET;
  bool connected_ = false;
};

SERVICE_STATUS_PROCESS QueryService() {
  SERVICE_STATUS_PROCESS status = {};
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return status;
  if (SC_HANDLE service = OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS)) {
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status), &needed);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return status;
}

// Asks the service manager to stop the service; true once the request was taken. Under load
// Wine's sc.exe can give up waiting for a control that the service then carries out (exit 1,
// the service already stop-pending or stopped); while the service still runs, the request is
// sent again, a few times at most.
bool RequestServiceStop(std::string& output) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const ToolResult stopped = RunTool(L"sc.exe stop Qel_Auth");
    output += stopped.output;
    if (stopped.exitCode == 0) return true;
    const DWORD state = QueryService().dwCurrentState;
    if (state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED) return true;
    Sleep(1000);
  }
  return false;
}

// Removes the service, stopping it first when it runs.
void RemoveService() {
  if (QueryService().dwCurrentState == SERVICE_RUNNING) {
    std::string output;
    RequestServiceStop(output);
    WaitUntil([] { return QueryService().dwCurrentState == SERVICE_STOPPED; }, kSlowStepMs);
  }
  RunTool(L"sc.exe delete Qel_Auth");
}

TEST(ServiceLifeCycle, StartsAfterItsWaitServesTheApplianceAndStopsInOrder) {
  Appliance appliance("--heartbeat 1000");
  ASSERT_NE(appliance.Port(), 0);
  NovellWorkstation novell;
  ASSERT_TRUE(novell.Ready());
  // The service's second configuration load keeps CF from its command line and resets the
  // rest, so the appliance comes from the file.
  ScratchDir dir("agentmain-service");
  ASSERT_TRUE(WriteFileBytes(dir / L"service.cfg", Narrow(ApplianceAddress(appliance) + L"RH[1000]LD[4]NP[1]")));
  RemoveService();
  struct Cleanup {
    ~Cleanup() { RemoveService(); }
  } cleanup;

  const ToolResult created =
      RunTool(L"sc.exe create Qel_Auth binPath= \"" + AgentPath() + L" -service CF[" + (dir / L"service.cfg") + L"]\"");
  ASSERT_EQ(created.exitCode, 0u) << created.output;

  AgentLog log;
  const ULONGLONG start = GetTickCount64();
  const ToolResult started = RunTool(L"sc.exe start Qel_Auth");
  ASSERT_EQ(started.exitCode, 0u) << started.output;
  const DWORD pid = QueryService().dwProcessId;
  ASSERT_NE(pid, 0u);
  ASSERT_TRUE(log.WaitFor(pid, "AuthServ: authServiceMain starting...in 10 seconds\r\n"));

  // Start-pending through the wait, with nothing of the agent's own work.
  bool pendingSeen = false;
  while (GetTickCount64() - start < 8500) {
    const SERVICE_STATUS_PROCESS status = QueryService();
    pendingSeen |= status.dwCurrentState == SERVICE_START_PENDING;
    EXPECT_NE(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    Sleep(250);
  }
  EXPECT_TRUE(pendingSeen);
  EXPECT_EQ(log.Count(pid, "AuthServ: serviceRunThread starting..."), 0);
  EXPECT_EQ(appliance.Count("connect"), 0u);

  ASSERT_TRUE(WaitUntil([] { return QueryService().dwCurrentState == SERVICE_RUNNING; }, kSlowStepMs));
  EXPECT_GE(GetTickCount64() - start, 9900u);
  EXPECT_NE(RunTool(L"sc.exe query Qel_Auth").output.find("RUNNING"), std::string::npos);
  EXPECT_EQ(log.Count(pid, "AuthServ: winMainService starting...\r\n"), 1);
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 1, kSlowStepMs)) << log.Added();
  ASSERT_TRUE(appliance.WaitForCommand("BEAT", 2, 10000));

  const size_t logoffs = appliance.CountCommand("LGOF");
  std::string stopOutput;
  EXPECT_TRUE(RequestServiceStop(stopOutput)) << stopOutput;
  ASSERT_TRUE(WaitUntil([] { return QueryService().dwCurrentState == SERVICE_STOPPED; }, kSlowStepMs));
  EXPECT_EQ(QueryService().dwWin32ExitCode, 0u);
  EXPECT_TRUE(appliance.WaitForCommand("LGOF", logoffs + 1, 5000)) << "no logoff at the stop";
  // The loop tore down before stopped was reported, and only one ShutdownApp ran.
  EXPECT_EQ(log.Count(pid, "Startup: normal (good) close"), 1);
  EXPECT_EQ(log.Count(pid, "AppShutdown: ShutdownApp() invoked"), 1);
  EXPECT_EQ(log.Count(pid, "ERROR"), 0) << log.Added();
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
  ULONGLONG runThreadStart = 0;
  ULONGLONG firstReport = 0;

  void Add(const Report& report) {
    std::lock_guard<std::mutex> hold(lock);
    if (reports.empty()) firstReport = GetTickCount64();
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
  g_recorder.runThreadStart = GetTickCount64();
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
      g_recorder.runThreadStart = g_recorder.firstReport = 0;
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
  // Start-pending went out at once, the service's own work only after the wait (the tick
  // count moves in steps of about 16 ms).
  EXPECT_LT(g_recorder.firstReport - g_recorder.serviceMainStart, 100u);
  EXPECT_GE(g_recorder.runThreadStart - g_recorder.serviceMainStart, 180u) << "the start-up wait was skipped";
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

TEST_F(ServiceControl, StopDuringTheStartUpWaitStartsNothing) {
  seams_.startDelayMs = 3000;
  seams_.stepMs = 50;
  Use(&StandInMainLoop);
  std::thread serviceMain([] { RunServiceMain(); });
  ASSERT_TRUE(g_recorder.WaitForState(SERVICE_START_PENDING));
  ServiceCtrlHandler(SERVICE_CONTROL_STOP);
  serviceMain.join();
  EXPECT_LT(GetTickCount64() - g_recorder.serviceMainStart, 2500u) << "the wait went on after the stop";
  EXPECT_EQ(g_recorder.runThreadStart, 0u) << "the run thread started after the stop";
  ExpectStoppedOnceAndLast(g_recorder.Reports(), NO_ERROR, 0);
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
    platform_.debugWaitSleep = [](DWORD ms) {
      EXPECT_EQ(ms, 1000u);
      ++g_debug.sleeps;
    };
    platform_.debuggerPresent = [] {
      return g_debug.attachAfterSleeps >= 0 && g_debug.sleeps >= g_debug.attachAfterSleeps;
    };
    platform_.breakIntoDebugger = [] { ++g_debug.breaks; };
    platform_.debuggerOutput = [](const char* text) { g_debug.lines.push_back(text); };
    const LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\IdentraHack", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, &disposition_);
    ASSERT_EQ(created, ERROR_SUCCESS);
  }
  void TearDown() override {
    RegDeleteValueW(key_, L"AuthDebugTimeout");
    RegCloseKey(key_);
    if (disposition_ == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\IdentraHack");
  }

  void SetTimeout(const wchar_t* text) {
    if (!text) {
      RegDeleteValueW(key_, L"AuthDebugTimeout");
      return;
    }
    RegSetValueExW(key_, L"AuthDebugTimeout", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
  }

  TestPlatform platform_;
  HKEY key_ = nullptr;
  DWORD disposition_ = 0;
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
    DebugWaitHook(c.breakFlag, platform_);
    EXPECT_EQ(g_debug.sleeps, c.sleeps);
    EXPECT_EQ(g_debug.breaks, c.breaks);
    std::vector<std::string> expected;
    for (int seconds : c.announced) expected.push_back(WaitLine(seconds));
    EXPECT_EQ(g_debug.lines, expected);
  }
}

}  // namespace
