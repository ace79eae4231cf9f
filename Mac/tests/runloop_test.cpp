#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/CFRunLoop.h"
#include "TestSupport.h"

namespace {

constexpr CFAbsoluteTime kStart = 1000.0;

// Records "name@seconds-since-start" for each fire.
struct Recorder {
  std::vector<std::string> fires;
};

struct TimerInfo {
  std::string name;
  Recorder* recorder;
  std::function<void(CFRunLoopTimerRef)> action;
};

void Record(CFRunLoopTimerRef timer, void* info) {
  auto* ti = static_cast<TimerInfo*>(info);
  char when[32];
  snprintf(when, sizeof when, "@%g", CFAbsoluteTimeGetCurrent() - kStart);
  ti->recorder->fires.push_back(ti->name + when);
  if (ti->action) ti->action(timer);
}

// Timers made by a test, removed and released when it ends.
class Timers {
 public:
  explicit Timers(Recorder* recorder) : _recorder(recorder) {}
  ~Timers() {
    for (CFRunLoopTimerRef t : _timers) {
      CFRunLoopTimerInvalidate(t);
      CFRelease(t);
    }
    for (TimerInfo* info : _infos) delete info;
  }
  CFRunLoopTimerRef Make(const std::string& name, CFTimeInterval firstIn, CFTimeInterval interval, bool add = true,
                         std::function<void(CFRunLoopTimerRef)> action = {}) {
    auto* info = new TimerInfo{name, _recorder, std::move(action)};
    _infos.push_back(info);
    CFRunLoopTimerContext context{0, info, nullptr, nullptr, nullptr};
    CFRunLoopTimerRef t = CFRunLoopTimerCreate(kCFAllocatorDefault, CFAbsoluteTimeGetCurrent() + firstIn, interval, 0,
                                               0, &Record, &context);
    _timers.push_back(t);
    if (add) CFRunLoopAddTimer(CFRunLoopGetCurrent(), t, kCFRunLoopDefaultMode);
    return t;
  }

 private:
  Recorder* _recorder;
  std::vector<CFRunLoopTimerRef> _timers;
  std::vector<TimerInfo*> _infos;
};

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : " ") + item;
  return text;
}

struct ScheduleCase {
  const char* what;
  std::function<void(Timers&)> setup;
  CFTimeInterval runFor;
  const char* fires;
};

TEST(RunLoop, TimerScheduleOnTheVirtualClock) {
  const ScheduleCase cases[] = {
      {"ascending fire time, ties in the order added",
       [](Timers& t) {
         t.Make("late", 2, 0);
         t.Make("b", 1, 0);
         t.Make("c", 1, 0);
         t.Make("a", 0.5, 0);
       },
       5, "a@0.5 b@1 c@1 late@2"},
      {"interval 0 or less fires once",
       [](Timers& t) {
         t.Make("zero", 1, 0);
         t.Make("negative", 2, -3);
       },
       10, "zero@1 negative@2"},
      {"repeating timer",
       [](Timers& t) { t.Make("r", 1, 1.5); },
       5, "r@1 r@2.5 r@4"},
      {"a repeating timer skips missed fires",
       [](Timers& t) {
         t.Make("r", 1, 1);
         // A callback that takes 3.5 s: the repeating timer fires once, then on its grid.
         t.Make("slow", 0.5, 0, true, [](CFRunLoopTimerRef) { static_cast<VirtualClock&>(GetRunLoopClock()).Advance(3.5); });
       },
       6.5, "slow@0.5 r@4 r@5 r@6"},
      {"next fire date set before the timer is added",
       [](Timers& t) {
         CFRunLoopTimerRef timer = t.Make("x", 1, 0, false);
         CFRunLoopTimerSetNextFireDate(timer, CFAbsoluteTimeGetCurrent() + 3);
         CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopCommonModes);
       },
       5, "x@3"},
      {"next fire date moved while scheduled; adding twice is harmless",
       [](Timers& t) {
         CFRunLoopTimerRef timer = t.Make("x", 1, 2);
         CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
         CFRunLoopTimerSetNextFireDate(timer, CFAbsoluteTimeGetCurrent() + 0.25);
       },
       3, "x@0.25 x@2.25"},
      {"a timer that resets its own next fire date",
       [](Timers& t) {
         t.Make("x", 1, 10, true,
                [](CFRunLoopTimerRef self) { CFRunLoopTimerSetNextFireDate(self, CFAbsoluteTimeGetCurrent() + 0.5); });
       },
       2.2, "x@1 x@1.5 x@2"},
      {"an invalid timer is never added",
       [](Timers& t) {
         CFRunLoopTimerRef timer = t.Make("x", 1, 0, false);
         CFRunLoopTimerInvalidate(timer);
         CFRunLoopAddTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode);
       },
       2, ""},
  };
  for (const ScheduleCase& c : cases) {
    VirtualClock clock(1, kStart);
    Recorder recorder;
    {
      Timers timers(&recorder);
      c.setup(timers);
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, c.runFor, false);
    }
    EXPECT_EQ(Joined(recorder.fires), c.fires) << c.what;
  }
}

TEST(RunLoop, OneShotTimerLeavesTheLoopBeforeItsCallback) {
  VirtualClock clock(1, kStart);
  Recorder recorder;
  Timers timers(&recorder);
  bool containedDuringCallback = true;
  CFRunLoopTimerRef timer = timers.Make("x", 1, 0, true, [&](CFRunLoopTimerRef self) {
    containedDuringCallback = CFRunLoopContainsTimer(CFRunLoopGetCurrent(), self, kCFRunLoopDefaultMode);
  });
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 30, false), kCFRunLoopRunFinished);
  EXPECT_FALSE(containedDuringCallback);
  EXPECT_FALSE(CFRunLoopContainsTimer(CFRunLoopGetCurrent(), timer, kCFRunLoopDefaultMode));
  EXPECT_TRUE(CFRunLoopTimerIsValid(timer));
}

TEST(RunLoop, RemovalAndInvalidationInsideCallbacks) {
  VirtualClock clock(1, kStart);
  Recorder recorder;
  Timers timers(&recorder);
  // Both due in the same pass: the first removes the second, which then never fires.
  CFRunLoopTimerRef victim = nullptr;
  timers.Make("remover", 1, 0, true,
              [&](CFRunLoopTimerRef) { CFRunLoopRemoveTimer(CFRunLoopGetCurrent(), victim, kCFRunLoopDefaultMode); });
  victim = timers.Make("victim", 1, 1);
  CFRunLoopTimerRef invalidated = nullptr;
  timers.Make("invalidator", 2, 0, true, [&](CFRunLoopTimerRef) { CFRunLoopTimerInvalidate(invalidated); });
  invalidated = timers.Make("invalidated", 2, 1);
  // A repeating timer that removes itself, and one that invalidates itself.
  timers.Make("self-remove", 3, 1, true,
              [](CFRunLoopTimerRef self) { CFRunLoopRemoveTimer(CFRunLoopGetCurrent(), self, kCFRunLoopDefaultMode); });
  timers.Make("self-invalidate", 3, 1, true, [](CFRunLoopTimerRef self) { CFRunLoopTimerInvalidate(self); });
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false);
  EXPECT_EQ(Joined(recorder.fires), "remover@1 invalidator@2 self-remove@3 self-invalidate@3");
}

TEST(RunLoop, StopTakesEffectRightAfterTheCallback) {
  VirtualClock clock(1, kStart);
  Recorder recorder;
  Timers timers(&recorder);
  timers.Make("stopper", 1, 0, true, [](CFRunLoopTimerRef) { CFRunLoopStop(CFRunLoopGetCurrent()); });
  timers.Make("same-pass", 1, 0);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunStopped);
  EXPECT_EQ(Joined(recorder.fires), "stopper@1");
  // The timer left behind fires on the next run.
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunFinished);
  EXPECT_EQ(Joined(recorder.fires), "stopper@1 same-pass@1");
  // A stop while not running ends the next run at once.
  timers.Make("later", 1, 0);
  CFRunLoopStop(CFRunLoopGetCurrent());
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 10, false), kCFRunLoopRunStopped);
  EXPECT_EQ(recorder.fires.size(), 2u);
}

TEST(RunLoop, NoCallbackRunsInsideAnother) {
  VirtualClock clock(1, kStart);
  Recorder recorder;
  Timers timers(&recorder);
  int depth = 0;
  int deepest = 0;
  int32_t nestedResult = 0;
  auto nestingAction = [&](CFRunLoopTimerRef) {
    ++depth;
    deepest = std::max(deepest, depth);
    // A posted follow-up a few microseconds ahead, and an attempt to run the loop inside.
    timers.Make("follow-up", 0.00001, 0);
    nestedResult = CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1, false);
    --depth;
  };
  timers.Make("outer", 1, 0, true, nestingAction);
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 3, false);
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(nestedResult, kCFRunLoopRunFinished);
  EXPECT_EQ(Joined(recorder.fires), "outer@1 follow-up@1.00001");
}

TEST(RunLoop, IdleVirtualLoopTakesNoRealTime) {
  VirtualClock clock(1, kStart);
  Recorder recorder;
  Timers timers(&recorder);
  timers.Make("retry", 240, 0);
  timers.Make("beat", 40, 40);
  const auto began = std::chrono::steady_clock::now();
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 241, false);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
  EXPECT_EQ(Joined(recorder.fires), "beat@40 beat@80 beat@120 beat@160 beat@200 retry@240 beat@240");
}

// Descriptor sources ------------------------------------------------------------------------

struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    close(fds[0]);
    close(fds[1]);
  }
  void Put(const char* text) { EXPECT_GT(write(fds[1], text, strlen(text)), 0); }
  int fds[2];
};

struct DescriptorInfo {
  std::vector<std::string>* calls;
  std::string name;
  std::function<void()> action;
};

void OnDescriptor(CFFileDescriptorRef f, CFOptionFlags types, void* info) {
  auto* di = static_cast<DescriptorInfo*>(info);
  char byte;
  [[maybe_unused]] ssize_t n = read(CFFileDescriptorGetNativeDescriptor(f), &byte, 1);
  di->calls->push_back(di->name + (types & kCFFileDescriptorReadCallBack ? ":read" : ":other"));
  if (di->action) di->action();
}

CFFileDescriptorRef Watch(int fd, DescriptorInfo* info) {
  CFFileDescriptorContext context{0, info, nullptr, nullptr, nullptr};
  CFFileDescriptorRef f = CFFileDescriptorCreate(kCFAllocatorDefault, fd, false, &OnDescriptor, &context);
  CFRunLoopSourceRef source = CFFileDescriptorCreateRunLoopSource(kCFAllocatorDefault, f, 0);
  CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopDefaultMode);
  CFRelease(source);
  CFFileDescriptorEnableCallBacks(f, kCFFileDescriptorReadCallBack);
  return f;
}

TEST(RunLoop, DescriptorCallbacksFireOncePerEnableAndNeverAfterInvalidation) {
  VirtualClock clock(1, kStart);
  std::vector<std::string> calls;
  Pipe a, b;
  CFFileDescriptorRef fb = nullptr;
  DescriptorInfo ia{&calls, "a", [&] { CFFileDescriptorInvalidate(fb); }};
  DescriptorInfo ib{&calls, "b", {}};
  CFFileDescriptorRef fa = Watch(a.fds[0], &ia);
  fb = Watch(b.fds[0], &ib);
  // Both readable in one pass: a's callback invalidates b, whose due callback is dropped.
  a.Put("xx");
  b.Put("x");
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1, true), kCFRunLoopRunHandledSource);
  EXPECT_EQ(Joined(calls), "a:read");
  // a still has a byte, but its callback was used up until enabled again.
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.5, false);
  EXPECT_EQ(Joined(calls), "a:read");
  CFFileDescriptorEnableCallBacks(fa, kCFFileDescriptorReadCallBack);
  ia.action = {};
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.5, true);
  EXPECT_EQ(Joined(calls), "a:read a:read");
  EXPECT_FALSE(CFFileDescriptorIsValid(fb));
  CFFileDescriptorInvalidate(fa);
  CFRelease(fa);
  CFRelease(fb);
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1, false), kCFRunLoopRunFinished);
}

TEST(RunLoop, BlockFromAnotherThreadWakesABlockedLoop) {
  // The real clock: nothing scheduled, so the loop sleeps in poll() until woken.
  Recorder recorder;
  Timers timers(&recorder);
  timers.Make("far", 3600, 0);
  CFRunLoopRef loop = CFRunLoopGetCurrent();
  bool ran = false;
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CFRunLoopPerformBlock(loop, kCFRunLoopDefaultMode, [&] {
      ran = true;
      CFRunLoopStop(CFRunLoopGetCurrent());
    });
  });
  const auto began = std::chrono::steady_clock::now();
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 30, false), kCFRunLoopRunStopped);
  other.join();
  EXPECT_TRUE(ran);
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
}

void IgnoreAlarm(int) {}

TEST(RunLoop, SignalsDuringTheWaitNeitherEndItEarlyNorLoseIt) {
  struct sigaction action{};
  action.sa_handler = &IgnoreAlarm;  // no SA_RESTART: poll() sees EINTR
  struct sigaction saved{};
  sigaction(SIGALRM, &action, &saved);
  itimerval every10ms{{0, 10000}, {0, 10000}};
  setitimer(ITIMER_REAL, &every10ms, nullptr);

  Recorder recorder;
  Timers timers(&recorder);
  timers.Make("t", 0.2, 0);
  const CFAbsoluteTime began = CFAbsoluteTimeGetCurrent();
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, false), kCFRunLoopRunFinished);
  const CFAbsoluteTime elapsed = CFAbsoluteTimeGetCurrent() - began;

  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &saved, nullptr);
  EXPECT_EQ(recorder.fires.size(), 1u);
  EXPECT_GE(elapsed, 0.2);
  EXPECT_LT(elapsed, 10.0);
}

}  // namespace
