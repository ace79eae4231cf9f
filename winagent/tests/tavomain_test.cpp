// The main object under Wine. Each scenario runs a whole agent in a child process (this
// program started again with TAVOMAIN_CHILD set): the shutdown event, the marker file and
// the window class belong to one process, and an end of session ends every process with a
// window. The test side posts the system's messages through postmsg.exe and reads the
// child's log.
#include <winsock2.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "app/AgentMain.h"
#include "platform/ServiceMode.h"
#include "app/SessionNotifications.h"
#include "app/TavoMain.h"
#include "ApplianceProcess.h"
#include "config/ConfigInit.h"
#include "identity/IdentInfoAD.h"
#include "identity/UserIdentification.h"
#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestPlatform.h"
#include "TestSupport.h"

namespace {

constexpr wchar_t kChildVariable[] = L"TAVOMAIN_CHILD";

std::wstring Env(const wchar_t* name) {
  wchar_t value[2048] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 2048);
  return length > 0 && length < 2048 ? std::wstring(value) : std::wstring();
}

// ---------------------------------------------------------------------------------------------
// The child: one agent with the seams the scenario asks for.
//   TM_DIR       folder of the scenario: agent.log, ifaces.txt (the interface list, dotted
//                addresses separated by blanks, read at every poll), exits.txt
//   TM_CONFIG    configuration command line
//   TM_MODE      "session" (the start-up path of the program), "service" (the main object
//                in service mode, its exits recorded), "crash" (the main object, then a fault)
//   TM_SESSION   "fail", or the session id to report
//   TM_WTSLIB    terminal-services library to load
//   TM_POLLBLOCK milliseconds the first interface poll hangs

std::wstring g_childDir;

std::vector<uint32_t> ReadInterfaceFile() {
  std::vector<uint32_t> addresses;
  const std::string text = ReadFileBytes(g_childDir + L"\\ifaces.txt");
  size_t position = 0;
  while (position < text.size()) {
    const size_t end = text.find_first_of(" \r\n\t", position);
    const std::string token = text.substr(position, end == std::string::npos ? std::string::npos : end - position);
    if (!token.empty()) addresses.push_back(ntohl(inet_addr(token.c_str())));
    if (end == std::string::npos) break;
    position = end + 1;
  }
  return addresses;
}

void RecordServiceExit(DWORD delayMs) {
  const std::wstring path = g_childDir + L"\\exits.txt";
  std::string text = ReadFileBytes(path) + std::to_string(delayMs) + "\n";
  WriteFileBytes(path, text);
  ExitProcess(1);
}

// A directory that answers the connection check and knows no names.
class AnsweringDirectory : public DirectoryApi {
 public:
  HRESULT BindRootDse() override { return S_OK; }
  HRESULT ReadSystemInfo(SystemNames&) override { return E_FAIL; }
};

// Stands for a filter installed before the agent's: its answer ends the process without a
// debugger, and the agent's filter must hand it on.
LONG WINAPI EndProcessFilter(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

int RunChild() {
  g_childDir = Env(L"TM_DIR");
  SetLogPathOverride(g_childDir + L"\\agent.log");

  static TestPlatform platform;  // the late interface poll may still use it at exit
  platform.mainTimings.interfaceCheckMs = 1000;
  platform.mainTimings.identityCheckMs = 1000;
  platform.mainTimings.legacyCheckMs = 500;
  platform.mainTimings.sessionRetrySleepMs = 1;
  platform.mainTimings.interfacePollWaitMs = 500;

  const DWORD block = wcstoul(Env(L"TM_POLLBLOCK").c_str(), nullptr, 10);
  platform.interfaces = [block] {
    static std::atomic<bool> first{true};
    if (block && first.exchange(false)) Sleep(block);
    return ReadInterfaceFile();
  };

  platform.sessionLibrary = Env(L"TM_WTSLIB");
  const std::wstring session = Env(L"TM_SESSION");
  if (session == L"fail") {
    platform.sessionId = TestPlatform::kUnreadableSession;
  } else if (!session.empty()) {
    platform.sessionId = wcstoul(session.c_str(), nullptr, 10);
  }

  const std::wstring config = Env(L"TM_CONFIG");
  const std::wstring mode = Env(L"TM_MODE");
  if (mode == L"session") {
    const int result = AgentMain(config.c_str(), platform);
    // A service stop unregisters too, after the loop's teardown may have done it.
    UnregisterSessionNotifications();
    return result;
  }

  ConfigInit::LoadResult load;
  if (mode == L"service") {
    // A failed directory check would end the service at once.
    static AnsweringDirectory directory;
    platform.identity.directory = &directory;
    SetServiceMode(true);
    platform.endService = &RecordServiceExit;
    ConfigInit::Load((L"-service " + config).c_str(), load);
  } else {
    ConfigInit::Load(config.c_str(), load);
  }
  if (!load.ok) return 3;
  if (mode == L"crash") SetUnhandledExceptionFilter(&EndProcessFilter);
  CTavoMain main(config.c_str(), platform);
  if (main.MustEnd()) return 4;
  if (mode == L"crash") {
    RaiseException(0xE0000001u, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return 5;
  }
  return main.Run();
}

// ---------------------------------------------------------------------------------------------
// The test side

// postmsg.exe against the main window class.
ToolResult PostToAgent(const std::wstring& how, UINT message, WPARAM wParam, LPARAM lParam) {
  wchar_t arguments[128];
  _snwprintf(arguments, 127, L" %ls 0x%X 0x%llX 0x%llX", how.c_str(), message,
             static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam));
  arguments[127] = L'\0';
  return RunTool(L"\"" + ProgramFolder() + L"\\postmsg.exe\" " + kMainWindowClass + arguments, 30000);
}

// One agent in a child process, with its own scenario folder.
class AgentChild {
 public:
  explicit AgentChild(std::map<std::wstring, std::wstring> settings) : settings_(std::move(settings)) {}
  ~AgentChild() {
    if (::testing::Test::HasFailure()) std::printf("--- log of the agent ---\n%s---\n", Log().c_str());
    if (process_.Valid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.Get(), 98);
      WaitForSingleObject(process_.Get(), 10000);
    }
  }

  const ScratchDir& Dir() const { return dir_; }
  std::wstring LogPath() const { return dir_ / L"agent.log"; }
  DWORD ProcessId() const { return processId_; }
  HANDLE Process() const { return process_.Get(); }

  void SetInterfaces(const std::string& dotted) { ASSERT_TRUE(WriteFileBytes(dir_ / L"ifaces.txt", dotted)); }

  void Start() {
    settings_[kChildVariable] = L"1";
    settings_[L"TM_DIR"] = dir_.WidePath();
    if (!settings_.count(L"TM_MODE")) settings_[L"TM_MODE"] = L"session";
    std::map<std::wstring, std::wstring> previous;
    for (const auto& [name, value] : settings_) {
      previous[name] = Env(name.c_str());
      SetEnvironmentVariableW(name.c_str(), value.c_str());
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::wstring line = L"\"" + ProgramPath() + L"\"";
    const BOOL created =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
    for (const auto& [name, value] : previous)
      SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
    ASSERT_TRUE(created) << GetLastError();
    process_.Reset(process.hProcess);
    CloseHandle(process.hThread);
    processId_ = process.dwProcessId;
  }

  // The exit code once the child ended within the time, else STILL_ACTIVE.
  DWORD WaitExit(DWORD timeoutMs) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(process_.Get(), &code);
    return code;
  }

  // The log with its line ends as "\n".
  std::string Log() const {
    std::string log = ReadFileBytes(LogPath());
    std::erase(log, '\r');
    return log;
  }

  int Count(const std::string& text) const {
    const std::string log = Log();
    int count = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size())) ++count;
    return count;
  }

  // Waits until the log holds text at least count times.
  bool WaitFor(const std::string& text, int count = 1, DWORD timeoutMs = 20000) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
      if (Count(text) >= count) return true;
      if (WaitForSingleObject(process_.Get(), 100) == WAIT_OBJECT_0) return Count(text) >= count;
    } while (GetTickCount64() < deadline);
    return false;
  }

  // The quit handshake, then the child's exit code.
  DWORD Quit() {
    const ToolResult answer = PostToAgent(L"send", kMsgQuitRequest, kQuitRequestCode, 0);
    EXPECT_EQ(answer.output, "answer=0x8192\n");
    return WaitExit(30000);
  }

 private:
  std::map<std::wstring, std::wstring> settings_;
  ScratchDir dir_{"tavomain"};
  HandleHolder process_;
  DWORD processId_ = 0;
};

// An address that refuses connections: the clients only retry.
const wchar_t kNoAppliance[] = L"RA[127.0.0.1:9]LD[4]NP[1]";

std::string Narrow8(const std::wstring& text) { return Narrow(text); }

struct SessionLibraryCase {
  const char* name;
  const wchar_t* library;  // under the program's folder
  const wchar_t* failures;
  int retryLines;
  bool legacy;
  std::vector<std::string> lines;  // in the log
  int registrations;               // calls seen by the library
  int unregistrations;
};

// Registration of the session notifications with the stand-in libraries.
TEST(TavoMainTest, SessionNotificationRegistrationTable) {
  const SessionLibraryCase cases[] = {
      {"registration fails 121 times",
       L"wtsfake\\wtsapi32.dll",
       L"121",
       120,
       true,
       {"Startup: registering for WTS notifications.\n",
        "Startup: registering for WTS notifications failed. Retrying (attempt 1).\n",
        "Startup: registering for WTS notifications failed. Retrying (attempt 120).\n",
        "Startup: registration for WTS failed - is the terminal services service running?\n",
        "Startup: WTS is unavailable - reverting to legacy behaviour.\n"},
       121,
       1},
      {"registration fails 3 times",
       L"wtsfake\\wtsapi32.dll",
       L"3",
       3,
       false,
       {"Startup: registering for WTS notifications failed. Retrying (attempt 3).\n"},
       4,
       1},
      {"no registration function",
       L"wtsfake_noreg\\wtsapi32.dll",
       L"0",
       0,
       false,
       {"Startup: could not register for WTS notifications.\n", "Startup: is this Windows 2000?\n"},
       0,
       0},
      {"no library", L"wtsfake\\absent.dll", L"0", 0, false, {"Startup: the WTS API is unavailable.\n"}, 0, 0},
  };
  // Wine loads its own library of that name, whatever the path, unless this program prefers
  // native ones (a key that Windows does not read).
  const std::wstring overrides = L"Software\\Wine\\AppDefaults\\" +
                                 ProgramPath().substr(ProgramPath().rfind(L'\\') + 1);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (overrides + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t order[] = L"native,builtin";
  RegSetValueExW(key, L"wtsapi32", 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof(order));
  RegCloseKey(key);
  struct RemoveOverride {
    std::wstring key;
    ~RemoveOverride() { RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str()); }
  } removeOverride{overrides};

  for (const SessionLibraryCase& c : cases) {
    SCOPED_TRACE(c.name);
    AgentChild child({{L"TM_CONFIG", kNoAppliance},
                      {L"TM_WTSLIB", ProgramFolder() + L"\\" + c.library},
                      {L"WTSFAKE_FAILURES", c.failures}});
    const std::wstring calls = child.Dir() / L"wts.txt";
    SetEnvironmentVariableW(L"WTSFAKE_LOG", calls.c_str());
    child.SetInterfaces("10.1.2.3");
    child.Start();
    SetEnvironmentVariableW(L"WTSFAKE_LOG", nullptr);
    // Two interface checks: long enough for two legacy ticks, had legacy mode been entered.
    ASSERT_TRUE(child.WaitFor("Checking for network interface changes.\n", 2));
    EXPECT_EQ(child.Quit(), 0u);

    EXPECT_EQ(child.Count("Retrying (attempt "), c.retryLines);
    for (const std::string& line : c.lines) EXPECT_EQ(child.Count(line), 1) << line;
    EXPECT_EQ(child.Count("Legacy mode user identity check.") > 0, c.legacy);
    EXPECT_EQ(child.Count("Shutdown: unregistering WTS notifications.\n"), c.unregistrations);
    const std::string seen = ReadFileBytes(calls);
    int registrations = 0;
    for (size_t at = seen.find("register "); at != std::string::npos; at = seen.find("register ", at + 1))
      if (at == 0 || seen[at - 1] == '\n') ++registrations;
    EXPECT_EQ(registrations, c.registrations);
    int unregistrations = 0;
    for (size_t at = seen.find("unregister"); at != std::string::npos; at = seen.find("unregister", at + 1))
      ++unregistrations;
    EXPECT_EQ(unregistrations, c.unregistrations);
  }
}

// An unreadable session id ends the run with status 1 before anything else starts.
TEST(TavoMainTest, UnreadableSessionIdEndsWithStatusOne) {
  AgentChild child({{L"TM_CONFIG", kNoAppliance}, {L"TM_SESSION", L"fail"}});
  child.SetInterfaces("10.1.2.3");
  child.Start();
  EXPECT_EQ(child.WaitExit(30000), 1u);
  EXPECT_EQ(child.Count("Startup: could not retrieve session ID.\n"), 1);
  EXPECT_EQ(child.Count("Startup: assemble V7100 backup chains\n"), 0);
  EXPECT_EQ(child.Count("Shutdown: unregistering WTS notifications.\n"), 1);
}

// A poll that outlives its wait keeps its own result; while it hangs no second one starts.
TEST(TavoMainTest, HangingInterfacePollStartsNoSecondThread) {
  AgentChild child({{L"TM_CONFIG", kNoAppliance}, {L"TM_POLLBLOCK", L"3500"}});
  child.SetInterfaces("10.1.2.3 10.1.2.4");
  child.Start();
  ASSERT_TRUE(child.WaitFor("Timed out while polling for interfaces.\n", 3));
  // NP[1] leaves the process open to others.
  EXPECT_EQ(child.Count("Startup: NOT lowering security access\n"), 1);
  EXPECT_TRUE(HandleHolder(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.ProcessId())).Valid());
  EXPECT_EQ(child.Count("Checking for network interface changes.\n"), 1);
  // Once the hung poll has ended, the next tick polls afresh and sees the change.
  ASSERT_TRUE(child.WaitFor("Network interface change detected.\n"));
  EXPECT_EQ(child.Count("Checking for network interface changes.\n"), 2);
  EXPECT_EQ(child.Count("Main: \tInterface detected: 10.1.2.3.\n"), 1);
  EXPECT_EQ(child.Count("Main: \tInterface detected: 10.1.2.4.\n"), 1);
  EXPECT_EQ(child.Quit(), 0u);
}

void Post(UINT message, WPARAM wParam, LPARAM lParam) {
  EXPECT_EQ(PostToAgent(L"post", message, wParam, lParam).output, "posted\n");
}

std::string Started(int number, const std::string& entry) {
  return "V7kClient(" + std::to_string(number) + ") thread '" + entry + "' has been started.\n";
}

// The commands of one connection, in order (the clients' connections interleave).
std::vector<std::string> CommandsOf(const Appliance& appliance, const std::string& connection) {
  std::vector<std::string> commands;
  for (const ApplianceEvent& e : appliance.Events())
    if (!e.command.empty() && JsonField(e.line, "conn") == connection) commands.push_back(e.command);
  return commands;
}

// Session mode: the first check starts one client per RA entry; a logon for the own session
// stops them and identifies the user again, and the next check restarts them; session
// events of other sessions, broadcasts of the identification's message numbers and an
// unchanged interface list restart nothing; a changed list and a resume restart all.
TEST(TavoMainTest, SessionEventsAndInterfaceChecksRestartClients) {
  Appliance appliance("");
  ASSERT_NE(appliance.Port(), 0);
  const std::string port = std::to_string(appliance.Port());
  const std::string numbered = "127.0.0.1:" + port;
  // The second entry takes its port from RP.
  AgentChild child({{L"TM_CONFIG", Widen("RA[" + numbered + ";;localhost]RP[" + port + "]LD[4]NP[0]")},
                    {L"TM_MODE", L"session"}});
  child.SetInterfaces("10.1.2.3");
  child.Start();
  ASSERT_TRUE(child.WaitFor(Started(1001, "localhost")));
  EXPECT_EQ(child.Count(Started(1000, numbered)), 1);
  ASSERT_TRUE(child.WaitFor("(1000) 'STAT' SUCCESS received"));
  ASSERT_TRUE(child.WaitFor("(1001) 'STAT' SUCCESS received"));
  EXPECT_EQ(child.Count("Network interface change detected.\n"), 1);
  EXPECT_EQ(child.Count("Main: \tInterface detected: 10.1.2.3.\n"), 1);

  // The lowered access list keeps other processes out.
  EXPECT_EQ(child.Count("Startup: lowering security access\n"), 1);
  EXPECT_EQ(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.ProcessId()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // Both clients run under their hosts, the port-less one on RP: two quiet checks.
  const int checks = child.Count("Checking for network interface changes.\n");
  ASSERT_TRUE(child.WaitFor("Checking for network interface changes.\n", checks + 2));
  EXPECT_EQ(child.Count("No FSM for web filter at "), 0);
  EXPECT_EQ(child.Count("V7kClient(1002)"), 0);

  // The identification's window is message-only: a broadcast of 803 does not reach it.
  const int identifications = child.Count("Identifying current user.");
  PostMessageW(HWND_BROADCAST, 803, 0, 0);
  ASSERT_TRUE(child.WaitFor("Checking for network interface changes.\n", checks + 3));
  EXPECT_EQ(child.Count("Identifying current user."), identifications);

  // A logon of another session is ignored; one of the own session (1 under Wine) counts.
  Post(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, 7);
  Post(WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, 1);
  ASSERT_TRUE(child.WaitFor("Session logon detected from session 1.\n"));
  EXPECT_EQ(child.Count("Session logon detected from session"), 1);
  ASSERT_TRUE(child.WaitFor(Started(1003, "localhost")));
  EXPECT_EQ(child.Count("V7k thread instance 1000 was signalled to shut down"), 1);
  EXPECT_EQ(child.Count("V7k thread instance 1001 was signalled to shut down"), 1);
  EXPECT_EQ(child.Count("Identifying current user."), identifications + 1);
  EXPECT_EQ(child.Count("No FSM for web filter at " + numbered + ", restarting all..."), 1);
  EXPECT_EQ(child.Count(Started(1002, numbered)), 1);
  // Each connection: the first logoff (empty cache), the logon, and the logoff of the stop.
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 4));
  for (const std::string connection : {"1", "2"}) {
    const std::vector<std::string> commands = CommandsOf(appliance, connection);
    ASSERT_EQ(commands.size(), 3u) << connection;
    EXPECT_EQ(commands[1], "LGON") << connection;
    EXPECT_EQ(commands[2], "LGOF") << connection;
  }

  // A changed interface list restarts all.
  child.SetInterfaces("10.1.2.3 10.9.9.9");
  ASSERT_TRUE(child.WaitFor(Started(1005, "localhost")));
  EXPECT_EQ(child.Count("Network interface change detected.\n"), 2);
  EXPECT_EQ(child.Count("No FSM for web filter at "), 1);

  ASSERT_TRUE(child.WaitFor("(1004) 'STAT' SUCCESS received"));
  ASSERT_TRUE(child.WaitFor("(1005) 'STAT' SUCCESS received"));

  // Suspended, the clients log off, the session is inactive and the checks pause; a resume
  // restarts all.
  const size_t logoffsBeforeSuspend = appliance.CountCommand("LGOF");
  Post(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  ASSERT_TRUE(child.WaitFor("Startup: Suspend()\n"));
  EXPECT_TRUE(appliance.WaitForCommand("LGOF", logoffsBeforeSuspend + 2));
  const int suspendedChecks = child.Count("Checking for network interface changes.\n");
  Sleep(2500);
  EXPECT_EQ(child.Count("Checking for network interface changes.\n"), suspendedChecks);
  Post(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
  ASSERT_TRUE(child.WaitFor(Started(1007, "localhost")));
  EXPECT_EQ(child.Count("Startup: Resume()\n"), 1);

  // The quit handshake ends the loop; the workers stop before their objects go, the
  // clients with their logoffs.
  ASSERT_TRUE(child.WaitFor("(1006) 'STAT' SUCCESS received"));
  ASSERT_TRUE(child.WaitFor("(1007) 'STAT' SUCCESS received"));
  const size_t logoffs = appliance.CountCommand("LGOF");
  EXPECT_EQ(child.Quit(), 0u);
  EXPECT_TRUE(appliance.WaitForCommand("LGOF", logoffs + 2));
  const std::string log = child.Log();
  const size_t close = log.find("Startup: normal (good) close\n");
  const size_t shutdown = log.find("ShutdownApp() invoked: waiting for worker threads to close");
  const size_t reset = log.rfind("Resetting current user identification.");
  ASSERT_NE(close, std::string::npos);
  ASSERT_NE(shutdown, std::string::npos);
  EXPECT_LT(close, shutdown);
  EXPECT_LT(shutdown, reset == std::string::npos ? 0 : reset);
  EXPECT_EQ(child.Count("All worker threads shut down gracefully."), 1);
}

struct ServiceCase {
  const char* name;
  const wchar_t* session;    // the session id the agent reads
  bool setShutdownEvent;     // as a service stop does, before the trigger
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  const char* logLine;       // written on the way
  const char* exits;         // the recorded service-mode exits
};

// Service mode ends the process with status 1 where a session agent restarts its clients,
// but never once the shutdown event is set: then the clients were stopped on purpose.
TEST(TavoMainTest, ServiceModeExitsTable) {
  const ServiceCase cases[] = {
      {"logon, then an unchanged interface list", L"0", false, WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, 7,
       "No FSM for web filter at 127.0.0.1:9, restarting all...", "3000\n"},
      {"resume", L"1", false, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, "Startup: Resume()\n", "5000\n"},
      {"resume while stopping", L"1", true, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0, "Startup: Resume()\n", ""},
      {"logon while stopping", L"1", true, WM_WTSSESSION_CHANGE, WTS_SESSION_LOGON, 1,
       "Session logon detected from session 1.\n", ""},
  };
  for (const ServiceCase& c : cases) {
    SCOPED_TRACE(c.name);
    AgentChild child({{L"TM_CONFIG", L"RA[127.0.0.1:9]LD[4]NP[1]"},
                      {L"TM_MODE", L"service"},
                      {L"TM_SESSION", c.session}});
    child.SetInterfaces("10.1.2.3");
    child.Start();
    ASSERT_TRUE(child.WaitFor(Started(1000, "127.0.0.1:9")));
    if (c.setShutdownEvent) {
      HandleHolder event(OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Qel_Identra"));
      ASSERT_TRUE(event.Valid()) << GetLastError();
      SetEvent(event.Get());
      ASSERT_TRUE(child.WaitFor("[127.0.0.1] thread shutdown normally."));
    }
    Post(c.message, c.wParam, c.lParam);
    ASSERT_TRUE(child.WaitFor(c.logLine));
    if (*c.exits) {
      EXPECT_EQ(child.WaitExit(20000), 1u);
    } else {
      // Three ticks of the interface check would have found the stopped client.
      Sleep(3500);
      EXPECT_EQ(child.Count("No FSM for web filter at "), 0);
      EXPECT_EQ(child.Count("has been started"), 1);
      EXPECT_EQ(child.Quit(), 0u);
    }
    EXPECT_EQ(ReadFileBytes(child.Dir() / L"exits.txt"), c.exits);
  }
}

// Entries that name no host or no valid port are skipped, never connected, and never
// counted as missing clients. A disconnect only signals the clients: the service ends once
// the signalled client has ended (its logoff sent), not while it still runs.
TEST(TavoMainTest, BadEntriesAreSkippedAndADisconnectWaitsForTheClientsToEnd) {
  Appliance appliance("--no-reply");
  ASSERT_NE(appliance.Port(), 0);
  const std::string good = "127.0.0.1:" + std::to_string(appliance.Port());
  AgentChild child({{L"TM_CONFIG", Widen("RA[127.0.0.1:109173;" + good + ";:80;127.0.0.1:80x]LD[4]NP[1]")},
                    {L"TM_MODE", L"service"},
                    {L"TM_SESSION", L"0"}});
  child.SetInterfaces("10.1.2.3");
  child.Start();
  ASSERT_TRUE(child.WaitFor(Started(1000, good)));
  for (const char* bad : {"127.0.0.1:109173", ":80", "127.0.0.1:80x"})
    EXPECT_EQ(child.Count(std::string("Web filter address '") + bad + "' names no host or no valid port; skipped.\n"),
              1)
        << bad;
  EXPECT_EQ(child.Count("has been started"), 1);
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 1));
  const int checks = child.Count("Checking for network interface changes.\n");
  ASSERT_TRUE(child.WaitFor("Checking for network interface changes.\n", checks + 2));
  EXPECT_EQ(child.Count("No FSM for web filter at "), 0);

  // Waiting for the logon's answer, the client logs off twice and pauses before it ends.
  Post(WM_WTSSESSION_CHANGE, WTS_CONSOLE_DISCONNECT, 0);
  EXPECT_EQ(child.WaitExit(20000), 1u);
  EXPECT_EQ(ReadFileBytes(child.Dir() / L"exits.txt"), "3000\n");
  const std::string log = child.Log();
  const size_t ended = log.find("[127.0.0.1] thread shutdown normally.");
  const size_t exit = log.find("No FSM for web filter at " + good + ", restarting all...");
  ASSERT_NE(ended, std::string::npos);
  ASSERT_NE(exit, std::string::npos);
  EXPECT_LT(ended, exit);
  EXPECT_EQ(appliance.CountCommand("LGOF"), 3u);  // before the logon, and the two of the stop
}

std::vector<std::wstring> DumpFiles() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((ProgramPath() + L"_*.mdmp").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

void RemoveDumpFiles() {
  for (const std::wstring& name : DumpFiles()) DeleteFileW((ProgramFolder() + L"\\" + name).c_str());
}

// A crash writes one dump beside the program, named after it and the local time; with ten
// dumps there already it writes none.
TEST(TavoMainTest, CrashWritesOneDumpUnlessTenExist) {
  RemoveDumpFiles();
  for (int i = 0; i < 10; ++i)
    ASSERT_TRUE(WriteFileBytes(ProgramPath() + L"_old" + std::to_wstring(i) + L".mdmp", "x"));
  {
    AgentChild child({{L"TM_CONFIG", kNoAppliance}, {L"TM_MODE", L"crash"}});
    child.Start();
    EXPECT_EQ(child.WaitExit(60000), 0xE0000001u);
    EXPECT_EQ(DumpFiles().size(), 10u);
  }
  RemoveDumpFiles();
  {
    AgentChild child({{L"TM_CONFIG", kNoAppliance}, {L"TM_MODE", L"crash"}});
    child.Start();
    EXPECT_EQ(child.WaitExit(120000), 0xE0000001u);
  }
  const std::vector<std::wstring> dumps = DumpFiles();
  ASSERT_EQ(dumps.size(), 1u);
  std::wstring program = ProgramPath();
  program = program.substr(program.rfind(L'\\') + 1);
  const std::string name = Narrow8(dumps[0]);
  std::string pattern;
  for (char c : Narrow8(program)) pattern += c == '.' ? std::string("\\.") : std::string(1, c);
  EXPECT_TRUE(std::regex_match(name, std::regex(pattern +
                                                R"(_\d\d-\d\d-\d\d_\d\d\.\d\d\.\d\d\.\d\d\d\.mdmp)")))
      << name;
  const std::string bytes = ReadFileBytes(ProgramFolder() + L"\\" + dumps[0]);
  EXPECT_EQ(bytes.substr(0, 4), "MDMP");
  RemoveDumpFiles();
}

// The end of the session: the clients are told to stop while the end is being answered, for
// the process ends as soon as it is. Defined last, so it runs last: it ends every process
// with a window.
TEST(TavoMainTest, EndOfSessionStopsClientsBeforeTheProcessEnds) {
  Appliance appliance("");
  ASSERT_NE(appliance.Port(), 0);
  const std::string port = std::to_string(appliance.Port());
  // Blanks around an entry's host and port are no part of them.
  AgentChild child({{L"TM_CONFIG", Widen("RA[127.0.0.1:" + port + "; localhost :\t" + port + " ]LD[4]NP[1]")},
                    {L"TM_MODE", L"session"}});
  child.SetInterfaces("10.1.2.3");
  child.Start();
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 2));
  // Let both logons be acknowledged, so that the logoffs counted below are the stop's.
  ASSERT_TRUE(child.WaitFor("user identity accepted by web filter appliance", 2));
  const size_t logoffs = appliance.CountCommand("LGOF");
  const ToolResult end = RunTool(L"wineboot.exe --end-session", 30000);
  EXPECT_EQ(end.exitCode, 0u) << end.output;
  EXPECT_NE(child.WaitExit(20000), STILL_ACTIVE);
  EXPECT_EQ(child.Count("V7k thread instance 1000 was signalled to shut down"), 1);
  EXPECT_EQ(child.Count("V7k thread instance 1001 was signalled to shut down"), 1);
  EXPECT_TRUE(appliance.WaitForCommand("LGOF", logoffs + 2));
}

}  // namespace

int main(int argc, char** argv) {
  if (!Env(kChildVariable).empty()) return RunChild();
  ::testing::InitGoogleMock(&argc, argv);
  return RUN_ALL_TESTS();
}
