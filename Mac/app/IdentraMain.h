// The application object: configuration, identity, one connection machine per appliance,
// rebuilt on a network or identity change, sleep and wake (heard from the workspace
// notifications it owns), and the operating system's signals.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/SystemNotification.h"
#include "client/AuthFSM_Outer.h"
#include "identity/NetInterfaceEnum.h"

// How a caught signal is answered.
enum SignalMode : int32_t {
  SM_Default = 0,  // no handler installed
  SM_Ignored = 1,
  SM_LogOnly = 2,
  SM_QuitApp = 3,
  SM_TerminateApp = 4,
};
const char* SignalModeText(int32_t mode);

// A row of the signal table, keyed by name: some signals of the table do not exist on every
// system, and numbers differ between systems.
struct SignalRow {
  const char* name;
  int number;  // this system's number; 0 when it has no such signal
  int32_t mode;
};
extern const SignalRow sigTable[31];

// Signals caught since the last drain, in order of arrival; written by the handler only
// with lock-free atomics.
class sigLog {
 public:
  static constexpr int kCapacity = 32;
  void Append(int signal);
  bool Empty() const { return _count.load() == 0; }
  // Logs each entry, then empties the record.
  void Dump(const LogSource& log);

 private:
  volatile std::sig_atomic_t _numbers[kCapacity] = {};
  std::atomic<int> _count{0};
};
extern sigLog g_sigLog;

class IdentraMain final : public SystemNotification::Listener {
 public:
  enum StateType : int32_t { ST_Init = 2200, ST_Active = 2201, ST_Suspended = 2202, ST_Dead = 2203 };
  enum EventType : int32_t {
    EV_EnvironCheckTimer = 900,
    EV_InitComplete = 901,
    EV_Shutdown = 902,
    EV_Suspend = 903,
    EV_Resume = 904,
    EV_Resume2 = 905,
    EV_UserCheckTimer = 906,
  };
  using Machine = FSM_Base<IdentraMain>;
  // Fills a snapshot with the machine's interfaces; the default loads them from the system.
  using InterfaceSource = std::function<void(NetInterfaceEnum& snapshot)>;

  static constexpr int32_t kInitialState = ST_Init;
  static const char* StateName(int32_t state);
  static const char* EventName(int32_t event);
  static const char* SignalName(int32_t) { return nullptr; }
  const char* DisplayName() const { return ""; }

  IdentraMain(int argc, const char* const* argv, InterfaceSource interfaces = nullptr);
  ~IdentraMain();
  IdentraMain(const IdentraMain&) = delete;
  IdentraMain& operator=(const IdentraMain&) = delete;

  bool Initialize(Machine* machine);
  // Runs the current thread's loop until Shutdown stops it.
  int Run();
  void Shutdown();
  void NotifySuspendResume(bool suspend) override;
  void NotifySessionActiveInactive(bool active) override;
  void process_event(int32_t state, int32_t event, int32_t* nextState, void* data);

  const std::vector<RefxPtr<AuthFSM_Outer>>& Connections() const { return _machines; }

 private:
  static void onTimerFire(WCFRunLoopTimer* timer, void* context);
  void loadFSMs(const char* text, uint16_t defaultPort);
  void resetAuthFSMs();
  void CheckUserIdentity();
  void initSignals();
  bool IsLocalUser() const;
  void Logf(int32_t severity, const char* format, ...) const __attribute__((format(printf, 3, 4)));

  int _argc;
  const char* const* _argv;
  WCFRunLoopTimer _environTimer;
  WCFRunLoopTimer _tickTimer;
  WCFRunLoopTimer _resumeTimer;
  WCFRunLoopTimer _userCheckTimer;
  RefPtr<NetInterfaceEnum> _snapshot;
  std::vector<RefxPtr<AuthFSM_Outer>> _machines;
  V7kAddrVector _addresses;
  bool _ticked = false;
  Machine* _fsm = nullptr;
  InterfaceSource _interfaces;
  SystemNotification _notifications;
};
