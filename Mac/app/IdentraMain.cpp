#include "app/IdentraMain.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "support/ImmediateExit.h"
#include "identity/UserIdent.h"

#ifndef SIGEMT
#define SIGEMT 0
#endif
#ifndef SIGINFO
#define SIGINFO 0
#endif

const SignalRow sigTable[31] = {
    {"SIGHUP", SIGHUP, SM_QuitApp},       {"SIGINT", SIGINT, SM_QuitApp},      {"SIGQUIT", SIGQUIT, SM_QuitApp},
    {"SIGILL", SIGILL, SM_TerminateApp},  {"SIGTRAP", SIGTRAP, SM_LogOnly},    {"SIGABRT", SIGABRT, SM_TerminateApp},
    {"SIGEMT", SIGEMT, SM_Default},       {"SIGFPE", SIGFPE, SM_LogOnly},      {"SIGKILL", SIGKILL, SM_Default},
    {"SIGBUS", SIGBUS, SM_TerminateApp},  {"SIGSEGV", SIGSEGV, SM_TerminateApp}, {"SIGSYS", SIGSYS, SM_TerminateApp},
    {"SIGPIPE", SIGPIPE, SM_LogOnly},     {"SIGALRM", SIGALRM, SM_LogOnly},    {"SIGTERM", SIGTERM, SM_QuitApp},
    {"SIGURG", SIGURG, SM_LogOnly},       {"SIGSTOP", SIGSTOP, SM_Default},    {"SIGTSTP", SIGTSTP, SM_LogOnly},
    {"SIGCONT", SIGCONT, SM_LogOnly},     {"SIGCHLD", SIGCHLD, SM_LogOnly},    {"SIGTTIN", SIGTTIN, SM_LogOnly},
    {"SIGTTOU", SIGTTOU, SM_LogOnly},     {"SIGIO", SIGIO, SM_LogOnly},        {"SIGXCPU", SIGXCPU, SM_QuitApp},
    {"SIGXFSZ", SIGXFSZ, SM_QuitApp},     {"SIGVTALRM", SIGVTALRM, SM_LogOnly}, {"SIGPROF", SIGPROF, SM_LogOnly},
    {"SIGWINCH", SIGWINCH, SM_LogOnly},   {"SIGINFO", SIGINFO, SM_LogOnly},    {"SIGUSR1", SIGUSR1, SM_LogOnly},
    {"SIGUSR2", SIGUSR2, SM_LogOnly},
};

sigLog g_sigLog;

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");

// Set by the handler, read by the tick: also a quit that comes before the loop runs.
volatile std::sig_atomic_t g_quitRequested = 0;

// The table by this system's numbers, filled before any handler is installed.
const SignalRow* g_rowByNumber[NSIG] = {};

const SignalRow* RowOf(int signal) { return signal > 0 && signal < NSIG ? g_rowByNumber[signal] : nullptr; }

// Only async-signal-safe calls: write and _exit.
void WriteText(const char* text) {
  size_t left = strlen(text);
  while (left > 0) {
    const ssize_t n = write(STDERR_FILENO, text, left);
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

void sigHandler(int signal) {
  const int saved = errno;
  g_sigLog.Append(signal);
  const SignalRow* row = RowOf(signal);
  if (row && row->mode == SM_QuitApp) g_quitRequested = 1;
  if (row && row->mode == SM_TerminateApp) {
    WriteText("Terminating Identra on signal ");
    WriteText(row->name);
    WriteText("\n");
    _exit(1);
  }
  errno = saved;
}

}  // namespace

const char* SignalModeText(int32_t mode) {
  static const char* const kTexts[] = {"<default>", "ignored", "log only", "quit app", "terminate app"};
  return mode >= 0 && mode <= 4 ? kTexts[mode] : "<!invalid signal mode!>";
}

void sigLog::Append(int signal) {
  const int at = _count.fetch_add(1);
  if (at < kCapacity)
    _numbers[at] = signal;
  else
    _count.store(kCapacity);  // full until the next drain
}

void sigLog::Dump(const LogSource& log) {
  const int count = std::min(_count.load(), kCapacity);
  for (int i = 0; i < count; ++i) {
    const SignalRow* row = RowOf(_numbers[i]);
    if (row) log.Logf(SEV_NOTICE, "Mach signal received (%s): response=%s", row->name, SignalModeText(row->mode));
  }
  _count.store(0);
}

// IdentraMain ---------------------------------------------------------------------------------

const char* IdentraMain::StateName(int32_t state) {
  switch (state) {
    case ST_Init:
      return "ST_Init";
    case ST_Active:
      return "ST_Active";
    case ST_Suspended:
      return "ST_Suspended";
    case ST_Dead:
      return "ST_Dead";
    default:
      return nullptr;
  }
}

const char* IdentraMain::EventName(int32_t event) {
  switch (event) {
    case EV_EnvironCheckTimer:
      return "EV_EnvironCheckTimer";
    case EV_InitComplete:
      return "EV_InitComplete";
    case EV_Shutdown:
      return "EV_Shutdown";
    case EV_Suspend:
      return "EV_Suspend";
    case EV_Resume:
      return "EV_Resume";
    case EV_Resume2:
      return "EV_Resume2";
    case EV_UserCheckTimer:
      return "EV_UserCheckTimer";
    default:
      return nullptr;
  }
}

IdentraMain::IdentraMain(int argc, const char* const* argv, InterfaceSource interfaces)
    : _argc(argc),
      _argv(argv),
      _environTimer(5.0, &IdentraMain::onTimerFire, this),
      _tickTimer(1.0, &IdentraMain::onTimerFire, this),
      _resumeTimer(99999999999.9, &IdentraMain::onTimerFire, this),
      _userCheckTimer(60.0, &IdentraMain::onTimerFire, this),
      _snapshot(new NetInterfaceEnum(false)),
      _interfaces(interfaces ? std::move(interfaces) : [](NetInterfaceEnum& snapshot) { snapshot.Load(); }) {}

IdentraMain::~IdentraMain() = default;

void IdentraMain::Logf(int32_t severity, const char* format, ...) const {
  char text[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  _fsm->Log().Log(severity, text);
}

bool IdentraMain::Initialize(Machine* machine) {
  _fsm = machine;
  _fsm->Log().SetChannel(LC_AppMain);
  _fsm->Log().SetName("IdentraMain");
  UserOptionsDir<1> options;
  UserOptionsDir<1>::Create();
  CTavoAuthConfig& config = g_TavoAuthConfig;
  ParseParams::Exec(config, "Defaults", kConfigDefaultsText, 0);
  ParseParams::Exec(config, _argc, _argv);
  LoadConfigFile(config, ConfigFileFolders(UserOptionsDir<1>::Dir()));
  CheckUserIdentity();
  Logf(SEV_NOTICE, "Config revision (CR): %d, schema (CS): %d", static_cast<int>(config.CR),
       static_cast<int>(config.CS));
  initSignals();
  _environTimer.AddToRunLoop();
  _tickTimer.AddToRunLoop();
  _userCheckTimer.AddToRunLoop();
  _notifications.registerForNotifications(this);
  loadFSMs(config.RA, config.RP);
  _fsm->onEvent(EV_InitComplete, nullptr);
  return true;
}

int IdentraMain::Run() {
  CFRunLoopRun();
  return 0;
}

void IdentraMain::Shutdown() {
  Logf(SEV_NOTICE, "Shutdown() in progress...");
  CFRunLoopStop(CFRunLoopGetCurrent());
  _notifications.killNotifications();
  for (const RefxPtr<AuthFSM_Outer>& outer : _machines) outer->onEvent(AuthFSM_Outer::EV_Shutdown, nullptr);
}

void IdentraMain::NotifySuspendResume(bool suspend) {
  Logf(SEV_INFO, "IdentraMain received %s notification", suspend ? "suspend" : "resume");
  _fsm->onEvent(suspend ? EV_Suspend : EV_Resume, nullptr);
}

void IdentraMain::NotifySessionActiveInactive(bool active) {
  Logf(SEV_INFO, "IdentraMain received session %s notification", active ? "active" : "inactive");
  _fsm->onEvent(active ? EV_Resume : EV_Suspend, nullptr);
}

void IdentraMain::onTimerFire(WCFRunLoopTimer* timer, void* context) {
  auto* self = static_cast<IdentraMain*>(context);
  if (!g_sigLog.Empty()) g_sigLog.Dump(self->_fsm->Log());
  if (timer == &self->_tickTimer) {
    if (!self->_ticked) {
      self->_ticked = true;
      self->_fsm->onEvent(EV_EnvironCheckTimer, nullptr);
    }
    if (g_quitRequested) {
      g_quitRequested = 0;
      self->Shutdown();
    }
  } else if (timer == &self->_environTimer) {
    self->_fsm->onEvent(EV_EnvironCheckTimer, nullptr);
  } else if (timer == &self->_userCheckTimer) {
    self->_fsm->onEvent(EV_UserCheckTimer, nullptr);
  } else if (timer == &self->_resumeTimer) {
    self->_fsm->onEvent(EV_Resume2, nullptr);
  }
}

void IdentraMain::process_event(int32_t state, int32_t event, int32_t* nextState, void*) {
  switch (state) {
    case ST_Init:
      if (event == EV_InitComplete) *nextState = ST_Active;
      break;
    case ST_Active:
      if (event == EV_EnvironCheckTimer) {
        RefPtr<NetInterfaceEnum> snapshot(new NetInterfaceEnum(false));
        _interfaces(*snapshot);
        if (!(*snapshot == *_snapshot)) {
          snapshot->DumpStateToLog();
          resetAuthFSMs();
          _snapshot = snapshot;
        }
      } else if (event == EV_UserCheckTimer) {
        if (!IsLocalUser()) break;
        Logf(SEV_NOTICE, "Local user detected - checking for identity changes.");
        CheckUserIdentity();
        if (!IsLocalUser()) {
          Logf(SEV_NOTICE, "Identity changed from local user to directory user.");
          resetAuthFSMs();
        }
      } else if (event == EV_Suspend) {
        for (const RefxPtr<AuthFSM_Outer>& outer : _machines) outer->onEvent(AuthFSM_Outer::EV_Shutdown, nullptr);
        *nextState = ST_Suspended;
      } else if (event == EV_Shutdown) {
        Shutdown();
        *nextState = ST_Dead;
      }
      break;
    case ST_Suspended:
      if (event == EV_Resume) {
        _resumeTimer.AddToRunLoop();
        _resumeTimer.SetNextFireTime(5);
      } else if (event == EV_Resume2) {
        _resumeTimer.Stop();
        *nextState = ST_Active;
        resetAuthFSMs();
        ImmediateExit(1);
      } else if (event == EV_Shutdown) {
        Shutdown();
        *nextState = ST_Dead;
      }
      break;
    case ST_Dead:
      ImmediateExit(1);
      break;
    default:
      break;
  }
}

void IdentraMain::loadFSMs(const char* text, uint16_t defaultPort) {
  while (text && *text) {
    const char* next = nullptr;
    V7kAddrT address = V7kAddrT::ParseCreate(text, defaultPort, &next);
    if (!address.host.empty() && address.port != 0) {
      Logf(SEV_INFO, "Creating FSM for server %s:%d...", address.host.c_str(), address.port);
      _addresses.push_back(address);
    }
    text = next;
  }
}

void IdentraMain::resetAuthFSMs() {
  Logf(SEV_NOTICE, "Restarting all authentication objects");
  for (auto it = _machines.rbegin(); it != _machines.rend(); ++it) (*it)->onEvent(EV_AppTerminate, nullptr);
  _machines.clear();
  for (const V7kAddrT& address : _addresses) {
    AuthFSM_Signature signature;
    signature.appliance = address;
    RefxPtr<AuthFSM_Outer> outer = AuthFSM_Outer::Create(signature, &g_TavoAuthConfig, address.host.c_str());
    outer->PostEvent(0.00001, false, AuthFSM_Outer::EV_V7kConnectReq, nullptr);
    _machines.push_back(outer);
  }
}

bool IdentraMain::IsLocalUser() const {
  const CTavoAuthConfig::LocalUserT& user = g_TavoAuthConfig.LocalUser;
  return !user.domainName[0] && !user.userDN[0];
}

void IdentraMain::CheckUserIdentity() {
  CTavoAuthConfig& config = g_TavoAuthConfig;
  CTavoAuthConfig::LocalUserT& user = config.LocalUser;
  UserIdent ident(_fsm->Log(), [] { return g_quitRequested != 0; });
  const bool found = ident.Initialize(config.UX);
  if (!found) Logf(SEV_ERROR, "UserIdent initialization failed!");
  ident.DebugDump();
  // The cache stands in for the directory at an offline start: a failed lookup or a local
  // user must not replace a directory identity kept there.
  const int32_t type = ident.GetIdentType();
  if (found && (type == AT_OD_NATIVE || type == AT_OD_VIA_AD)) ident.Save();
  user.SetUserName(ident.GetUserName().c_str());
  const auto copy = [](char (&target)[257], const std::string& text) {
    snprintf(target, sizeof target, "%.256s", text.c_str());
  };
  copy(user.groupName, ident.GetGroupName());
  copy(user.machineName, ident.GetMachineName());
  copy(user.domainName, ident.GetDomainName());
  copy(user.userDN, ident.GetDistinguishedName());
  user.identType = ident.GetIdentType();
  ParseParams::Exec(config, _argc, _argv);
  if (ApplyDistinguishedNameTemplates(config) > 0)
    Logf(SEV_INFO, "User or machine DNs have been overridden with DN template parameters");
  Logf(SEV_NOTICE, "Final user identity: User:%s, Group:%s, Domain:%s, Machine:%s, UserDN:%s, MachDN:%s",
       user.userName, user.groupName, user.domainName, user.machineName, user.userDN, user.machineDN);
}

void IdentraMain::initSignals() {
  for (const SignalRow& row : sigTable)
    if (row.number > 0 && row.number < NSIG) g_rowByNumber[row.number] = &row;
  for (const SignalRow& row : sigTable) {
    // Signals this system lacks have no handler to install.
    if (row.mode == SM_Default || row.number == 0) continue;
    struct sigaction action {};
    action.sa_handler = &sigHandler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    if (sigaction(row.number, &action, nullptr) != 0)
      Logf(SEV_ERROR, "WARNING:  Signal trap install failed for signal type %s", row.name);
  }
}
