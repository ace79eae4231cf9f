#include "identity/IdentInfoNovell.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <vector>

#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

// The client's keys are read from the 64-bit view of the registry.
constexpr REGSAM kNovellKeyAccess = KEY_READ | KEY_WOW64_64KEY;

template <typename Fn>
bool Resolve(const ModuleHolder& module, const char* name, Fn& target) {
  target = module.Function<Fn>(name);
  return target != nullptr;
}

// A name from the client: the buffer is terminated by us whatever the client wrote,
// and the text is cut to what the record holds.
std::wstring ClientText(std::vector<wchar_t>& buffer) {
  buffer.back() = L'\0';
  const size_t length = wcsnlen(buffer.data(), buffer.size());
  return std::wstring(buffer.data(), length < kIdentTextMax ? length : kIdentTextMax);
}

std::wstring DotsToCommas(std::wstring text) {
  for (wchar_t& c : text)
    if (c == L'.') c = L',';
  return text;
}

void SetNovellField(IdentityRecord& record, IdentityField& field, const std::wstring& text) {
  field.source = NOVELL;
  field.value = text.substr(0, kIdentTextMax);
  record.filled = true;
}

// An 8-bit string value of an open key, read by its counted size: a value without
// terminator ends where its size says, a value with one ends there.
std::string RegistryText(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return {};
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return {};
  constexpr DWORD kMaxValueBytes = 32 * 1024;
  if (size == 0 || size > kMaxValueBytes) return {};
  std::vector<char> data(size);
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    return {};
  size = size < data.size() ? size : static_cast<DWORD>(data.size());
  std::string text(data.data(), size);
  return text.substr(0, text.find('\0'));
}

DWORD RegistryDword(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof(value))
    return 0;
  return value;
}

// Names of the sub-keys, up to 256 characters each.
std::vector<std::string> SubKeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[257];
    DWORD length = sizeof(name);
    const LONG result = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace

NovellClient::NovellClient() {
  // The client installs its libraries in the system folder. Without the client a search by
  // name would go on to the working folder and PATH: a library planted there would run here.
  net_.Reset(LoadSystemOrProgramLibrary(L"NETWIN32.DLL"));
  if (net_.Valid()) loc_.Reset(LoadSystemOrProgramLibrary(L"LOCWIN32.DLL"));
  if (loc_.Valid()) cal_.Reset(LoadSystemOrProgramLibrary(L"CALWIN32.DLL"));
  if (!cal_.Valid()) return;

  const bool resolved =
      Resolve(cal_, "NWCallsInit", callsInit_) && Resolve(cal_, "NWCallsTerm", callsTerm_) &&
      Resolve(loc_, "NWLlocaleconv", localeconv_) &&
      Resolve(loc_, "NWInitUnicodeTables", initUnicodeTables_) &&
      Resolve(loc_, "NWFreeUnicodeTables", freeUnicodeTables_) &&
      Resolve(net_, "NWDSCreateContextHandle", createContextHandle_) &&
      Resolve(net_, "NWDSFreeContext", freeContext_) &&
      Resolve(net_, "NWDSReadObjectDSIInfo", readObjectDSIInfo_) &&
      Resolve(net_, "NWDSWhoAmI", whoAmI_) && Resolve(net_, "NWDSGetDSIInfo", getDSIInfo_) &&
      Resolve(net_, "NWDSGetContext", getContext_) && Resolve(net_, "NWDSSetContext", setContext_);
  if (!resolved) return;

  if (callsInit_(nullptr, nullptr) != 0) return;
  callsInitialised_ = true;
  NWLocaleInfo locale{};
  if (localeconv_(&locale) == nullptr) return;
  if (initUnicodeTables_(locale.country, locale.codePage) != 0) return;
  tablesInitialised_ = true;
  if (createContextHandle_(&context_) != 0) return;
  contextCreated_ = true;
  if (!ChangeContextFlags(0x2, 0)) return;
  unavailable_ = false;
}

NovellClient::~NovellClient() { Release(); }

void NovellClient::Release() {
  // Only what was set up is taken down.
  if (contextCreated_) freeContext_(context_);
  if (tablesInitialised_) freeUnicodeTables_();
  if (callsInitialised_) callsTerm_(nullptr);
  contextCreated_ = tablesInitialised_ = callsInitialised_ = false;
  cal_.Reset();
  loc_.Reset();
  net_.Reset();
  unavailable_ = true;
}

bool NovellClient::ChangeContextFlags(uint32_t clear, uint32_t set) {
  uint32_t flags = 0;
  if (getContext_(context_, kNWContextFlags, &flags) != 0) return false;
  flags = (flags & ~clear) | set;
  return setContext_(context_, kNWContextFlags, &flags) == 0;
}

bool NovellClient::QueryIdentity() {
  if (unavailable_) return false;
  const uint32_t infoFlags = 0x2A001;
  if (setContext_(context_, kNWContextInfoFlags, &infoFlags) != 0) return false;
  if (!ChangeContextFlags(0, 0x4)) return false;

  std::vector<wchar_t> buffer(kNWNameBuffer, L'\0');
  if (whoAmI_(context_, buffer.data()) != 0) return false;
  buffer.back() = L'\0';
  // The client's own form of the name, for the directory calls below.
  const std::wstring object(buffer.data());
  if (object.empty() || object[0] == L'[') return false;
  userName = DotsToCommas(ClientText(buffer));

  if (!ChangeContextFlags(0x4, 0x10)) return false;
  std::vector<unsigned char> info(kNWDsiInfoBuffer, 0);
  if (readObjectDSIInfo_(context_, object.c_str(), info.size(), info.data()) != 0) return false;
  std::fill(buffer.begin(), buffer.end(), L'\0');
  if (getDSIInfo_(context_, info.data(), info.size(), 0x2000, buffer.data()) != 0) return false;
  distinguishedName = DotsToCommas(ClientText(buffer));

  std::fill(buffer.begin(), buffer.end(), L'\0');
  if (getDSIInfo_(context_, info.data(), info.size(), 0x8000, buffer.data()) != 0) return true;
  parentName = DotsToCommas(ClientText(buffer));

  std::fill(buffer.begin(), buffer.end(), L'\0');
  if (getDSIInfo_(context_, info.data(), info.size(), 0x20000, buffer.data()) == 0) groupName = ClientText(buffer);
  return true;
}

bool NovellClientAvailable() {
  NovellClient client;
  return client.Available();
}

bool ActiveNovellConnection() {
  ULONG size = 0;
  std::vector<unsigned char> table;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  // The table may grow between the two calls.
  for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    table.resize(size ? size : sizeof(MIB_TCPTABLE));
    size = static_cast<ULONG>(table.size());
    result = GetTcpTable(reinterpret_cast<MIB_TCPTABLE*>(table.data()), &size, FALSE);
  }
  if (result != NO_ERROR) return false;
  const auto* tcp = reinterpret_cast<const MIB_TCPTABLE*>(table.data());
  for (DWORD i = 0; i < tcp->dwNumEntries; ++i) {
    const MIB_TCPROW& row = tcp->table[i];
    if (row.dwState == MIB_TCP_STATE_ESTAB && ntohs(static_cast<u_short>(row.dwRemotePort)) == 524) return true;
  }
  return false;
}

NovellUserIdentHack::NovellUserIdentHack() {
  TsNovell(0) << "Execute NMAS/NWGINA user search...";
  found = Search();
  if (found) {
    record.EnvType = ET_Novell;
    record.filled = true;
    novellConnected = 1;
  }
  TsNovell(0) << "Exit NMAS/NWGINA user search.";
}

bool NovellUserIdentHack::Search() {
  TsNovell(0) << "Opening registry key";
  if (!software_.Open(HKEY_LOCAL_MACHINE, "SOFTWARE", kNovellKeyAccess)) {
    Fail("RegOpenKeyExA failed");
    return false;
  }
  if (!ScanNMAS()) {
    TsNovell(0) << "NMAS info not found.";
    if (!ScanNWGINA()) {
      TsNovell(0) << "NWGINA info not found.";
      return false;
    }
  }
  if (!BuildUserDN()) return false;
  if (!ActiveNovellConnection()) {
    TsNovell(0) << "Active Novell connection not found.";
    return false;
  }
  return true;
}

void NovellUserIdentHack::Fail(const char* text) {
  if (error.empty()) error = text;
}

bool NovellUserIdentHack::ScanNMAS() {
  std::string best;
  uint64_t bestTime = 0;
  KeyHolder lastLogin(software_.Get(), "Novell\\NMAS\\1.1\\LastLogin", kNovellKeyAccess);
  if (lastLogin.Get()) {
    for (const std::string& first : SubKeyNames(lastLogin.Get())) {
      KeyHolder level1(lastLogin.Get(), first.c_str(), kNovellKeyAccess);
      if (!level1.Get()) continue;
      for (const std::string& second : SubKeyNames(level1.Get())) {
        KeyHolder level2(level1.Get(), second.c_str(), kNovellKeyAccess);
        if (!level2.Get()) continue;
        const uint64_t time = (static_cast<uint64_t>(RegistryDword(level2.Get(), "Last Login High")) << 32) |
                              RegistryDword(level2.Get(), "Last Login Low");
        if (time > bestTime) {
          bestTime = time;
          best = second;
        }
      }
    }
  }
  if (bestTime == 0) {
    TsNovell(0) << "Last login user not found.";
    Fail("\tscanNMAS() failed step 1");
    return false;
  }
  const std::vector<std::wstring> parts = SplitText(Widen(best), L'.');
  if (parts.size() < 2) {
    TsNovell(0) << "Cannot determine user/domain name.";
    return false;
  }
  SetNovellField(record, record.UserName, parts.front());
  SetNovellField(record, record.DomainName, parts.back());
  if (parts.size() > 2) {
    std::wstring group;
    for (size_t i = 1; i + 1 < parts.size(); ++i) {
      if (!group.empty()) group += L", ";
      group += L"OU=" + parts[i];
    }
    SetNovellField(record, record.GroupName, group);
  }
  TsNovell(0) << "Found user.";
  return true;
}

bool NovellUserIdentHack::ScanNWGINA() {
  KeyHolder screen(software_.Get(), "Novell\\NWGINA\\Login Screen", kNovellKeyAccess);
  const std::string user = screen.Get() ? RegistryText(screen.Get(), "DefaultNetWareUserName") : std::string();
  if (user.empty()) {
    TsNovell(0) << "NWGINA user name size is zero.";
    Fail("\tscanNWGINA() failed step 1");
    return false;
  }
  std::string context = RegistryText(screen.Get(), "DefaultNDSContext");
  if (context.empty()) context = RegistryText(screen.Get(), "SavedNDSContexts");
  if (context.empty()) {
    TsNovell(0) << "NWGINA domain name size is zero.";
    Fail("\tscanNWGINA() failed step 2");
    return false;
  }
  const size_t dot = context.find('.');
  if (dot == std::string::npos || dot + 1 >= context.size()) {
    TsNovell(0) << "NWGINA group name size is zero.";
    Fail("\tscanNWGINA() failed step 3");
    return false;
  }
  SetNovellField(record, record.UserName, Widen(user));
  SetNovellField(record, record.GroupName, Widen(context.substr(0, dot)));
  SetNovellField(record, record.DomainName, Widen(context.substr(dot + 1)));
  return true;
}

bool NovellUserIdentHack::BuildUserDN() {
  if (record.UserName.value.empty()) {
    TsNovell(0) << "UserName length is zero.";
    TsNovell(0) << "Create user DN failure.";
    return false;
  }
  std::wstring dn = L"CN=" + record.UserName.value;
  if (!record.GroupName.value.empty())
    for (const std::wstring& part : SplitText(record.GroupName.value, L',')) dn += L", " + part;
  for (const std::wstring& part : SplitText(record.DomainName.value, L'.')) dn += L", O=" + part;
  TsNovell(0) << "User DN found is: " << dn;
  SetNovellField(record, record.UserDistinguishedName, dn);
  return true;
}

IdentInfoNovell::IdentInfoNovell(bool serviceMode) : IdentInfoSource(NOVELL) {
  NovellClient client;
  if (!client.Available()) return;
  if (serviceMode) {
    NovellUserIdentHack search;
    if (search.found) {
      const IdentityRecord& found = search.record;
      for (auto field : {&IdentityRecord::UserName, &IdentityRecord::DisplayName, &IdentityRecord::GroupName,
                         &IdentityRecord::DomainName, &IdentityRecord::UserDistinguishedName}) {
        if (!(found.*field).value.empty()) SetField(record_.*field, (found.*field).value);
      }
      record_.EnvType = ET_Novell;
    }
  } else if (client.QueryIdentity()) {
    if (!client.userName.empty()) SetField(record_.UserName, client.userName);
    if (!client.parentName.empty()) SetField(record_.DomainName, client.parentName);
    if (!client.groupName.empty()) SetField(record_.GroupName, client.groupName);
    if (!client.distinguishedName.empty()) SetField(record_.UserDistinguishedName, client.distinguishedName);
    record_.EnvType = ET_Novell;
  }
  answered_ = Count() > 0;
  if (answered_) TsIdentInfo(3) << L"Retrieved Novell identity information.";
}
