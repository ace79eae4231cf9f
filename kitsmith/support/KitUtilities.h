// Small building blocks of the tool: its heap buffer, system error texts, a case-free search,
// whole-file readers and the module version texts.
#pragma once

#include "WinSupport.h"  // HandleHolder, ModuleVersion, Narrow, Widen, ReadOpenFile

#include <cstddef>
#include <string>

// One exact-size block of the process heap; Alloc grows or shrinks it to the size asked.
class HeapBuff {
 public:
  explicit HeapBuff(size_t size = 0, const void* bytes = nullptr);
  virtual ~HeapBuff();
  HeapBuff(const HeapBuff&) = delete;
  HeapBuff& operator=(const HeapBuff&) = delete;
  HeapBuff(HeapBuff&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
  HeapBuff& operator=(HeapBuff&& other) noexcept;

  // Exactly n bytes, the leading contents kept; null when the heap refused.
  unsigned char* Alloc(size_t n);
  unsigned char* Data() const { return data_; }
  // The block's size (0 without one).
  size_t Size() const;

 private:
  unsigned char* data_ = nullptr;
};

// The system's message for a Win32 error code (0: the thread's last error).
class Win32ErrorText {
 public:
  explicit Win32ErrorText(DWORD code = 0);
  ~Win32ErrorText();
  Win32ErrorText(const Win32ErrorText&) = delete;
  Win32ErrorText& operator=(const Win32ErrorText&) = delete;

  // The message, or "" when the system has none.
  const char* Text() const { return text_ ? text_ : ""; }
  DWORD Code() const { return code_; }
  // The lookup's own error when it failed, else 0.
  DWORD LookupError() const { return lookupError_; }

 private:
  char* text_ = nullptr;
  DWORD code_ = 0;
  DWORD lookupError_ = 0;
};

// Position of the first occurrence of pattern in text, ASCII letters compared without case;
// npos when either is missing or empty.
size_t FindNoCase(const char* text, const char* pattern);

// 8-bit text of the system code page (paths too) to 16-bit characters and back. A character
// the code page lacks makes AcpFromWide fail rather than stand for another one.
std::wstring WideFromAcp(const std::string& text);
bool AcpFromWide(const std::wstring& text, std::string& out);

// Files above this size are refused as a failed read.
constexpr unsigned long long kMaxReadFileBytes = 64ull * 1024 * 1024;

// Reads a whole file at construction: its bytes followed by one zero byte.
class WholeFileReader {
 public:
  explicit WholeFileReader(const std::string& path);

  bool exists = false;
  bool readOk = false;
  std::string error;
  HeapBuff data;
  size_t length = 0;  // bytes, without the added zero
};

// Reads a whole file as 16-bit text: all its bytes followed by two zero bytes.
class WideFileReader {
 public:
  explicit WideFileReader(const std::wstring& path);

  const wchar_t* Text() const { return reinterpret_cast<const wchar_t*>(data.Data()); }

  bool exists = false;
  bool readOk = false;
  std::string error;
  HeapBuff data;
  size_t length = 0;     // whole 16-bit units
  size_t byteSize = 0;   // every byte of the file
};

// Version record of the module file at path (8-bit), or of the running program for null.
bool ReadModuleVersion(const char* path, ModuleVersion& version);
// Form 1: "%d.%d.%d.%d" of the file version; any other form adds " {%d.%d.%d.%d}" of the
// product version.
std::string FormatModuleVersion(const ModuleVersion& version, int form);
