// The agent's main object: the hidden main window and its message loop, the single-instance
// marker, the identification object, and the timers that (re)start the appliance clients.
// One per process, built and run on the thread that becomes the main-loop thread. The
// crash-dump filter, the session notifications, the interface poll and the client restart
// are units of their own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AgentNames.h"
#include "platform/AgentPlatform.h"
#include "app/ClientRestart.h"
#include "app/InterfacePoll.h"
#include "app/NetMutex.h"
#include "config/AgentConfig.h"
#include "support/MessageWindow.h"

class UserIdentification;

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
  explicit CTavoMain(const wchar_t* commandLine, AgentPlatform& platform = RealPlatform());
  // Releases the marker and frees the rest.
  ~CTavoMain();
  CTavoMain(const CTavoMain&) = delete;
  CTavoMain& operator=(const CTavoMain&) = delete;

  // True when the marker could not be taken: this instance must end.
  bool MustEnd() const { return mustEnd_; }

  // Sets up and runs the message loop until the quit message, then stops the workers and
  // tears down. 0 normally; 1 when the session id cannot be read.
  int Run();

  HWND Window() const { return window_.Handle(); }

  // The interface check of timer 1.
  void CheckNetworkInterfaces();
  // Stops every appliance client and starts one per RA entry.
  void StartV7kClients();

  void AnnounceSessionConnect();
  void AnnounceSessionDisconnect();
  void OnSuspend();
  void OnResume();
  void OnEndSession();

 private:
  // The main window's messages; an answer only for the quit request.
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void ArmTimers();
  void OnTimer(UINT_PTR id, LPARAM lParam);
  void OnNovellCheck();
  void OnSessionChange(WPARAM code, LPARAM session);
  bool SessionMatches(DWORD session) const;

  AgentPlatform& platform_;
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
  InterfacePoll interfacePoll_;
  ClientRestart clients_;
  MessageWindow window_;
};
