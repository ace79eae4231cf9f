#include "platform/AppShutdown.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestSupport.h"

namespace {

const std::string kInvoked =
    "AppShutdown: ShutdownApp() invoked: waiting for worker threads to close";
const std::string kGraceful = "AppShutdown: All worker threads shut down gracefully.";
const std::string kTimedOut =
    "AppShutdown: ERROR: One or more worker thread failed to shut down within the expected 10 "
    "seconds.";
const std::string kSecondCall =
    "AppShutdown: ERROR: Unexpected second call to ShutdownApp().  Ignoring this call";

class AppShutdownTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppShutdown::ResetForTest();
    SetLogPathOverride(log_ / L"shutdown.log");
    SetDebuggerQuery([] { return true; });
    SetTraceCapture([this](int, const std::wstring& line) {
      std::lock_guard<std::mutex> hold(linesLock_);
      lines_.push_back(Narrow(line));
    });
  }
  void TearDown() override {
    SetTraceCapture({});
    SetDebuggerQuery(nullptr);
    SetLogPathOverride(L"");
    for (std::thread& t : threads_) t.join();
    AppShutdown::ResetForTest();
  }

  // A worker as the agent's threads are: it polls the shutdown event, then sets its
  // done-event and closes its own handle (the coordinator must hold its own).
  void StartWorker(DWORD lingerMs, const std::wstring& name) {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    AppShutdown::RegisterWorker(done, name.c_str());
    threads_.emplace_back([done, lingerMs] {
      while (!AppShutdown::IsShutdownRequested(20)) {
      }
      Sleep(lingerMs);
      SetEvent(done);
      CloseHandle(done);
    });
  }
  // A worker that never ends.
  void RegisterStuckWorker(const std::wstring& name) {
    stuck_.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    AppShutdown::RegisterWorker(stuck_.back().Get(), name.c_str());
  }

  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> hold(linesLock_);
    return lines_;
  }

  ScratchDir log_;
  std::mutex linesLock_;
  std::vector<std::string> lines_;
  std::vector<std::thread> threads_;
  std::vector<HandleHolder> stuck_;
};

TEST_F(AppShutdownTest, WaitsForWorkersInBatchesAgainstOneDeadline) {
  struct Case {
    const char* what;
    int ending;      // workers that end once asked
    int stuckAt;     // position of a worker that never ends among them, -1 for none
    int stuckCount;  // how many never end (placed at stuckAt)
    std::string result;
    DWORD minMs, maxMs;
  };
  const DWORD wait = 400;
  const Case cases[] = {
      {"no workers", 0, -1, 0, kGraceful, 0, 200},
      {"workers that end", 3, -1, 0, kGraceful, 0, 1500},
      {"one worker never ends", 2, 1, 1, kTimedOut, wait, wait + 1500},
      {"more than 64 workers that end", 150, -1, 0, kGraceful, 0, 3000},
      {"a stuck worker in a later batch", 150, 140, 1, kTimedOut, wait, wait + 3000},
      // Three full batches that never end still share one deadline.
      {"200 stuck workers", 0, 0, 200, kTimedOut, wait, wait + 1500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AppShutdown::ResetForTest();
    AppShutdown::SetWorkerWaitForTest(wait);
    for (int i = 0; i < c.ending + c.stuckCount; ++i) {
      const std::wstring name = L"V7kClient.10.0.0." + std::to_wstring(i);
      if (c.stuckAt >= 0 && i >= c.stuckAt && i < c.stuckAt + c.stuckCount) {
        RegisterStuckWorker(name);
      } else {
        StartWorker(i % 5 * 20, name);
      }
    }
    {
      std::lock_guard<std::mutex> hold(linesLock_);
      lines_.clear();
    }
    EXPECT_FALSE(AppShutdown::IsShutdownRequested(0));

    const ULONGLONG begin = GetTickCount64();
    ShutdownApp();
    const ULONGLONG took = GetTickCount64() - begin;

    EXPECT_EQ(Lines(), (std::vector<std::string>{kInvoked, c.result}));
    EXPECT_GE(took + 20, c.minMs);  // tick granularity
    EXPECT_LE(took, c.maxMs);
    EXPECT_TRUE(AppShutdown::IsShutdownRequested(0));
    EXPECT_TRUE(AppShutdown::IsShutdownFinished());
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    stuck_.clear();
  }
}

TEST_F(AppShutdownTest, RunsOnceWhenTwoThreadsRaceToShutDown) {
  for (int i = 0; i < 5; ++i) StartWorker(50, L"worker");
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread first([go] {
    WaitForSingleObject(go, INFINITE);
    ShutdownApp();
  });
  std::thread second([go] {
    WaitForSingleObject(go, INFINITE);
    ShutdownApp();
  });
  SetEvent(go);
  first.join();
  second.join();
  CloseHandle(go);

  std::vector<std::string> lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kInvoked), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kSecondCall), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kGraceful), 1);
  EXPECT_TRUE(AppShutdown::IsShutdownFinished());

  ShutdownApp();  // a later call too
  lines = Lines();
  EXPECT_EQ(lines.back(), kSecondCall);
}

TEST_F(AppShutdownTest, InitializeOnceSharesTheNamedEvent) {
  AppShutdown::Initialize();
  AppShutdown::Initialize();
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "AppShutdown: AppShutdown::Initialize setting up shop...",
                         "AppShutdown: ERROR: Unexpected 2nd call to AppShutdown::Initialize()"}));

  // Another instance in the same namespace sees this one's shutdown, and the other way round.
  HandleHolder other(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, L"Qel_Identra"));
  ASSERT_TRUE(other.Valid());
  EXPECT_FALSE(AppShutdown::IsShutdownRequested(0));
  SetEvent(other.Get());
  EXPECT_TRUE(AppShutdown::IsShutdownRequested(0));
  ResetEvent(other.Get());
  ShutdownApp();
  EXPECT_EQ(WaitForSingleObject(other.Get(), 0), WAIT_OBJECT_0);
}

TEST_F(AppShutdownTest, InitializeStartsFreshUnlessThisInstanceIsShuttingDown) {
  struct Case {
    const char* what;
    bool leftSet;        // the named event exists and is set (an instance taken over)
    bool shutdownFirst;  // this instance's ShutdownApp ran before Initialize
    bool requestedAfter;
  };
  const Case cases[] = {
      {"no other instance", false, false, false},
      {"event left set by the instance taken over", true, false, false},
      {"own shutdown before Initialize", false, true, true},
      {"own shutdown and a set event", true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AppShutdown::ResetForTest();
    HandleHolder previous;
    if (c.leftSet) {
      previous.Reset(CreateEventW(nullptr, TRUE, TRUE, L"Qel_Identra"));
      ASSERT_TRUE(previous.Valid());
    }
    if (c.shutdownFirst) ShutdownApp();
    AppShutdown::Initialize();
    EXPECT_EQ(AppShutdown::IsShutdownRequested(0), c.requestedAfter);
  }
}

}  // namespace
