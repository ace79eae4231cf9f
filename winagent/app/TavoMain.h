// The agent's main object: the hidden main window and its message loop, the single-instance
// marker, the crash-dump filter, the session-notification registration, the identification
// object, and the timers that (re)start the appliance clients. One per process, built and run
// on the thread that becomes the main-loop thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/NetMutex.h"
#include "config/AgentConfig.h"

class UserIdentification;
struct IdentityPlatform;

inline constexpr wchar_t kMainWindowClass[] = L"TavoAuthClass";
inline constexpr wchar_t kMainWindowName[] = L"TavoAuthWnd";

// Timer ids of the main window.
constexpr UINT_PTR kTimerInterfaceCheck = 1;
constexpr UINT_PTR kTimerIdentityCheck = 2;
constexpr UINT_PTR kTimerDirectoryCheck = 3;
constexpr UINT_PTR kTimerNovellCheck = 4;
constexpr UINT_PTR kTimerLegacyCheck = 5;

class CTavoMain {
 public:
  // Installs the crash-dump filter, creates the main window and takes the single-instance
  // marker (asking a running instance to quit). The caller then reads MustEnd.
  explicit CTavoMain(const wchar_t* commandLine);
  // Releases the marker and frees the rest.
  ~CTavoMain();
  CTavoMain(const CTavoMain&) = delete;
  CTavoMain& operator=(const CTavoMain&) = delete;

  // True when the marker could not be taken: this instance must end.
  bool MustEnd() const { return mustEnd_; }

  // Sets up and runs the message loop until the quit message, then stops the workers and
  // tears down. 0 normally; 1 when the session id cannot be read.
  int Run();

  HWND Window() const;

  // The interface check of timer 1.
  void CheckNetworkInterfaces();
  // Stops every appliance client and starts one per RA entry.
  void StartV7kClients();

  void AnnounceSessionConnect();
  void AnnounceSessionDisconnect();
  void OnSuspend();
  void OnResume();
  void OnEndSession();

  // For the window procedure.
  DWORD SessionId() const { return sessionId_; }

 private:
  friend LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  bool RegisterSessionNotifications();
  void ArmTimers();
  void OnTimer(UINT_PTR id, LPARAM lParam);
  void OnNovellCheck();
  bool SessionMatches(DWORD session) const;

  std::wstring commandLine_;
  bool mustEnd_ = false;
  std::unique_ptr<SingleInstanceLock> marker_;
  DWORD sessionId_ = 0;
  bool sessionActive_ = true;
  bool legacyMode_ = false;
  DWORD directoryCheckMs_;
  DWORD novellCheckMs_;
  std::unique_ptr<UserIdentification> identification_;
  AgentConfig* config_ = &g_Config;
  std::vector<uint32_t> interfaces_;
  int32_t clientCounter_ = 1000;
};

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Writes one crash dump beside the program (at most 10 per program path); nothing when
// dbghelp's writer is not available.
void WriteCrashDump(EXCEPTION_POINTERS* exception);
// The agent's unhandled-exception filter: a crash dump, then the previous filter's answer
// (0, continue the search, when there was none).
LONG WINAPI TavoUnhandledExceptionFilter(EXCEPTION_POINTERS* exception);

// Ends the terminal-services registration of the main window and releases the library.
// Runs once per process, whichever of the loop's teardown and the service stop comes first.
void UnregisterSessionNotifications();

// Test seams. The production defaults are the real calls and the periods given.
struct TavoMainTiming {
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
// Read by every CTavoMain built afterwards.
void SetTavoMainTiming(const TavoMainTiming& timing);

// The machine's IPv4 addresses in host byte order, in the order given; empty when none or
// when the query failed. The default asks Windows Sockets for the host's own addresses.
// Runs on the short-lived poll thread.
using InterfaceQuery = std::function<std::vector<uint32_t>()>;
void SetInterfaceQuery(InterfaceQuery query);  // empty: the real query

// The session id of a process (default ProcessIdToSessionId).
using SessionIdQuery = BOOL(WINAPI*)(DWORD processId, DWORD* sessionId);
void SetSessionIdQuery(SessionIdQuery query);  // nullptr: the real call

// Where the identification object built by Run gets its answers (default: the real calls).
void SetIdentityPlatform(const IdentityPlatform& platform);

// The terminal-services library loaded by Run (default "wtsapi32.dll"; nullptr restores it).
void SetSessionLibraryName(const wchar_t* name);
