#include "client/TcpClient.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

// No SIGPIPE from a peer that has gone: the error shows in the send's result. Asked of each
// send where the system has the flag; a Mac has the socket option instead, set on connecting.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

}  // namespace

const char* TcpClientFSM::StateName(int32_t state) {
  switch (state) {
    case ST_Init:
      return "ST_Init";
    case ST_DNS_InProgress:
      return "ST_DNS_InProgress";
    case ST_Connect_InProgress:
      return "ST_Connect_InProgress";
    case ST_Connected:
      return "ST_Connected";
    case ST_Disconnected:
      return "ST_Disconnected";
    default:
      return nullptr;
  }
}

const char* TcpClientFSM::EventName(int32_t event) {
  switch (event) {
    case EV_ConnectReq:
      return "EV_ConnectReq";
    case EV_DNS_Result:
      return "EV_DNS_Result";
    case EV_ConnectResult:
      return "EV_ConnectResult";
    case EV_ConnectLost:
      return "EV_ConnectLost";
    case EV_DisconnectReq:
      return "EV_DisconnectReq";
    case EV_RxData:
      return "EV_RxData";
    default:
      return nullptr;
  }
}

const char* TcpClientFSM::SignalName(int32_t signal) {
  switch (signal) {
    case SG_Connected:
      return "SG_Connected";
    case SG_Disconnected:
      return "SG_Disconnected";
    case SG_RxData:
      return "SG_RxData";
    default:
      return nullptr;
  }
}

bool TcpClientFSM::EventThrottle::onEvent() {
  if (++count < limit) return false;
  RunLoopClock& clock = GetRunLoopClock();
  if (clock.Now() - start < window) {
    clock.Sleep(1.0);
    return true;
  }
  count = 0;
  start = clock.Now();
  return false;
}

RefxPtr<TcpClientFSM> TcpClientFSM::Create(const char* name) {
  auto* client = new TcpClientFSM(name);
  RefxPtr<TcpClientFSM> machine = MakeMachine(client);
  machine->Log().SetName("TcpClientFSM");
  machine->Log().SetChannel(LC_V7K_Sockets);
  client->_fsm = machine.get();
  return machine;
}

TcpClientFSM::TcpClientFSM(const char* name) {
  snprintf(_name, sizeof _name, "%s", name ? name : "");
  _throttle.start = CFAbsoluteTimeGetCurrent();
}

TcpClientFSM::~TcpClientFSM() {
  runLoopDetach();
  Logf(SEV_DEBUG, "TcpClientFSM destroyed");
  std::memcpy(_marker, "DDDD", 4);
  ReleaseHost();
  _socket.release();
}

void TcpClientFSM::Logf(int32_t severity, const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (_fsm) _fsm->Logf(severity, "%s: %s", _name, text);
}

bool TcpClientFSM::Alive() const { return std::memcmp(_marker, "MPCT", 4) == 0 && _fsm && !_disconnectSignalled; }

bool TcpClientFSM::Connect(const char* host, uint16_t port, const sockaddr_in* local) {
  if (!_fsm || _fsm->state() != ST_Init || port == 0 || !host || !*host) return false;
  _hostText = host;
  _port = port;
  if (local) _local = *local;
  _fsm->onEvent(EV_ConnectReq, nullptr);
  return true;
}

bool TcpClientFSM::SendData(const void* bytes, uint32_t length) {
  if (length == 0 || !bytes || !_socket.get()) return false;
  const ssize_t sent = send(CFSocketGetNative(_socket.get()), bytes, length, kSendFlags);
  if (sent == static_cast<ssize_t>(length) && !selectErr()) return true;
  Logf(SEV_NOTICE, "SendData error: %d", errno);
  _fsm->PostEvent(0.00001, false, EV_ConnectLost, nullptr);
  return false;
}

HeapBuff<uint8_t> TcpClientFSM::Read() {
  HeapBuff<uint8_t> joined = HeapBuffJoin(_rxQueue.begin(), _rxQueue.end());
  _rxQueue.clear();
  return joined;
}

uint32_t TcpClientFSM::DataAvailable() const {
  uint32_t total = 0;
  for (const HeapBuff<uint8_t>& block : _rxQueue) total += block.size();
  return total;
}

std::string TcpClientFSM::GetPeerAddrText() const { return inet_ntoa(_peer.sin_addr); }

std::string TcpClientFSM::GetLocalAddrText() const { return inet_ntoa(_local.sin_addr); }

bool TcpClientFSM::selectErr() const {
  if (!_socket.get()) return false;
  pollfd pfd{CFSocketGetNative(_socket.get()), POLLPRI, 0};
  return poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLPRI | POLLERR)) != 0;
}

void TcpClientFSM::runLoopDetach() {
  if (!_source) return;
  CFRunLoopSourceInvalidate(_source);
  CFRelease(_source);
  _source = nullptr;
}

void TcpClientFSM::ReleaseHost() {
  if (!_host) return;
  CFHostSetClient(_host, nullptr, nullptr);
  CFHostUnscheduleFromRunLoop(_host, CFRunLoopGetCurrent(), kCFRunLoopCommonModes);
  CFRelease(_host);
  _host = nullptr;
}

void TcpClientFSM::process_event(int32_t state, int32_t event, int32_t* nextState, void* data) {
  if (_throttle.onEvent()) Logf(SEV_DEBUG, "WARNING: Message rate throttling active due to event flood!");
  switch (state) {
    case ST_Init:
      if (event == EV_ConnectReq) *nextState = on_EV_ConnectReq();
      break;
    case ST_DNS_InProgress:
      if (event == EV_DNS_Result)
        *nextState = on_DNS_Result();
      else if (event == EV_ConnectLost || event == EV_DisconnectReq)
        *nextState = ST_Disconnected;
      break;
    case ST_Connect_InProgress:
      if (event == EV_ConnectResult && !data) {
        Logf(SEV_INFO, "Connection succeeded");
        *nextState = ST_Connected;
        _fsm->raise_signal(SG_Connected);
      } else if (event == EV_ConnectResult) {
        _lastError = *static_cast<const int32_t*>(data);
        Logf(SEV_INFO, "Connection failed, error code = %d", _lastError);
        *nextState = ST_Disconnected;
      } else if (event == EV_RxData) {
        Logf(SEV_INFO, "Data received while connection in progress");
        *nextState = ST_Connected;
        _fsm->onEvent(EV_RxData, data);
      } else if (event == EV_ConnectLost || event == EV_DisconnectReq) {
        *nextState = ST_Disconnected;
      }
      break;
    case ST_Connected:
      if (event == EV_RxData) {
        *nextState = on_RxData();
      } else if (event == EV_ConnectLost) {
        Logf(SEV_INFO, "Connection lost");
        *nextState = ST_Disconnected;
      } else if (event == EV_DisconnectReq) {
        Logf(SEV_INFO, "Disconnect request received from application");
        *nextState = ST_Disconnected;
      }
      break;
    default:
      break;
  }

  if (state == ST_DNS_InProgress && *nextState != ST_DNS_InProgress) ReleaseHost();
  if (state != ST_Disconnected && *nextState == ST_Disconnected) {
    if (_socket.get()) {
      CFSocketDisableCallBacks(_socket.get(), kCFSocketReadCallBack | kCFSocketConnectCallBack);
      _socket.release();
    }
    runLoopDetach();
    if (!_disconnectSignalled) {
      _disconnectSignalled = true;
      _fsm->raise_signal(SG_Disconnected);
    }
  }
}

int32_t TcpClientFSM::on_EV_ConnectReq() {
  if (_hostText.empty()) {
    Logf(SEV_NOTICE, "Bad _serverNameOrIP in on_EV_ConnectReq");
    return ST_Disconnected;
  }
  const bool known = _peer.sin_family == AF_INET && _peer.sin_addr.s_addr != 0 && _peer.sin_port != 0;
  if (!known) {
    _peer.sin_port = htons(_port);
    in_addr address{};
    if (inet_aton(_hostText.c_str(), &address)) {
      _peer.sin_family = AF_INET;
      _peer.sin_addr = address;
    } else {
      XCFString name(_hostText.c_str());
      _host = CFHostCreateWithName(kCFAllocatorDefault, name.get());
      CFHostClientContext context{0, this, nullptr, nullptr, nullptr};
      CFHostSetClient(_host, &TcpClientFSM::HostCallback, &context);
      CFHostScheduleWithRunLoop(_host, CFRunLoopGetCurrent(), kCFRunLoopCommonModes);
      CFHostStartInfoResolution(_host, kCFHostAddresses, nullptr);
      return ST_DNS_InProgress;
    }
  }
  Logf(SEV_INFO, "Connecting to port %d at %s (%s)", ntohs(_peer.sin_port), GetPeerAddrText().c_str(),
       _hostText.c_str());
  return do_tcp_connect();
}

int32_t TcpClientFSM::on_DNS_Result() {
  Boolean resolved = false;
  CFArrayRef list = CFHostGetAddressing(_host, &resolved);
  WCFArrayWrapper<sockaddr_in> addresses(static_cast<CFArrayRef>(CFRetain(list)));
  for (CFIndex i = 0; resolved && i < addresses.count(); ++i) {
    const sockaddr_in* address = addresses[i];
    if (!address || address->sin_family != AF_INET) continue;
    // Only the address: the port stays the configured one.
    _peer.sin_family = AF_INET;
    _peer.sin_addr = address->sin_addr;
    return on_EV_ConnectReq();
  }
  return ST_Disconnected;
}

int32_t TcpClientFSM::do_tcp_connect() {
  AGENT_ASSERT(!_socket.get(), "TcpClient");
  CFSocketContext context{0, this, nullptr, nullptr, nullptr};
  _socket.reset(CFSocketCreate(kCFAllocatorDefault, AF_INET, SOCK_STREAM, IPPROTO_TCP,
                               kCFSocketReadCallBack | kCFSocketConnectCallBack, &TcpClientFSM::SocketCallback,
                               &context));
  CFSocketError result = kCFSocketError;
  if (_socket.get()) {
#ifdef SO_NOSIGPIPE
    const int on = 1;
    setsockopt(CFSocketGetNative(_socket.get()), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    _local.sin_family = AF_INET;
    bind(CFSocketGetNative(_socket.get()), reinterpret_cast<const sockaddr*>(&_local), sizeof _local);
    _source = CFSocketCreateRunLoopSource(kCFAllocatorDefault, _socket.get(), 0);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), _source, kCFRunLoopCommonModes);
    WCFData address(&_peer, sizeof _peer);
    result = CFSocketConnectToAddress(_socket.get(), address.get(), -30.0);
  }
  if (result != kCFSocketSuccess) {
    const int error = errno;
    Logf(SEV_NOTICE, "CFSocketConnectToAddress(%s) failed: %s", GetPeerAddrText().c_str(), strerror(error));
    _socket.release();
    return ST_Disconnected;
  }
  socklen_t length = sizeof _local;
  getsockname(CFSocketGetNative(_socket.get()), reinterpret_cast<sockaddr*>(&_local), &length);
  return ST_Connect_InProgress;
}

int32_t TcpClientFSM::on_RxData() {
  const int fd = CFSocketGetNative(_socket.get());
  int waiting = 0;
  if (fd >= 0 && ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0) {
    HeapBuff<uint8_t> block(static_cast<uint32_t>(waiting));
    const ssize_t got = block.data() ? recv(fd, block.data(), static_cast<size_t>(waiting), 0) : -1;
    if (got > 0) {
      // Only the bytes that arrived.
      Enqueue(got == waiting ? std::move(block) : HeapBuff<uint8_t>(static_cast<uint32_t>(got), block.data()));
      Logf(SEV_DEBUG, "Received %d bytes", static_cast<int>(got));
      _fsm->raise_signal(SG_RxData);
      return ST_Connected;
    }
  }
  Logf(SEV_INFO, "peer close detected, selectErr=%d, %d", selectErr(), _socket.close_detected());
  return ST_Disconnected;
}

void TcpClientFSM::Enqueue(HeapBuff<uint8_t>&& block) {
  const uint32_t queued = DataAvailable();
  if (queued >= kMaxQueued) return;
  const uint32_t room = kMaxQueued - queued;
  if (block.size() > room) block = HeapBuff<uint8_t>(room, block.data());
  _rxQueue.push_back(std::move(block));
}

void TcpClientFSM::SocketCallback(CFSocketRef, CFSocketCallBackType type, CFDataRef, const void* data, void* info) {
  auto* self = static_cast<TcpClientFSM*>(info);
  if (!self->Alive()) return;
  try {
    if (type == kCFSocketReadCallBack)
      self->_fsm->onEvent(EV_RxData, nullptr);
    else if (type == kCFSocketConnectCallBack)
      self->_fsm->onEvent(EV_ConnectResult, const_cast<void*>(data));
  } catch (...) {
  }
}

void TcpClientFSM::HostCallback(CFHostRef, CFHostInfoType, const CFStreamError*, void* info) {
  auto* self = static_cast<TcpClientFSM*>(info);
  try {
    self->_fsm->onEvent(EV_DNS_Result, nullptr);
  } catch (...) {
  }
}
