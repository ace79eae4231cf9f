// Identity from the Novell client (source NOVELL): in a session through the client
// libraries, as a service from what the client's logon components left in the registry.
#pragma once

#include <cstdint>
#include <string>

#include "identity/IdentInfoSource.h"
#include "identity/NovellClientApi.h"
#include "support/Holders.h"

// One binding of the client: built, used and released within one query.
class NovellClient {
 public:
  // Loads the libraries (from the system folder, else from the program's own folder),
  // resolves the twelve entry points and initialises.
  NovellClient();
  // NWDSFreeContext, NWFreeUnicodeTables, NWCallsTerm, then frees the libraries.
  ~NovellClient();
  NovellClient(const NovellClient&) = delete;
  NovellClient& operator=(const NovellClient&) = delete;

  bool Available() const { return !unavailable_; }

  // Asks who is logged on; true when a user name came back. Fills the texts below
  // ("." replaced by ","), as far as the answers went.
  bool QueryIdentity();

  std::wstring userName;
  std::wstring distinguishedName;
  std::wstring parentName;
  std::wstring groupName;

 private:
  bool ChangeContextFlags(uint32_t clear, uint32_t set);
  void Release();

  ModuleHolder net_;
  ModuleHolder loc_;
  ModuleHolder cal_;
  bool unavailable_ = true;
  bool callsInitialised_ = false;
  bool tablesInitialised_ = false;
  bool contextCreated_ = false;
  NWContextHandle context_ = 0;

  NWCallsInitFn callsInit_ = nullptr;
  NWCallsTermFn callsTerm_ = nullptr;
  NWLlocaleconvFn localeconv_ = nullptr;
  NWInitUnicodeTablesFn initUnicodeTables_ = nullptr;
  NWFreeUnicodeTablesFn freeUnicodeTables_ = nullptr;
  NWDSCreateContextHandleFn createContextHandle_ = nullptr;
  NWDSFreeContextFn freeContext_ = nullptr;
  NWDSReadObjectDSIInfoFn readObjectDSIInfo_ = nullptr;
  NWDSWhoAmIFn whoAmI_ = nullptr;
  NWDSGetDSIInfoFn getDSIInfo_ = nullptr;
  NWDSGetContextFn getContext_ = nullptr;
  NWDSSetContextFn setContext_ = nullptr;
};

// Whether the client's libraries and entry points bind and initialise.
bool NovellClientAvailable();

// True when the TCP table holds an established connection to remote port 524.
bool ActiveNovellConnection();

// The service-mode search of the registry (HKLM\SOFTWARE, 64-bit view) for the
// identity that NMAS or NWGINA left, with the check for a live Novell connection.
// Runs at construction.
class NovellUserIdentHack {
 public:
  NovellUserIdentHack();
  NovellUserIdentHack(const NovellUserIdentHack&) = delete;
  NovellUserIdentHack& operator=(const NovellUserIdentHack&) = delete;

  bool found = false;
  IdentityRecord record;
  std::string error;  // the first failure's text
  uint8_t novellConnected = 0;

 private:
  bool Search();
  bool ScanNMAS();
  bool ScanNWGINA();
  bool BuildUserDN();
  void Fail(const char* text);

  KeyHolder software_;
};

class IdentInfoNovell : public IdentInfoSource {
 public:
  // serviceMode: the registry search instead of the query through the client;
  // both only when the client's libraries bind.
  explicit IdentInfoNovell(bool serviceMode);
  bool Answered() const { return answered_; }

 private:
  bool answered_ = false;
};
