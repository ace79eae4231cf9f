// State and event numbers of the connection machine (AuthFSM_Outer) and the logon machine
// (AuthFSM_Inner). Both agents use the same numbers and names; each agent formats the names
// of unknown numbers its own way, so the lookups here answer nullptr for those.
#pragma once

#include <cstdint>

struct AuthFSM_OuterIds {
  enum : int32_t {
    ST_Init = 2040,
    ST_Connecting = 2041,
    ST_Connected = 2042,
    ST_Dead = 2044,
  };
  enum : int32_t {
    EV_V7kConnectReq = 3100,
    EV_V7kConnected = 3101,
    EV_V7kConnectionLost = 3102,
    EV_V7kRxData = 3103,
    EV_V7kProtoFail = 3105,
    EV_V7kLogonAckTimeout = 3106,
    EV_Shutdown = 3107,
    EV_UserIdentCheck = 3108,
  };

  static constexpr const char* KnownStateName(int32_t state) {
    switch (state) {
      case ST_Init:
        return "ST_Init";
      case ST_Connecting:
        return "ST_Connecting";
      case ST_Connected:
        return "ST_Connected";
      case ST_Dead:
        return "ST_Dead";
      default:
        return nullptr;
    }
  }
  static constexpr const char* KnownEventName(int32_t event) {
    switch (event) {
      case EV_V7kConnectReq:
        return "EV_V7kConnectReq";
      case EV_V7kConnected:
        return "EV_V7kConnected";
      case EV_V7kConnectionLost:
        return "EV_V7kConnectionLost";
      case EV_V7kRxData:
        return "EV_V7kRxData";
      case EV_V7kProtoFail:
        return "EV_V7kProtoFail";
      case EV_V7kLogonAckTimeout:
        return "EV_V7kLogonAckTimeout";
      case EV_Shutdown:
        return "EV_Shutdown";
      case EV_UserIdentCheck:
        return "EV_UserIdentCheck";
      default:
        return nullptr;
    }
  }
};

struct AuthFSM_InnerIds {
  enum : int32_t {
    ST_Init = 9020,
    ST_LogonAckPending = 9022,
    ST_HeartbeatPending = 9023,
    ST_Dead = 9024,
  };
  enum : int32_t {
    EV_NULL = 0,
    EV_Start = 2100,
    EV_LogonAckRx = 2102,
    EV_LogonAckTimeout = 2103,
    EV_TcpDataRx = 2104,
    EV_HeartbeatTimer = 2105,
    EV_LogoffReq = 2107,
    EV_ProtoFail = 2108,
  };

  static constexpr const char* KnownStateName(int32_t state) {
    switch (state) {
      case ST_Init:
        return "ST_Init";
      case ST_LogonAckPending:
        return "ST_LogonAckPending";
      case ST_HeartbeatPending:
        return "ST_HeartbeatPending";
      case ST_Dead:
        return "ST_Dead";
      default:
        return nullptr;
    }
  }
  static constexpr const char* KnownEventName(int32_t event) {
    switch (event) {
      case EV_NULL:
        return "EV_NULL";
      case EV_Start:
        return "EV_Start";
      case EV_LogonAckRx:
        return "EV_LogonAckRx";
      case EV_LogonAckTimeout:
        return "EV_LogonAckTimeout";
      case EV_TcpDataRx:
        return "EV_TcpDataRx";
      case EV_HeartbeatTimer:
        return "EV_HeartbeatTimer";
      case EV_LogoffReq:
        return "EV_LogoffReq";
      case EV_ProtoFail:
        return "EV_ProtoFail";
      default:
        return nullptr;
    }
  }
};
