#include "support/Utilities.h"

#include <initguid.h>  // defines the folder ids here instead of needing libuuid
#include <knownfolders.h>
#include <shlobj.h>

#include <cwchar>

EventHolder::EventHolder(bool manualReset_) : manualReset(manualReset_) {
  event_.Reset(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
}

bool EventHolder::Wait(DWORD milliseconds) {
  abandoned = false;
  timedOut = false;
  lastError = 0;
  switch (WaitForSingleObject(event_.Get(), milliseconds)) {
    case WAIT_OBJECT_0:
      return true;
    case WAIT_TIMEOUT:
      timedOut = true;
      return false;
    case WAIT_ABANDONED:
      abandoned = true;
      return false;
    default:
      lastError = GetLastError();
      return false;
  }
}

std::vector<std::wstring> SplitText(const std::wstring& text, wchar_t delimiter) {
  std::vector<std::wstring> pieces;
  size_t start = 0;
  for (;;) {
    size_t at = text.find(delimiter, start);
    if (at == std::wstring::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + 1;
  }
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

bool CreateDirectoryPath(const std::wstring& path) {
  if (IsFolder(path)) return true;
  for (const std::wstring& level : DirectoryLevels(path)) {
    if (IsFolder(level)) continue;
    if (!CreateDirectoryW(level.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (!IsFolder(level)) return false;
  }
  return true;
}

KnownFolderResult KnownFolderPath(const GUID& folderId) {
  KnownFolderResult result;
  PWSTR path = nullptr;
  HRESULT hr = SHGetKnownFolderPath(folderId, 0, nullptr, &path);
  if (SUCCEEDED(hr) && path) {
    result.found = true;
    result.path = path;
  } else if (hr == E_INVALIDARG) {
    result.invalidId = true;
  }
  CoTaskMemFree(path);
  return result;
}

static wchar_t Upper(wchar_t c) {
  wchar_t s[2] = {c, 0};
  CharUpperBuffW(s, 1);
  return s[0];
}

static size_t FindNoCase(const std::wstring& text, const std::wstring& search, size_t from) {
  const wchar_t first = Upper(search[0]);
  for (size_t i = from; i + search.size() <= text.size(); ++i) {
    if (Upper(text[i]) != first) continue;
    if (CompareStringOrdinal(text.c_str() + i + 1, static_cast<int>(search.size() - 1), search.c_str() + 1,
                             static_cast<int>(search.size() - 1), TRUE) == CSTR_EQUAL)
      return i;
  }
  return std::wstring::npos;
}

ReplaceResult ReplaceText(const std::wstring& text, const std::wstring& search, const std::wstring& replacement,
                          bool caseSensitive, bool all) {
  ReplaceResult result{text, 0};
  if (text.empty() || search.empty()) return result;
  std::wstring out;
  size_t from = 0;
  for (;;) {
    size_t at = caseSensitive ? text.find(search, from) : FindNoCase(text, search, from);
    if (at == std::wstring::npos) break;
    out.append(text, from, at - from);
    out += replacement;
    from = at + search.size();  // continue after the match, never inside the replacement
    ++result.count;
    if (!all) break;
  }
  if (result.count == 0) return result;
  out.append(text, from, std::wstring::npos);
  result.text = std::move(out);
  return result;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr, nullptr);
  return out;
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

int CountFiles(const std::wstring& pattern) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++count;
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return count;
}

WholeFileText ReadWholeFile(const std::string& path) {
  WholeFileText result;
  std::wstring shownPath = Widen(path);
  // Share write too: a file that another process holds open for writing is still readable.
  HandleHolder file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    result.error = L"File not found: " + shownPath;
    return result;
  }
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > kMaxWholeFileBytes) {
    result.error = L"File exists but read failed: " + shownPath;
    return result;
  }
  std::vector<char> bytes(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
    result.error = L"File exists but read failed: " + shownPath;
    return result;
  }
  result.length = got / sizeof(wchar_t);
  result.text.resize(result.length);
  if (result.length) memcpy(result.text.data(), bytes.data(), result.length * sizeof(wchar_t));
  result.read = true;
  return result;
}

std::wstring FindLineValue(const std::wstring& text, const std::wstring& name) {
  size_t at = text.find(name);
  if (at == std::wstring::npos) return {};
  size_t start = at + name.size() + 1;
  if (start >= text.size()) return {};
  size_t end = text.find(L'\n', start);
  std::wstring value = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
  size_t last = value.find_last_not_of(L" \t\r\n\v\f");
  value.resize(last == std::wstring::npos ? 0 : last + 1);
  return value;
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

std::wstring FormatModuleVersion(const ModuleVersion& version) {
  wchar_t text[128];
  _snwprintf(text, 127, L"%d.%d.%d.%d", HIWORD(version.fileMS), LOWORD(version.fileMS), HIWORD(version.fileLS),
             LOWORD(version.fileLS));
  text[127] = L'\0';
  return text;
}

namespace {
wchar_t g_versionText[32];
wchar_t g_buildTime[64];

void FillVersionInfo() {
  if (g_buildTime[0]) return;
  _snwprintf(g_buildTime, 63, L"%hs %hs", __DATE__, __TIME__);
  g_buildTime[63] = L'\0';
  ModuleVersion version;
  if (ReadModuleVersion(version)) {
    wcsncpy(g_versionText, FormatModuleVersion(version).c_str(), 31);
    g_versionText[31] = L'\0';
  }
}

// Fills the texts before the entry point runs.
struct VersionInfoInit {
  VersionInfoInit() { FillVersionInfo(); }
} g_versionInfoInit;
}  // namespace

const wchar_t* VersionText() {
  FillVersionInfo();  // in case another static initialiser asks first
  return g_versionText;
}

const wchar_t* BuildTime() {
  FillVersionInfo();
  return g_buildTime;
}

bool ShowVersionBox() {
  wchar_t text[256];
  _snwprintf(text, 255, L"Version: %s\nBuild Time: %s", VersionText(), BuildTime());
  text[255] = L'\0';
  MessageBoxW(nullptr, text, L"Qel Identra", MB_OK);
  return true;
}
