#include "app/TavoMain.h"

#include <aclapi.h>
#include <wtsapi32.h>

#include "app/AgentMain.h"
#include "platform/AppShutdown.h"
#include "app/CrashDump.h"
#include "platform/ServiceMode.h"
#include "app/SessionNotifications.h"
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

// The one main object of the process.
CTavoMain* g_main = nullptr;

bool ShutdownRequested() { return AppShutdown::IsShutdownRequested(0); }

std::wstring Dotted(uint32_t hostOrder) {
  wchar_t text[16];
  _snwprintf(text, 16, L"%u.%u.%u.%u", (hostOrder >> 24) & 0xFF, (hostOrder >> 16) & 0xFF, (hostOrder >> 8) & 0xFF,
             hostOrder & 0xFF);
  text[15] = L'\0';
  return text;
}

}  // namespace

CTavoMain::CTavoMain(const wchar_t* commandLine, AgentPlatform& platform)
    : platform_(platform),
      commandLine_(commandLine ? commandLine : L""),
      directoryCheckMs_(platform.mainTimings.directoryCheckMs),
      novellCheckMs_(platform.mainTimings.novellCheckMs),
      interfacePoll_(platform),
      clients_(*config_, platform) {
  InstallCrashDumpFilter();

  if (g_main) TraceAssertAt(kSource, kLineSecondMainObject);
  g_main = this;

  TsMain(3) << L"Initializing message window";
  const bool created = window_.Create(
      kMainWindowClass, kMainWindowName,
      [this](HWND, UINT message, WPARAM wParam, LPARAM lParam) { return OnMessage(message, wParam, lParam); },
      MessageWindow::TopLevel{CS_NOCLOSE, 1, 1});
  if (!created && !MessageWindow::ClassRegistered(kMainWindowClass))
    TraceCheckAt(kSource, kLineClassRegistration, ResultFromWin32(GetLastError()));

  marker_ = std::make_unique<SingleInstanceLock>();
  mustEnd_ = !AcquireSingleInstance(*marker_, Window());
}

CTavoMain::~CTavoMain() {
  if (g_main == this) g_main = nullptr;
  marker_.reset();
  identification_.reset();
  window_.Destroy();
}

int CTavoMain::Run() {
  DebugWaitHook(true, platform_);
  AppShutdown::Initialize();

  const SessionRegistration session = RegisterSessionNotifications(Window(), platform_);
  if (!session.sessionRead) {
    UnregisterSessionNotifications();
    return 1;
  }
  legacyMode_ = session.legacyMode;
  sessionId_ = session.sessionId;

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

  identification_ = std::make_unique<UserIdentification>(*config_, platform_);
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
  window_.Destroy();
  return 0;
}

void CTavoMain::ArmTimers() {
  HWND window = Window();
  const MainTimings& timings = platform_.mainTimings;
  SetTimer(window, kTimerInterfaceCheck, timings.firstInterfaceCheckMs, nullptr);
  SetTimer(window, kTimerIdentityCheck, timings.identityCheckMs, nullptr);
  const int32_t environment = identification_ ? identification_->EnvironmentType() : -1;
  if (environment == UserIdentification::kEnvWindows) SetTimer(window, kTimerDirectoryCheck, directoryCheckMs_, nullptr);
  if (environment == UserIdentification::kEnvNovell) SetTimer(window, kTimerNovellCheck, novellCheckMs_, nullptr);
  if (legacyMode_) SetTimer(window, kTimerLegacyCheck, timings.legacyCheckMs, nullptr);
}

bool CTavoMain::SessionMatches(DWORD session) const { return session == sessionId_ || sessionId_ == 0; }

// ---------------------------------------------------------------------------------------------
// Interface check and client restart

void CTavoMain::CheckNetworkInterfaces() {
  std::optional<std::vector<uint32_t>> addresses = interfacePoll_.Take(platform_.mainTimings.interfacePollWaitMs);
  if (!addresses) return;

  if (addresses->empty()) {
    TracePrintf(TC_Socket, 1, L"No interfaces connected.\n");
    return;
  }

  if (*addresses != interfaces_) {
    TracePrintf(TC_Socket, 4, L"Network interface change detected.\n");
    for (uint32_t address : *addresses) TsMain(1) << L"\tInterface detected: " << Dotted(address) << L".\n";
    interfaces_ = std::move(*addresses);
    StartV7kClients();
    return;
  }

  if (clients_.FindMissingClient() && sessionActive_) StartV7kClients();
}

void CTavoMain::StartV7kClients() { clients_.StartAll(identification_.get()); }

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
  ServiceModeExit(platform_, 5000);
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
      } else if (!identification_->IsNovellConnected() && HasUserName(identification_->GetIdentity())) {
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
      if (!ShutdownRequested()) SetTimer(window, kTimerInterfaceCheck, platform_.mainTimings.interfaceCheckMs, nullptr);
      break;
    case kTimerIdentityCheck:
      if (!legacyMode_ && sessionActive_ && SessionMatches(static_cast<DWORD>(lParam)) && identification_ &&
          !HasUserName(identification_->GetIdentity()))
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

void CTavoMain::OnSessionChange(WPARAM code, LPARAM session) {
  struct SessionEvent {
    WPARAM code;
    int level;
    const wchar_t* format;
    bool connect;  // else a disconnect
  };
  static constexpr SessionEvent kEvents[] = {
      {WTS_CONSOLE_CONNECT, 1, L"Console connection detected from session %d.\n", true},
      {WTS_CONSOLE_DISCONNECT, 4, L"Console disconnect detected from session %d.\n", false},
      {WTS_SESSION_LOGON, 4, L"Session logon detected from session %d.\n", true},
      {WTS_SESSION_LOGOFF, 4, L"Session logoff detected from session %d.\n", false},
  };
  if (!SessionMatches(static_cast<DWORD>(session))) return;
  for (const SessionEvent& event : kEvents) {
    if (event.code != code) continue;
    TracePrintf(TC_App, event.level, event.format, static_cast<int>(sessionId_));
    if (event.connect) {
      AnnounceSessionConnect();
    } else {
      AnnounceSessionDisconnect();
    }
    return;
  }
}

std::optional<LRESULT> CTavoMain::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kMsgQuitRequest:
      if (wParam == kQuitRequestCode) {
        PostQuitMessage(0);
        return kMsgQuitAnswer;
      }
      break;
    case WM_ENDSESSION:
      if (wParam) {
        SendMessageW(Window(), kMsgQuitRequest, kQuitRequestCode, 0);
        OnEndSession();
        Sleep(platform_.mainTimings.endSessionSleepMs);
      }
      break;
    case WM_TIMER:
      OnTimer(wParam, lParam);
      break;
    case WM_POWERBROADCAST:
      if (wParam == PBT_APMSUSPEND) OnSuspend();
      if (wParam == PBT_APMRESUMEAUTOMATIC) OnResume();
      break;
    case WM_WTSSESSION_CHANGE:
      OnSessionChange(wParam, lParam);
      break;
    default:
      break;
  }
  return std::nullopt;
}
