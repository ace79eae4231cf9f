// Small owning types the agent is built from: holders of framework objects and system resources,
// the run-loop timer, byte buffers, counted references, the options folder and the lock-file mutex.
#pragma once

#include <ifaddrs.h>
#include <spawn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/CFRunLoop.h"
#include "platform/CFSocket.h"

// Holds one reference to a framework object and releases it.
template <class H>
class CFHandleWrapper {
 public:
  CFHandleWrapper() = default;
  explicit CFHandleWrapper(H handle) : _handle(handle) {}
  CFHandleWrapper(const CFHandleWrapper&) = delete;
  CFHandleWrapper& operator=(const CFHandleWrapper&) = delete;
  virtual ~CFHandleWrapper() { release(); }

  void release() {
    if (_handle) CFRelease(_handle);
    _handle = nullptr;
  }
  // Takes over one reference to handle, releasing the one held.
  void reset(H handle) {
    release();
    _handle = handle;
  }
  H get() const { return _handle; }

 protected:
  H _handle = nullptr;
};

// A repeating timer on the current thread's run loop (an interval of 0 or less: it fires once).
class WCFRunLoopTimer : public CFHandleWrapper<CFRunLoopTimerRef> {
 public:
  typedef void (*Callback)(WCFRunLoopTimer* timer, void* data);

  // First fire one interval from now; not yet on a run loop.
  WCFRunLoopTimer(double interval, Callback func, void* data);
  ~WCFRunLoopTimer() override;

  void AddToRunLoop();
  // Off the run loop; it can be added again.
  void Stop();
  void SetNextFireTime(int32_t seconds);
  int32_t FireCount() const { return _fireCount; }

 private:
  static void TimerCallback(CFRunLoopTimerRef timer, void* info);

  Callback _func;
  void* _pCbData;
  int32_t _fireCount = 0;
};

class WCFData : public CFHandleWrapper<CFDataRef> {
 public:
  WCFData(const void* bytes, CFIndex length)
      : CFHandleWrapper(CFDataCreate(kCFAllocatorDefault, static_cast<const UInt8*>(bytes), length)) {}
};

// Owns a socket object. release() and reset() invalidate the socket held first (no more
// callbacks, the socket closed); the destructor only lets go of the reference.
class WCFSocket : public CFHandleWrapper<CFSocketRef> {
 public:
  using CFHandleWrapper::CFHandleWrapper;
  void release() {
    if (_handle) CFSocketInvalidate(_handle);
    CFHandleWrapper::release();
  }
  void reset(CFSocketRef handle) {
    release();
    _handle = handle;
  }
  // The peer closed the connection in an orderly way: a peek finds the end of the stream.
  bool close_detected() const;
};

// Closes a descriptor when it goes out of scope.
class FdHolder {
 public:
  explicit FdHolder(int fd) : _fd(fd) {}
  FdHolder(const FdHolder&) = delete;
  FdHolder& operator=(const FdHolder&) = delete;
  ~FdHolder() {
    if (_fd >= 0) close(_fd);
  }
  int get() const { return _fd; }
  // Hands the descriptor to another owner.
  int release() {
    const int fd = _fd;
    _fd = -1;
    return fd;
  }

 private:
  int _fd;
};

// Frees the spawn file actions when they go out of scope.
class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&_actions); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { posix_spawn_file_actions_destroy(&_actions); }
  posix_spawn_file_actions_t* get() { return &_actions; }

 private:
  posix_spawn_file_actions_t _actions;
};

// Frees the spawn attributes when they go out of scope.
class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&_attributes); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  ~SpawnAttributes() { posix_spawnattr_destroy(&_attributes); }
  posix_spawnattr_t* get() { return &_attributes; }

 private:
  posix_spawnattr_t _attributes;
};

// The interface list of getifaddrs (null when it failed), freed when it goes out of scope.
class IfAddrsHolder {
 public:
  IfAddrsHolder() {
    if (getifaddrs(&_list) != 0) _list = nullptr;
  }
  IfAddrsHolder(const IfAddrsHolder&) = delete;
  IfAddrsHolder& operator=(const IfAddrsHolder&) = delete;
  ~IfAddrsHolder() {
    if (_list) freeifaddrs(_list);
  }
  const ifaddrs* get() const { return _list; }

 private:
  ifaddrs* _list = nullptr;
};

// Owns an array of data objects each holding one T.
template <class T>
class WCFArrayWrapper : public CFHandleWrapper<CFArrayRef> {
 public:
  using CFHandleWrapper::CFHandleWrapper;
  CFIndex count() const { return CFArrayGetCount(_handle); }
  const T* operator[](CFIndex index) const {
    auto data = static_cast<CFDataRef>(CFArrayGetValueAtIndex(_handle, index));
    return data && CFDataGetLength(data) >= static_cast<CFIndex>(sizeof(T))
               ? reinterpret_cast<const T*>(CFDataGetBytePtr(data))
               : nullptr;
  }
};

// An owned heap block whose size is also the length of its data. It grows, never shrinks.
template <class T>
class HeapBuff {
  static_assert(sizeof(T) == 1, "a buffer of bytes");

 public:
  explicit HeapBuff(uint32_t size = 0, const T* source = nullptr) {
    if (size != 0 && Alloc(size) && source) std::memcpy(_data, source, size);
  }
  HeapBuff(const HeapBuff& other) { *this = other; }
  HeapBuff(HeapBuff&& other) noexcept
      : _data(std::exchange(other._data, nullptr)), _size(std::exchange(other._size, 0)) {}
  HeapBuff& operator=(const HeapBuff& other) {
    if (this == &other) return *this;
    Free();
    if (other._data && Alloc(other._size)) std::memcpy(_data, other._data, other._size);
    return *this;
  }
  HeapBuff& operator=(HeapBuff&& other) noexcept {
    if (this != &other) {
      Free();
      _data = std::exchange(other._data, nullptr);
      _size = std::exchange(other._size, 0);
    }
    return *this;
  }
  virtual ~HeapBuff() { Free(); }

  // No block: size bytes. A smaller block grows to size plus its current size, keeping its
  // bytes. Null when the heap refuses (the block held stays as it was).
  T* Alloc(uint32_t size) {
    if (!_data) {
      _data = static_cast<T*>(std::malloc(size ? size : 1));
      _size = _data ? size : 0;
      return _data;
    }
    if (_size >= size) return _data;
    if (size > UINT32_MAX - _size) return nullptr;
    T* grown = static_cast<T*>(std::realloc(_data, size + _size));
    if (!grown) return nullptr;
    _data = grown;
    _size += size;
    return _data;
  }

  T* data() const { return _data; }
  uint32_t size() const { return _size; }

 private:
  void Free() {
    std::free(_data);
    _data = nullptr;
    _size = 0;
  }

  T* _data = nullptr;
  uint32_t _size = 0;
};

// One buffer holding the bytes of the buffers in [first, last) in order.
template <class It>
auto HeapBuffJoin(It first, It last) {
  using Buff = std::remove_cvref_t<decltype(*first)>;
  uint64_t total = 0;
  for (It it = first; it != last; ++it) total += it->size();
  Buff joined;
  if (total == 0 || total > UINT32_MAX || !joined.Alloc(static_cast<uint32_t>(total))) return joined;
  auto* out = joined.data();
  for (It it = first; it != last; ++it) {
    if (it->size()) std::memcpy(out, it->data(), it->size());
    out += it->size();
  }
  return joined;
}

// Shares an object through a separately allocated count.
template <class T>
class RefPtr {
 public:
  RefPtr() = default;
  // Takes a new object; its count starts at 1.
  explicit RefPtr(T* object) : _object(object), _count(object ? new int32_t(1) : nullptr) {}
  RefPtr(const RefPtr& other) : _object(other._object), _count(other._count) {
    if (_count) ++*_count;
  }
  RefPtr& operator=(const RefPtr& other) {
    if (this != &other) {
      if (other._count) ++*other._count;
      decr();
      _object = other._object;
      _count = other._count;
    }
    return *this;
  }
  virtual ~RefPtr() { decr(); }

  void decr() {
    if (_count && --*_count == 0) {
      delete _object;
      delete _count;
    }
    _object = nullptr;
    _count = nullptr;
  }

  T* get() const { return _object; }
  T* operator->() const { return _object; }
  T& operator*() const { return *_object; }
  explicit operator bool() const { return _object != nullptr; }

 private:
  T* _object = nullptr;
  int32_t* _count = nullptr;
};

template <class T>
class FSM_Base;

// Shares a state machine through the machine's own count.
template <class T>
class RefxPtr {
 public:
  RefxPtr() = default;
  explicit RefxPtr(FSM_Base<T>* machine) : _machine(machine) {
    if (_machine) ++_machine->m_refCount;
  }
  RefxPtr(const RefxPtr& other) : RefxPtr(other._machine) {}
  RefxPtr& operator=(const RefxPtr& other) {
    if (this != &other) {
      if (other._machine) ++other._machine->m_refCount;
      decr();
      _machine = other._machine;
    }
    return *this;
  }
  virtual ~RefxPtr() { decr(); }

  void decr() {
    FSM_Base<T>* machine = std::exchange(_machine, nullptr);
    if (machine && --machine->m_refCount == 0) delete machine;
  }

  FSM_Base<T>* get() const { return _machine; }
  FSM_Base<T>* operator->() const { return _machine; }
  explicit operator bool() const { return _machine != nullptr; }

 private:
  FSM_Base<T>* _machine = nullptr;
};

// The per-user options folder: "$HOME/.QelIdentra", fixed by the first construction in
// the process (an unset HOME counts as empty).
template <int N>
class UserOptionsDir {
 public:
  UserOptionsDir() {
    if (!_dir.empty()) return;
    const char* home = std::getenv("HOME");
    _dir = std::string(home ? home : "") + "/.QelIdentra";
  }
  // Creates the folder (bits 0744, whatever the creation mask); true when it exists.
  static bool Create();
  static const std::string& Dir() { return _dir; }

 private:
  static inline std::string _dir;
};

bool CreateOptionsFolder(const char* path);

template <int N>
bool UserOptionsDir<N>::Create() {
  return CreateOptionsFolder(_dir.c_str());
}

// An exclusive advisory lock on a file, taken at construction and released at destruction.
class FileMutex {
 public:
  explicit FileMutex(const char* path);
  ~FileMutex();
  FileMutex(const FileMutex&) = delete;
  FileMutex& operator=(const FileMutex&) = delete;

  bool IsLocked() const { return _locked; }
  const std::string& Path() const { return _path; }
  // Why the lock was not taken: 0 when it was, EWOULDBLOCK when another holds it, else
  // the error of the open or the lock.
  int LockError() const { return _error; }
  // Why the pid line of a lock taken did not reach the disk (a full disk, say): 0 when it
  // did. The lock holds either way.
  int WriteError() const { return _writeError; }

 private:
  void lockUnix();
  void unlockUnix();

  std::string _path;
  bool _locked = false;
  int32_t _fd = -1;
  int _error = 0;
  int _writeError = 0;
};
