#include "client/AuthFSM_Outer.h"

#include "platform/ServiceMode.h"
#include "client/AuthFSM_Inner.h"
#include "client/AuthFsmOwner.h"
#include "support/Logging.h"

AuthFSM_Outer::AuthFSM_Outer(AuthFsmOwner* owner, AuthFSM_Inner* inner)
    : AuthFSM_Base("Outer", owner, &KnownStateName, &KnownEventName), peer_(inner) {
  inner->peer_ = this;
}

void AuthFSM_Outer::ResetInner() {
  peer_->Reset();
  owner_->StopTimer(kTimerLogonAck);
  owner_->StopTimer(kTimerHeartbeat);
}

// The end of the client: runs once however often ST_Dead is reached (a nested EV_Shutdown
// and the dispatch around it both see the change).
void AuthFSM_Outer::EnterDead() {
  if (deadEntered_) return;
  deadEntered_ = true;
  ResetInner();
  owner_->Close();
  owner_->ThreadEnd();
}

void AuthFSM_Outer::HandleEvent(int32_t event) {
  const int32_t before = state_;
  switch (state_) {
    case ST_Init:
      if (event == EV_V7kConnectReq) {
        if (owner_->HasUserIdentity()) {
          state_ = ST_Connecting;
          owner_->Connect();
        } else {
          TsV7kClient(3, owner_->InstanceText()) << "No user identity currently loaded.";
          owner_->ArmTimer(kTimerRetry, 5000);
        }
      } else if (event == EV_Shutdown) {
        state_ = ST_Dead;
      }
      break;

    case ST_Connecting:
      if (event == EV_V7kConnectionLost) {
        state_ = ST_Init;
        owner_->Close();
        owner_->RetryAfterLoss();
      } else if (event == EV_V7kConnected) {
        state_ = ST_Connected;
        owner_->SelectReadClose();
        peer_->onEvent(AuthFSM_Inner::EV_Start);
      } else if (event == EV_Shutdown) {
        owner_->Close();
        state_ = ST_Dead;
      }
      break;

    case ST_Connected:
      switch (event) {
        case EV_V7kConnectionLost:
        case EV_V7kProtoFail:
          ResetInner();
          owner_->Close();
          state_ = ST_Init;
          owner_->RetryAfterLoss();
          break;
        case EV_V7kLogonAckTimeout:
          ResetInner();
          owner_->Close();
          state_ = ST_Init;
          owner_->RetryAfterAckTimeout();
          break;
        case EV_UserIdentCheck:
          if (owner_->IdentityCheck()) onEvent(EV_Shutdown);
          break;
        case EV_V7kRxData:
          peer_->onEvent(AuthFSM_Inner::EV_TcpDataRx);
          break;
        case EV_Shutdown:
          peer_->onEvent(AuthFSM_Inner::EV_LogoffReq);
          state_ = ST_Dead;
          break;
        default:
          break;
      }
      break;

    case ST_Dead:
      ResetInner();
      owner_->Close();
      owner_->ThreadEnd();
      owner_->ServiceModeExit(5000);
      return;

    default:
      break;
  }
  if (before != ST_Dead && state_ == ST_Dead) EnterDead();
}
