// One TCP connection attempt to one appliance, as a state machine on the run loop: name
// resolution (skipped for dotted addresses), an asynchronous connect, a queue of received
// bytes, sending, and signals to the owner.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/CFHost.h"
#include "client/FSM_Base.h"

class TcpClientFSM {
 public:
  enum StateType : int32_t {
    ST_Init = 2700,
    ST_DNS_InProgress = 2701,
    ST_Connect_InProgress = 2702,
    ST_Connected = 2703,
    ST_Disconnected = 2705,
  };
  enum EventType : int32_t {
    EV_ConnectReq = 5400,
    EV_DNS_Result = 5401,
    EV_ConnectResult = 5402,  // data: null for success, else the 32-bit error code
    EV_ConnectLost = 5403,
    EV_DisconnectReq = 5404,
    EV_RxData = 5406,
  };
  enum SignalType : int32_t {
    SG_Connected = 101,
    SG_Disconnected = 102,
    SG_RxData = 103,
  };
  using Machine = FSM_Base<TcpClientFSM>;

  static constexpr int32_t kInitialState = ST_Init;
  static const char* StateName(int32_t state);
  static const char* EventName(int32_t event);
  static const char* SignalName(int32_t signal);

  // Only the first frame is ever parsed (nothing reads what arrives after the logon is
  // acknowledged): the queue keeps the oldest bytes, at most one largest frame, and drops
  // what arrives behind them.
  static constexpr uint32_t kMaxQueued = 65545;
  // Event flood guard: from the 30th event within 3 seconds each event waits 1 second first.
  struct EventThrottle {
    int32_t count = 0;
    double start = 0;
    double window = 3.0;
    int32_t limit = 30;
    // True when the event was held back.
    bool onEvent();
  };

  // A client with its machine (log source "TcpClientFSM"); name prefixes its log lines.
  static RefxPtr<TcpClientFSM> Create(const char* name);
  explicit TcpClientFSM(const char* name);
  ~TcpClientFSM();
  TcpClientFSM(const TcpClientFSM&) = delete;
  TcpClientFSM& operator=(const TcpClientFSM&) = delete;

  const char* DisplayName() const { return _name; }
  void process_event(int32_t state, int32_t event, int32_t* nextState, void* data);

  // Accepted only in ST_Init with a host and a port other than 0.
  bool Connect(const char* host, uint16_t port, const sockaddr_in* local = nullptr);
  bool SendData(const void* bytes, uint32_t length);
  HeapBuff<uint8_t> Read();
  uint32_t DataAvailable() const;
  std::string GetPeerAddrText() const;
  std::string GetLocalAddrText() const;
  bool selectErr() const;
  void runLoopDetach();
  int32_t LastConnectError() const { return _lastError; }
  Machine* machine() const { return _fsm; }

 private:
  int32_t on_EV_ConnectReq();
  int32_t do_tcp_connect();
  int32_t on_DNS_Result();
  int32_t on_RxData();
  void Enqueue(HeapBuff<uint8_t>&& block);
  void ReleaseHost();
  void Logf(int32_t severity, const char* format, ...) __attribute__((format(printf, 3, 4)));
  static void SocketCallback(CFSocketRef s, CFSocketCallBackType type, CFDataRef address, const void* data,
                             void* info);
  static void HostCallback(CFHostRef host, CFHostInfoType type, const CFStreamError* error, void* info);
  bool Alive() const;

  char _marker[4] = {'M', 'P', 'C', 'T'};
  sockaddr_in _peer{};
  sockaddr_in _local{};
  Machine* _fsm = nullptr;
  CFRunLoopSourceRef _source = nullptr;
  std::vector<HeapBuff<uint8_t>> _rxQueue;
  std::string _hostText;
  uint16_t _port = 0;
  WCFSocket _socket;
  CFHostRef _host = nullptr;
  EventThrottle _throttle;
  int32_t _lastError = 0;
  char _name[128] = "";
  bool _disconnectSignalled = false;
};
