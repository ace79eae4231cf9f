#include "support/KitUtilities.h"

#include <cstdio>
#include <cstring>

HeapBuff::HeapBuff(size_t size, const void* bytes) {
  if (size == 0) return;
  if (Alloc(size) && bytes) memcpy(data_, bytes, size);
}

HeapBuff::~HeapBuff() {
  if (data_) HeapFree(GetProcessHeap(), 0, data_);
}

HeapBuff& HeapBuff::operator=(HeapBuff&& other) noexcept {
  if (this != &other) {
    if (data_) HeapFree(GetProcessHeap(), 0, data_);
    data_ = other.data_;
    other.data_ = nullptr;
  }
  return *this;
}

unsigned char* HeapBuff::Alloc(size_t n) {
  if (!data_) {
    data_ = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, n));
  } else if (Size() != n) {
    void* grown = HeapReAlloc(GetProcessHeap(), 0, data_, n);
    if (!grown) return nullptr;  // the old block stays as it was
    data_ = static_cast<unsigned char*>(grown);
  }
  return data_;
}

size_t HeapBuff::Size() const { return data_ ? HeapSize(GetProcessHeap(), 0, data_) : 0; }

Win32ErrorText::Win32ErrorText(DWORD code) : code_(code ? code : GetLastError()) {
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  if (!FormatMessageA(flags, nullptr, code_, 0x400, reinterpret_cast<char*>(&text_), 0, nullptr)) {
    lookupError_ = GetLastError();
    text_ = nullptr;
  }
}

Win32ErrorText::~Win32ErrorText() {
  if (text_) LocalFree(text_);
}

namespace {
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr DWORD kReadShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

DWORD AttributesOf(const std::string& path) { return GetFileAttributesA(path.c_str()); }
DWORD AttributesOf(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
HANDLE OpenToRead(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, kReadShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
HANDLE OpenToRead(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, kReadShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}
// For messages only: a character the code page lacks shows as its default one.
std::string Shown(const std::string& path) { return path; }
std::string Shown(const std::wstring& path) {
  std::string text;
  AcpFromWide(path, text);
  return text;
}

// Reads the whole file into data followed by `zeros` zero bytes.
template <class Path>
void ReadFileInto(const Path& path, size_t zeros, bool& exists, bool& readOk, std::string& error, HeapBuff& data,
                  size_t& byteSize) {
  if (AttributesOf(path) == INVALID_FILE_ATTRIBUTES) {
    error = "File not found: " + Shown(path);
    return;
  }
  exists = true;
  const std::string failed = "File exists but read failed: " + Shown(path);
  HandleHolder file(OpenToRead(path));
  size_t total = 0;
  if (!file.Valid() ||
      !ReadOpenFile(file.Get(), kMaxReadFileBytes, [&](size_t n) -> void* { return data.Alloc(n + zeros); }, total)) {
    error = failed;
    return;
  }
  memset(data.Data() + total, 0, zeros);
  byteSize = total;
  readOk = true;
}
}  // namespace

size_t FindNoCase(const char* text, const char* pattern) {
  if (!text || !pattern || !*text || !*pattern) return std::string::npos;
  for (size_t start = 0; text[start]; ++start) {
    size_t i = 0;
    while (pattern[i] && text[start + i] && UpperAscii(text[start + i]) == UpperAscii(pattern[i])) ++i;
    if (!pattern[i]) return start;
  }
  return std::string::npos;
}

std::wstring WideFromAcp(const std::string& text) {
  const int size = static_cast<int>(text.size());
  const int units = size ? MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0) : 0;
  std::wstring out(units > 0 ? units : 0, L'\0');
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), size, out.data(), units);
  return out;
}

bool AcpFromWide(const std::wstring& text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  // A UTF-8 code page takes no default character; there an unpaired surrogate is the failure.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* usedDefault = utf8 ? nullptr : &defaulted;
  const int size = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_ACP, flags, text.data(), size, nullptr, 0, nullptr, usedDefault);
  if (bytes <= 0) return false;
  out.resize(bytes);
  WideCharToMultiByte(CP_ACP, flags, text.data(), size, out.data(), bytes, nullptr, usedDefault);
  return !defaulted;
}

WholeFileReader::WholeFileReader(const std::string& path) {
  ReadFileInto(path, 1, exists, readOk, error, data, length);
}

WideFileReader::WideFileReader(const std::wstring& path) {
  ReadFileInto(path, 2, exists, readOk, error, data, byteSize);
  length = byteSize / 2;
}

bool ReadModuleVersion(const char* path, ModuleVersion& version) {
  if (!path) return ReadModuleVersion(version);
  return ReadModuleVersionOf(WideFromAcp(path).c_str(), version);
}

std::string FormatModuleVersion(const ModuleVersion& version, int form) {
  char text[257];
  if (form == 1) {
    snprintf(text, sizeof(text), "%d.%d.%d.%d", HIWORD(version.fileMS), LOWORD(version.fileMS),
             HIWORD(version.fileLS), LOWORD(version.fileLS));
  } else {
    snprintf(text, sizeof(text), "%d.%d.%d.%d {%d.%d.%d.%d}", HIWORD(version.fileMS), LOWORD(version.fileMS),
             HIWORD(version.fileLS), LOWORD(version.fileLS), HIWORD(version.productMS), LOWORD(version.productMS),
             HIWORD(version.productLS), LOWORD(version.productLS));
  }
  return text;
}
