// One appliance client per RA entry: its own thread with the hidden window "QueueServer",
// six timers, one TCP socket and the connection and logon machines. A process-wide logon
// cache decides whether a logoff must precede a logon; a process-wide registry lets the
// main window stop clients and start new ones.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/AgentPlatform.h"
#include "client/AuthFSM_Inner.h"
#include "client/AuthFSM_Outer.h"
#include "client/AuthFsmOwner.h"
#include "client/CSocket.h"
#include "ApplianceEntry.h"
#include "config/AgentConfig.h"
#include "identity/IdentityRecord.h"
#include "LogonRetryCalculator.h"
#include "PacketLumo.h"
#include "support/MessageWindow.h"
#include "support/Utilities.h"

class UserIdentification;

inline constexpr wchar_t kClientWindowClass[] = L"QueueServer";

// One RA entry: "host" (port from RP) or "host:port".
using ApplianceAddress = BasicApplianceAddress<wchar_t>;

class V7kClient : public AuthFsmOwner {
 public:
  // The current identity as the client copies it.
  using IdentityProvider = std::function<IdentityRecord()>;

  // Builds both machines, the retry calculator from RW and RM, the instance text and the
  // client's events. The starter then sets the address and starts the thread.
  V7kClient(int32_t instance, UserIdentification* identification, const AgentConfig& config = g_Config,
            AgentPlatform& platform = RealPlatform());
  V7kClient(int32_t instance, IdentityProvider identity, const AgentConfig& config = g_Config,
            AgentPlatform& platform = RealPlatform());
  ~V7kClient() override;
  V7kClient(const V7kClient&) = delete;
  V7kClient& operator=(const V7kClient&) = delete;

  // Host text without port (dotted address or name) and the port.
  void SetAddress(const std::wstring& host, uint16_t port);
  const std::wstring& Host() const { return host_; }
  uint16_t Port() const { return port_; }
  int32_t Instance() const { return instance_; }

  // Starts the client thread (ThreadMain). When no thread can be made the done event is
  // set at once, so the registry can free the client.
  bool StartThread();
  // Set once the window and the timers exist.
  bool WaitStarted(DWORD milliseconds);
  // The thread has ended (its done event is set).
  bool HasEnded() const;

  // From another thread: a connected client first sends its logoff, then the stop event
  // is set and the client ends at its next poll.
  void SignalStop();

  // The body of the client thread; returns when the connection machine is dead.
  void ThreadMain();

  // The window's handler: acts on timer messages only; the default procedure runs afterwards.
  void OnTimer(UINT message, WPARAM id);

  // State, for tests.
  int32_t InnerState() { return inner_.GetState(); }
  uint32_t LogonCrc() const { return logonCrc_; }

  // The machines' actions (AuthFsmOwner); called on the client thread.
  const wchar_t* InstanceText() override { return instanceText_.c_str(); }
  bool HasUserIdentity() override;
  void Connect() override;
  void Close() override;
  void SelectReadClose() override;
  bool LogonStart() override;
  HRESULT SendLogoff() override;
  uint32_t AdvanceHeartbeatCounter() override;
  HRESULT SendHeartbeat(uint32_t counter) override;
  bool Receive() override;
  void RecordLogon() override;
  bool IdentityCheck() override;
  void RetryAfterLoss() override;
  void RetryAfterAckTimeout() override;
  void ThreadEnd() override;
  void ArmTimer(V7kTimerId id, UINT milliseconds) override;
  void StopTimer(V7kTimerId id) override;
  UINT HeartbeatPeriod() override { return config_.RH; }
  void Pause(DWORD milliseconds) override;
  void ServiceModeExit(DWORD delayMs) override;

  // Empties the process-wide logon cache.
  static void ResetLogonCacheForTest();

 private:
  static DWORD WINAPI ThreadProc(void* self);

  HRESULT SendLogon(const IdentityRecord& identity);
  // Builds and writes one message; S_OK only when the whole frame was accepted.
  HRESULT Send(uint32_t command, const CParam* table);
  // Takes the socket's pending network events; false when none are signalled or reading them fails.
  bool TakeSocketEvents(WSANETWORKEVENTS& events);
  void ConnectPoll();
  void DataPoll();
  // True (after dispatching EV_Shutdown) when the shutdown or the stop event is set.
  bool StopRequested();
  void ScheduleRetry(const wchar_t* message);

  const AgentConfig& config_;
  AgentPlatform& platform_;
  IdentityProvider identity_;
  std::wstring host_;
  uint16_t port_ = 0;
  int32_t instance_;
  std::wstring instanceText_;

  AuthFSM_Inner inner_;
  AuthFSM_Outer outer_;
  LogonRetryCalculator retry_;
  uint32_t logonCrc_ = 0;

  MessageWindow window_;
  HandleHolder stopEvent_;
  HandleHolder socketEvent_;
  HandleHolder startedEvent_;
  HandleHolder doneEvent_;
  HandleHolder thread_;

  // Guards the socket, the packet buffer and the connected flag: SignalStop sends from
  // the main-loop thread while the client thread may use or close the socket.
  CriticalSection socketLock_;
  CSocket socket_;
  CPacketLumo packet_;
  bool connected_ = false;  // between SelectReadClose and Close
  std::wstring localAddress_;

  uint32_t heartbeatMs_ = 0;
  DWORD heartbeatTick_ = 0;
};

// The clients of the process by host, and those told to stop whose threads have not yet
// ended. Every operation takes Lock(); a caller holds it around a sequence of them.
class V7kClientRegistry {
 public:
  static V7kClientRegistry& Instance();

  CriticalSection& Lock() { return lock_; }

  // SignalStop every registered client, move it to the stopping list, empty the map.
  void StopAll();
  // SignalStop every registered client; they stay registered until they are replaced.
  void SignalAll();
  // The client registered under host, or nullptr.
  V7kClient* Find(const std::wstring& host);
  // Takes the client. A client already registered under the same host is signalled to
  // stop and moved to the stopping list, so no client runs unregistered.
  void Register(const std::wstring& host, std::unique_ptr<V7kClient> client);
  // Destroys the stopping clients whose threads have ended; the others stay for later.
  void Cleanup();

  size_t RegisteredCount();
  size_t StoppingCount();

 private:
  V7kClientRegistry() = default;

  CriticalSection lock_;
  std::unordered_map<std::wstring, std::unique_ptr<V7kClient>> clients_;
  std::vector<std::unique_ptr<V7kClient>> stopping_;
};
