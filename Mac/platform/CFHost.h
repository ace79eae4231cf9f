// Our stand-in for the framework's host resolution: getaddrinfo for IPv4 on a helper
// thread; the result comes back through the run loop's wake descriptor and the client's
// callback runs on the run-loop thread. Cancelling, unscheduling or releasing the host
// before completion drops the result without a callback.
#pragma once

#include <memory>

#include "platform/CFRunLoop.h"

enum CFHostInfoType : int32_t {
  kCFHostAddresses = 0,
};

struct CFStreamError {
  CFIndex domain;
  int32_t error;  // the getaddrinfo code when the domain is kCFStreamErrorDomainNetDB
};
constexpr CFIndex kCFStreamErrorDomainNetDB = 12;

struct __CFHost;
typedef __CFHost* CFHostRef;
typedef void (*CFHostClientCallBack)(CFHostRef theHost, CFHostInfoType typeInfo, const CFStreamError* error,
                                     void* info);

struct CFHostClientContext {
  CFIndex version;
  void* info;
  const void* (*retain)(const void* info);
  void (*release)(const void* info);
  CFStringRef (*copyDescription)(const void* info);
};

struct HostResolution;  // shared with the helper thread

struct __CFHost : __CFRunLoopSource {
  ~__CFHost() override;
  // Nothing to poll: scheduled, the host only keeps the loop waiting for its answer.
  int Descriptor() const override { return -1; }
  short WantedEvents() const override { return 0; }
  void Perform(short) override {}
  std::string name;
  CFHostClientCallBack callout = nullptr;
  CFHostClientContext context{};
  CFArrayRef addresses = nullptr;  // CFData objects each holding a sockaddr_in
  bool resolved = false;
  std::shared_ptr<HostResolution> pending;
};

CFHostRef CFHostCreateWithName(CFAllocatorRef allocator, CFStringRef hostname);
// A null callback removes the client.
Boolean CFHostSetClient(CFHostRef host, CFHostClientCallBack callout, CFHostClientContext* context);
void CFHostScheduleWithRunLoop(CFHostRef host, CFRunLoopRef rl, CFRunLoopMode mode);
void CFHostUnscheduleFromRunLoop(CFHostRef host, CFRunLoopRef rl, CFRunLoopMode mode);
// With a client scheduled on a run loop: starts in the background and answers true.
// Without one: resolves at once.
Boolean CFHostStartInfoResolution(CFHostRef host, CFHostInfoType info, CFStreamError* error);
void CFHostCancelInfoResolution(CFHostRef host, CFHostInfoType info);
CFArrayRef CFHostGetAddressing(CFHostRef host, Boolean* hasBeenResolved);
