// Small helpers the agent stands on, beside the holders of Holders.h: text helpers, registry
// and file readers, and the program's own version text.
#pragma once

#include "support/Holders.h"

#include <cstdint>
#include <string>
#include <vector>

// Result code of a Win32 error: 0x80070000 | code (always a failure code).
inline HRESULT ResultFromWin32(DWORD code) { return static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu)); }

// Cuts at every delimiter; every piece is kept, empty ones included (an empty text gives one).
std::vector<std::wstring> SplitText(const std::wstring& text, wchar_t delimiter);

struct RegTextResult {
  bool keyOpened = false;
  bool valueRead = false;
  std::wstring text;
};
// Reads a string value (REG_SZ, REG_EXPAND_SZ; a REG_MULTI_SZ is joined with line feeds) of at
// most 32 KB. Any failure, including a value that does not fit, gives empty text.
RegTextResult RegValueText(HKEY root, const char* subKey, const char* valueName);

// Creates every folder of the path from the root down, never its last name and never the
// server and share of a network path. True when the path already is a folder or every
// level exists as a folder afterwards.
bool CreateDirectoryPath(const std::wstring& path);
// The folders CreateDirectoryPath would create, from the root down.
std::vector<std::wstring> DirectoryLevels(const std::wstring& path);

struct KnownFolderResult {
  bool invalidId = false;
  bool found = false;
  std::wstring path;
};
KnownFolderResult KnownFolderPath(const GUID& folderId);

struct ReplaceResult {
  std::wstring text;
  int count = 0;
};
// Replaces the first (or, with all, every) occurrence of search, case-free unless caseSensitive.
// Empty text or search leaves the text unchanged.
ReplaceResult ReplaceText(const std::wstring& text, const std::wstring& search, const std::wstring& replacement,
                          bool caseSensitive = false, bool all = false);

// The whole string as UTF-8.
std::string ToUtf8(const std::wstring& text);
// Each character's low 8 bits.
std::string Narrow(const std::wstring& text);
// Each byte as one character (the inverse of Narrow).
std::wstring Widen(const std::string& text);

// Number of entries matching the pattern that are not folders.
int CountFiles(const std::wstring& pattern);

struct WholeFileText {
  bool read = false;
  std::wstring text;
  size_t length = 0;  // characters
  std::wstring error;
};
// Reads a file as UTF-16 text (an odd final byte is ignored). Files of more than
// kMaxWholeFileBytes are refused as a read failure.
constexpr size_t kMaxWholeFileBytes = 16u * 1024 * 1024;
WholeFileText ReadWholeFile(const std::string& path);

// Finds name anywhere in text, skips it and the one character after it, and returns the rest of
// that line without trailing white space (empty when name is not found).
std::wstring FindLineValue(const std::wstring& text, const std::wstring& name);

// Owner of one resource loaded from a module; it also owns the module handle given to Load.
template <typename T>
class ResourcePtr {
 public:
  ResourcePtr() = default;
  virtual ~ResourcePtr() { Release(); }
  ResourcePtr(const ResourcePtr&) = delete;
  ResourcePtr& operator=(const ResourcePtr&) = delete;

  // Releases what was held, then finds, loads and locks the resource; takes over the module.
  // On failure the error text names the step and the object is released.
  T* Load(HMODULE module, LPCWSTR name, LPCWSTR type);
  // Frees the module (when set) and forgets the resource.
  void Release();

  T* Data() const { return data_; }
  DWORD Size() const { return size_; }
  const std::wstring& Error() const { return error_; }

 private:
  HMODULE module_ = nullptr;
  T* data_ = nullptr;
  HGLOBAL resource_ = nullptr;
  DWORD size_ = 0;
  std::wstring error_;
};

struct ModuleVersion {
  uint32_t fileMS = 0;
  uint32_t fileLS = 0;
  uint32_t productMS = 0;
  uint32_t productLS = 0;
};
// The running program's version record.
bool ReadModuleVersion(ModuleVersion& version);
// The version record of the module file at path (loaded as a data file).
bool ReadModuleVersionOf(const wchar_t* path, ModuleVersion& version);
// Scans a version resource for the fixed version record (signature 0xFEEF04BD) that lies
// wholly inside the data.
bool FindFixedVersionInfo(const unsigned char* data, size_t size, ModuleVersion& version);
// "%d.%d.%d.%d" of the file version.
std::wstring FormatModuleVersion(const ModuleVersion& version);

// Message box "Qel Identra": "Version: %s\nBuild Time: %s". Returns true.
bool ShowVersionBox();

// Process-wide, filled once before the entry point: the file version of the running program
// (empty when it cannot be read) and the compile date and time.
const wchar_t* VersionText();
const wchar_t* BuildTime();
