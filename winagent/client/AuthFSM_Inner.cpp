#include "client/AuthFSM_Inner.h"

#include "platform/ServiceMode.h"
#include "client/AuthFSM_Outer.h"
#include "client/AuthFsmOwner.h"

void AuthFSM_Inner::HandleEvent(int32_t event) {
  switch (state_) {
    case ST_Init:
      if (event == EV_Start) {
        state_ = ST_LogonAckPending;
        // A failed send makes the Outer reset this machine to ST_Init.
        if (!owner_->LogonStart()) peer_->onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
      }
      break;

    case ST_LogonAckPending:
      switch (event) {
        case EV_TcpDataRx:
          onEvent(owner_->Receive() ? EV_LogonAckRx : EV_ProtoFail);
          break;
        case EV_LogonAckRx:
          state_ = ST_HeartbeatPending;
          owner_->RecordLogon();
          // A period of 0 means no periodic heartbeat, not a timer at the system minimum.
          if (const UINT period = owner_->HeartbeatPeriod(); period != 0) owner_->ArmTimer(kTimerHeartbeat, period);
          break;
        case EV_LogonAckTimeout:
          state_ = ST_Dead;
          peer_->onEvent(AuthFSM_Outer::EV_V7kLogonAckTimeout);
          break;
        case EV_ProtoFail:
          state_ = ST_Dead;
          peer_->onEvent(AuthFSM_Outer::EV_V7kProtoFail);
          break;
        case EV_LogoffReq:
          state_ = ST_Dead;
          owner_->SendLogoff();  // ending either way
          owner_->Pause(1000);
          break;
        default:
          break;
      }
      break;

    case ST_HeartbeatPending:
      if (event == EV_HeartbeatTimer) {
        const uint32_t counter = owner_->AdvanceHeartbeatCounter();
        if (FAILED(owner_->SendHeartbeat(counter))) {
          peer_->onEvent(AuthFSM_Outer::EV_V7kConnectionLost);
        }
      } else if (event == EV_LogoffReq) {
        state_ = ST_Dead;
      }
      break;

    case ST_Dead:
      owner_->ServiceModeExit(5000);
      break;

    default:
      break;
  }
}
