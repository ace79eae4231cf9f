#include "platform/AppShutdown.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

const std::string kInvoked =
    "AppShutdown: ShutdownApp() invoked: waiting for worker threads to close";
const std::string kGraceful = "AppShutdown: All worker threads shut down gracefully.";
const std::string kTimedOut =
    "AppShutdown: ERROR: One or more worker thread failed to shut down within the expected 10 "
    "seconds.";
const std::string kSecondCall =
    "AppShutdown: ERROR: Unexpected second call to ShutdownApp().  Ignoring this call";

// This account's SID as text.
std::wstring OwnSid() { return SidText(TrustedAccounts().User()); }

// An event of the owner given, open to everyone (a null list).
HandleHolder MakeOpenEvent(PSID owner, const wchar_t* name) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
  SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
  return HandleHolder(CreateEventW(&attributes, TRUE, FALSE, name));
}

// The list the agent gives its event: all event rights for this account, SYSTEM and
// Administrators, and nothing for anyone else.
std::wstring AgentDescriptor() {
  return L"O:" + OwnSid() + L"D:(A;;0x1f0003;;;" + OwnSid() +
         L")(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)";
}

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

// What the named event lets in, read back from the object: owned by this account, its list
// holds this account, SYSTEM and Administrators with the event's rights, and no one else.
TEST_F(AppShutdownTest, NamedEventIsKeptToThisAccountSystemAndAdministrators) {
  AppShutdown::Initialize();
  HandleHolder event(OpenEventW(READ_CONTROL, FALSE, L"Qel_Identra"));
  ASSERT_TRUE(event.Valid());
  PSID owner = nullptr;
  ACL* list = nullptr;
  LocalMemory<void> descriptor;
  ASSERT_EQ(GetSecurityInfo(event.Get(), SE_KERNEL_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &list, nullptr, descriptor.Out()),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(owner, nullptr);
  EXPECT_EQ(SidText(owner), OwnSid());
  ASSERT_NE(list, nullptr) << "a null list lets everyone set the event";
  std::vector<std::pair<std::wstring, DWORD>> entries;
  for (DWORD i = 0; i < list->AceCount; ++i) {
    void* entry = nullptr;
    ASSERT_TRUE(GetAce(list, i, &entry));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    entries.emplace_back(SidText(&allowed->SidStart), allowed->Mask);
  }
  EXPECT_EQ(entries,
            (std::vector<std::pair<std::wstring, DWORD>>{{OwnSid(), EVENT_ALL_ACCESS},
                                                         {L"S-1-5-18", EVENT_ALL_ACCESS},
                                                         {L"S-1-5-32-544", EVENT_ALL_ACCESS}}));
}

// A name made first by someone else is not used: the error names the event and its owner, the
// shutdown goes on with an unnamed event, and setting the squatter's event stops nothing. A
// name made by this account (another instance) or by SYSTEM or Administrators with a list that
// keeps others out is shared as before.
TEST_F(AppShutdownTest, RefusesANameThatAnotherAccountMadeOrMaySet) {
  const TrustedAccounts trusted;
  const std::wstring own = OwnSid();
  const std::wstring ownAccount = AccountText(trusted.User());
  const std::wstring grantOwn = L"(A;;0x1f0003;;;" + own + L")";
  struct Case {
    const char* what;
    std::wstring descriptor;  // empty: the name is taken by a mutex; "null": see MakeOpenEvent
    std::wstring error;       // the line logged, empty when the event is shared
  };
  const Case cases[] = {
      {"another instance of this account", AgentDescriptor(), L""},
      {"made by SYSTEM, open to this account", L"O:SYD:" + grantOwn + L"(A;;0x1f0003;;;SY)", L""},
      {"made by Administrators, others may only wait", L"O:BAD:" + grantOwn + L"(A;;0x100000;;;WD)",
       L""},
      {"owned by Everyone, open to everyone", L"O:WDD:(A;;0x1f0003;;;WD)",
       L"ERROR: Refusing the event Qel_Identra (owner Everyone (S-1-1-0)): its owner is not this "
       L"account, SYSTEM "
       L"or Administrators; using an unnamed event"},
      {"owned by Users, open to this account alone", L"O:BUD:" + grantOwn,
       L"ERROR: Refusing the event Qel_Identra (owner BUILTIN\\Users (S-1-5-32-545)): its owner is "
       L"not this "
       L"account, SYSTEM or Administrators; using an unnamed event"},
      {"this account's, but a null list", L"null",
       L"ERROR: Refusing the event Qel_Identra (owner " + ownAccount +
           L"): it has no access list, so anyone may set it; using an unnamed event"},
      {"this account's, but Everyone may set it",
       L"O:" + own + L"D:" + grantOwn + L"(A;;0x100002;;;WD)",
       L"ERROR: Refusing the event Qel_Identra (owner " + ownAccount +
           L"): its access list lets Everyone (S-1-1-0) set it or change its security; using an "
           L"unnamed event"},
      {"this account's, but Users may change its list",
       L"O:" + own + L"D:" + grantOwn + L"(A;;0x40000;;;BU)",
       L"ERROR: Refusing the event Qel_Identra (owner " + ownAccount +
           L"): its access list lets BUILTIN\\Users (S-1-5-32-545) set it or change its security; "
           L"using an unnamed event"},
      {"closed to this account", L"O:WDD:(D;;0x1f0003;;;WD)",
       L"ERROR: Cannot create or open the event Qel_Identra (error 5); using an unnamed event"},
      {"the name held by a mutex", L"",
       L"ERROR: Cannot create or open the event Qel_Identra (error 6); using an unnamed event"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AppShutdown::ResetForTest();
    HandleHolder first = c.descriptor.empty()
                             ? HandleHolder(CreateMutexW(nullptr, FALSE, L"Qel_Identra"))
                         : c.descriptor == L"null" ? MakeOpenEvent(trusted.User(), L"Qel_Identra")
                                                   : MakeSecuredEvent(c.descriptor, L"Qel_Identra");
    ASSERT_TRUE(first.Valid());
    {
      std::lock_guard<std::mutex> hold(linesLock_);
      lines_.clear();
    }
    AppShutdown::Initialize();
    std::vector<std::string> expected = {"AppShutdown: AppShutdown::Initialize setting up shop..."};
    if (!c.error.empty()) expected.push_back("AppShutdown: " + Narrow(c.error));
    EXPECT_EQ(Lines(), expected);

    const bool shared = c.error.empty();
    EXPECT_FALSE(AppShutdown::IsShutdownRequested(0));
    if (c.descriptor.empty()) {
      ShutdownApp();
      EXPECT_TRUE(AppShutdown::IsShutdownRequested(0));
      continue;
    }
    // Whoever made the name sets it: only a shared event stops this instance.
    SetEvent(first.Get());
    EXPECT_EQ(AppShutdown::IsShutdownRequested(0), shared);
    ResetEvent(first.Get());
    // This instance's shutdown reaches the first event only when shared.
    ShutdownApp();
    EXPECT_TRUE(AppShutdown::IsShutdownRequested(0));
    EXPECT_EQ(WaitForSingleObject(first.Get(), 0) == WAIT_OBJECT_0, shared);
  }
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
      previous = MakeSecuredEvent(AgentDescriptor(), L"Qel_Identra", true);
      ASSERT_TRUE(previous.Valid());
    }
    if (c.shutdownFirst) ShutdownApp();
    AppShutdown::Initialize();
    EXPECT_EQ(AppShutdown::IsShutdownRequested(0), c.requestedAfter);
    // The previous instance's event was taken over, not refused.
    if (c.leftSet) {
      EXPECT_EQ(WaitForSingleObject(previous.Get(), 0) == WAIT_OBJECT_0, c.requestedAfter);
    }
  }
}

}  // namespace
