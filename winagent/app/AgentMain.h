// Start-up of idagent: the version switch, COM, the choice between session and service
// mode, and the service's dispatcher, service main, run thread and control handler.
#pragma once

#include <windows.h>

#include <string>

#include "platform/AgentNames.h"
#include "platform/AgentPlatform.h"

// The whole start-up sequence, with the platform that the main object hands down; the result
// is the process exit status.
int AgentMain(const wchar_t* commandLine, AgentPlatform& platform = RealPlatform());

// True when the command line asks for the version box: "-version" anywhere (which covers
// "--version") or exactly "-v".
bool IsVersionSwitch(const wchar_t* commandLine);
// Shows the box "Identra Version" when IsVersionSwitch; true when it was shown.
bool HandleVersionSwitch(const wchar_t* commandLine);

// Service mode: first configuration load from the whole process command line, then the
// service control dispatcher. 0 once the dispatcher returned, 1 when it could not start
// (the program was not started by the service manager).
int winMainService();
// The service main registered under "Qel_Auth".
void WINAPI authServiceMain(DWORD argc, LPWSTR* argv);
// The run thread's body: second configuration load, main object, main loop. 0 after a normal
// end of the loop, 1 when the service could not do its work.
int serviceRunThread();
void WINAPI ServiceCtrlHandler(DWORD control);
// Stop-pending, the main loop asked to end and torn down, ShutdownApp. The handler reports
// stopped afterwards.
void ServiceStop();

// Developer hook: waits up to HKLM "SOFTWARE\IdentraHack" "AuthDebugTimeout" seconds for a
// debugger to attach, and breaks into it when breakIntoDebugger is set.
void DebugWaitHook(bool breakIntoDebugger, AgentPlatform& platform);

// The service command-line text (the process command line, then the service's arguments).
std::wstring ServiceCommandLine();
bool IsRunThreadRunning();

// Test seams. The production defaults are the real calls and the periods given.
struct ServiceSeams {
  DWORD startDelayMs = 10000;  // before the service main does anything
  DWORD stepMs = 1000;         // polling step of the start and stop waits
  DWORD quitRequestTimeoutMs = 5000;
  SERVICE_STATUS_HANDLE(WINAPI* registerHandler)(LPCWSTR, LPHANDLER_FUNCTION) = &RegisterServiceCtrlHandlerW;
  BOOL(WINAPI* setStatus)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS) = &SetServiceStatus;
  HANDLE(WINAPI* createThread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                               LPDWORD) = &CreateThread;
  int (*runThreadBody)() = &serviceRunThread;
};
void SetServiceSeams(const ServiceSeams& seams);
// Back to the state before the first service main (no run thread, status record cleared).
// Only while no run thread is running.
void ResetServiceStateForTest();

