// Holders both Windows programs use: each owns one resource (kernel handle, registry key,
// loaded resource, memory the system allocated for the caller) and releases it once, when it
// goes.
#pragma once

#include <windows.h>

#include <string>

// Owns one kernel handle; null and INVALID_HANDLE_VALUE both mean none.
class HandleHolder {
 public:
  HandleHolder() = default;
  explicit HandleHolder(HANDLE handle) : handle_(handle) {}
  ~HandleHolder() { Close(); }
  HandleHolder(const HandleHolder&) = delete;
  HandleHolder& operator=(const HandleHolder&) = delete;
  HandleHolder(HandleHolder&& other) noexcept : handle_(other.Detach()) {}
  HandleHolder& operator=(HandleHolder&& other) noexcept {
    if (this != &other) Reset(other.Detach());
    return *this;
  }

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  // Closes the held handle (once) and clears it.
  void Close() {
    if (Valid()) CloseHandle(handle_);
    handle_ = nullptr;
  }
  // Closes the held handle and takes over another.
  void Reset(HANDLE handle = nullptr) {
    Close();
    handle_ = handle;
  }
  // Gives the handle up without closing it.
  HANDLE Detach() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }

 private:
  HANDLE handle_ = nullptr;
};

// An open registry key (none when the open failed).
class KeyHolder {
 public:
  KeyHolder() = default;
  KeyHolder(HKEY parent, const char* name, REGSAM access = KEY_READ) { Open(parent, name, access); }
  ~KeyHolder() { Close(); }
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;

  // Closes the held key, then opens another; false when that failed.
  bool Open(HKEY parent, const char* name, REGSAM access = KEY_READ) {
    Close();
    if (RegOpenKeyExA(parent, name, 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
    return key_ != nullptr;
  }
  // Closes the held key, then opens another, creating it when missing; false when that failed.
  bool Create(HKEY parent, const char* name, REGSAM access) {
    Close();
    if (RegCreateKeyExA(parent, name, 0, nullptr, 0, access, nullptr, &key_, nullptr) != ERROR_SUCCESS) key_ = nullptr;
    return key_ != nullptr;
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }
  HKEY Get() const { return key_; }
  bool Valid() const { return key_ != nullptr; }

 private:
  HKEY key_ = nullptr;
};

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

// Memory that a system call allocated for the caller to free with LocalFree (a security
// descriptor, a SID's text).
template <typename T>
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() { Reset(); }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;

  // Frees what is held and gives the call the place to put its new block.
  T** Out() {
    Reset();
    return &memory_;
  }
  T* Get() const { return memory_; }
  void Reset() {
    if (memory_) LocalFree(memory_);
    memory_ = nullptr;
  }

 private:
  T* memory_ = nullptr;
};
