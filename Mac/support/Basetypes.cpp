#include "support/Basetypes.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

WCFRunLoopTimer::WCFRunLoopTimer(double interval, Callback func, void* data) : _func(func), _pCbData(data) {
  CFRunLoopTimerContext context{0, this, nullptr, nullptr, nullptr};
  _handle = CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + interval, interval, 0, 0,
                                 &WCFRunLoopTimer::TimerCallback, &context);
}

WCFRunLoopTimer::~WCFRunLoopTimer() { Stop(); }

void WCFRunLoopTimer::AddToRunLoop() { CFRunLoopAddTimer(CFRunLoopGetCurrent(), _handle, kCFRunLoopCommonModes); }

void WCFRunLoopTimer::Stop() { CFRunLoopRemoveTimer(CFRunLoopGetCurrent(), _handle, kCFRunLoopCommonModes); }

void WCFRunLoopTimer::SetNextFireTime(int32_t seconds) {
  CFRunLoopTimerSetNextFireDate(_handle, CFAbsoluteTimeGetCurrent() + seconds);
}

void WCFRunLoopTimer::TimerCallback(CFRunLoopTimerRef, void* info) {
  auto* self = static_cast<WCFRunLoopTimer*>(info);
  ++self->_fireCount;
  try {
    self->_func(self, self->_pCbData);
  } catch (...) {
  }
}

bool WCFSocket::close_detected() const {
  char byte;
  return _handle && recv(CFSocketGetNative(_handle), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

bool CreateOptionsFolder(const char* path) {
  const mode_t mask = umask(0);
  const int made = mkdir(path, 0744);
  const int error = errno;
  umask(mask);
  if (made == 0) return true;
  struct stat st {};
  return error == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

FileMutex::FileMutex(const char* path) : _path(path ? path : "") { lockUnix(); }

FileMutex::~FileMutex() { unlockUnix(); }

void FileMutex::lockUnix() {
  _locked = false;
  _error = 0;
  _writeError = 0;
  _fd = open(_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (_fd < 0) {
    _error = errno;
    return;
  }
  if (flock(_fd, LOCK_EX | LOCK_NB) != 0) {
    _error = errno;
    close(_fd);
    _fd = -1;
    return;
  }
  _locked = true;
  // Usable by the owner whatever the creation mask was.
  fchmod(_fd, 0666);
  lseek(_fd, 0, SEEK_SET);
  char line[32];
  const int length = snprintf(line, sizeof line, "OwnerPid=%d\n", static_cast<int>(getpid()));
  const ssize_t n = write(_fd, line, static_cast<size_t>(length));
  if (n < 0)
    _writeError = errno;
  else if (n != length)
    _writeError = ENOSPC;  // a short write: the disk filled up
  else if (fsync(_fd) != 0)
    _writeError = errno;
}

void FileMutex::unlockUnix() {
  if (_locked) {
    static const char kReleased[] = "--released--\n";
    [[maybe_unused]] ssize_t n = write(_fd, kReleased, sizeof kReleased - 1);
    flock(_fd, LOCK_UN);
    close(_fd);
  }
  _locked = false;
  _fd = -1;
}
