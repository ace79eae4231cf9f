// The process-wide service-mode flag and the service-mode exit that several parts of the
// agent take when they cannot recover (resume from suspend, a dead state machine, ...).
#pragma once

#include <windows.h>

// Set at start-up when the command line holds "-service".
bool IsServiceMode();
void SetServiceMode(bool serviceMode);

// In service mode: sleeps delayMs, then ends the process with exit status 1.
// Outside service mode, and once the shutdown event is set (also during the sleep), it does
// nothing and returns.
void ServiceModeExit(DWORD delayMs);

// Test seam: replaces the sleep and the process end (nullptr restores them). The flag and
// the shutdown event are still checked before the replacement is called.
using ServiceExitFunction = void (*)(DWORD delayMs);
void SetServiceExitFunction(ServiceExitFunction function);
