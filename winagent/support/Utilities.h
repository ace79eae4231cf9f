// Small helpers the agent stands on, beside the holders of Holders.h and the helpers it shares
// with the tool (WinSupport.h): text helpers, the whole-file reader, and the program's own version text.
#pragma once

#include "support/Holders.h"
#include "WinSupport.h"  // Narrow, Widen, RegValueText, ReadOpenFile, CreateDirectoryPath, ModuleVersion

#include <cstdint>
#include <string>
#include <vector>

// Result code of a Win32 error: 0x80070000 | code (always a failure code).
inline HRESULT ResultFromWin32(DWORD code) { return static_cast<HRESULT>(0x80070000u | (code & 0xFFFFu)); }

// Cuts at every delimiter; every piece is kept, empty ones included (an empty text gives one).
std::vector<std::wstring> SplitText(const std::wstring& text, wchar_t delimiter);

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

// "%d.%d.%d.%d" of the file version.
std::wstring FormatModuleVersion(const ModuleVersion& version);

// Message box "Qel Identra": "Version: %s\nBuild Time: %s". Returns true.
bool ShowVersionBox();

// Process-wide, filled once before the entry point: the file version of the running program
// (empty when it cannot be read) and the compile date and time.
const wchar_t* VersionText();
const wchar_t* BuildTime();
