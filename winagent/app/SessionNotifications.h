// Terminal-services session notifications of the main window. The main object registers at
// the start of its loop; whichever of the loop's teardown and the service stop comes first
// unregisters, once per process.
#pragma once

#include <windows.h>

class AgentPlatform;

struct SessionRegistration {
  bool sessionRead = true;  // false only when the session id could not be read
  bool legacyMode = false;  // registration failed 121 times
  DWORD sessionId = 0;      // read only when the library offers the registration
};

// Loads the library, registers window for the notifications of all sessions (retrying up to
// 120 more times) and reads this process's session id.
SessionRegistration RegisterSessionNotifications(HWND window, AgentPlatform& platform);

// Ends the registration and releases the library; a later call finds nothing to do.
void UnregisterSessionNotifications();
