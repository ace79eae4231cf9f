// The connection machine of one appliance client.
#pragma once

#include "AuthFsmIds.h"
#include "client/AuthFSM_Base.h"

class AuthFSM_Inner;

class AuthFSM_Outer : public AuthFSM_Base, public AuthFSM_OuterIds {
 public:
  // Links itself and inner as peers; build the Inner first.
  AuthFSM_Outer(AuthFsmOwner* owner, AuthFSM_Inner* inner);

  void HandleEvent(int32_t event) override;
  int32_t GetState() override { return state_; }

 private:
  void ResetInner();
  void EnterDead();

  int32_t state_ = ST_Init;
  AuthFSM_Inner* peer_;
  bool deadEntered_ = false;
};
