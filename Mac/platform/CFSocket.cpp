#include "platform/CFSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

__CFSocket::~__CFSocket() {
  if (valid) Cancel();
}

short __CFSocket::WantedEvents() const {
  if (connecting) return (enabled & kCFSocketConnectCallBack) ? POLLOUT : 0;
  return (enabled & kCFSocketReadCallBack) ? POLLIN : 0;
}

void __CFSocket::Perform(short revents) {
  if (connecting) {
    if (!(revents & (POLLOUT | POLLERR | POLLHUP))) return;
    connecting = false;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    const int32_t code = error;
    callout(this, kCFSocketConnectCallBack, nullptr, error ? &code : nullptr, context.info);
    return;  // reads wait for a later pass
  }
  if ((enabled & kCFSocketReadCallBack) && (revents & (POLLIN | POLLHUP | POLLERR)))
    callout(this, kCFSocketReadCallBack, nullptr, nullptr, context.info);
}

void __CFSocket::Cancel() {
  enabled = 0;
  connecting = false;
  if (fd >= 0) close(fd);
  fd = -1;
  if (context.release) context.release(context.info);
  context.release = nullptr;
}

CFSocketRef CFSocketCreate(CFAllocatorRef, int protocolFamily, int socketType, int protocol,
                           CFOptionFlags callBackTypes, CFSocketCallBack callout, const CFSocketContext* context) {
  const int fd = socket(protocolFamily, socketType | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (fd < 0) return nullptr;
  auto* s = new __CFSocket;
  s->fd = fd;
  s->enabled = callout ? callBackTypes : 0;
  s->callout = callout;
  if (context) {
    s->context = *context;
    if (s->context.retain) s->context.info = const_cast<void*>(s->context.retain(s->context.info));
  }
  return s;
}

CFSocketNativeHandle CFSocketGetNative(CFSocketRef s) { return s ? s->fd : -1; }

CFSocketError CFSocketConnectToAddress(CFSocketRef s, CFDataRef address, CFTimeInterval) {
  if (!s || !s->valid || !address) return kCFSocketError;
  const int result = connect(s->fd, reinterpret_cast<const sockaddr*>(CFDataGetBytePtr(address)),
                             static_cast<socklen_t>(CFDataGetLength(address)));
  if (result != 0 && errno != EINPROGRESS) return kCFSocketError;
  s->connecting = true;  // the outcome, even an immediate success, comes through the callback
  return kCFSocketSuccess;
}

void CFSocketEnableCallBacks(CFSocketRef s, CFOptionFlags callBackTypes) {
  if (s && s->valid) s->enabled |= callBackTypes;
}

void CFSocketDisableCallBacks(CFSocketRef s, CFOptionFlags callBackTypes) {
  if (s) s->enabled &= ~callBackTypes;
}

void CFSocketInvalidate(CFSocketRef s) { CFRunLoopSourceInvalidate(s); }

Boolean CFSocketIsValid(CFSocketRef s) { return s && s->valid; }

CFRunLoopSourceRef CFSocketCreateRunLoopSource(CFAllocatorRef, CFSocketRef s, CFIndex) {
  if (!s) return nullptr;
  CFRetain(s);
  return s;
}
