// Our stand-in for the CoreFoundation run loop: one poll() loop per thread with timers,
// descriptor sources and a wake descriptor, over an injectable clock.
//
// A pass of the loop: blocks queued from other threads, then the sources poll() found
// ready, then the timers due, in ascending fire time (ties in the order they were added).
// CFRunLoopStop takes effect right after the callback that calls it. The loop runs in one
// mode; the mode arguments are accepted for the framework's shape and otherwise ignored.
#pragma once

#include <functional>

#include "platform/CFBase.h"

typedef double CFAbsoluteTime;  // seconds on the loop's clock
typedef double CFTimeInterval;  // seconds
typedef CFStringRef CFRunLoopMode;

extern const CFRunLoopMode kCFRunLoopDefaultMode;
extern const CFRunLoopMode kCFRunLoopCommonModes;

// What CFAbsoluteTimeGetCurrent and every run loop read. Production: the monotonic clock.
// Tests install a virtual clock, which an idle loop moves on to its next timer.
class RunLoopClock {
 public:
  virtual ~RunLoopClock() = default;
  virtual CFAbsoluteTime Now() = 0;
  // Milliseconds poll() may block when the loop has nothing to do for `seconds`
  // (negative: nothing scheduled at all; the answer -1 blocks until a descriptor wakes).
  virtual int PollTimeoutMillis(CFTimeInterval seconds) = 0;
  // poll() came back empty while the loop waited for `target` (its next timer or the
  // end of the run; negative: none).
  virtual void Idle(CFAbsoluteTime target) = 0;
  // Blocks the thread for a while (the virtual clock only moves on).
  virtual void Sleep(CFTimeInterval seconds) = 0;
};

RunLoopClock& GetRunLoopClock();
// Installs a clock (null: the monotonic one again) and returns the one it replaces.
RunLoopClock* SetRunLoopClock(RunLoopClock* clock);

CFAbsoluteTime CFAbsoluteTimeGetCurrent();

struct __CFRunLoop;
typedef __CFRunLoop* CFRunLoopRef;

enum : int32_t {
  kCFRunLoopRunFinished = 1,  // nothing left to wait for
  kCFRunLoopRunStopped = 2,
  kCFRunLoopRunTimedOut = 3,
  kCFRunLoopRunHandledSource = 4,
};

// The calling thread's loop, made on first use and kept for the life of the process.
CFRunLoopRef CFRunLoopGetCurrent();
// Runs until stopped or until nothing is left to wait for. A call from inside a callback
// of the same loop returns at once: no callback ever runs inside another.
void CFRunLoopRun();
int32_t CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds, Boolean returnAfterSourceHandled);
// Stops the running loop after the current callback; a stop while the loop is not running
// ends its next run at once.
void CFRunLoopStop(CFRunLoopRef rl);
// Thread-safe: wakes a loop blocked in poll().
void CFRunLoopWakeUp(CFRunLoopRef rl);
// Thread-safe: queues a call for the loop's next pass and wakes it.
void CFRunLoopPerformBlock(CFRunLoopRef rl, CFRunLoopMode mode, std::function<void()> block);

// Timers ------------------------------------------------------------------------------------

struct __CFRunLoopTimer;
typedef __CFRunLoopTimer* CFRunLoopTimerRef;
typedef void (*CFRunLoopTimerCallBack)(CFRunLoopTimerRef timer, void* info);

struct CFRunLoopTimerContext {
  CFIndex version;
  void* info;
  const void* (*retain)(const void* info);
  void (*release)(const void* info);
  CFStringRef (*copyDescription)(const void* info);
};

struct __CFRunLoopTimer : __CFObject {
  ~__CFRunLoopTimer() override;
  CFAbsoluteTime fireDate = 0;
  CFTimeInterval interval = 0;  // 0 or less: one-shot, removed from the loop when it fires
  CFRunLoopTimerCallBack callout = nullptr;
  CFRunLoopTimerContext context{};
  bool valid = true;
  CFRunLoopRef loop = nullptr;  // the loop it is scheduled on, if any
  uint64_t order = 0;           // when it was added, for ties
};

CFRunLoopTimerRef CFRunLoopTimerCreate(CFAllocatorRef allocator, CFAbsoluteTime fireDate, CFTimeInterval interval,
                                       CFOptionFlags flags, CFIndex order, CFRunLoopTimerCallBack callout,
                                       CFRunLoopTimerContext* context);
// Adding a timer already on the loop is harmless; an invalid timer is not added.
void CFRunLoopAddTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode mode);
void CFRunLoopRemoveTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode mode);
Boolean CFRunLoopContainsTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode mode);
// Removes the timer from its loop for good and lets go of its context.
void CFRunLoopTimerInvalidate(CFRunLoopTimerRef timer);
Boolean CFRunLoopTimerIsValid(CFRunLoopTimerRef timer);
void CFRunLoopTimerSetNextFireDate(CFRunLoopTimerRef timer, CFAbsoluteTime fireDate);
CFAbsoluteTime CFRunLoopTimerGetNextFireDate(CFRunLoopTimerRef timer);
CFTimeInterval CFRunLoopTimerGetInterval(CFRunLoopTimerRef timer);

// Sources -----------------------------------------------------------------------------------

// A descriptor watched by poll(). The socket and host stand-ins and the descriptor object
// below are kinds of source.
struct __CFRunLoopSource : __CFObject {
  // The descriptor and the poll() events wanted now (no events: not polled this pass;
  // a negative descriptor: nothing to poll, but the loop still has something to wait for).
  virtual int Descriptor() const = 0;
  virtual short WantedEvents() const = 0;
  // poll() reported revents; called on the loop's thread.
  virtual void Perform(short revents) = 0;
  // Called once when the source is invalidated.
  virtual void Cancel() {}
  bool valid = true;
  CFRunLoopRef loop = nullptr;
};
typedef __CFRunLoopSource* CFRunLoopSourceRef;

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
// Removes the source from its loop for good; a callback already due in this pass is dropped.
void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source);
Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef source);

// Descriptor objects: a callback when the descriptor becomes readable or writable. As with
// the framework, each enabled callback fires once and must be enabled again for the next.

struct __CFFileDescriptor;
typedef __CFFileDescriptor* CFFileDescriptorRef;
typedef int CFFileDescriptorNativeDescriptor;
typedef void (*CFFileDescriptorCallBack)(CFFileDescriptorRef f, CFOptionFlags callBackTypes, void* info);

enum : CFOptionFlags {
  kCFFileDescriptorReadCallBack = 1UL << 0,
  kCFFileDescriptorWriteCallBack = 1UL << 1,
};

struct CFFileDescriptorContext {
  CFIndex version;
  void* info;
  void* (*retain)(void* info);
  void (*release)(void* info);
  CFStringRef (*copyDescription)(void* info);
};

struct __CFFileDescriptor : __CFRunLoopSource {
  ~__CFFileDescriptor() override;
  int Descriptor() const override { return fd; }
  short WantedEvents() const override;
  void Perform(short revents) override;
  void Cancel() override;
  int fd = -1;
  bool closeOnInvalidate = false;
  CFOptionFlags enabled = 0;
  CFFileDescriptorCallBack callout = nullptr;
  CFFileDescriptorContext context{};
};

CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef allocator, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate, CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context);
CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f);
void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes);
void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes);
void CFFileDescriptorInvalidate(CFFileDescriptorRef f);
Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f);
// Here the descriptor object is its own source: this retains and returns it.
CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef allocator, CFFileDescriptorRef f,
                                                       CFIndex order);
