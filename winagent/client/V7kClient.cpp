#include "client/V7kClient.h"

#include <cwchar>

#include "AcceptedLogons.h"
#include "platform/AppShutdown.h"
#include "platform/ServiceMode.h"
#include "client/ApplianceProtocol.h"
#include "identity/UserIdentification.h"
#include "support/Logging.h"

namespace {

// Which identity each appliance accepted from which local address.
struct LogonCache {
  CriticalSection lock;
  AcceptedLogons<std::wstring> records;
};

LogonCache& Cache() {
  static LogonCache* cache = new LogonCache;  // outlives every client thread
  return *cache;
}

// A shortened wait keeps its proportion to the nominal one.
UINT Scaled(UINT milliseconds, UINT nominal, UINT actual) {
  if (nominal == actual) return milliseconds;
  return static_cast<UINT>(static_cast<uint64_t>(milliseconds) * actual / nominal);
}

std::wstring Hex(HRESULT hr) {
  wchar_t text[16];
  _snwprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
  text[15] = L'\0';
  return text;
}

std::wstring WithoutPort(const std::wstring& address) { return address.substr(0, address.find(L':')); }

HANDLE NewEvent(bool manualReset) { return CreateEventW(nullptr, manualReset, FALSE, nullptr); }

}  // namespace

// ---- V7kClient ----

V7kClient::V7kClient(int32_t instance, UserIdentification* identification, const AgentConfig& config,
                     AgentPlatform& platform)
    : V7kClient(instance, IdentityProvider([identification] { return identification->GetIdentity(); }), config,
                platform) {}

V7kClient::V7kClient(int32_t instance, IdentityProvider identity, const AgentConfig& config, AgentPlatform& platform)
    : config_(config),
      platform_(platform),
      identity_(std::move(identity)),
      port_(config.RP),
      instance_(instance),
      inner_(this),
      outer_(this, &inner_),
      retry_(static_cast<int32_t>(config.RW / 1000), config.RM),
      stopEvent_(NewEvent(true)),
      socketEvent_(WSACreateEvent()),
      startedEvent_(NewEvent(true)),
      doneEvent_(NewEvent(true)),
      packet_(MakeAgentPacket()) {
  wchar_t text[64];
  _snwprintf(text, 64, L"(%d) ", static_cast<int>(instance));
  text[63] = L'\0';
  instanceText_ = text;
}

V7kClient::~V7kClient() {
  window_.Destroy();
  TsV7kClient(2, instanceText_) << "V7kClient dtor";
  LockHolder hold(socketLock_);
  if (socket_.IsValid()) socket_.Close();
}

void V7kClient::SetAddress(const std::wstring& host, uint16_t port) {
  host_ = host;
  port_ = port;
}

bool V7kClient::StartThread() {
  thread_.Reset(CreateThread(nullptr, 0, &V7kClient::ThreadProc, this, 0, nullptr));
  if (thread_.Valid()) return true;
  TsV7kClient(0, instanceText_) << "Could not start the client thread: " << Hex(ResultFromWin32(GetLastError()));
  SetEvent(doneEvent_.Get());
  return false;
}

DWORD WINAPI V7kClient::ThreadProc(void* self) {
  static_cast<V7kClient*>(self)->ThreadMain();
  return 0;
}

bool V7kClient::WaitStarted(DWORD milliseconds) {
  return WaitForSingleObject(startedEvent_.Get(), milliseconds) == WAIT_OBJECT_0;
}

bool V7kClient::HasEnded() const { return WaitForSingleObject(doneEvent_.Get(), 0) == WAIT_OBJECT_0; }

void V7kClient::ThreadMain() {
  AppShutdown::RegisterWorker(doneEvent_.Get(), (L"V7kClient." + host_).c_str());

  const bool windowMade = window_.Create(kClientWindowClass, kClientWindowClass,
                                         [this](HWND, UINT message, WPARAM wParam, LPARAM) {
                                           OnTimer(message, wParam);
                                           return std::optional<LRESULT>();
                                         });
  if (!windowMade) {
    TsV7kClient(0, instanceText_) << "Could not create the client window: "
                                  << Hex(ResultFromWin32(GetLastError()));
    SetEvent(startedEvent_.Get());
    SetEvent(doneEvent_.Get());
    return;
  }
  const ClientTimings& timing = platform_.clientTimings;
  SetTimer(window_.Handle(), kTimerPoll, timing.pollMs, nullptr);
  SetEvent(startedEvent_.Get());

  TsV7kClient(1, instanceText_) << "Thread open for business, id=" << GetCurrentThreadId();

  SetTimer(window_.Handle(), kTimerIdentCheck, timing.identityCheckMs, nullptr);
  outer_.onEvent(AuthFSM_Outer::EV_V7kConnectReq);

  // Asleep between messages; a stop request is taken at once, not at the next poll.
  const HANDLE stops[2] = {AppShutdown::ShutdownEvent(), stopEvent_.Get()};
  for (;;) {
    const MessageWindow::PumpResult result = window_.Pump(INFINITE, stops);
    if (result == MessageWindow::PumpResult::Event) {
      StopRequested();
    } else if (result != MessageWindow::PumpResult::Slice) {
      break;
    }
  }
  // The window belongs to this thread: it goes with it, and its timers with it.
  window_.Destroy();
  // Nothing of this object may be touched after the done event: the registry frees it.
  SetEvent(doneEvent_.Get());
}

void V7kClient::OnTimer(UINT message, WPARAM id) {
  if (message != WM_TIMER) return;
  switch (id) {
    case kTimerPoll:
      if (StopRequested()) break;
      switch (outer_.GetState()) {
        case AuthFSM_Outer::ST_Connecting:
          ConnectPoll();
          break;
        case AuthFSM_Outer::ST_Connected:
          DataPoll();
          break;
        default:
          break;
      }
      break;
    case kTimerHeartbeat:
      if (inner_.GetState() == AuthFSM_Inner::ST_HeartbeatPending) {
        inner_.onEvent(AuthFSM_Inner::EV_HeartbeatTimer);
      } else {
        StopTimer(kTimerHeartbeat);
      }
      break;
    case kTimerIdentCheck:
      outer_.onEvent(AuthFSM_Outer::EV_UserIdentCheck);
      break;
    case kTimerConnect:
      StopTimer(kTimerConnect);
      if (outer_.GetState() == AuthFSM_Outer::ST_Connecting) outer_.onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
      break;
    case kTimerLogonAck:
      StopTimer(kTimerLogonAck);
      inner_.onEvent(AuthFSM_Inner::EV_LogonAckTimeout);
      break;
    case kTimerRetry:
      StopTimer(kTimerRetry);
      outer_.onEvent(AuthFSM_Outer::EV_V7kConnectReq);
      break;
    default:
      break;
  }
}

bool V7kClient::StopRequested() {
  const HANDLE waits[2] = {AppShutdown::ShutdownEvent(), stopEvent_.Get()};
  const DWORD result = WaitForMultipleObjects(2, waits, FALSE, 0);
  if (result != WAIT_OBJECT_0 && result != WAIT_OBJECT_0 + 1) return false;
  outer_.onEvent(AuthFSM_Outer::EV_Shutdown);
  return true;
}

bool V7kClient::TakeSocketEvents(WSANETWORKEVENTS& events) {
  if (WaitForSingleObject(socketEvent_.Get(), 0) != WAIT_OBJECT_0) return false;
  LockHolder hold(socketLock_);
  return socket_.EnumEvents(socketEvent_.Get(), &events);
}

void V7kClient::ConnectPoll() {
  WSANETWORKEVENTS events{};
  if (!TakeSocketEvents(events)) return;
  if (events.lNetworkEvents & FD_CLOSE) {
    outer_.onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
  } else if (events.lNetworkEvents & FD_CONNECT) {
    if (events.iErrorCode[FD_CONNECT_BIT] != 0) {
      outer_.onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
      return;
    }
    {
      LockHolder hold(socketLock_);
      socket_.LocalAddress(localAddress_);
    }
    TracePrintf(TC_Socket, 2, L"SOCKET: [%s->%s] Connected.\n", localAddress_.c_str(), host_.c_str());
    heartbeatMs_ = 0;
    heartbeatTick_ = GetTickCount();
    outer_.onEvent(AuthFSM_Outer::EV_V7kConnected);
  }
}

void V7kClient::DataPoll() {
  WSANETWORKEVENTS events{};
  if (!TakeSocketEvents(events)) return;
  if (events.lNetworkEvents & FD_CLOSE) {
    outer_.onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
  } else if (events.lNetworkEvents & FD_READ) {
    outer_.onEvent(AuthFSM_Outer::EV_V7kRxData);
  }
}

bool V7kClient::HasUserIdentity() { return HasUserName(identity_()); }

void V7kClient::Connect() {
  bool created = false;
  HRESULT result = S_OK;
  {
    LockHolder hold(socketLock_);
    // Refused also while the previous socket is still open: never go on with that one.
    created = socket_.Create() != INVALID_SOCKET;
    if (!created) {
      result = CSocket::LastError();
    } else {
      socket_.SetNoDelay();
      WSAResetEvent(socketEvent_.Get());
      socket_.SelectEvents(socketEvent_.Get(), CSocket::kConnectEvents);
    }
  }
  if (!created) {
    TsV7kClient(0, instanceText_) << "V7100_Connect failed creating socket: " << Hex(result);
    outer_.onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
    return;
  }

  // A slow resolver stalls this client only: SignalStop takes the socket lock.
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port_);
  if (!platform_.ResolveHost(host_, address.sin_addr)) {
    result = CSocket::ResultFromWinsock(WSAEADDRNOTAVAIL);
  } else {
    LockHolder hold(socketLock_);
    if (!socket_.Connect(address)) result = CSocket::LastError();
  }
  if (result == S_OK || result == static_cast<HRESULT>(0x80072733)) {
    SetTimer(window_.Handle(), kTimerConnect, platform_.clientTimings.connectTimeoutMs, nullptr);
    return;
  }
  TracePrintf(TC_Socket, 1, L"SOCKET: [%s] General socket error encountered trying connect. (0x%08X).\n",
              host_.c_str(), static_cast<unsigned>(result));
  outer_.onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
}

void V7kClient::Close() {
  TsV7kClient(2, instanceText_) << "Closing socket to server.";
  LockHolder hold(socketLock_);
  connected_ = false;
  if (!socket_.IsValid()) return;
  socket_.Shutdown();
  socket_.Close();
}

void V7kClient::SelectReadClose() {
  LockHolder hold(socketLock_);
  socket_.SelectEvents(socketEvent_.Get(), CSocket::kDataEvents);
  connected_ = true;
}

bool V7kClient::LogonStart() {
  LockHolder cache(Cache().lock);
  const std::wstring local = WithoutPort(localAddress_);
  // One copy decides the logoff and goes into the logon.
  const IdentityRecord identity = identity_();
  const uint32_t crc = IdentityCrc(identity);
  if (LogoffBeforeLogon(Cache().records, host_, local, crc) && FAILED(SendLogoff())) return false;
  cache.Leave();

  if (FAILED(SendLogon(identity))) return false;
  SetTimer(window_.Handle(), kTimerLogonAck, config_.RX, nullptr);
  return true;
}

HRESULT V7kClient::SendLogon(const IdentityRecord& identity) {
  LgonIdentity lgon;
  lgon.type = identity.EnvType == ET_Novell ? 1 : 0;
  lgon.userName = ToUtf8(identity.UserName.value);
  lgon.domainName = ToUtf8(identity.DomainName.value);
  lgon.groupName = ToUtf8(identity.GroupName.value);
  lgon.computerName = ToUtf8(identity.ComputerName.value);
  lgon.fullName = ToUtf8(identity.DisplayName.value);
  lgon.userDN = ToUtf8(identity.UserDistinguishedName.value);
  lgon.computerDN = ToUtf8(identity.ComputerDistinguishedName.value);
  logonCrc_ = IdentityCrc(identity);

  LgonTable table(lgon, LgonOrder::Windows);
  const HRESULT hr = Send(kCmdLgon, table.Rows());
  TsV7kClient(4, instanceText_) << "LGON packet contents: " << table.Contents();
  return hr;
}

HRESULT V7kClient::SendLogoff() {
  LgofTable table(kWindowsDialect.logoffReason);
  return Send(kCmdLgof, table.Rows());
}

uint32_t V7kClient::AdvanceHeartbeatCounter() {
  const DWORD now = GetTickCount();
  heartbeatMs_ += now - heartbeatTick_;  // both wrap modulo 2^32
  heartbeatTick_ = now;
  return heartbeatMs_;
}

HRESULT V7kClient::SendHeartbeat(uint32_t counter) {
  BeatTable table(counter);
  return Send(kCmdBeat, table.Rows());
}

HRESULT V7kClient::Send(uint32_t command, const CParam* table) {
  LockHolder hold(socketLock_);
  const uint32_t length = packet_.ConstructFullPacket(command, table);
  if (length == 0) return TRACE_CHECK(static_cast<HRESULT>(kResultFail));

  const int sent = socket_.Send(packet_.Frame(), static_cast<int>(length));
  const bool ok = sent == static_cast<int>(length);
  if (!ok) {
    TsV7kClient(3, instanceText_) << "Write to socket failed with error "
                                  << Hex(sent == SOCKET_ERROR ? CSocket::LastError() : kResultFail);
  }
  TracePrintf(TC_Socket, 3, L"SOCKET: [%s->%s] Sent '%c%c%c%c' Packet. [%s]\n", localAddress_.c_str(),
              host_.c_str(), static_cast<wchar_t>((command >> 24) & 0xFF),
              static_cast<wchar_t>((command >> 16) & 0xFF), static_cast<wchar_t>((command >> 8) & 0xFF),
              static_cast<wchar_t>(command & 0xFF), ok ? L"Success" : L"Failure");
  return ok ? S_OK : static_cast<HRESULT>(kResultFail);
}

bool V7kClient::Receive() {
  LockHolder hold(socketLock_);
  uint8_t buffer[CSocket::kReceiveSize];
  const int count = socket_.Receive(buffer);
  if (count <= 0) return false;

  if (!ReceiveStat(packet_, buffer, static_cast<size_t>(count), config_.RH, instanceText_)) return false;
  retry_.Reset();
  return true;
}

void V7kClient::RecordLogon() {
  LockHolder cache(Cache().lock);
  // The identity that was sent and accepted, not whatever is current by now.
  RecordAcceptedLogon(Cache().records, host_, WithoutPort(localAddress_), logonCrc_);
}

bool V7kClient::IdentityCheck() {
  if (IdentityCrc(identity_()) == logonCrc_) return false;
  TsV7kClient(1, instanceText_) << "Detected user identity changes; restarting.";
  return true;
}

void V7kClient::ScheduleRetry(const wchar_t* message) {
  const int32_t delay = retry_.GetRetryTimerSeconds(platform_.RetryRandom());
  TsV7kClient(1, instanceText_) << message << delay << " seconds.";
  retry_.CountFailure();
  const ClientTimings& timing = platform_.clientTimings;
  SetTimer(window_.Handle(), kTimerRetry, static_cast<UINT>(delay) * timing.retrySecondMs, nullptr);
}

void V7kClient::RetryAfterLoss() { ScheduleRetry(L"Server connection lost or timed out.  Will retry in "); }

void V7kClient::RetryAfterAckTimeout() { ScheduleRetry(L"Server timeout waiting for logon ack.  Will retry in "); }

void V7kClient::ThreadEnd() {
  TsV7kClient(1, instanceText_) << "[" << host_ << "] thread shutdown normally.";
  StopTimer(kTimerPoll);
  PostQuitMessage(0);
}

void V7kClient::ArmTimer(V7kTimerId id, UINT milliseconds) {
  // The machines arm the retry timer only while no identity is loaded.
  if (id == kTimerRetry) milliseconds = Scaled(milliseconds, 5000, platform_.clientTimings.noIdentityRetryMs);
  SetTimer(window_.Handle(), id, milliseconds, nullptr);
}

void V7kClient::StopTimer(V7kTimerId id) { KillTimer(window_.Handle(), id); }

void V7kClient::Pause(DWORD milliseconds) { Sleep(Scaled(milliseconds, 1000, platform_.clientTimings.logoffPauseMs)); }

void V7kClient::ServiceModeExit(DWORD delayMs) { ::ServiceModeExit(platform_, delayMs); }

void V7kClient::SignalStop() {
  {
    LockHolder hold(socketLock_);
    if (connected_) SendLogoff();
  }
  TsV7kClient(1, instanceText_) << "V7k thread instance " << instance_ << " was signalled to shut down";
  SetEvent(stopEvent_.Get());
}

void V7kClient::ResetLogonCacheForTest() {
  LockHolder cache(Cache().lock);
  Cache().records.clear();
}

// ---- V7kClientRegistry ----

V7kClientRegistry& V7kClientRegistry::Instance() {
  // Never destroyed: clients still running at exit keep a valid registry.
  static V7kClientRegistry* registry = new V7kClientRegistry;
  return *registry;
}

void V7kClientRegistry::StopAll() {
  LockHolder hold(lock_);
  for (auto& [host, client] : clients_) {
    client->SignalStop();
    stopping_.push_back(std::move(client));
  }
  clients_.clear();
}

void V7kClientRegistry::SignalAll() {
  LockHolder hold(lock_);
  for (auto& [host, client] : clients_) client->SignalStop();
}

V7kClient* V7kClientRegistry::Find(const std::wstring& host) {
  LockHolder hold(lock_);
  const auto found = clients_.find(host);
  return found == clients_.end() ? nullptr : found->second.get();
}

void V7kClientRegistry::Register(const std::wstring& host, std::unique_ptr<V7kClient> client) {
  LockHolder hold(lock_);
  auto& slot = clients_[host];
  if (slot) {
    slot->SignalStop();
    stopping_.push_back(std::move(slot));
  }
  slot = std::move(client);
}

void V7kClientRegistry::Cleanup() {
  LockHolder hold(lock_);
  for (size_t i = stopping_.size(); i-- > 0;) {
    if (stopping_[i]->HasEnded()) stopping_.erase(stopping_.begin() + static_cast<ptrdiff_t>(i));
  }
}

size_t V7kClientRegistry::RegisteredCount() {
  LockHolder hold(lock_);
  return clients_.size();
}

size_t V7kClientRegistry::StoppingCount() {
  LockHolder hold(lock_);
  return stopping_.size();
}
