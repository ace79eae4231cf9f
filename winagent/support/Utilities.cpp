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
  size_t got = 0;
  // Room for an odd final byte too; it is dropped afterwards.
  const auto reserve = [&](size_t bytes) -> void* {
    result.text.resize((bytes + 1) / sizeof(wchar_t));
    return result.text.data();
  };
  if (!ReadOpenFile(file.Get(), kMaxWholeFileBytes, reserve, got)) {
    result.text.clear();
    result.error = L"File exists but read failed: " + shownPath;
    return result;
  }
  result.length = got / sizeof(wchar_t);
  result.text.resize(result.length);
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
