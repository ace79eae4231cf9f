#include <winsock2.h>

#include "app/TavoMain.h"

#include <aclapi.h>
#include <dbghelp.h>
#include <wtsapi32.h>

#include <atomic>
#include <cwchar>
#include <mutex>

#include "app/AgentMain.h"
#include "app/AppShutdown.h"
#include "app/ServiceMode.h"
#include "client/CSocket.h"
#include "client/V7kClient.h"
#include "config/iprange.h"
#include "identity/UserIdentification.h"
#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

// Records of this file carry its name and fixed line numbers that readers of the log look for.
constexpr char kSource[] = "TavoMain.cpp";
constexpr int kLineSecondMainObject = 43;
constexpr int kLineClassRegistration = 378;

constexpr DWORD kMaxDumpFiles = 10;
constexpr MINIDUMP_TYPE kDumpType = static_cast<MINIDUMP_TYPE>(
    MiniDumpWithDataSegs | MiniDumpWithFullMemory | MiniDumpWithHandleData | MiniDumpWithProcessThreadData);

using RegisterSessionFn = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterSessionFn = BOOL(WINAPI*)(HWND);
using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);

// Process-wide state.
CTavoMain* g_main = nullptr;
HWND g_mainWindow = nullptr;
std::atomic<HMODULE> g_sessionLibrary{nullptr};
HWND g_sessionWindow = nullptr;  // the window registered for session notifications
std::atomic<MiniDumpWriteDumpFn> g_dumpWriter{nullptr};
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;
bool g_filterInstalled = false;

TavoMainTiming g_timing;
std::mutex g_seamMutex;
InterfaceQuery g_interfaceQuery;
std::atomic<SessionIdQuery> g_sessionIdQuery{nullptr};
std::wstring g_sessionLibraryName = L"wtsapi32.dll";
IdentityPlatform g_identityPlatform;

bool ShutdownRequested() { return AppShutdown::IsShutdownRequested(0); }

std::wstring Dotted(uint32_t hostOrder) {
  wchar_t text[16];
  _snwprintf(text, 16, L"%u.%u.%u.%u", (hostOrder >> 24) & 0xFF, (hostOrder >> 16) & 0xFF, (hostOrder >> 8) & 0xFF,
             hostOrder & 0xFF);
  text[15] = L'\0';
  return text;
}

// The host's own IPv4 addresses as Windows Sockets resolves its name.
std::vector<uint32_t> QueryHostAddresses() {
  std::vector<uint32_t> addresses;
  WinsockScope winsock;
  if (!winsock.Started()) {
    TracePrintf(TC_Socket, 4, L"Could not initialize Winsock; will retry.\n");
    return addresses;
  }
  char name[256] = {};
  if (gethostname(name, sizeof(name)) != 0) {
    TracePrintf(TC_Socket, 4, L"Socket error when acquiring interfaces; will retry.\n");
  } else {
    const hostent* host = gethostbyname(name);
    if (!host || !host->h_addr_list || !host->h_addr_list[0]) {
      TracePrintf(TC_Socket, 4, L"No bind addresses found; will retry.\n");
    } else if (host->h_addrtype == AF_INET) {
      for (char** entry = host->h_addr_list; *entry; ++entry) {
        in_addr address;
        memcpy(&address, *entry, sizeof(address));
        addresses.push_back(ntohl(address.s_addr));
      }
    }
  }
  return addresses;
}

// One interface poll. The poll thread and the main loop share it, so a thread that outlives
// the main loop's wait still writes into memory of its own.
struct InterfacePoll {
  InterfaceQuery query;
  std::vector<uint32_t> addresses;
  HandleHolder thread;
};

// The poll that outlived its wait, until its thread ends.
std::shared_ptr<InterfacePoll> g_latePoll;

DWORD WINAPI InterfacePollThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<InterfacePoll>> poll(static_cast<std::shared_ptr<InterfacePoll>*>(parameter));
  TracePrintf(TC_Socket, 4, L"Checking for network interface changes.\n");
  (*poll)->addresses = (*poll)->query ? (*poll)->query() : QueryHostAddresses();
  return 0;
}

bool ThreadEnded(const HandleHolder& thread) { return WaitForSingleObject(thread.Get(), 0) == WAIT_OBJECT_0; }

bool HasNoUserName(const IdentityRecord& identity) {
  return identity.UserName.source == BLANK || identity.UserName.value.empty();
}

}  // namespace

void SetTavoMainTiming(const TavoMainTiming& timing) { g_timing = timing; }

void SetInterfaceQuery(InterfaceQuery query) {
  std::lock_guard<std::mutex> guard(g_seamMutex);
  g_interfaceQuery = std::move(query);
}

void SetSessionIdQuery(SessionIdQuery query) { g_sessionIdQuery.store(query); }

void SetIdentityPlatform(const IdentityPlatform& platform) { g_identityPlatform = platform; }

void SetSessionLibraryName(const wchar_t* name) { g_sessionLibraryName = name ? name : L"wtsapi32.dll"; }

// ---------------------------------------------------------------------------------------------
// Crash dumps

void WriteCrashDump(EXCEPTION_POINTERS* exception) {
  const MiniDumpWriteDumpFn writer = g_dumpWriter.load();
  if (!writer) return;
  wchar_t program[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return;
  if (CountFiles(std::wstring(program) + L"_*.mdmp") >= static_cast<int>(kMaxDumpFiles)) return;

  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t stamp[64];
  _snwprintf(stamp, 63, L"_%02u-%02u-%02u_%02u.%02u.%02u.%03lu.mdmp", now.wYear % 100u, now.wMonth, now.wDay, now.wHour,
             now.wMinute, now.wSecond, GetTickCount() % 1000ul);
  stamp[63] = L'\0';
  const std::wstring path = std::wstring(program) + stamp;

  HandleHolder file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return;
  MINIDUMP_EXCEPTION_INFORMATION info = {};
  info.ThreadId = GetCurrentThreadId();
  info.ExceptionPointers = exception;
  info.ClientPointers = TRUE;
  writer(GetCurrentProcess(), GetCurrentProcessId(), file.Get(), kDumpType, exception ? &info : nullptr, nullptr,
         nullptr);
}

LONG WINAPI TavoUnhandledExceptionFilter(EXCEPTION_POINTERS* exception) {
  WriteCrashDump(exception);
  return g_previousFilter ? g_previousFilter(exception) : EXCEPTION_CONTINUE_SEARCH;
}

namespace {

void InstallCrashDumpFilter() {
  TsMain(4) << L"Setting unhandled exception filter.";
  if (!g_dumpWriter.load()) {
    HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    if (!dbghelp) {
      TracePrintf(TC_Shutdown, 1, L"Dbghelp.dll not found; no crash dumps will be generated.");
    } else {
      auto writer = reinterpret_cast<MiniDumpWriteDumpFn>(
          reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
      if (writer) {
        g_dumpWriter.store(writer);  // the library stays loaded for the life of the process
      } else {
        TracePrintf(TC_Shutdown, 1, L"Minidump function not found.");
        FreeLibrary(dbghelp);
      }
    }
  }
  if (!g_filterInstalled) {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = SetUnhandledExceptionFilter(&TavoUnhandledExceptionFilter);
    if (previous != &TavoUnhandledExceptionFilter) g_previousFilter = previous;
    g_filterInstalled = true;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Session notifications

void UnregisterSessionNotifications() {
  // Whoever takes the handle first unregisters; every later call finds none.
  HMODULE library = g_sessionLibrary.exchange(nullptr);
  if (!library) return;
  TracePrintf(TC_Shutdown, 1, L"Shutdown: unregistering WTS notifications.\n");
  auto unregister = reinterpret_cast<UnregisterSessionFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "WTSUnRegisterSessionNotification")));
  if (unregister) unregister(g_sessionWindow);
  FreeLibrary(library);
}

// False only when the session id cannot be read.
bool CTavoMain::RegisterSessionNotifications() {
  HMODULE library = LoadLibraryW(g_sessionLibraryName.c_str());
  if (!library) {
    TracePrintf(TC_Startup, 1, L"Startup: the WTS API is unavailable.\n");
    return true;
  }
  auto registerFn = reinterpret_cast<RegisterSessionFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "WTSRegisterSessionNotification")));
  if (!registerFn) {
    TracePrintf(TC_Startup, 1, L"Startup: could not register for WTS notifications.\n");
    TracePrintf(TC_Startup, 1, L"Startup: is this Windows 2000?\n");
    FreeLibrary(library);  // nothing registered, nothing to undo
    return true;
  }

  TracePrintf(TC_Startup, 1, L"Startup: registering for WTS notifications.\n");
  HWND window = Window();
  g_sessionWindow = window;
  g_sessionLibrary.store(library);
  BOOL registered = registerFn(window, NOTIFY_FOR_ALL_SESSIONS);
  for (int attempt = 1; !registered && attempt <= 120; ++attempt) {
    TracePrintf(TC_Startup, 1, L"Startup: registering for WTS notifications failed. Retrying (attempt %d).\n",
                attempt);
    Sleep(g_timing.sessionRetrySleepMs);
    registered = registerFn(window, NOTIFY_FOR_ALL_SESSIONS);
  }
  if (!registered) {
    legacyMode_ = true;
    TracePrintf(TC_Startup, 1,
                L"Startup: registration for WTS failed - is the terminal services service running?\n");
    TracePrintf(TC_Startup, 1, L"Startup: WTS is unavailable - reverting to legacy behaviour.\n");
  }

  SessionIdQuery query = g_sessionIdQuery.load();
  DWORD session = 0;
  if (!(query ? query : &ProcessIdToSessionId)(GetCurrentProcessId(), &session)) {
    TracePrintf(TC_Startup, 1, L"Startup: could not retrieve session ID.\n");
    return false;
  }
  sessionId_ = session;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The main object

CTavoMain::CTavoMain(const wchar_t* commandLine)
    : commandLine_(commandLine ? commandLine : L""),
      directoryCheckMs_(g_timing.directoryCheckMs),
      novellCheckMs_(g_timing.novellCheckMs) {
  InstallCrashDumpFilter();

  if (g_main) TraceAssertAt(kSource, kLineSecondMainObject);
  g_main = this;

  TsMain(3) << L"Initializing message window";
  WNDCLASSW windowClass = {};
  windowClass.style = CS_NOCLOSE;
  windowClass.lpfnWndProc = &MainWndProc;
  windowClass.lpszClassName = kMainWindowClass;
  if (!RegisterClassW(&windowClass)) {
    TraceCheckAt(kSource, kLineClassRegistration, ResultFromWin32(GetLastError()));
  } else {
    g_mainWindow = CreateWindowExW(0, kMainWindowClass, kMainWindowName, 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                   nullptr);
  }

  marker_ = std::make_unique<SingleInstanceLock>();
  mustEnd_ = !AcquireSingleInstance(*marker_, g_mainWindow);
}

CTavoMain::~CTavoMain() {
  if (g_main == this) g_main = nullptr;
  marker_.reset();
  identification_.reset();
  if (g_mainWindow) DestroyWindow(g_mainWindow);
  g_mainWindow = nullptr;
  UnregisterClassW(kMainWindowClass, nullptr);
}

HWND CTavoMain::Window() const { return g_mainWindow; }

int CTavoMain::Run() {
  DebugWaitHook(true);
  AppShutdown::Initialize();

  if (!RegisterSessionNotifications()) {
    UnregisterSessionNotifications();
    return 1;
  }

  if (config_->NP == 0) {
    TracePrintf(TC_Startup, 2, L"Startup: lowering security access\n");
    ACL emptyAcl;
    InitializeAcl(&emptyAcl, sizeof(emptyAcl), ACL_REVISION);
    SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT,
                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION |
                        UNPROTECTED_SACL_SECURITY_INFORMATION,
                    nullptr, nullptr, &emptyAcl, nullptr);
  } else {
    TracePrintf(TC_Startup, 2, L"Startup: NOT lowering security access\n");
  }

  identification_ = std::make_unique<UserIdentification>(*config_, g_identityPlatform);
  identification_->SetEnvironmentType(config_->UT);
  identification_->DetectEnvironment();
  identification_->StartThread();

  TracePrintf(TC_Startup, 2, L"Startup: assemble V7100 backup chains\n");
  BackupChains::Instance().Assemble(*config_);

  ArmTimers();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }

  TracePrintf(TC_Startup, 2, L"Startup: normal (good) close\n");
  UnregisterSessionNotifications();
  V7kClientRegistry& registry = V7kClientRegistry::Instance();
  // A client that ends on the shutdown event alone leaves the appliance believing the user
  // is still logged on: the connected ones log off first.
  registry.StopAll();
  // The workers stop before the identification object and the windows go, so that no
  // thread still uses them.
  if (!AppShutdown::IsShutdownFinished()) ShutdownApp();
  registry.Cleanup();
  identification_.reset();
  if (g_mainWindow) DestroyWindow(g_mainWindow);
  g_mainWindow = nullptr;
  return 0;
}

void CTavoMain::ArmTimers() {
  HWND window = Window();
  SetTimer(window, kTimerInterfaceCheck, g_timing.firstInterfaceCheckMs, nullptr);
  SetTimer(window, kTimerIdentityCheck, g_timing.identityCheckMs, nullptr);
  const int32_t environment = identification_ ? identification_->EnvironmentType() : -1;
  if (environment == UserIdentification::kEnvWindows) SetTimer(window, kTimerDirectoryCheck, directoryCheckMs_, nullptr);
  if (environment == UserIdentification::kEnvNovell) SetTimer(window, kTimerNovellCheck, novellCheckMs_, nullptr);
  if (legacyMode_) SetTimer(window, kTimerLegacyCheck, g_timing.legacyCheckMs, nullptr);
}

bool CTavoMain::SessionMatches(DWORD session) const { return session == sessionId_ || sessionId_ == 0; }

// ---------------------------------------------------------------------------------------------
// Interface check and client restart

void CTavoMain::CheckNetworkInterfaces() {
  if (g_latePoll) {
    if (!ThreadEnded(g_latePoll->thread)) {
      // The previous poll still hangs: one stuck thread is enough.
      TracePrintf(TC_Socket, 1, L"Timed out while polling for interfaces.\n");
      return;
    }
    g_latePoll.reset();
  }

  auto poll = std::make_shared<InterfacePoll>();
  {
    std::lock_guard<std::mutex> guard(g_seamMutex);
    poll->query = g_interfaceQuery;
  }
  auto* parameter = new std::shared_ptr<InterfacePoll>(poll);
  poll->thread.Reset(CreateThread(nullptr, 0, &InterfacePollThread, parameter, 0, nullptr));
  if (!poll->thread.Valid()) {
    delete parameter;
    return;
  }
  if (WaitForSingleObject(poll->thread.Get(), g_timing.interfacePollWaitMs) != WAIT_OBJECT_0) {
    TracePrintf(TC_Socket, 1, L"Timed out while polling for interfaces.\n");
    g_latePoll = std::move(poll);
    return;
  }
  std::vector<uint32_t> addresses = std::move(poll->addresses);

  if (addresses.empty()) {
    TracePrintf(TC_Socket, 1, L"No interfaces connected.\n");
    return;
  }

  if (addresses != interfaces_) {
    TracePrintf(TC_Socket, 4, L"Network interface change detected.\n");
    for (uint32_t address : addresses) TsMain(1) << L"\tInterface detected: " << Dotted(address) << L".\n";
    interfaces_ = std::move(addresses);
    StartV7kClients();
    return;
  }

  bool restart = false;
  {
    V7kClientRegistry& registry = V7kClientRegistry::Instance();
    LockHolder hold(registry.Lock());
    for (const std::wstring& entry : SplitText(config_->RA, L';')) {
      const std::optional<ApplianceAddress> address = ParseApplianceEntry(entry, config_->RP);
      if (!address) continue;  // never started
      V7kClient* client = registry.Find(address->host);
      if (client && !client->HasEnded()) continue;
      TsMain(1) << L"No FSM for web filter at " << entry << L", restarting all...";
      ServiceModeExit(3000);
      restart = true;
      break;
    }
  }
  if (restart && sessionActive_) StartV7kClients();
}

void CTavoMain::StartV7kClients() {
  V7kClientRegistry& registry = V7kClientRegistry::Instance();
  LockHolder hold(registry.Lock());
  registry.StopAll();
  if (AppShutdown::IsShutdownRequested(250)) return;

  for (const std::wstring& entry : SplitText(config_->RA, L';')) {
    if (entry.empty()) continue;
    const std::optional<ApplianceAddress> address = ParseApplianceEntry(entry, config_->RP);
    if (!address) {
      TracePrintf(TC_Socket, 0, L"Web filter address '%s' names no host or no valid port; skipped.\n",
                  entry.c_str());
      continue;
    }
    const int32_t number = clientCounter_++;
    auto client = std::make_unique<V7kClient>(number, identification_.get(), *config_);
    const std::wstring& host = address->host;
    const uint16_t port = address->port;
    V7kClient* started = client.get();
    // A client already registered under this host goes to the stopping list.
    registry.Register(host, std::move(client));
    registry.Cleanup();
    started->SetAddress(host, port);
    started->StartThread();
    started->WaitStarted(g_timing.clientStartWaitMs);
    TracePrintf(TC_Socket, 1, L"V7kClient(%d) thread '%s' has been started.\n", number, entry.c_str());
  }
}

// ---------------------------------------------------------------------------------------------
// Event reactions

void CTavoMain::AnnounceSessionConnect() {
  sessionActive_ = true;
  TracePrintf(TC_App, 2, L"AnnounceSessionConnect()\n");
  V7kClientRegistry::Instance().StopAll();
  if (identification_) identification_->RequestIdentification();
}

void CTavoMain::AnnounceSessionDisconnect() {
  sessionActive_ = false;
  TracePrintf(TC_App, 2, L"AnnounceSessionDisconnect()\n");
  V7kClientRegistry::Instance().SignalAll();
}

void CTavoMain::OnSuspend() {
  sessionActive_ = false;
  TracePrintf(TC_Startup, 2, L"Startup: Suspend()\n");
  V7kClientRegistry::Instance().SignalAll();
}

void CTavoMain::OnResume() {
  sessionActive_ = true;
  TracePrintf(TC_Startup, 2, L"Startup: Resume()\n");
  V7kClientRegistry::Instance().StopAll();
  if (identification_) {
    PostMessageW(identification_->Window(), UserIdentification::kMsgCheckDirectoryConnection, 0, 0);
    identification_->RequestIdentification();
  }
  ServiceModeExit(5000);
}

void CTavoMain::OnEndSession() {
  KillTimer(Window(), kTimerInterfaceCheck);
  {
    // The process may end as soon as the end of the session is answered: connected clients
    // send their logoffs now, not at the loop's teardown that may never come.
    V7kClientRegistry& registry = V7kClientRegistry::Instance();
    LockHolder hold(registry.Lock());
    registry.StopAll();
    registry.Cleanup();
  }
  BackupChains::Instance().Clear();
}

void CTavoMain::OnNovellCheck() {
  if (identification_ && identification_->EnvironmentType() == UserIdentification::kEnvNovell) {
    PostMessageW(identification_->Window(), UserIdentification::kMsgCheckNovellIdentity, 0, 0);
    if (IsServiceMode()) {
      if (!sessionActive_) {
        AnnounceSessionConnect();
      } else if (!identification_->IsNovellConnected() && !HasNoUserName(identification_->GetIdentity())) {
        AnnounceSessionDisconnect();
      }
    }
  }
  TracePrintf(TC_App, 4, L"Next Novell identity check in %d seconds.", static_cast<int>(novellCheckMs_ / 1000));
}

void CTavoMain::OnTimer(UINT_PTR id, LPARAM lParam) {
  // A stopping agent starts nothing new: no client restarts, checks or service-mode exits.
  if (ShutdownRequested()) return;
  HWND window = Window();
  switch (id) {
    case kTimerInterfaceCheck:
      if (!(!sessionActive_ && sessionId_ != 0) && !GetSystemMetrics(SM_SHUTTINGDOWN)) CheckNetworkInterfaces();
      if (!ShutdownRequested()) SetTimer(window, kTimerInterfaceCheck, g_timing.interfaceCheckMs, nullptr);
      break;
    case kTimerIdentityCheck:
      if (!legacyMode_ && sessionActive_ && SessionMatches(static_cast<DWORD>(lParam)) && identification_ &&
          HasNoUserName(identification_->GetIdentity()))
        identification_->RequestIdentification();
      break;
    case kTimerDirectoryCheck:
      if (sessionActive_ && SessionMatches(static_cast<DWORD>(lParam))) {
        if (identification_)
          PostMessageW(identification_->Window(), UserIdentification::kMsgCheckDirectoryConnection, 0, 0);
        TracePrintf(TC_App, 1, L"Next Active Directory connection check in %d seconds.",
                    static_cast<int>(directoryCheckMs_ / 1000));
      }
      break;
    case kTimerNovellCheck:
      OnNovellCheck();
      break;
    case kTimerLegacyCheck:
      TracePrintf(TC_App, 1, L"Legacy mode user identity check.");
      if (IsServiceMode() && identification_) identification_->RequestIdentification();
      break;
    default:
      break;
  }
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CTavoMain* main = g_main;
  switch (message) {
    case kMsgQuitRequest:
      if (wParam == kQuitRequestCode) {
        PostQuitMessage(0);
        return kMsgQuitAnswer;
      }
      break;
    case WM_ENDSESSION:
      if (wParam) {
        SendMessageW(window, kMsgQuitRequest, kQuitRequestCode, 0);
        if (main) main->OnEndSession();
        Sleep(g_timing.endSessionSleepMs);
      }
      break;
    case WM_TIMER:
      if (main) main->OnTimer(wParam, lParam);
      break;
    case WM_POWERBROADCAST:
      if (main && wParam == PBT_APMSUSPEND) main->OnSuspend();
      if (main && wParam == PBT_APMRESUMEAUTOMATIC) main->OnResume();
      break;
    case WM_WTSSESSION_CHANGE:
      if (main && main->SessionMatches(static_cast<DWORD>(lParam))) {
        const int session = static_cast<int>(main->SessionId());
        switch (wParam) {
          case WTS_CONSOLE_CONNECT:
            TracePrintf(TC_App, 1, L"Console connection detected from session %d.\n", session);
            main->AnnounceSessionConnect();
            break;
          case WTS_CONSOLE_DISCONNECT:
            TracePrintf(TC_App, 4, L"Console disconnect detected from session %d.\n", session);
            main->AnnounceSessionDisconnect();
            break;
          case WTS_SESSION_LOGON:
            TracePrintf(TC_App, 4, L"Session logon detected from session %d.\n", session);
            main->AnnounceSessionConnect();
            break;
          case WTS_SESSION_LOGOFF:
            TracePrintf(TC_App, 4, L"Session logoff detected from session %d.\n", session);
            main->AnnounceSessionDisconnect();
            break;
          default:
            break;
        }
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
