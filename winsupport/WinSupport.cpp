#include "WinSupport.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>

bool ReadOpenFile(HANDLE file, unsigned long long maxBytes, const std::function<void*(size_t)>& reserve,
                  size_t& size) {
  LARGE_INTEGER length = {};
  if (!GetFileSizeEx(file, &length) || length.QuadPart < 0 || static_cast<unsigned long long>(length.QuadPart) > maxBytes)
    return false;
  const size_t total = static_cast<size_t>(length.QuadPart);
  unsigned char* block = static_cast<unsigned char*>(reserve(total));
  if (!block && total) return false;
  constexpr size_t kMostPerRead = 1u << 30;
  for (size_t done = 0; done < total;) {
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min(total - done, kMostPerRead));
    if (!ReadFile(file, block + done, ask, &got, nullptr) || got == 0) return false;
    done += got;
  }
  size = total;
  return true;
}

RegTextResult RegValueText(HKEY root, const char* subKey, const char* valueName) {
  RegTextResult result;
  const KeyHolder key(root, subKey);
  if (!key.Valid()) return result;
  result.keyOpened = true;

  constexpr DWORD kBufferBytes = 32 * 1024;
  std::vector<wchar_t> buffer(kBufferBytes / sizeof(wchar_t) + 2, L'\0');  // room for two terminators
  DWORD type = 0;
  DWORD size = kBufferBytes;
  std::wstring name = Widen(valueName ? valueName : "");
  LONG rc = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  // A value larger than the buffer answers ERROR_MORE_DATA: it is an error, never a partial read.
  if (rc != ERROR_SUCCESS || size > kBufferBytes) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return result;

  // Stored strings need not be terminated: take only the bytes the registry wrote.
  size_t chars = size / sizeof(wchar_t);
  std::wstring text(buffer.data(), chars);
  if (type == REG_MULTI_SZ) {
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    for (auto& c : text)
      if (c == L'\0') c = L'\n';
  } else {
    size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
  }
  result.valueRead = true;
  result.text = std::move(text);
  return result;
}

static bool IsFolder(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::vector<std::wstring> DirectoryLevels(const std::wstring& path) {
  // Skip what cannot be created: "\\server\share\" of a network path, or the drive root.
  size_t pos = 0;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    pos = 2;
    for (int part = 0; part < 2 && pos < path.size(); ++part) {
      while (pos < path.size() && !IsSeparator(path[pos])) ++pos;
      if (pos < path.size()) ++pos;
    }
  } else if (path.size() >= 2 && path[1] == L':') {
    pos = 2;
    if (pos < path.size() && IsSeparator(path[pos])) ++pos;
  } else if (!path.empty() && IsSeparator(path[0])) {
    pos = 1;
  }

  std::vector<std::wstring> levels;
  for (;;) {
    size_t sep = pos;
    while (sep < path.size() && !IsSeparator(path[sep])) ++sep;
    if (sep >= path.size()) return levels;  // what is left is the last name
    if (sep > pos) levels.push_back(path.substr(0, sep));
    pos = sep + 1;
  }
}

bool CreateDirectoryPath(const std::wstring& path, SECURITY_ATTRIBUTES* security) {
  if (IsFolder(path)) return true;
  for (const std::wstring& level : DirectoryLevels(path)) {
    if (IsFolder(level)) continue;
    if (!CreateDirectoryW(level.c_str(), security) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (!IsFolder(level)) return false;
  }
  return true;
}

std::string Narrow(const std::wstring& text) {
  std::string out(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<char>(text[i] & 0xFF);
  return out;
}

std::wstring Widen(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
  return out;
}

// The system's message for an error, or "<unknown error>".
static std::wstring SystemMessage(DWORD error) {
  if (error == 0) return L"<unknown error>";
  wchar_t* message = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::wstring text = (n && message) ? std::wstring(message, n) : std::wstring(L"<unknown error>");
  LocalFree(message);
  return text;
}

// A resource name or type as text: numeric ids (MAKEINTRESOURCE) as "#<id>".
static std::wstring ResourceName(LPCWSTR name) {
  if (IS_INTRESOURCE(name)) return L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(name));
  return name;
}

template <typename T>
T* ResourcePtr<T>::Load(HMODULE module, LPCWSTR name, LPCWSTR type) {
  Release();
  error_.clear();
  module_ = module;
  wchar_t step[512];
  const unsigned moduleBits = static_cast<unsigned>(reinterpret_cast<uintptr_t>(module));
  DWORD error = 0;
  HRSRC found = FindResourceW(module, name, type);
  if (!found) {
    error = GetLastError();
    _snwprintf(step, 511, L"ResourcePtr::Load(0x%x) / FindResource failed", moduleBits);
  } else if (!(resource_ = LoadResource(module, found))) {
    error = GetLastError();
    _snwprintf(step, 511, L"ResourcePtr::Load(0x%x,%s,%s) / LoadResource failed", moduleBits, ResourceName(name).c_str(),
               ResourceName(type).c_str());
  } else if (!(data_ = static_cast<T*>(LockResource(resource_)))) {
    error = GetLastError();
    _snwprintf(step, 511, L"ResourcePtr::Load(0x%x,%s,%s) / LockResource failed", moduleBits, ResourceName(name).c_str(),
               ResourceName(type).c_str());
  } else {
    size_ = SizeofResource(module, found);
    return data_;
  }
  step[511] = L'\0';
  error_ = std::wstring(step) + L": ->" + SystemMessage(error);
  Release();
  return nullptr;
}

template <typename T>
void ResourcePtr<T>::Release() {
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
  data_ = nullptr;
  resource_ = nullptr;
  size_ = 0;
}

template class ResourcePtr<unsigned char>;

bool ReadModuleVersionOf(const wchar_t* path, ModuleVersion& version) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return false;
  ResourcePtr<unsigned char> resource;  // owns the module from here on
  const unsigned char* data = resource.Load(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  if (!data) return false;

  return FindFixedVersionInfo(data, resource.Size(), version);
}

bool FindFixedVersionInfo(const unsigned char* data, size_t size, ModuleVersion& version) {
  // The whole fixed record must lie inside the data before any of it is read.
  constexpr uint32_t kSignature = 0xFEEF04BD;
  for (size_t i = 0; i + sizeof(VS_FIXEDFILEINFO) <= size; ++i) {
    VS_FIXEDFILEINFO info;
    memcpy(&info, data + i, sizeof(info));
    if (info.dwSignature != kSignature) continue;
    version.fileMS = info.dwFileVersionMS;
    version.fileLS = info.dwFileVersionLS;
    version.productMS = info.dwProductVersionMS;
    version.productLS = info.dwProductVersionLS;
    return true;
  }
  return false;
}

bool ReadModuleVersion(ModuleVersion& version) {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  return ReadModuleVersionOf(path, version);
}

namespace {

// The system folder, or the running program's folder, with a trailing backslash; empty when it
// cannot be had.
std::wstring TrustedFolder(bool programFolder) {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD length = programFolder ? GetModuleFileNameW(nullptr, path, MAX_PATH * 2)
                                     : GetSystemDirectoryW(path, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return {};
  std::wstring folder(path, length);
  if (programFolder) folder.resize(folder.rfind(L'\\') + 1);  // npos + 1: empty
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder;
}

HMODULE LoadFromFolder(bool programFolder, const wchar_t* name) {
  const std::wstring folder = TrustedFolder(programFolder);
  return folder.empty() ? nullptr : LoadLibraryW((folder + name).c_str());
}

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* name) { return LoadFromFolder(false, name); }

HMODULE LoadSystemOrProgramLibrary(const wchar_t* name) {
  if (HMODULE module = LoadFromFolder(false, name)) return module;
  return LoadFromFolder(true, name);
}

bool RestrictLibrarySearch() {
  // Taken at run time: a loader without it (Windows 7 before its 2011 loader update) would
  // otherwise refuse to start the program at all.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  return restrict&& restrict(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
}

namespace {

// The security calls take SIDs as writable pointers but do not write them.
PSID AsSid(const BYTE* bytes) { return const_cast<BYTE*>(bytes); }

}  // namespace

TrustedAccounts::TrustedAccounts(Installer installer) {
  if (installer == kWithInstaller) {
    // NT SERVICE\TrustedInstaller: a service SID, which no well-known SID type names.
    LocalMemory<void> sid;
    if (ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                               sid.Out())) {
      const BYTE* bytes = static_cast<const BYTE*>(sid.Get());
      installer_.assign(bytes, bytes + GetLengthSid(sid.Get()));
    }
  }
  DWORD size = SECURITY_MAX_SID_SIZE;
  CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size);
  size = SECURITY_MAX_SID_SIZE;
  CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &size);
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  const HandleHolder hold(token);
  DWORD needed = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
  std::vector<BYTE> user(needed);
  if (needed && GetTokenInformation(token, TokenUser, user.data(), needed, &needed))
    user_.swap(user);
}

PSID TrustedAccounts::User() const {
  return user_.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
}

bool TrustedAccounts::Contains(PSID sid) const {
  if (!Valid() || !sid || !IsValidSid(sid)) return false;
  return EqualSid(sid, User()) || EqualSid(sid, AsSid(system_)) ||
         EqualSid(sid, AsSid(administrators_)) ||
         (!installer_.empty() && EqualSid(sid, AsSid(installer_.data())));
}

std::vector<BYTE> TrustedAccounts::AccessList(DWORD access, DWORD entryFlags) const {
  if (!Valid()) return {};
  std::vector<PSID> sids = {User()};
  // A program running as SYSTEM gets one entry for it, not two.
  for (PSID sid : {AsSid(system_), AsSid(administrators_)})
    if (!EqualSid(sid, User())) sids.push_back(sid);
  DWORD size = sizeof(ACL);
  for (PSID sid : sids) size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
  std::vector<BYTE> list(size);
  ACL* acl = reinterpret_cast<ACL*>(list.data());
  if (!InitializeAcl(acl, size, ACL_REVISION)) return {};
  for (PSID sid : sids)
    if (!AddAccessAllowedAceEx(acl, ACL_REVISION, entryFlags, access, sid)) return {};
  return list;
}

std::wstring SidText(PSID sid) {
  LocalMemory<wchar_t> text;
  return ConvertSidToStringSidW(sid, text.Out()) ? std::wstring(text.Get()) : std::wstring();
}

std::wstring AccountText(PSID sid) {
  if (!sid || !IsValidSid(sid)) return L"(none)";
  std::wstring sidText = SidText(sid);
  if (sidText.empty()) sidText = L"(unreadable)";
  wchar_t name[256] = {};
  wchar_t domain[256] = {};
  DWORD nameLength = 256;
  DWORD domainLength = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use) || !name[0])
    return sidText;
  return (domain[0] ? std::wstring(domain) + L"\\" : std::wstring()) + name + L" (" + sidText +
         L")";
}

PrivateSecurity::PrivateSecurity(DWORD access, bool inheritToChildren)
    : list_(trusted_.AccessList(access, inheritToChildren ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0)) {
  // Protected: the parent's entries (a drive root's "Users may add files") do not flow in.
  if (list_.empty() || !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&descriptor_, trusted_.User(), FALSE) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<ACL*>(list_.data()), FALSE) ||
      !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return;
  attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
  valid_ = true;
}

bool UntrustedHolders(const ACL& list, DWORD rights, const TrustedAccounts& trusted,
                      std::vector<std::wstring>& accounts) {
  BYTE creatorOwner[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof(creatorOwner);
  if (!CreateWellKnownSid(WinCreatorOwnerSid, nullptr, creatorOwner, &size)) return false;
  for (DWORD i = 0; i < list.AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(const_cast<ACL*>(&list), i, &entry)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return false;
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    const PSID sid = &allowed->SidStart;
    if (!(allowed->Mask & rights) || trusted.Contains(sid) || EqualSid(sid, creatorOwner)) continue;
    const std::wstring name = AccountText(sid);
    if (std::find(accounts.begin(), accounts.end(), name) == accounts.end()) accounts.push_back(name);
  }
  return true;
}

bool OtherAccountsThatMayWrite(const std::wstring& path, std::vector<std::wstring>& accounts) {
  accounts.clear();
  LocalMemory<void> descriptor;
  if (GetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, descriptor.Out()) != ERROR_SUCCESS)
    return false;
  return OtherAccountsThatMayWrite(descriptor.Get(), accounts);
}

bool OtherAccountsThatMayWrite(PSECURITY_DESCRIPTOR descriptor,
                               std::vector<std::wstring>& accounts) {
  accounts.clear();
  const TrustedAccounts trusted(TrustedAccounts::kWithInstaller);
  PSID owner = nullptr;
  ACL* list = nullptr;
  BOOL defaulted = FALSE;
  BOOL present = FALSE;
  if (!trusted.Valid() || !descriptor ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted))
    return false;
  if (owner && IsValidSid(owner) && !trusted.Contains(owner)) accounts.push_back(AccountText(owner));
  if (!present || !list) {
    BYTE everyone[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof(everyone);
    if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size)) return false;
    accounts.push_back(AccountText(everyone));
    return true;
  }
  constexpr DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                  WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  return UntrustedHolders(*list, kChangeRights, trusted, accounts);
}
