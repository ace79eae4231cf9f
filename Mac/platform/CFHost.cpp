#include "platform/CFHost.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

// What the helper thread and the run loop share; the host is only touched on the loop.
struct HostResolution {
  std::mutex mutex;
  CFHostRef host = nullptr;  // cleared when the host no longer wants the answer
};

namespace {

struct Answer {
  int code = 0;
  std::vector<sockaddr_in> addresses;
};

Answer Resolve(const std::string& name) {
  Answer answer;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  answer.code = getaddrinfo(name.c_str(), nullptr, &hints, &list);
  for (addrinfo* ai = list; answer.code == 0 && ai; ai = ai->ai_next) {
    if (ai->ai_family != AF_INET || ai->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in address{};
    std::memcpy(&address, ai->ai_addr, sizeof address);
    answer.addresses.push_back(address);
  }
  if (list) freeaddrinfo(list);
  return answer;
}

void Store(CFHostRef host, const Answer& answer) {
  std::vector<CFTypeRef> items;
  for (const sockaddr_in& address : answer.addresses)
    items.push_back(CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(&address), sizeof address));
  CFRelease(host->addresses);
  host->addresses = CFArrayCreate(kCFAllocatorDefault, items.data(), static_cast<CFIndex>(items.size()));
  for (CFTypeRef item : items) CFRelease(item);
  host->resolved = answer.code == 0;
}

void Drop(CFHostRef host) {
  if (!host->pending) return;
  std::lock_guard<std::mutex> lock(host->pending->mutex);
  host->pending->host = nullptr;
  host->pending.reset();
}

}  // namespace

__CFHost::~__CFHost() {
  Drop(this);
  if (context.release) context.release(context.info);
  CFRelease(addresses);
}

CFHostRef CFHostCreateWithName(CFAllocatorRef, CFStringRef hostname) {
  if (!hostname) return nullptr;
  auto* host = new __CFHost;
  host->name = hostname->bytes;
  return host;
}

Boolean CFHostSetClient(CFHostRef host, CFHostClientCallBack callout, CFHostClientContext* context) {
  if (!host) return false;
  if (host->context.release) host->context.release(host->context.info);
  host->callout = callout;
  host->context = (callout && context) ? *context : CFHostClientContext{};
  if (host->context.retain) host->context.info = const_cast<void*>(host->context.retain(host->context.info));
  return true;
}

void CFHostScheduleWithRunLoop(CFHostRef host, CFRunLoopRef rl, CFRunLoopMode mode) {
  CFRunLoopAddSource(rl, host, mode);
}

void CFHostUnscheduleFromRunLoop(CFHostRef host, CFRunLoopRef rl, CFRunLoopMode mode) {
  if (!host || host->loop != rl) return;
  Drop(host);
  CFRunLoopRemoveSource(rl, host, mode);
}

Boolean CFHostStartInfoResolution(CFHostRef host, CFHostInfoType, CFStreamError* error) {
  if (error) *error = CFStreamError{0, 0};
  if (!host || host->pending) return false;
  if (!host->callout || !host->loop) {
    const Answer answer = Resolve(host->name);
    Store(host, answer);
    if (error && answer.code) *error = CFStreamError{kCFStreamErrorDomainNetDB, answer.code};
    return answer.code == 0;
  }
  auto pending = std::make_shared<HostResolution>();
  pending->host = host;
  host->pending = pending;
  CFRunLoopRef loop = host->loop;
  std::thread([pending, loop, name = host->name] {
    Answer answer = Resolve(name);
    CFRunLoopPerformBlock(loop, kCFRunLoopDefaultMode, [pending, answer = std::move(answer)] {
      CFHostRef host;
      {
        std::lock_guard<std::mutex> lock(pending->mutex);
        host = pending->host;
      }
      if (!host || host->pending != pending) return;
      host->pending.reset();
      Store(host, answer);
      const CFStreamError error{answer.code ? kCFStreamErrorDomainNetDB : 0, answer.code};
      CFRetain(host);
      if (host->callout) host->callout(host, kCFHostAddresses, &error, host->context.info);
      CFRelease(host);
    });
  }).detach();
  return true;
}

void CFHostCancelInfoResolution(CFHostRef host, CFHostInfoType) {
  if (host) Drop(host);
}

CFArrayRef CFHostGetAddressing(CFHostRef host, Boolean* hasBeenResolved) {
  if (hasBeenResolved) *hasBeenResolved = host && host->resolved;
  return host && host->resolved ? host->addresses : nullptr;
}
