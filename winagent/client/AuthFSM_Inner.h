// The logon machine of one appliance client: logoff if needed, logon, the status reply,
// heartbeats.
#pragma once

#include "AuthFsmIds.h"
#include "client/AuthFSM_Base.h"

class AuthFSM_Outer;

class AuthFSM_Inner : public AuthFSM_Base, public AuthFSM_InnerIds {
 public:
  explicit AuthFSM_Inner(AuthFsmOwner* owner) : AuthFSM_Base("Inner", owner, &KnownStateName, &KnownEventName) {}

  void HandleEvent(int32_t event) override;
  int32_t GetState() override { return state_; }

  // Back to ST_Init without a dispatch or a trace line (the Outer's reset).
  void Reset() { state_ = ST_Init; }

 private:
  friend class AuthFSM_Outer;

  int32_t state_ = ST_Init;
  AuthFSM_Outer* peer_ = nullptr;
};
