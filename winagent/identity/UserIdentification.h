// Who is logged on at this workstation: the current identity record, built from the
// configured sources, merged by precedence and compared by CRC with the previous one.
// Requests arrive as messages 801 to 804 to the hidden window "UserIdentification",
// which belongs to the thread that built the object (the main-loop thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <windows.h>

#include "platform/AgentPlatform.h"
#include "config/AgentConfig.h"
#include "identity/IdentityRecord.h"
#include "support/MessageWindow.h"
#include "support/Utilities.h"


// CRC-32 over UserName, GroupName, DomainName, UserDistinguishedName, ComputerName and
// ComputerDistinguishedName (UTF-16LE code units, no terminators), then EnvType as
// four bytes, low byte first.
uint32_t IdentityCrc(const IdentityRecord& record);

// "BLANK", "DEFAULT", ... or "!UNKNOWN ID_SOURCE!".
const wchar_t* IdSourceName(int32_t source);

// The nine fields as "<name>: [<value>] <= <source>\r\n", then "EnvType: ET_Windows\r\n"
// (or ET_Novell).
std::wstring IdentityDump(const IdentityRecord& record);

// Merges a source's record into the candidate by the precedence rules (a NOVELL name
// is replaced only by a NOVELL one) and applies the configuration's DN templates
// (UQ, UM: "%1", any case, stands for the user or computer name). Nothing happens when
// the source record is not filled.
void MergeIdentity(IdentityRecord& candidate, const IdentityRecord& source, const IdentityRecord& configuration,
                   bool serviceMode);

class UserIdentification {
 public:
  static constexpr UINT kMsgCheckDirectoryConnection = 801;
  static constexpr UINT kMsgResetIdentity = 802;
  static constexpr UINT kMsgIdentifyCurrentUser = 803;
  static constexpr UINT kMsgCheckNovellIdentity = 804;

  static constexpr int32_t kEnvAutomatic = 255;
  static constexpr int32_t kEnvWindows = ET_Windows;
  static constexpr int32_t kEnvNovell = ET_Novell;

  // How long the destructor waits for the worker.
  static constexpr DWORD kWorkerStopWaitMs = 2000;

  // Creates the hidden window on the calling thread.
  // The sources take their answers from platform.Identity().
  explicit UserIdentification(const AgentConfig& config = g_Config, AgentPlatform& platform = RealPlatform());
  // Ends the worker thread, waiting up to kWorkerStopWaitMs: a worker stuck in a directory,
  // WMI or name call is logged and left behind with the state it uses. Then destroys the window.
  ~UserIdentification();
  UserIdentification(const UserIdentification&) = delete;
  UserIdentification& operator=(const UserIdentification&) = delete;

  // 255 automatic, 0 Windows, 1 Novell: set from UT before DetectEnvironment.
  void SetEnvironmentType(int32_t type);
  int32_t EnvironmentType() const;
  // The set-up step: resolves an automatic type (and, in service mode, a configured
  // one) from the Novell client's presence or its registry information.
  void DetectEnvironment();

  // Starts the worker thread: COM for the multithreaded apartment, the first directory check
  // (Windows environment), the first identification, then it waits for the shutdown event; at
  // the end it resets the identity and sets its done event. False when it could not be started.
  bool StartThread();

  // Posts 803.
  void RequestIdentification();
  HWND Window() const { return window_.Handle(); }

  // Copies under the critical section.
  IdentityRecord GetIdentity() const;
  IdentityRecord GetPreviousIdentity() const;

  bool IsDirectoryConnected() const;
  bool IsNovellConnected() const;

  // The operations of messages 801 to 804 (on the window's thread).
  void CheckDirectoryConnection();
  void ResetIdentity();
  void IdentifyCurrentUser();
  void CheckNovellIdentity();

 private:
  // Everything the worker uses, shared with it so that a worker that outlives the object
  // still finds it.
  struct Core;
  static DWORD WINAPI WorkerEntry(void* parameter);

  void OnMessage(UINT message);

  std::shared_ptr<Core> core_;
  MessageWindow window_;
  HandleHolder thread_;
};
