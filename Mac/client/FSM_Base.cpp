#include "client/FSM_Base.h"

const char* FSM_Base_SignalName(int32_t signal) {
  switch (signal) {
    case SG_OperationComplete:
      return "SG_OperationComplete";
    case SG_Disconnected:
      return "SG_Disconnected";
    case SG_Connected:
      return "SG_Connected";
    case SG_Idle:
      return "SG_Idle";
    case SG_Shutdown:
      return "SG_Shutdown";
    case SG_ErrorAbort:
      return "SG_ErrorAbort";
    case SG_AckTimeout:
      return "SG_AckTimeout";
    default:
      return nullptr;
  }
}

const char* FSM_Base_IntEventName(int32_t event) {
  switch (event) {
    case EV_AppTerminate:
      return "EV_AppTerminate";
    case EV_Pause:
      return "EV_Pause";
    case EV_Debug_Dump:
      return "EV_Debug_Dump";
    default:
      return nullptr;
  }
}

const char* FSM_NameOrUnknown(const char* name, const char* prefix, int32_t number, char* buffer, size_t size) {
  if (name)
    snprintf(buffer, size, "%s", name);
  else
    snprintf(buffer, size, "%s_UNK_%d", prefix, number);
  return buffer;
}
