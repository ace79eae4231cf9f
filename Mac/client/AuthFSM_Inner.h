// The logon protocol over one established connection: logoff and logon, the wait for the
// appliance's status reply, then heartbeats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AcceptedLogons.h"
#include "AuthFsmIds.h"
#include "PacketLumo.h"
#include "config/TavoAuthConfig.h"
#include "client/TcpClient.h"

// Acknowledged logons of this process, one per appliance (keyed by its address text).
class LogoffDecision {
 public:
  using tLogonState = AcceptedLogon<std::string>;
  // True unless the appliance acknowledged a logon from this local address with this hash.
  static bool SendLogoff(const std::string& peer, const std::string& local, uint32_t hash);
  // Keeps the first acknowledged logon of each appliance.
  static void OnServerLogonAck(const std::string& peer, const std::string& local, uint32_t hash);
  static const tLogonState* find(const std::string& peer);

 private:
  static AcceptedLogons<std::string>& States();
};

class AuthFSM_Inner : public AuthFSM_InnerIds {
 public:
  using Machine = FSM_Base<AuthFSM_Inner>;

  static constexpr int32_t kInitialState = ST_Init;
  static const char* StateName(int32_t state) { return KnownStateName(state); }
  static const char* EventName(int32_t event) { return KnownEventName(event); }
  static const char* SignalName(int32_t signal) { return FSM_Base_SignalName(signal); }
  const char* DisplayName() const { return _name; }

  // A logon machine with its machine object (log source "AuthFSM_Inner"); the heartbeat
  // interval is heartbeatMs / 1000 seconds, 0 or less firing once.
  static RefxPtr<AuthFSM_Inner> Create(const RefxPtr<TcpClientFSM>& tcp, uint32_t heartbeatMs, const char* name,
                                       CTavoAuthConfig* config);
  AuthFSM_Inner(const RefxPtr<TcpClientFSM>& tcp, uint32_t heartbeatMs, const char* name, CTavoAuthConfig* config);
  ~AuthFSM_Inner();
  AuthFSM_Inner(const AuthFSM_Inner&) = delete;
  AuthFSM_Inner& operator=(const AuthFSM_Inner&) = delete;

  void initialize(Machine* fsm);
  void process_event(int32_t state, int32_t event, int32_t* nextState, void* data);

  bool AckTimeout() const { return _ackTimeout; }
  bool AckReceived() const { return _ackReceived; }

 private:
  // parseRxData's answer while the queued bytes are the start of a frame still arriving.
  static constexpr int32_t kAwaitMore = -1;
  // The shortest heartbeat interval a status reply may set.
  static constexpr uint32_t kMinApplianceHeartbeatMs = 1000;

  void V7100_Write(uint32_t command, const CParam* table);
  void sendLogon();
  void sendLogoff();
  void writeHeartbeat(uint32_t milliseconds);
  int32_t parseRxData();
  int32_t V7100_Read_STAT();
  void DeadStateExit(int32_t* nextState);
  TcpClientFSM* tcp() const { return _tcp->owner(); }
  static void heartbeatTimerThunk(WCFRunLoopTimer* timer, void* self);

  RefxPtr<TcpClientFSM> _tcp;
  LogSource _log{"AuthFSM_Inner"};
  WCFRunLoopTimer _heartbeat;
  char _name[64] = "";
  bool _ackTimeout = false;
  bool _ackReceived = false;
  Machine* _fsm = nullptr;
  CTavoAuthConfig* _config;
  CPacketLumo _packet;
  std::vector<uint8_t> _partial;  // the start of a frame, kept until the rest arrives
};
