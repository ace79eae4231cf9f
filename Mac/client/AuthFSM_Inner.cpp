#include "client/AuthFSM_Inner.h"

#include <cstdlib>
#include <cstring>

#include "support/ImmediateExit.h"

namespace {

// The bytes could be the beginning of one frame whose rest has not arrived yet: 'Q', the
// offset byte, the magic "LH" under that offset, and fewer bytes than the length declares.
bool IsFramePrefix(const uint8_t* bytes, size_t count) {
  if (count == 0 || bytes[0] != 'Q') return false;
  if (count < 2) return true;
  const uint8_t k = static_cast<uint8_t>(bytes[1] - 'E');
  if (count > 2 && static_cast<uint8_t>(bytes[2] - k) != 'L') return false;
  if (count > 3 && static_cast<uint8_t>(bytes[3] - k) != 'H') return false;
  if (count < CPacketLumo::kFrameOverhead) return true;
  const size_t length = (static_cast<size_t>(static_cast<uint8_t>(bytes[8] - k)) << 8) |
                        static_cast<uint8_t>(bytes[9] - k);
  return count < length + CPacketLumo::kFrameOverhead;
}

}  // namespace

// LogoffDecision -----------------------------------------------------------------------------

AcceptedLogons<std::string>& LogoffDecision::States() {
  static AcceptedLogons<std::string> states;
  return states;
}

bool LogoffDecision::SendLogoff(const std::string& peer, const std::string& local, uint32_t hash) {
  return LogoffBeforeLogon(States(), peer, local, hash);
}

void LogoffDecision::OnServerLogonAck(const std::string& peer, const std::string& local, uint32_t hash) {
  RecordAcceptedLogon(States(), peer, local, hash);
}

const LogoffDecision::tLogonState* LogoffDecision::find(const std::string& peer) {
  const auto it = States().find(peer);
  return it == States().end() ? nullptr : &it->second;
}

// AuthFSM_Inner ------------------------------------------------------------------------------

RefxPtr<AuthFSM_Inner> AuthFSM_Inner::Create(const RefxPtr<TcpClientFSM>& tcp, uint32_t heartbeatMs, const char* name,
                                             CTavoAuthConfig* config) {
  RefxPtr<AuthFSM_Inner> machine = MakeMachine(new AuthFSM_Inner(tcp, heartbeatMs, name, config));
  machine->Log().SetName("AuthFSM_Inner");
  machine->Log().SetChannel(LC_V7K_Proto);
  return machine;
}

AuthFSM_Inner::AuthFSM_Inner(const RefxPtr<TcpClientFSM>& tcp, uint32_t heartbeatMs, const char* name,
                             CTavoAuthConfig* config)
    : _tcp(tcp),
      _heartbeat(heartbeatMs / 1000.0, &AuthFSM_Inner::heartbeatTimerThunk, this),
      _config(config),
      _packet(kMacDialect, [] { return static_cast<uint8_t>(std::rand()); }) {
  snprintf(_name, sizeof _name, "%s", name ? name : "");
}

AuthFSM_Inner::~AuthFSM_Inner() {
  _log.Log(SEV_DEBUG, "AuthFSM_Inner destroyed");
  _heartbeat.Stop();
}

void AuthFSM_Inner::initialize(Machine* fsm) {
  _fsm = fsm;
  _fsm->PostEvent(0.00001, false, EV_Start, nullptr);
  _log.SetChannel(LC_V7K_Proto);
  _heartbeat.AddToRunLoop();
}

void AuthFSM_Inner::heartbeatTimerThunk(WCFRunLoopTimer*, void* self) {
  auto* inner = static_cast<AuthFSM_Inner*>(self);
  if (inner->_fsm) inner->_fsm->onEvent(EV_HeartbeatTimer, nullptr);
}

void AuthFSM_Inner::process_event(int32_t state, int32_t event, int32_t* nextState, void*) {
  const CTavoAuthConfig::LocalUserT& user = _config->LocalUser;
  switch (state) {
    case ST_Init:
      if (event != EV_Start) break;
      if (!user.domainName[0] && !user.userDN[0]) {
        _log.Log(SEV_INFO, "Local user detected; no operation to perform.");
        break;
      }
      if (LogoffDecision::SendLogoff(tcp()->GetPeerAddrText(), tcp()->GetLocalAddrText(), user.GetUserIdentityHash()))
        sendLogoff();
      sendLogon();
      _fsm->PostEvent(40.0, false, EV_LogonAckTimeout, nullptr);
      *nextState = ST_LogonAckPending;
      break;
    case ST_LogonAckPending:
      switch (event) {
        case EV_TcpDataRx: {
          const int32_t result = parseRxData();
          if (result == kAwaitMore) break;
          if (result == EV_LogonAckRx || result == EV_ProtoFail) {
            _fsm->PostEvent(0.00001, false, result, nullptr);
            break;
          }
          char name[128];
          _log.Logf(SEV_ERROR, "ERROR: Unexpected event %s returned from parseRxData",
                    FSM_NameOrUnknown(KnownEventName(result), "EV", result, name, sizeof name));
          DeadStateExit(nextState);
          break;
        }
        case EV_LogonAckRx:
          LogoffDecision::OnServerLogonAck(tcp()->GetPeerAddrText(), tcp()->GetLocalAddrText(),
                                           user.GetUserIdentityHash());
          _ackReceived = true;
          *nextState = ST_HeartbeatPending;
          break;
        case EV_LogonAckTimeout:
          _log.Log(SEV_INFO, "Server timed out responding to logon packet.  Overload suspected");
          _ackTimeout = true;
          DeadStateExit(nextState);
          break;
        case EV_ProtoFail:
          DeadStateExit(nextState);
          break;
        case EV_LogoffReq:
          sendLogoff();
          DeadStateExit(nextState);
          break;
        default:
          break;
      }
      break;
    case ST_HeartbeatPending:
      if (event == EV_HeartbeatTimer) {
        writeHeartbeat(0);
      } else if (event == EV_LogoffReq) {
        sendLogoff();
        DeadStateExit(nextState);
      }
      break;
    default:
      break;
  }
}

void AuthFSM_Inner::DeadStateExit(int32_t* nextState) {
  *nextState = ST_Dead;
  _fsm->raise_signal(SG_Shutdown);
  ImmediateExit(1);
}

void AuthFSM_Inner::V7100_Write(uint32_t command, const CParam* table) {
  const uint32_t length = _packet.ConstructFullPacket(command, table);
  if (length) tcp()->SendData(_packet.Frame(), length);
}

void AuthFSM_Inner::sendLogon() {
  const CTavoAuthConfig::LocalUserT& user = _config->LocalUser;
  LgonIdentity identity;
  identity.type = static_cast<uint8_t>(user.identType & 0xFF);
  identity.userName = user.userName;
  identity.domainName = user.domainName;
  identity.userDN = user.userDN;
  identity.groupName = user.groupName;
  identity.computerName = user.machineName;
  identity.fullName = user.fullName;
  identity.computerDN = user.machineDN;
  const LgonTable table(identity, LgonOrder::Mac);
  V7100_Write(kCmdLgon, table.Rows());
  _log.Log(SEV_NOTICE, "Logon packet sent to web filter");
  _log.Logf(SEV_DEBUG, "LGON packet contents: %s\n", table.Contents().c_str());
}

void AuthFSM_Inner::sendLogoff() {
  const LgofTable table(kMacDialect.logoffReason);
  V7100_Write(kCmdLgof, table.Rows());
  _log.Log(SEV_NOTICE, "Logoff packet sent to web filter");
}

void AuthFSM_Inner::writeHeartbeat(uint32_t milliseconds) {
  _log.Log(SEV_DEBUG, "Sending heartbeat...");
  const BeatTable table(milliseconds);
  V7100_Write(kCmdBeat, table.Rows());
}

int32_t AuthFSM_Inner::parseRxData() {
  if (tcp()->DataAvailable() == 0 && _partial.empty()) return EV_NULL;
  const HeapBuff<uint8_t> block = tcp()->Read();
  std::vector<uint8_t> bytes = std::move(_partial);
  _partial.clear();
  bytes.insert(bytes.end(), block.data(), block.data() + block.size());
  // A reply split over several reads: wait for the rest (the logon-ack time-out bounds it).
  if (IsFramePrefix(bytes.data(), bytes.size())) {
    _partial = std::move(bytes);
    return kAwaitMore;
  }
  const RxMessage message = ClassifyReceive(_packet, bytes.data(), bytes.size());
  switch (message.kind) {
    case RxKind::BadFrame:
    case RxKind::BadMagic:
      _log.Logf(SEV_ERROR, "Unknown packet type received from server in response to logon request: [%02x %02x]", 0,
                message.kind == RxKind::BadMagic ? message.magic & 0xFF : 0);
      return EV_ProtoFail;
    case RxKind::Stat:
      return V7100_Read_STAT() == 0 ? EV_LogonAckRx : EV_ProtoFail;
    case RxKind::OtherCommand:
      break;
  }
  _log.Logf(SEV_NOTICE, "Unknown event '%c%c%c%c' received.\n", static_cast<char>(message.command >> 24),
            static_cast<char>(message.command >> 16), static_cast<char>(message.command >> 8),
            static_cast<char>(message.command));
  return EV_NULL;
}

int32_t AuthFSM_Inner::V7100_Read_STAT() {
  const StatReply reply = ReadStatReply(_packet.Params(), _packet.Payload(), _packet.PayloadLength(), _config->RH);
  if (reply.outcome == StatOutcome::Malformed) return kResultFail;
  if (reply.status != 0) {
    _log.Logf(SEV_NOTICE, "'STAT' error: code:%li message:\"%s\".", static_cast<long>(reply.status),
              reply.errorText.c_str());
    if (reply.status == 1) _log.Log(SEV_NOTICE, "'STAT' 1: Client Version Is Old.  Terminating.");
    return kResultFail;
  }
  _log.Log(SEV_NOTICE, "'STAT' SUCCESS received: user identity accepted by web filter appliance");
  const uint32_t configured = _config->RH;
  _config->RH = reply.heartbeat;
  if (!reply.configText.empty()) ParseParams::Exec(*_config, "STAT packet", reply.configText.c_str(), 0);
  // An interval the appliance sets (its RH, or RH in its configuration text) beats at most
  // once a second; 0 keeps its meaning, and a configured one stays as it is.
  if (_config->RH != configured && _config->RH > 0 && _config->RH < kMinApplianceHeartbeatMs) {
    _log.Logf(SEV_NOTICE, "Heartbeat interval of %u ms from the web filter is taken as %u ms", _config->RH,
              kMinApplianceHeartbeatMs);
    _config->RH = kMinApplianceHeartbeatMs;
  }
  return 0;
}
