// Small Win32 helpers both Windows programs use, beside the holders of WinHolders.h: text
// narrowing, the registry text reader, the whole-file read, folder creation, module
// version records, the loading of libraries at run time and the accounts trusted with what a
// program makes for itself.
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

// Libraries taken at run time come by full path from the system folder or the program's own
// folder, never through a search that reaches the working folder or PATH, where another
// account may have put a library of the same name.
// The library of that name in the system folder (null when there is none).
HMODULE LoadSystemLibrary(const wchar_t* name);
// The library of that name in the system folder, else the one beside the program.
HMODULE LoadSystemOrProgramLibrary(const wchar_t* name);
// Restricts the search of every library loaded by name from here on (and of what such a
// library needs) to the system folder and the program's folder. False where the system does
// not offer the restriction (its loader has no SetDefaultDllDirectories).
bool RestrictLibrarySearch();

// The accounts trusted with the objects a program makes for itself: the account it runs as
// (the process token's user), SYSTEM and Administrators. Another account on the machine is not.
// Files and folders may also trust the system's installer service (TrustedInstaller), which
// holds the system's own folders and what is installed under Program Files.
class TrustedAccounts {
 public:
  enum Installer { kWithoutInstaller, kWithInstaller };
  explicit TrustedAccounts(Installer installer = kWithoutInstaller);
  // False when the process token could not be read; nothing is trusted then.
  bool Valid() const { return !user_.empty(); }
  PSID User() const;
  bool Contains(PSID sid) const;
  // An access list granting each of the three the access given, with the entry flags given
  // (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE pass it on inside a folder), and nobody else
  // anything; empty when it cannot be built.
  std::vector<BYTE> AccessList(DWORD access, DWORD entryFlags = 0) const;

 private:
  std::vector<BYTE> user_;  // TOKEN_USER
  BYTE system_[SECURITY_MAX_SID_SIZE] = {};
  BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  std::vector<BYTE> installer_;  // empty unless trusted
};

// The security of what only the trusted accounts may use: owned by this account, their access
// list, protected from what the parent would pass on. With inheritToChildren the list passes
// on to the files and folders made inside a folder.
class PrivateSecurity {
 public:
  // access: what the three may do (FILE_ALL_ACCESS for files and folders, EVENT_ALL_ACCESS...).
  PrivateSecurity(DWORD access, bool inheritToChildren);
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;

  const TrustedAccounts& Trusted() const { return trusted_; }
  // Null when the descriptor could not be built (the caller must not fall back to the default).
  SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }

 private:
  TrustedAccounts trusted_;
  std::vector<BYTE> list_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool valid_ = false;
};

// A SID's text form ("S-1-5-18"); empty when it cannot be written.
std::wstring SidText(PSID sid);
// A SID for people: "DOMAIN\name (S-1-...)", "name (S-1-...)" for one without domain, or its
// text alone when it names no known account.
std::wstring AccountText(PSID sid);

// The accounts other than the trusted ones that an allow entry of the access list gives any of
// the rights asked about, each once in the list's order, as AccountText writes them. Deny
// entries are passed over (the answer may name too many, never too few); an entry that only
// passes to what is made inside (inherit-only) grants nothing on the object itself; CREATOR
// OWNER, which stands for whoever makes an entry inside a folder, is not counted. False when an
// entry is of another kind or cannot be read. The list must not be null (a null list lets
// everyone).
bool UntrustedHolders(const ACL& list, DWORD rights, const TrustedAccounts& trusted,
                      std::vector<std::wstring>& accounts);

// The accounts other than the trusted ones (TrustedInstaller among them) that a file's or
// folder's owner and access list let change it or add to it (write, add, delete, change the
// list or the owner; a missing list lets everyone; an owner may rewrite the list). False when
// its security cannot be read.
bool OtherAccountsThatMayWrite(const std::wstring& path, std::vector<std::wstring>& accounts);
// The same, of a security descriptor with its owner and access list.
bool OtherAccountsThatMayWrite(PSECURITY_DESCRIPTOR descriptor,
                               std::vector<std::wstring>& accounts);
