// The process-wide service-mode flag and the service-mode exit that several parts of the
// agent take when they cannot recover (resume from suspend, a dead state machine, ...).
#pragma once

#include <windows.h>

// Set at start-up when the command line holds "-service".
bool IsServiceMode();
void SetServiceMode(bool serviceMode);

class AgentPlatform;

// In service mode: the platform's EndService (sleeps delayMs, then ends the process with exit
// status 1). Outside service mode, and once the shutdown event is set, it does nothing.
void ServiceModeExit(AgentPlatform& platform, DWORD delayMs);
