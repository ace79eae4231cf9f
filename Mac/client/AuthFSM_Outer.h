// The connection to one appliance: a TCP client per attempt, a logon machine per
// established connection, retries with random growing delays, and the shutdown.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "client/AuthFSM_Inner.h"
#include "LogonRetryCalculator.h"

// Which appliance a connection machine serves, and from which local interface.
struct AuthFSM_Signature {
  struct LocalInterface {
    sockaddr_in address{};  // the TCP client binds to it
    uint8_t ethernet[6] = {};
  };
  LocalInterface local;
  V7kAddrT appliance;
};

class AuthFSM_Outer : public AuthFSM_OuterIds {
 public:
  using Machine = FSM_Base<AuthFSM_Outer>;

  static constexpr int32_t kInitialState = ST_Init;
  static const char* StateName(int32_t state) { return KnownStateName(state); }
  static const char* EventName(int32_t event) { return KnownEventName(event); }
  static const char* SignalName(int32_t) { return nullptr; }
  const char* DisplayName() const { return _name; }

  // A connection machine with its machine object (log source "AuthFSM_Outer").
  static RefxPtr<AuthFSM_Outer> Create(const AuthFSM_Signature& signature, CTavoAuthConfig* config, const char* name);
  AuthFSM_Outer(const AuthFSM_Signature& signature, CTavoAuthConfig* config, const char* name);
  ~AuthFSM_Outer();
  AuthFSM_Outer(const AuthFSM_Outer&) = delete;
  AuthFSM_Outer& operator=(const AuthFSM_Outer&) = delete;

  void process_event(int32_t state, int32_t event, int32_t* nextState, void* data);

  const AuthFSM_Signature& Signature() const { return _signature; }
  int32_t Retries() const { return _retry.retries; }

 private:
  // False when the attempt was refused or failed at once.
  bool startConnection();
  void onConnectionEstablished();
  void resetAll();
  void RetryStep(const char* format, int32_t* nextState);
  static void onConnSignal(TcpClientFSM::Machine::SubscriptionType* subscription);
  static void onInnerSignal(AuthFSM_Inner::Machine::SubscriptionType* subscription);

  AuthFSM_Signature _signature;
  RefxPtr<TcpClientFSM> _tcp;
  CTavoAuthConfig* _config;
  char _name[64] = "";
  LogonRetryCalculator _retry{60, 2.0};
  RefxPtr<AuthFSM_Inner> _inner;
  int32_t _innerSubscription = 0;
  int32_t _tcpSubscription = 0;
  Machine* _fsm = nullptr;
};
