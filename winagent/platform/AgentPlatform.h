// What the agent asks of the machine where a test needs to give another answer, and the
// periods of its own waits. The program makes one (RealPlatform(): the real calls and the
// periods as shipped) and hands it down from the start-up path to the main object, its
// clients and its identification object; tests give their own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "identity/IdentityPlatform.h"
#include "LogonRetryCalculator.h"

// Periods of the main object's waits.
struct MainTimings {
  DWORD firstInterfaceCheckMs = 1000;
  DWORD interfaceCheckMs = 15000;
  DWORD identityCheckMs = 30000;
  DWORD directoryCheckMs = 300000;
  DWORD novellCheckMs = 30000;
  DWORD legacyCheckMs = 60000;
  DWORD sessionRetrySleepMs = 1000;  // between failed terminal-services registrations
  DWORD interfacePollWaitMs = 5000;
  DWORD clientStartWaitMs = 20000;
  DWORD endSessionSleepMs = 1000;
};

// Periods of an appliance client's waits; RH and RX come from the configuration record.
struct ClientTimings {
  UINT pollMs = 500;              // timer 101
  UINT identityCheckMs = 30000;   // timer 103
  UINT connectTimeoutMs = 90000;  // timer 104
  UINT noIdentityRetryMs = 5000;  // timer 106 while no identity is loaded
  UINT retrySecondMs = 1000;      // one second of retry delay (timer 106)
  DWORD logoffPauseMs = 1000;     // the pause after a logoff on the way out
};

class AgentPlatform {
 public:
  virtual ~AgentPlatform() = default;

  // The IPv4 address of an appliance host (a dotted address or a name); false when it does
  // not resolve. May take as long as the resolver takes: callers hold no lock around it.
  virtual bool ResolveHost(const std::wstring& host, in_addr& address);
  // The machine's IPv4 addresses in host byte order, in the order given; empty when none or
  // when the query failed. Runs on the short-lived interface poll thread.
  virtual std::vector<uint32_t> InterfaceAddresses();
  // The terminal-services session of a process.
  virtual bool SessionIdOf(DWORD processId, DWORD& sessionId);
  // Loads the terminal-services library for the main object (from the system folder).
  virtual HMODULE LoadSessionLibrary();
  // Where the identification object's sources get their answers.
  virtual IdentityPlatform Identity();
  // The random source of the clients' retry delays.
  virtual LogonRetryCalculator::RandomSource RetryRandom();
  // The end of a service that cannot go on (ServiceModeExit): sleeps delayMs, then ends the
  // process with exit status 1, unless the shutdown event becomes set meanwhile.
  virtual void EndService(DWORD delayMs);
  // The developer's wait for a debugger (DebugWaitHook): its one-second sleep, whether a
  // debugger is attached, the break into it, and the lines it is sent.
  virtual void DebugWaitSleep(DWORD milliseconds);
  virtual bool DebuggerPresent();
  virtual void BreakIntoDebugger();
  virtual void DebuggerOutput(const char* text);

  MainTimings mainTimings;
  ClientTimings clientTimings;
};

AgentPlatform& RealPlatform();
