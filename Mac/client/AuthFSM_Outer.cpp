#include "client/AuthFSM_Outer.h"

#include "support/ImmediateExit.h"

namespace {
constexpr const char* kLostMessage = "Web filter connection lost. Retries = %d; next attempt in %d seconds";
constexpr const char* kTimeoutMessage =
    "Web filter logon timeout.  Congestion mitigation in effect; retries=%d, next attempt in %d seconds";
}  // namespace

RefxPtr<AuthFSM_Outer> AuthFSM_Outer::Create(const AuthFSM_Signature& signature, CTavoAuthConfig* config,
                                             const char* name) {
  auto* outer = new AuthFSM_Outer(signature, config, name);
  RefxPtr<AuthFSM_Outer> machine = MakeMachine(outer);
  machine->Log().SetName("AuthFSM_Outer");
  machine->Log().SetChannel(LC_V7K_Proto);
  outer->_fsm = machine.get();
  return machine;
}

AuthFSM_Outer::AuthFSM_Outer(const AuthFSM_Signature& signature, CTavoAuthConfig* config, const char* name)
    : _signature(signature), _config(config) {
  snprintf(_name, sizeof _name, "%s", name ? name : "");
}

AuthFSM_Outer::~AuthFSM_Outer() {
  resetAll();
  _fsm->Logf(SEV_DEBUG, "AuthFSM_Outer destroyed");
}

void AuthFSM_Outer::process_event(int32_t state, int32_t event, int32_t* nextState, void*) {
  if (state == ST_Dead) {
    ImmediateExit(1);
    return;
  }
  if (event == EV_AppTerminate) {
    resetAll();
    return;
  }
  switch (state) {
    case ST_Init:
      if (event == EV_V7kConnectReq) {
        const bool underWay = startConnection();
        *nextState = ST_Connecting;
        // An attempt refused or failed at once, before the state above, was not seen as lost.
        if (!underWay) _fsm->PostEvent(0.00001, false, EV_V7kConnectionLost, nullptr);
      } else if (event == EV_Shutdown) {
        *nextState = ST_Dead;
      }
      break;
    case ST_Connecting:
      if (event == EV_V7kConnected) {
        *nextState = ST_Connected;
        onConnectionEstablished();
      } else if (event == EV_V7kConnectionLost) {
        RetryStep(kLostMessage, nextState);
      }
      break;
    case ST_Connected:
      switch (event) {
        case EV_V7kRxData:
          if (_inner) {
            _inner->onEvent(AuthFSM_Inner::EV_TcpDataRx, nullptr);
            if (_inner && _inner->owner()->AckReceived()) _retry.Reset();
          }
          break;
        case EV_V7kConnectionLost:
        case EV_V7kProtoFail:
          RetryStep(kLostMessage, nextState);
          break;
        case EV_V7kLogonAckTimeout:
          _retry.CountFailure();
          RetryStep(kTimeoutMessage, nextState);
          break;
        case EV_Shutdown:
          if (_inner) _inner->onEvent(AuthFSM_Inner::EV_LogoffReq, nullptr);
          resetAll();
          *nextState = ST_Dead;
          break;
        default:
          break;
      }
      break;
    default:
      break;
  }
}

void AuthFSM_Outer::RetryStep(const char* format, int32_t* nextState) {
  resetAll();
  *nextState = ST_Init;
  const int32_t delay = _retry.GetRetryTimerSeconds(SeededRand);
  _fsm->Logf(SEV_NOTICE, format, _retry.retries, delay);
  _retry.CountFailure();
  _fsm->PostEvent(delay, false, EV_V7kConnectReq, nullptr);
}

bool AuthFSM_Outer::startConnection() {
  _tcp = TcpClientFSM::Create(_name);
  const int32_t signals[] = {TcpClientFSM::SG_Connected, TcpClientFSM::SG_Disconnected, TcpClientFSM::SG_RxData};
  _tcpSubscription = _tcp->SubscribeToSignals(&AuthFSM_Outer::onConnSignal, this, 3, signals);
  const bool accepted =
      _tcp->owner()->Connect(_signature.appliance.host.c_str(), _signature.appliance.port, &_signature.local.address);
  return accepted && _tcp && _tcp->state() != TcpClientFSM::ST_Disconnected;
}

void AuthFSM_Outer::onConnectionEstablished() {
  _inner = AuthFSM_Inner::Create(_tcp, _config->RH, _name, _config);
  const int32_t signals[] = {SG_Shutdown};
  _innerSubscription = _inner->SubscribeToSignals(&AuthFSM_Outer::onInnerSignal, this, 1, signals);
  _inner->owner()->initialize(_inner.get());
}

void AuthFSM_Outer::resetAll() {
  if (_inner) {
    _inner->Unsubscribe(_innerSubscription);
    _inner.decr();
  }
  if (_tcp) {
    _tcp->Unsubscribe(_tcpSubscription);
    _tcp.decr();
  }
}

void AuthFSM_Outer::onConnSignal(TcpClientFSM::Machine::SubscriptionType* subscription) {
  auto* self = static_cast<AuthFSM_Outer*>(subscription->context);
  int32_t event;
  switch (subscription->signal) {
    case TcpClientFSM::SG_Connected:
      event = EV_V7kConnected;
      break;
    case TcpClientFSM::SG_Disconnected:
      event = EV_V7kConnectionLost;
      break;
    case TcpClientFSM::SG_RxData:
      event = EV_V7kRxData;
      break;
    default:
      return;
  }
  try {
    self->_fsm->onEvent(event, nullptr);
  } catch (...) {
  }
}

void AuthFSM_Outer::onInnerSignal(AuthFSM_Inner::Machine::SubscriptionType* subscription) {
  if (subscription->signal != SG_Shutdown) return;
  auto* self = static_cast<AuthFSM_Outer*>(subscription->context);
  const bool timedOut = subscription->source->owner()->AckTimeout();
  self->_fsm->PostEvent(0.00001, false, timedOut ? EV_V7kLogonAckTimeout : EV_V7kProtoFail, nullptr);
}
