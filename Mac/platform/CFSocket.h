// Our stand-in for the framework's sockets: a non-blocking socket watched by the run loop.
// A connect in progress is success, with the outcome in the connect callback, which comes
// exactly once and before any read callback. The read callback is level-triggered: it comes
// on every pass while bytes (or an end of stream) wait. Invalidation closes the socket and
// silences every later callback, one already due in this pass included.
#pragma once

#include "platform/CFRunLoop.h"

typedef int CFSocketNativeHandle;

enum CFSocketCallBackType : CFOptionFlags {
  kCFSocketNoCallBack = 0,
  kCFSocketReadCallBack = 1,
  kCFSocketConnectCallBack = 4,
};

enum CFSocketError : CFIndex {
  kCFSocketSuccess = 0,
  kCFSocketError = -1,
  kCFSocketTimeout = -2,
};

struct __CFSocket;
typedef __CFSocket* CFSocketRef;
// For a connect callback, data is null on success, else it points to the SInt32 error code.
typedef void (*CFSocketCallBack)(CFSocketRef s, CFSocketCallBackType type, CFDataRef address, const void* data,
                                 void* info);

struct CFSocketContext {
  CFIndex version;
  void* info;
  const void* (*retain)(const void* info);
  void (*release)(const void* info);
  CFStringRef (*copyDescription)(const void* info);
};

struct __CFSocket : __CFRunLoopSource {
  ~__CFSocket() override;
  int Descriptor() const override { return fd; }
  short WantedEvents() const override;
  void Perform(short revents) override;
  void Cancel() override;
  int fd = -1;
  CFOptionFlags enabled = 0;
  bool connecting = false;
  CFSocketCallBack callout = nullptr;
  CFSocketContext context{};
};

CFSocketRef CFSocketCreate(CFAllocatorRef allocator, int protocolFamily, int socketType, int protocol,
                           CFOptionFlags callBackTypes, CFSocketCallBack callout, const CFSocketContext* context);
CFSocketNativeHandle CFSocketGetNative(CFSocketRef s);
// A negative timeout connects in the background; the connect callback tells the outcome.
// An error the system reports at once is kCFSocketError, with errno set.
CFSocketError CFSocketConnectToAddress(CFSocketRef s, CFDataRef address, CFTimeInterval timeout);
void CFSocketEnableCallBacks(CFSocketRef s, CFOptionFlags callBackTypes);
void CFSocketDisableCallBacks(CFSocketRef s, CFOptionFlags callBackTypes);
void CFSocketInvalidate(CFSocketRef s);
Boolean CFSocketIsValid(CFSocketRef s);
// Here the socket is its own source: this retains and returns it.
CFRunLoopSourceRef CFSocketCreateRunLoopSource(CFAllocatorRef allocator, CFSocketRef s, CFIndex order);
