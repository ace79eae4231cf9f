// Small Win32 helpers both Windows programs use, beside the holders of WinHolders.h: text
// narrowing, the registry text reader, the whole-file read, folder creation, private access
// lists and module version records.
#pragma once

#include "WinHolders.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Each character's low 8 bits.
std::string Narrow(const std::wstring& text);
// Each byte as one character (the inverse of Narrow).
std::wstring Widen(const std::string& text);

struct RegTextResult {
  bool keyOpened = false;
  bool valueRead = false;
  std::wstring text;
};
// Reads a string value (REG_SZ, REG_EXPAND_SZ; a REG_MULTI_SZ is joined with line feeds) of at
// most 32 KB. Any failure, including a value that does not fit, gives empty text.
RegTextResult RegValueText(HKEY root, const char* subKey, const char* valueName);

// Reads the whole of an open file into the block that reserve(size) gives for its size in
// bytes (null fails the read of a non-empty file); size is then the number of bytes read.
// False when the size cannot be had or is above maxBytes, or a read fails or ends early.
bool ReadOpenFile(HANDLE file, unsigned long long maxBytes, const std::function<void*(size_t)>& reserve,
                  size_t& size);

// Creates every folder of the path from the root down, never its last name and never the
// server and share of a network path, each with the given security (null: the default).
// True when the path already is a folder or every level exists as a folder afterwards.
bool CreateDirectoryPath(const std::wstring& path, SECURITY_ATTRIBUTES* security = nullptr);
// The folders CreateDirectoryPath would create, from the root down.
std::vector<std::wstring> DirectoryLevels(const std::wstring& path);

// The security of what only the current user, SYSTEM and Administrators may use: an access
// list granting the three full access, protected from what the parent would pass on. With
// inheritToChildren its entries pass on to the files and folders made inside a folder.
class PrivateSecurity {
 public:
  // access: what the three may do (FILE_ALL_ACCESS for files and folders).
  PrivateSecurity(DWORD access, bool inheritToChildren);
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;

  // Null when the descriptor could not be built (the caller must not fall back to the default).
  SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }

 private:
  std::vector<unsigned char> user_;
  std::vector<unsigned char> system_;
  std::vector<unsigned char> administrators_;
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool valid_ = false;
};

// The current user's SID (of the process token); false when it cannot be had.
bool CurrentUserSid(std::vector<unsigned char>& sid);

// The accounts other than the current user, SYSTEM and Administrators that the access list of
// a file or folder lets change it or what is made inside it (write, add, delete, change the
// list or the owner; a missing list lets everyone), and its owner when that is none of the
// three, as "DOMAIN\name" or SID text. CREATOR OWNER stands for whoever makes an entry and is
// not counted. False when the access list cannot be read.
bool OtherAccountsThatMayWrite(const std::wstring& path, std::vector<std::wstring>& accounts);

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
