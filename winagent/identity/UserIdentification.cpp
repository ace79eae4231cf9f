#include "identity/UserIdentification.h"

#include <objbase.h>

#include "platform/AppShutdown.h"
#include "platform/ServiceMode.h"
#include "Crc32.h"
#include "identity/IdentInfoAD.h"
#include "identity/IdentInfoNovell.h"
#include "identity/IdentInfoOSNative.h"
#include "identity/IdentInfoWMI.h"
#include "support/Logging.h"

namespace {

// The hidden window's class and name, and the worker's name at the shutdown coordinator.
constexpr wchar_t kWindowName[] = L"UserIdentification";

// Name fields: a NOVELL value is replaced only by another NOVELL value.
bool TakeName(IdentityField& target, const IdentityField& source) {
  if (!HasValue(source) || (target.source == NOVELL && source.source != NOVELL)) return false;
  target = source;
  return true;
}

void AddText(CCRC32& crc32, uint32_t& crc, const std::wstring& text) {
  for (wchar_t unit : text) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(unit & 0xFF), static_cast<uint8_t>((unit >> 8) & 0xFF)};
    crc32.PartialCRC(&crc, bytes, sizeof(bytes));
  }
}

}  // namespace

uint32_t IdentityCrc(const IdentityRecord& record) {
  CCRC32 crc32;
  uint32_t crc = CCRC32::kInitial;
  AddText(crc32, crc, record.UserName.value);
  AddText(crc32, crc, record.GroupName.value);
  AddText(crc32, crc, record.DomainName.value);
  AddText(crc32, crc, record.UserDistinguishedName.value);
  AddText(crc32, crc, record.ComputerName.value);
  AddText(crc32, crc, record.ComputerDistinguishedName.value);
  const uint32_t env = static_cast<uint32_t>(record.EnvType);
  const uint8_t envBytes[4] = {static_cast<uint8_t>(env), static_cast<uint8_t>(env >> 8),
                               static_cast<uint8_t>(env >> 16), static_cast<uint8_t>(env >> 24)};
  crc32.PartialCRC(&crc, envBytes, sizeof(envBytes));
  return CCRC32::Finish(crc);
}

const wchar_t* IdSourceName(int32_t source) {
  switch (source) {
    case BLANK: return L"BLANK";
    case DEFAULT: return L"DEFAULT";
    case CFG: return L"CFG";
    case TEMPLATE: return L"TEMPLATE";
    case OSNATIVE: return L"OSNATIVE";
    case NOVELL: return L"NOVELL";
    case WMI: return L"WMI";
    case AD: return L"AD";
    case CODE: return L"CODE";
    default: return L"!UNKNOWN ID_SOURCE!";
  }
}

std::wstring IdentityDump(const IdentityRecord& record) {
  const std::pair<const wchar_t*, const IdentityField*> fields[] = {
      {L"UserName", &record.UserName},
      {L"DisplayName", &record.DisplayName},
      {L"GroupName", &record.GroupName},
      {L"DomainName", &record.DomainName},
      {L"UserDistinguishedName", &record.UserDistinguishedName},
      {L"ComputerName", &record.ComputerName},
      {L"ComputerDistinguishedName", &record.ComputerDistinguishedName},
      {L"UserDNTemplate", &record.UserDNTemplate},
      {L"ComputerDNTemplate", &record.ComputerDNTemplate},
  };
  std::wstring dump;
  for (const auto& [name, field] : fields) {
    dump += name;
    dump += L": [";
    dump += field->value;
    dump += L"] <= ";
    dump += IdSourceName(field->source);
    dump += L"\r\n";
  }
  dump += L"EnvType: ";
  dump += record.EnvType == ET_Novell ? L"ET_Novell" : L"ET_Windows";
  dump += L"\r\n";
  return dump;
}

void MergeIdentity(IdentityRecord& candidate, const IdentityRecord& source, const IdentityRecord& configuration,
                   bool serviceMode) {
  if (!source.filled) return;
  candidate.filled = true;
  if (TakeName(candidate.UserName, source.UserName)) candidate.EnvType = source.EnvType;
  TakeName(candidate.DisplayName, source.DisplayName);
  TakeName(candidate.GroupName, source.GroupName);
  TakeName(candidate.DomainName, source.DomainName);
  if (HasValue(source.ComputerName)) candidate.ComputerName = source.ComputerName;

  if (HasValue(configuration.UserDNTemplate)) {
    TsIdentInfo(3) << L"Found user DN template in configuration: " << configuration.UserDNTemplate.value;
    candidate.UserDNTemplate = configuration.UserDNTemplate;
    candidate.UserDistinguishedName = {
        TEMPLATE, ReplaceText(configuration.UserDNTemplate.value, L"%1", candidate.UserName.value, false, true).text};
  } else {
    IdentityField& target = candidate.UserDistinguishedName;
    const IdentityField& offered = source.UserDistinguishedName;
    const bool novellKept = target.source == NOVELL && offered.source != target.source;
    const bool wmiKept = serviceMode && target.source == WMI && offered.source != NOVELL;
    if (HasValue(offered) && !novellKept && !wmiKept) target = offered;
  }

  if (HasValue(configuration.ComputerDNTemplate)) {
    TsIdentInfo(3) << L"Found computer DN template in configuration: " << configuration.ComputerDNTemplate.value;
    candidate.ComputerDNTemplate = configuration.ComputerDNTemplate;
    candidate.ComputerDistinguishedName = {
        TEMPLATE,
        ReplaceText(configuration.ComputerDNTemplate.value, L"%1", candidate.ComputerName.value, false, true).text};
  } else if (HasValue(source.ComputerDistinguishedName)) {
    candidate.ComputerDistinguishedName = source.ComputerDistinguishedName;
  }
}

struct UserIdentification::Core {
  Core(const AgentConfig& configuration, AgentPlatform& agentPlatform)
      : config(configuration),
        agent(agentPlatform),
        platform(agentPlatform.Identity()),
        stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  void DetectEnvironment();
  DWORD ThreadMain();
  void CheckDirectoryConnection();
  void ResetIdentity();
  void IdentifyCurrentUser();
  void CheckNovellIdentity();
  IdentityRecord GetIdentity() const;
  // Replaces current by candidate when their CRCs differ, as one step under the lock.
  // Returns whether it changed and gives both CRCs.
  bool ReplaceIfChanged(const IdentityRecord& candidate, uint32_t& currentCrc, uint32_t& newCrc);
  void Merge(IdentityRecord& candidate, const IdentityRecord& source) const;

  // A copy: a worker left behind must not read a record that its owner has freed.
  const AgentConfig config;
  AgentPlatform& agent;
  const IdentityPlatform platform;
  mutable CriticalSection lock;
  IdentityRecord current;
  IdentityRecord previous;
  std::atomic<bool> directoryConnected{false};
  std::atomic<bool> novellConnected{false};
  std::atomic<int32_t> envType{kEnvAutomatic};
  HandleHolder stopEvent;  // ends the worker when the object goes before the shutdown event
};

UserIdentification::UserIdentification(const AgentConfig& config, AgentPlatform& platform)
    : core_(std::make_shared<Core>(config, platform)) {
  window_.Create(kWindowName, kWindowName,
                 [this](HWND, UINT message, WPARAM, LPARAM) {
                   OnMessage(message);
                   return std::optional<LRESULT>();
                 });
}

UserIdentification::~UserIdentification() {
  if (thread_.Valid()) {
    SetEvent(core_->stopEvent.Get());
    if (WaitForSingleObject(thread_.Get(), kWorkerStopWaitMs) != WAIT_OBJECT_0)
      TsIdentInfo(0) << L"The identification thread did not end within " << kWorkerStopWaitMs << L" ms; going on.";
  }
  window_.Destroy();
}

DWORD WINAPI UserIdentification::WorkerEntry(void* parameter) {
  const std::unique_ptr<std::shared_ptr<Core>> core(static_cast<std::shared_ptr<Core>*>(parameter));
  return (*core)->ThreadMain();
}

bool UserIdentification::StartThread() {
  if (thread_.Valid()) return false;
  auto* parameter = new std::shared_ptr<Core>(core_);
  thread_.Reset(CreateThread(nullptr, 0, &WorkerEntry, parameter, 0, nullptr));
  if (!thread_.Valid()) delete parameter;
  return thread_.Valid();
}

void UserIdentification::OnMessage(UINT message) {
  switch (message) {
    case kMsgCheckDirectoryConnection: CheckDirectoryConnection(); break;
    case kMsgResetIdentity: ResetIdentity(); break;
    case kMsgIdentifyCurrentUser: IdentifyCurrentUser(); break;
    case kMsgCheckNovellIdentity: CheckNovellIdentity(); break;
    default: break;
  }
}

void UserIdentification::SetEnvironmentType(int32_t type) { core_->envType = type; }
int32_t UserIdentification::EnvironmentType() const { return core_->envType; }
void UserIdentification::DetectEnvironment() { core_->DetectEnvironment(); }
void UserIdentification::RequestIdentification() { PostMessageW(Window(), kMsgIdentifyCurrentUser, 0, 0); }
IdentityRecord UserIdentification::GetIdentity() const { return core_->GetIdentity(); }
IdentityRecord UserIdentification::GetPreviousIdentity() const {
  LockHolder hold(core_->lock);
  return core_->previous;
}
bool UserIdentification::IsDirectoryConnected() const { return core_->directoryConnected.load(); }
bool UserIdentification::IsNovellConnected() const { return core_->novellConnected.load(); }
void UserIdentification::CheckDirectoryConnection() { core_->CheckDirectoryConnection(); }
void UserIdentification::ResetIdentity() { core_->ResetIdentity(); }
void UserIdentification::IdentifyCurrentUser() { core_->IdentifyCurrentUser(); }
void UserIdentification::CheckNovellIdentity() { core_->CheckNovellIdentity(); }

// ---- the core, shared with the worker ----

void UserIdentification::Core::DetectEnvironment() {
  const bool serviceMode = IsServiceMode();
  const auto fromRegistry = [this] {
    NovellUserIdentHack search;
    if (search.found) {
      TsIdentInfo(1) << L"Novell info exist.";
      envType = kEnvNovell;
    } else {
      TsIdentInfo(1) << L"Novell Info absent. Using Windows.";
      envType = kEnvWindows;
    }
  };
  if (envType == kEnvAutomatic) {
    TsIdentInfo(1) << L"Autodetecting environment type...";
    if (serviceMode) {
      fromRegistry();
    } else {
      envType = NovellClientAvailable() ? kEnvNovell : kEnvWindows;
      TsIdentInfo(1) << L"Environment type: " << (envType == kEnvNovell ? L"Novell" : L"Windows");
    }
    return;
  }
  if (serviceMode) fromRegistry();
  TsIdentInfo(1) << L"Environment type: " << (envType == kEnvNovell ? L"Novell" : L"Windows");
}

DWORD UserIdentification::Core::ThreadMain() {
  const ComApartment com;
  HandleHolder done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  AppShutdown::RegisterWorker(done.Get(), kWindowName);
  const HANDLE waits[2] = {AppShutdown::ShutdownEvent(), stopEvent.Get()};

  if (envType == kEnvWindows) CheckDirectoryConnection();
  IdentifyCurrentUser();

  // The window belongs to the main-loop thread, so this thread mostly waits; it still
  // dispatches whatever arrives in its own queue.
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(2, waits, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0 || woken == WAIT_OBJECT_0 + 1 || woken == WAIT_FAILED) break;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }

  ResetIdentity();
  SetEvent(done.Get());
  return 0;
}

IdentityRecord UserIdentification::Core::GetIdentity() const {
  LockHolder hold(lock);
  return current;
}

void UserIdentification::Core::CheckDirectoryConnection() {
  TsIdentInfo(3) << L"Active Directory connection check started.";
  DirectoryApi& directory = platform.directory ? *platform.directory : RealDirectoryApi();
  const HRESULT hr = directory.BindRootDse();
  if (FAILED(hr)) {
    TracePrintf(TC_Ident, 0, L"%sActive Directory connection could not be established - 0x%08X", kTagIdentInfo,
                static_cast<unsigned>(hr));
  } else if (!directoryConnected.load()) {
    TsIdentInfo(3) << L"Active Directory connection re-established; updating identity.";
  } else {
    TsIdentInfo(3) << L"Active Directory connection established.";
  }
  directoryConnected.store(SUCCEEDED(hr));
  if (FAILED(hr) && IsServiceMode()) {
    TsIdentInfo(0) << L"Active Directory connection could not be established; will retry";
    ServiceModeExit(agent, 0);
  }
}

void UserIdentification::Core::ResetIdentity() {
  TsIdentInfo(3) << L"Resetting current user identification.";
  LockHolder hold(lock);
  current = IdentityRecord{};
}

void UserIdentification::Core::Merge(IdentityRecord& candidate, const IdentityRecord& source) const {
  MergeIdentity(candidate, source, config.Identity, IsServiceMode());
}

bool UserIdentification::Core::ReplaceIfChanged(const IdentityRecord& candidate, uint32_t& currentCrc, uint32_t& newCrc) {
  newCrc = IdentityCrc(candidate);
  LockHolder hold(lock);
  currentCrc = IdentityCrc(current);
  if (currentCrc == newCrc) return false;
  previous = current;
  current = candidate;
  return true;
}

void UserIdentification::Core::IdentifyCurrentUser() {
  TsIdentInfo(3) << L"Identifying current user.";
  IdentityRecord candidate;
  const bool connected = directoryConnected.load();
  const bool windows = envType == kEnvWindows;
  const bool novell = envType == kEnvNovell;

  if (!IsServiceMode()) {
    if (novell) {
      IdentInfoNovell source(false);
      if (source.Count() > 0) Merge(candidate, source.Record());
    } else if (windows) {
      IdentInfoOSNative source(connected, platform.names);
      if (source.Count() > 0) Merge(candidate, source.Record());
    }
    Merge(candidate, config.Identity);
    if (windows) {
      IdentInfoAD ad(platform.directory);
      if (ad.Count() > 0) Merge(candidate, ad.Record());
      IdentInfoWMI wmi(!connected, platform.wmi, platform.names);
      if (wmi.Count() > 0) Merge(candidate, wmi.Record());
    }
    Merge(candidate, config.Identity);
  } else {
    if (novell) {
      TsIdentInfo(1) << L"Querying Novell for identity...";
      NovellUserIdentHack search;
      novellConnected.store(search.found);
      if (search.found) {
        TsIdentInfo(1) << L"Novell user identity detected.";
        Merge(candidate, search.record);
      }
    } else if (windows) {
      TsIdentInfo(1) << L"Querying WMI for identity...";
      IdentInfoWMI wmi(!connected, platform.wmi, platform.names);
      if (wmi.Count() > 0) Merge(candidate, wmi.Record());
    }
    Merge(candidate, config.Identity);
    if (windows) {
      TsIdentInfo(1) << L"Querying Active Directory for identity...";
      IdentInfoAD ad(platform.directory);
      if (ad.Count() > 0) Merge(candidate, ad.Record());
    }
  }

  uint32_t currentCrc = 0, newCrc = 0;
  if (!ReplaceIfChanged(candidate, currentCrc, newCrc)) {
    TsIdentInfo(1) << L"User identity has not changed.";
    return;
  }
  TracePrintf(TC_Ident, 0, L"%sCurrent identity CRC: 0x%08X, new identity CRC: 0x%08X", kTagIdentInfo, currentCrc,
              newCrc);
  TsIdentInfo(1) << L"User identity has changed - updating.";
  TsIdentInfo(1) << L"User identity loaded.";
  TsIdentInfo(1) << L"\r\n" << IdentityDump(candidate);
}

void UserIdentification::Core::CheckNovellIdentity() {
  if (envType != kEnvNovell) return;
  TsIdentInfo(3) << L"Querying for Novell username changes.";
  IdentityRecord candidate = GetIdentity();
  Merge(candidate, config.Identity);
  IdentInfoNovell source(IsServiceMode());
  if (source.Count() == 0) {
    TsIdentInfo(1) << L"Novell is not connected.";
    novellConnected.store(false);
    ResetIdentity();
    return;
  }
  TsIdentInfo(1) << L"Novell connection detected.";
  novellConnected.store(true);
  Merge(candidate, source.Record());
  uint32_t currentCrc = 0, newCrc = 0;
  if (!ReplaceIfChanged(candidate, currentCrc, newCrc)) return;
  TsIdentInfo(1) << L"Novell user identity changed to <" << candidate.UserName.value << L">";
  TsIdentInfo(1) << L"\r\n" << IdentityDump(candidate);
}
