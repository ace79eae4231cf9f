// What the connection and logon machines ask of the appliance client that holds them.
// Every call comes from the client's own thread, from inside a dispatch.
#pragma once

#include <windows.h>

#include <cstdint>

// The client's timers (on its message window).
enum V7kTimerId : UINT_PTR {
  kTimerPoll = 101,        // socket poll, 500 ms
  kTimerHeartbeat = 102,   // RH ms
  kTimerIdentCheck = 103,  // 30000 ms
  kTimerConnect = 104,     // 90000 ms connect timeout
  kTimerLogonAck = 105,    // RX ms
  kTimerRetry = 106,       // retry delay, or 5000 ms without identity
};

class AuthFsmOwner {
 public:
  virtual ~AuthFsmOwner() = default;

  // "(%d) " with the client's instance number: the extra text of the machines' trace lines.
  virtual const wchar_t* InstanceText() = 0;
  // The current identity has a user name (source not BLANK, text not empty).
  virtual bool HasUserIdentity() = 0;

  virtual void Connect() = 0;
  virtual void Close() = 0;
  // Selects read and close notifications on the connected socket.
  virtual void SelectReadClose() = 0;
  // Logoff when the logon cache asks for one, then the logon, then the RX timer.
  // False when a send failed (the machine then reports the connection lost).
  virtual bool LogonStart() = 0;
  virtual HRESULT SendLogoff() = 0;
  // Adds the ticks since the last update to the connection's millisecond counter; returns it.
  virtual uint32_t AdvanceHeartbeatCounter() = 0;
  virtual HRESULT SendHeartbeat(uint32_t counter) = 0;
  // Reads the reply: true for an accepting STAT.
  virtual bool Receive() = 0;
  virtual void RecordLogon() = 0;
  // True when the identity changed since the logon was built (the client logs it).
  virtual bool IdentityCheck() = 0;
  virtual void RetryAfterLoss() = 0;
  virtual void RetryAfterAckTimeout() = 0;
  // Logs the normal end, stops the poll timer and posts the quit message of the client thread.
  virtual void ThreadEnd() = 0;

  virtual void ArmTimer(V7kTimerId id, UINT milliseconds) = 0;
  virtual void StopTimer(V7kTimerId id) = 0;
  // RH: the heartbeat period in milliseconds.
  virtual UINT HeartbeatPeriod() = 0;
  virtual void Pause(DWORD milliseconds) = 0;
  // ServiceModeExit with the client's platform.
  virtual void ServiceModeExit(DWORD delayMs) = 0;
};
