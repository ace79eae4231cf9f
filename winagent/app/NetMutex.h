// The single-instance marker: a file that one instance holds open and that names its holder,
// so that a second instance can ask the first to quit or, failing that, end it.
#pragma once

#include <windows.h>

#include "support/Holders.h"

#include <cstdint>

// Quit handshake with the main window of the running instance.
constexpr UINT kMsgQuitRequest = 0x8191;  // first parameter 2
constexpr UINT kMsgQuitAnswer = 0x8192;
constexpr WPARAM kQuitRequestCode = 2;

class NetMutex {
 public:
  NetMutex() = default;
  NetMutex(const NetMutex&) = delete;
  NetMutex& operator=(const NetMutex&) = delete;
  virtual ~NetMutex() { Release(); }

  // Takes the marker at path (or at the path used before; with none yet, "appmtx" in
  // "Qel Security Identra" of the roaming application-data folder) and writes this process
  // as its holder, with ownWindow as the main window. When another instance holds it, reads
  // that holder (ReadHolder) and returns false.
  bool Lock(const wchar_t* path = nullptr);
  // Lock at the path used before, without reading the holder when that fails.
  bool TryLock();
  // Closes the marker; the file stays on disk.
  void Release();
  // Reads the holder's lines from the marker; false when it cannot be opened or its content
  // is malformed or too large (then the holder fields stay cleared).
  bool ReadHolder();
  bool Held() const { return file.Valid(); }

  wchar_t markerPath[MAX_PATH] = {};
  uint32_t ownWindow = 0;  // written as MsgHWND

  // The holder, as the last ReadHolder found it.
  bool holderRead = false;
  wchar_t holderPath[MAX_PATH] = {};
  wchar_t holderMachine[16] = {};
  uint32_t holderWindow = 0;
  uint32_t processId = 0;
  uint32_t threadId = 0;

  HandleHolder file;
};

struct SingleInstanceLock {
  bool held = false;
  NetMutex mutex;
};

// Asks the holder to quit (0x8191, answered 0x8192) and waits for it to release the marker,
// else ends it with TerminateHolder. Never touches a process the marker does not describe.
bool RequestHolderQuit(SingleInstanceLock& lock);
// Ends the holder (exit code 1) when its image path equals the marker's path; true once it
// has ended.
bool TerminateHolder(SingleInstanceLock& lock);

// Takes the marker for this instance with ownWindow as its main window, taking over from a
// running holder when needed. False: this instance must end.
bool AcquireSingleInstance(SingleInstanceLock& lock, HWND ownWindow,
                           const wchar_t* markerPath = nullptr);
