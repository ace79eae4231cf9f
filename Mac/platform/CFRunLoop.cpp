#include "platform/CFRunLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cmath>
#include <deque>
#include <mutex>
#include <vector>

namespace {

struct ModeName : __CFString {
  explicit ModeName(const char* name) { bytes = name; }
};

double MonotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class MonotonicClock final : public RunLoopClock {
 public:
  CFAbsoluteTime Now() override { return MonotonicSeconds(); }
  int PollTimeoutMillis(CFTimeInterval seconds) override {
    if (seconds < 0) return -1;
    // Rounded up, so that the loop never wakes just before a timer and spins.
    const double ms = std::ceil(seconds * 1000.0);
    return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
  }
  void Idle(CFAbsoluteTime) override {}
  void Sleep(CFTimeInterval seconds) override {
    timespec ts{static_cast<time_t>(seconds), static_cast<long>((seconds - std::floor(seconds)) * 1e9)};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
};

MonotonicClock g_monotonic;
std::atomic<RunLoopClock*> g_clock{&g_monotonic};

}  // namespace

const CFRunLoopMode kCFRunLoopDefaultMode = new ModeName("kCFRunLoopDefaultMode");
const CFRunLoopMode kCFRunLoopCommonModes = new ModeName("kCFRunLoopCommonModes");

RunLoopClock& GetRunLoopClock() { return *g_clock.load(); }

RunLoopClock* SetRunLoopClock(RunLoopClock* clock) { return g_clock.exchange(clock ? clock : &g_monotonic); }

CFAbsoluteTime CFAbsoluteTimeGetCurrent() { return GetRunLoopClock().Now(); }

struct __CFRunLoop {
  __CFRunLoop() { wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

  std::vector<CFRunLoopTimerRef> timers;    // each held with one reference
  std::vector<CFRunLoopSourceRef> sources;  // each held with one reference
  uint64_t nextOrder = 0;
  bool running = false;
  std::atomic<bool> stopRequested{false};
  int wakeFd = -1;
  std::mutex blocksMutex;
  std::deque<std::function<void()>> blocks;
};

namespace {

bool HasBlocks(CFRunLoopRef rl) {
  std::lock_guard<std::mutex> lock(rl->blocksMutex);
  return !rl->blocks.empty();
}

void DrainWake(CFRunLoopRef rl) {
  uint64_t count;
  while (read(rl->wakeFd, &count, sizeof count) > 0) {
  }
}

// poll() that resumes after a signal with what is left of the wait.
int PollRetrying(std::vector<pollfd>& fds, int timeoutMs) {
  const double end = timeoutMs < 0 ? 0 : MonotonicSeconds() + timeoutMs / 1000.0;
  for (;;) {
    const int n = poll(fds.data(), fds.size(), timeoutMs);
    if (n >= 0 || errno != EINTR) return n;
    if (timeoutMs > 0) {
      const double left = end - MonotonicSeconds();
      timeoutMs = left <= 0 ? 0 : static_cast<int>(std::ceil(left * 1000.0));
    }
  }
}

// Runs the queued blocks; false when a stop cut the pass short.
bool RunBlocks(CFRunLoopRef rl) {
  for (;;) {
    std::function<void()> block;
    {
      std::lock_guard<std::mutex> lock(rl->blocksMutex);
      if (rl->blocks.empty()) return true;
      block = std::move(rl->blocks.front());
      rl->blocks.pop_front();
    }
    block();
    if (rl->stopRequested) return false;
  }
}

void DispatchSources(CFRunLoopRef rl, const std::vector<pollfd>& fds, const std::vector<CFRunLoopSourceRef>& polled,
                     bool* handled) {
  std::vector<std::pair<CFRunLoopSourceRef, short>> ready;
  for (size_t i = 0; i < polled.size(); ++i) {
    if (fds[i + 1].revents == 0) continue;
    CFRetain(polled[i]);
    ready.emplace_back(polled[i], fds[i + 1].revents);
  }
  for (auto& [source, revents] : ready) {
    // A source invalidated or removed by an earlier callback of this pass stays silent.
    if (!rl->stopRequested && source->valid && source->loop == rl) {
      source->Perform(revents);
      *handled = true;
    }
    CFRelease(source);
  }
}

void FireTimers(CFRunLoopRef rl) {
  const CFAbsoluteTime now = GetRunLoopClock().Now();
  std::vector<CFRunLoopTimerRef> due;
  for (CFRunLoopTimerRef t : rl->timers)
    if (t->fireDate <= now) due.push_back(t);
  std::stable_sort(due.begin(), due.end(), [](CFRunLoopTimerRef a, CFRunLoopTimerRef b) {
    return a->fireDate != b->fireDate ? a->fireDate < b->fireDate : a->order < b->order;
  });
  for (CFRunLoopTimerRef t : due) CFRetain(t);
  for (CFRunLoopTimerRef t : due) {
    // Removed, invalidated or moved later by an earlier callback: skipped.
    if (!rl->stopRequested && t->valid && t->loop == rl && t->fireDate <= now) {
      if (t->interval > 0) {
        // Missed fires are skipped: the next one lies after now.
        t->fireDate += t->interval * (std::floor((now - t->fireDate) / t->interval) + 1);
      } else {
        CFRunLoopRemoveTimer(rl, t, kCFRunLoopDefaultMode);
      }
      t->callout(t, t->context.info);
    }
    CFRelease(t);
  }
}

int32_t Run(CFRunLoopRef rl, CFTimeInterval seconds, bool returnAfterSourceHandled) {
  if (rl->running) return kCFRunLoopRunFinished;
  rl->running = true;
  struct Reset {
    CFRunLoopRef rl;
    ~Reset() { rl->running = false; }
  } reset{rl};
  RunLoopClock& clock = GetRunLoopClock();
  const CFAbsoluteTime deadline = clock.Now() + seconds;
  for (;;) {
    if (rl->stopRequested.exchange(false)) return kCFRunLoopRunStopped;
    if (rl->timers.empty() && rl->sources.empty() && !HasBlocks(rl)) return kCFRunLoopRunFinished;
    bool handled = false;
    if (RunBlocks(rl)) {
      const CFAbsoluteTime now = clock.Now();
      CFAbsoluteTime target = deadline;
      for (CFRunLoopTimerRef t : rl->timers) target = std::min(target, t->fireDate);
      const CFTimeInterval wait = target - now;

      std::vector<pollfd> fds{{rl->wakeFd, POLLIN, 0}};
      std::vector<CFRunLoopSourceRef> polled;
      for (CFRunLoopSourceRef s : rl->sources) {
        const short events = s->WantedEvents();
        if (s->Descriptor() < 0 || events == 0) continue;
        fds.push_back({s->Descriptor(), events, 0});
        polled.push_back(s);
      }
      int timeoutMs = 0;
      if (wait > 0 && !HasBlocks(rl)) timeoutMs = clock.PollTimeoutMillis(std::isinf(wait) ? -1.0 : wait);
      const int n = PollRetrying(fds, timeoutMs);
      if (n == 0 && wait > 0) clock.Idle(std::isinf(target) ? -1.0 : target);
      if (n > 0) {
        if (fds[0].revents) DrainWake(rl);
        DispatchSources(rl, fds, polled, &handled);
      }
      FireTimers(rl);
    }
    if (rl->stopRequested.exchange(false)) return kCFRunLoopRunStopped;
    if (handled && returnAfterSourceHandled) return kCFRunLoopRunHandledSource;
    if (clock.Now() >= deadline) return kCFRunLoopRunTimedOut;
  }
}

}  // namespace

CFRunLoopRef CFRunLoopGetCurrent() {
  // Kept for the life of the process: objects destroyed at exit may still remove
  // themselves from it.
  thread_local CFRunLoopRef loop = new __CFRunLoop;
  return loop;
}

void CFRunLoopRun() {
  CFRunLoopRef rl = CFRunLoopGetCurrent();
  int32_t result;
  do {
    result = Run(rl, HUGE_VAL, false);
  } while (result == kCFRunLoopRunTimedOut || result == kCFRunLoopRunHandledSource);
}

int32_t CFRunLoopRunInMode(CFRunLoopMode, CFTimeInterval seconds, Boolean returnAfterSourceHandled) {
  return Run(CFRunLoopGetCurrent(), seconds, returnAfterSourceHandled);
}

void CFRunLoopStop(CFRunLoopRef rl) {
  rl->stopRequested = true;
  CFRunLoopWakeUp(rl);
}

void CFRunLoopWakeUp(CFRunLoopRef rl) {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(rl->wakeFd, &one, sizeof one);
}

void CFRunLoopPerformBlock(CFRunLoopRef rl, CFRunLoopMode, std::function<void()> block) {
  {
    std::lock_guard<std::mutex> lock(rl->blocksMutex);
    rl->blocks.push_back(std::move(block));
  }
  CFRunLoopWakeUp(rl);
}

// Timers ------------------------------------------------------------------------------------

__CFRunLoopTimer::~__CFRunLoopTimer() {
  if (valid && context.release) context.release(context.info);
}

CFRunLoopTimerRef CFRunLoopTimerCreate(CFAllocatorRef, CFAbsoluteTime fireDate, CFTimeInterval interval,
                                       CFOptionFlags, CFIndex, CFRunLoopTimerCallBack callout,
                                       CFRunLoopTimerContext* context) {
  auto* t = new __CFRunLoopTimer;
  t->fireDate = fireDate;
  t->interval = interval;
  t->callout = callout;
  if (context) {
    t->context = *context;
    if (t->context.retain) t->context.info = const_cast<void*>(t->context.retain(t->context.info));
  }
  return t;
}

void CFRunLoopAddTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode) {
  if (!rl || !timer || !timer->valid || timer->loop == rl) return;
  if (timer->loop) CFRunLoopRemoveTimer(timer->loop, timer, kCFRunLoopDefaultMode);
  CFRetain(timer);
  timer->loop = rl;
  timer->order = rl->nextOrder++;
  rl->timers.push_back(timer);
}

void CFRunLoopRemoveTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode) {
  if (!rl || !timer || timer->loop != rl) return;
  rl->timers.erase(std::find(rl->timers.begin(), rl->timers.end(), timer));
  timer->loop = nullptr;
  CFRelease(timer);
}

Boolean CFRunLoopContainsTimer(CFRunLoopRef rl, CFRunLoopTimerRef timer, CFRunLoopMode) {
  return rl && timer && timer->loop == rl;
}

void CFRunLoopTimerInvalidate(CFRunLoopTimerRef timer) {
  if (!timer || !timer->valid) return;
  CFRetain(timer);
  if (timer->loop) CFRunLoopRemoveTimer(timer->loop, timer, kCFRunLoopDefaultMode);
  timer->valid = false;
  if (timer->context.release) timer->context.release(timer->context.info);
  CFRelease(timer);
}

Boolean CFRunLoopTimerIsValid(CFRunLoopTimerRef timer) { return timer && timer->valid; }

void CFRunLoopTimerSetNextFireDate(CFRunLoopTimerRef timer, CFAbsoluteTime fireDate) {
  if (timer) timer->fireDate = fireDate;
}

CFAbsoluteTime CFRunLoopTimerGetNextFireDate(CFRunLoopTimerRef timer) { return timer ? timer->fireDate : 0; }

CFTimeInterval CFRunLoopTimerGetInterval(CFRunLoopTimerRef timer) { return timer ? timer->interval : 0; }

// Sources -----------------------------------------------------------------------------------

void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
  if (!rl || !source || !source->valid || source->loop == rl) return;
  if (source->loop) CFRunLoopRemoveSource(source->loop, source, kCFRunLoopDefaultMode);
  CFRetain(source);
  source->loop = rl;
  rl->sources.push_back(source);
}

void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode) {
  if (!rl || !source || source->loop != rl) return;
  rl->sources.erase(std::find(rl->sources.begin(), rl->sources.end(), source));
  source->loop = nullptr;
  CFRelease(source);
}

void CFRunLoopSourceInvalidate(CFRunLoopSourceRef source) {
  if (!source || !source->valid) return;
  CFRetain(source);
  source->valid = false;
  if (source->loop) CFRunLoopRemoveSource(source->loop, source, kCFRunLoopDefaultMode);
  source->Cancel();
  CFRelease(source);
}

Boolean CFRunLoopSourceIsValid(CFRunLoopSourceRef source) { return source && source->valid; }

// Descriptor objects ------------------------------------------------------------------------

__CFFileDescriptor::~__CFFileDescriptor() {
  if (valid) Cancel();
}

short __CFFileDescriptor::WantedEvents() const {
  short events = 0;
  if (enabled & kCFFileDescriptorReadCallBack) events |= POLLIN;
  if (enabled & kCFFileDescriptorWriteCallBack) events |= POLLOUT;
  return events;
}

void __CFFileDescriptor::Perform(short revents) {
  CFOptionFlags types = 0;
  // A hang-up or an error shows as readable, so the owner's read sees it.
  if ((enabled & kCFFileDescriptorReadCallBack) && (revents & (POLLIN | POLLHUP | POLLERR)))
    types |= kCFFileDescriptorReadCallBack;
  if ((enabled & kCFFileDescriptorWriteCallBack) && (revents & (POLLOUT | POLLERR)))
    types |= kCFFileDescriptorWriteCallBack;
  if (!types) return;
  enabled &= ~types;
  callout(this, types, context.info);
}

void __CFFileDescriptor::Cancel() {
  enabled = 0;
  if (closeOnInvalidate && fd >= 0) close(fd);
  fd = -1;
  if (context.release) context.release(context.info);
  context.release = nullptr;
}

CFFileDescriptorRef CFFileDescriptorCreate(CFAllocatorRef, CFFileDescriptorNativeDescriptor fd,
                                           Boolean closeOnInvalidate, CFFileDescriptorCallBack callout,
                                           const CFFileDescriptorContext* context) {
  if (fd < 0 || !callout) return nullptr;
  auto* f = new __CFFileDescriptor;
  f->fd = fd;
  f->closeOnInvalidate = closeOnInvalidate;
  f->callout = callout;
  if (context) {
    f->context = *context;
    if (f->context.retain) f->context.info = f->context.retain(f->context.info);
  }
  return f;
}

CFFileDescriptorNativeDescriptor CFFileDescriptorGetNativeDescriptor(CFFileDescriptorRef f) {
  return f ? f->fd : -1;
}

void CFFileDescriptorEnableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
  if (f && f->valid) f->enabled |= callBackTypes;
}

void CFFileDescriptorDisableCallBacks(CFFileDescriptorRef f, CFOptionFlags callBackTypes) {
  if (f) f->enabled &= ~callBackTypes;
}

void CFFileDescriptorInvalidate(CFFileDescriptorRef f) { CFRunLoopSourceInvalidate(f); }

Boolean CFFileDescriptorIsValid(CFFileDescriptorRef f) { return f && f->valid; }

CFRunLoopSourceRef CFFileDescriptorCreateRunLoopSource(CFAllocatorRef, CFFileDescriptorRef f, CFIndex) {
  if (!f) return nullptr;
  CFRetain(f);
  return f;
}
