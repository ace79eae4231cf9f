// The agent's holders: each owns one resource (critical section, event, library module, COM
// apartment, Windows Sockets start) and releases it once, when it goes; the kernel-handle,
// registry-key and resource holders are shared with the tool (WinHolders.h).
// Windows are held by MessageWindow.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include "WinHolders.h"  // HandleHolder, KeyHolder, ResourcePtr

// A critical section, initialised on construction and deleted (and zeroed) on destruction.
class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  ~CriticalSection() {
    DeleteCriticalSection(&cs_);
    ZeroMemory(&cs_, sizeof(cs_));
  }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }
  CRITICAL_SECTION* Native() { return &cs_; }

 private:
  CRITICAL_SECTION cs_ = {};
};

// Enters on construction; leaves on destruction or on an explicit Leave, only while held.
class LockHolder {
 public:
  explicit LockHolder(CriticalSection& cs) : LockHolder(cs.Native()) {}
  explicit LockHolder(CRITICAL_SECTION* cs) : cs_(cs) {
    EnterCriticalSection(cs_);
    held_ = true;
  }
  ~LockHolder() { Leave(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  void Leave() {
    if (held_) {
      held_ = false;
      LeaveCriticalSection(cs_);
    }
  }
  bool Held() const { return held_; }

 private:
  CRITICAL_SECTION* cs_;
  bool held_ = false;
};

// An unnamed event, not signalled at creation; Wait records how the last wait ended.
class EventHolder {
 public:
  explicit EventHolder(bool manualReset = true);
  EventHolder(const EventHolder&) = delete;
  EventHolder& operator=(const EventHolder&) = delete;

  // True when signalled; otherwise timedOut, lastError or abandoned tell why.
  bool Wait(DWORD milliseconds);
  bool Set() { return SetEvent(event_.Get()) != FALSE; }
  bool Reset() { return ResetEvent(event_.Get()) != FALSE; }
  HANDLE Get() const { return event_.Get(); }

  bool abandoned = false;
  bool timedOut = false;
  DWORD lastError = 0;
  const bool manualReset;

 private:
  HandleHolder event_;
};

// A loaded library module.
class ModuleHolder {
 public:
  ModuleHolder() = default;
  explicit ModuleHolder(HMODULE module) : module_(module) {}
  ~ModuleHolder() { Reset(); }
  ModuleHolder(const ModuleHolder&) = delete;
  ModuleHolder& operator=(const ModuleHolder&) = delete;

  HMODULE Get() const { return module_; }
  bool Valid() const { return module_ != nullptr; }
  // Frees the held module and takes over another.
  void Reset(HMODULE module = nullptr) {
    if (module_) FreeLibrary(module_);
    module_ = module;
  }
  // Gives the module up without freeing it.
  HMODULE Detach() {
    HMODULE m = module_;
    module_ = nullptr;
    return m;
  }
  // The entry point name of the held module, as type F (null when missing).
  template <typename F>
  F Function(const char* name) const {
    return module_ ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name))) : nullptr;
  }

 private:
  HMODULE module_ = nullptr;
};

// COM for the multithreaded apartment on the calling thread, released when it was taken.
class ComApartment {
 public:
  ComApartment() : result_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};

// Windows Sockets 2 started for one scope (the start is reference-counted, so scopes nest
// with CSocket::Start and with each other).
class WinsockScope {
 public:
  WinsockScope() {
    WSADATA data = {};
    started_ = WSAStartup(MAKEWORD(2, 0), &data) == 0;
  }
  ~WinsockScope() {
    if (started_) WSACleanup();
  }
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;

  bool Started() const { return started_; }

 private:
  bool started_ = false;
};
