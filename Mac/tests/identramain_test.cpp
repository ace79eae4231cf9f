#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "AuthFsmFixture.h"
#include "app/IdentraMain.h"
#include "support/Basetypes.h"
#include "identity/UserIdent.h"
#include "LoggingEnvironment.h"
#include "LoopbackListener.h"

namespace {

// The options folder is fixed by its first use: one HOME for the whole program.
const testing::Environment* const kLogging = testing::AddGlobalTestEnvironment(new LoggingEnvironment);

// One Ethernet interface "en0" with an IPv4 address, in the form getifaddrs gives.
struct En0 {
  explicit En0(const char* address) {
    link.ifa_name = inet.ifa_name = name;
    link.ifa_flags = inet.ifa_flags = IFF_UP | IFF_RUNNING;
    link.ifa_addr = reinterpret_cast<sockaddr*>(&hardware);
    inet.ifa_addr = reinterpret_cast<sockaddr*>(&ip);
    link.ifa_next = &inet;
    hardware.sll_family = AF_PACKET;
    hardware.sll_hatype = ARPHRD_ETHER;
    hardware.sll_halen = 6;
    hardware.sll_addr[0] = 0x02;
    hardware.sll_addr[5] = 0x01;
    ip.sin_family = AF_INET;
    inet_pton(AF_INET, address, &ip.sin_addr);
  }
  char name[4] = "en0";
  ifaddrs link{}, inet{};
  sockaddr_ll hardware{};
  sockaddr_in ip{};
};

std::string Fixture(const char* name) { return std::string(FIXTURES_DIR) + "/" + name; }

class IdentraTest : public ApplianceTestBase {
 protected:
  IdentraTest() : ApplianceTestBase(false) {}

  void SetUp() override {
    ApplianceTestBase::SetUp();
    g_TavoAuthConfig = CTavoAuthConfig{};
    address = "10.0.0.5";
    // A tick every second: short idle polls, except where an appliance answers.
    clock.SetSlice(5);
  }
  void TearDown() override {
    app = RefxPtr<IdentraMain>();
    ApplianceTestBase::TearDown();
  }

  // The program's command line: RA and UX, then any further entries.
  IdentraMain* Launch(const std::string& ra, const std::string& identityFile = Fixture("dscl-ad.txt")) {
    args = {"QelIdentra", "RA[" + ra + "]", "UX[" + identityFile + "]"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    app = MakeMachine(new IdentraMain(static_cast<int>(argv.size()), argv.data(), [this](NetInterfaceEnum& s) {
      En0 en0(address.c_str());
      s.LoadFrom(&en0.link);
    }));
    app->owner()->Initialize(app.get());
    return app->owner();
  }
  void Post(const char* name) { NSWorkspace::sharedWorkspace().notificationCenter().postNotificationName(name); }
  // Runs until the virtual clock has moved on by seconds.
  bool RunFor(ApplianceProcess* appliance, double seconds) {
    const CFAbsoluteTime end = CFAbsoluteTimeGetCurrent() + seconds;
    return Pump(appliance, [&] { return CFAbsoluteTimeGetCurrent() >= end; }, 0.5, 10000);
  }
  size_t Rebuilds() const { return log.Matching("Restarting all authentication objects").size(); }

  std::vector<std::string> args;
  std::vector<const char*> argv;
  RefxPtr<IdentraMain> app;
  std::string address;
};

TEST_F(IdentraTest, StartsTheMachinesAtTheFirstEnvironmentCheck) {
  IdentraMain* main = Launch("127.0.0.1:4001;:4003;127.0.0.2:4002");
  EXPECT_EQ(app->state(), IdentraMain::ST_Active);
  EXPECT_EQ(log.Matching("Creating FSM for server").size(), 2u);
  EXPECT_EQ(log.Matching("Creating FSM for server 127.0.0.1:4001...").size(), 1u);
  EXPECT_TRUE(main->Connections().empty());
  ASSERT_TRUE(RunFor(nullptr, 1.5));
  EXPECT_EQ(main->Connections().size(), 2u);
  EXPECT_EQ(Rebuilds(), 1u);
  EXPECT_EQ(log.Matching("Final user identity: User:jo").size(), 1u);
  // No change: no rebuild. A new address: every machine rebuilt.
  ASSERT_TRUE(RunFor(nullptr, 10));
  EXPECT_EQ(Rebuilds(), 1u);
  address = "10.0.0.6";
  ASSERT_TRUE(RunFor(nullptr, 5.5));
  EXPECT_EQ(Rebuilds(), 2u);
  EXPECT_EQ(main->Connections().size(), 2u);
}

// The list as an administrator writes it, blanks after the separators: the host named after
// a blank is reached, and a blank entry at the end is no mistake.
TEST_F(IdentraTest, BlanksAroundApplianceEntriesAreNoPartOfTheAddress) {
  ApplianceProcess appliance({"--port", "0"});
  clock.SetSlice(100);
  const std::string port = std::to_string(appliance.Port());
  Launch("\tlocalhost : " + port + " ; ");
  EXPECT_EQ(log.Matching("Creating FSM for server localhost:" + port + "...").size(), 1u);
  EXPECT_TRUE(log.Matching("names no host or no valid port").empty());
  ASSERT_TRUE(Pump(&appliance, [&] { return log.Matching("event EV_LogonAckRx").size() == 1; }));
  EXPECT_EQ(Count("LGON"), 1);
}

TEST_F(IdentraTest, SleepThenWakeEndsFiveSecondsAfterTheWake) {
  struct Case {
    const char* away;
    const char* back;
  } cases[] = {{NSWorkspaceWillSleepNotification, NSWorkspaceDidWakeNotification},
               {NSWorkspaceSessionDidResignActiveNotification, NSWorkspaceSessionDidBecomeActiveNotification}};
  for (const Case& c : cases) {
    RecordedExits().clear();
    Launch("");  // no appliance: nothing else ends the process
    ASSERT_TRUE(RunFor(nullptr, 1.5));
    Post(c.away);
    EXPECT_EQ(app->state(), IdentraMain::ST_Suspended) << c.away;
    ASSERT_TRUE(RunFor(nullptr, 30));
    EXPECT_TRUE(RecordedExits().empty()) << c.away;
    const CFAbsoluteTime woke = CFAbsoluteTimeGetCurrent();
    Post(c.back);
    ASSERT_TRUE(Pump(nullptr, [] { return !RecordedExits().empty(); }, 0.5, 100)) << c.back;
    EXPECT_EQ(RecordedExits().front(), 1);
    EXPECT_NEAR(CFAbsoluteTimeGetCurrent() - woke, 5.0, 0.6);
    EXPECT_EQ(app->state(), IdentraMain::ST_Active);
    app = RefxPtr<IdentraMain>();  // it stops hearing the notifications
  }
  EXPECT_EQ(log.Matching("IdentraMain received suspend notification").size(), 1u);
  EXPECT_EQ(log.Matching("IdentraMain received resume notification").size(), 1u);
  EXPECT_EQ(log.Matching("IdentraMain received session inactive notification").size(), 1u);
  EXPECT_EQ(log.Matching("IdentraMain received session active notification").size(), 1u);
  // A wake without a sleep changes nothing.
  RecordedExits().clear();
  Launch("");
  Post(NSWorkspaceDidWakeNotification);
  ASSERT_TRUE(RunFor(nullptr, 10));
  EXPECT_EQ(app->state(), IdentraMain::ST_Active);
  EXPECT_TRUE(RecordedExits().empty());
}

TEST_F(IdentraTest, SleepWhileConnectedLogsOffAndEnds) {
  ApplianceProcess appliance({"--port", "0"});
  clock.SetSlice(100);
  Launch("127.0.0.1:" + std::to_string(appliance.Port()));
  ASSERT_TRUE(Pump(&appliance, [&] { return log.Matching("event EV_LogonAckRx").size() == 1; }));
  Post(NSWorkspaceWillSleepNotification);
  ASSERT_TRUE(Pump(&appliance, [&] { return !Commands().empty() && Commands().back() == "LGOF"; }));
  ASSERT_FALSE(RecordedExits().empty());
  EXPECT_EQ(RecordedExits().front(), 1);
}

TEST_F(IdentraTest, QuitSignalStopsTheLoopAtTheNextTick) {
  IdentraMain* main = Launch("");
  // Before the loop runs: acted on at the first tick all the same.
  raise(SIGTERM);
  raise(SIGCHLD);
  const CFAbsoluteTime began = CFAbsoluteTimeGetCurrent();
  EXPECT_EQ(main->Run(), 0);
  EXPECT_LE(CFAbsoluteTimeGetCurrent() - began, 1.0);
  EXPECT_EQ(log.Matching("Mach signal received (SIGTERM): response=quit app").size(), 1u);
  // The identity commands' children add their own.
  EXPECT_GE(log.Matching("Mach signal received (SIGCHLD): response=log only").size(), 1u);
  EXPECT_EQ(log.Matching("Shutdown() in progress...").size(), 1u);
  EXPECT_TRUE(RecordedExits().empty());
}

TEST_F(IdentraTest, QuitSignalWhileConnectedSendsTheLogoffFirst) {
  ApplianceProcess appliance({"--port", "0"});
  clock.SetSlice(100);
  Launch("127.0.0.1:" + std::to_string(appliance.Port()));
  ASSERT_TRUE(Pump(&appliance, [&] { return log.Matching("event EV_LogonAckRx").size() == 1; }));
  raise(SIGTERM);
  ASSERT_TRUE(Pump(&appliance, [&] { return !Commands().empty() && Commands().back() == "LGOF"; }));
  EXPECT_EQ(log.Matching("Shutdown() in progress...").size(), 1u);
  ASSERT_FALSE(RecordedExits().empty());
  EXPECT_EQ(RecordedExits().front(), 1);
}

TEST_F(IdentraTest, QuitSignalEndsTheWaitForAHangingUserCheck) {
  TempDir dir;
  const std::string pidFile = dir / "dscl-pid";
  ScopedEnv env;
  env.Set("PATH", std::string(FAKE_TOOLS_DIR) + ":" + getenv("PATH"));
  env.Set("FAKE_DSCL_OUTPUT", Fixture("dscl-local.txt"));
  env.Set("FAKE_ID_OUTPUT", "uid=501(jo) gid=20(staff)");
  IdentraMain* main = Launch("", "");  // no UX: dscl is asked
  ASSERT_TRUE(RunFor(nullptr, 1.5));
  // A local user: the check a minute on asks dscl again, which now never answers. The
  // quit comes while the agent waits for it.
  env.Set("FAKE_DSCL_HANG", pidFile);
  std::chrono::steady_clock::time_point signalled;
  std::thread quit([&] {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(pidFile) && std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    signalled = std::chrono::steady_clock::now();
    kill(getpid(), SIGTERM);
  });
  EXPECT_EQ(main->Run(), 0);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
  quit.join();
  ASSERT_TRUE(std::filesystem::exists(pidFile));
  EXPECT_LT(seconds, 4.0);  // not the tool's time limit of 30 s
  EXPECT_EQ(log.Matching("SystemRun.execInner: dscl stopped for a quit").size(), 1u);
  EXPECT_EQ(log.Matching("Shutdown() in progress...").size(), 1u);
  const pid_t pid = std::atoi(ReadWholeFile(pidFile).c_str());
  EXPECT_TRUE(pid > 0 && kill(pid, 0) != 0) << pid << " runs on";
}

// A directory tool that never answers costs its time limit (shortened here) and fails the
// check; the agent goes on with a local user and starts its connections.
TEST_F(IdentraTest, HangingDsclIsStoppedAtItsBoundThenTheConnectionsStart) {
  TempDir dir;
  const std::string pidFile = dir / "dscl-pid";
  ScopedEnv env;
  env.Set("PATH", std::string(FAKE_TOOLS_DIR) + ":" + getenv("PATH"));
  env.Set("FAKE_DSCL_HANG", pidFile);
  SystemRun::SetTimeLimitForTest(0.5);
  const auto began = std::chrono::steady_clock::now();
  IdentraMain* main = Launch("127.0.0.1:" + std::to_string(ClosedPort()), "");  // no UX: dscl is asked
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  SystemRun::SetTimeLimitForTest(0);
  EXPECT_GE(seconds, 0.5);
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(log.Matching("SystemRun.execInner: dscl stopped after running 0.5 seconds").size(), 1u);
  EXPECT_EQ(log.Matching("UserIdent initialization failed!").size(), 1u);
  ASSERT_TRUE(RunFor(nullptr, 1.5));
  EXPECT_EQ(main->Connections().size(), 1u);
  const pid_t pid = std::atoi(ReadWholeFile(pidFile).c_str());
  EXPECT_TRUE(pid > 0 && kill(pid, 0) != 0) << pid << " runs on";
}

TEST_F(IdentraTest, FatalSignalEndsAtOnce) {
  for (const char* name : {"SIGSEGV", "SIGABRT"}) {
    const int number = std::string(name) == "SIGSEGV" ? SIGSEGV : SIGABRT;
    EXPECT_EXIT(
        {
          SetImmediateExitHook(nullptr);
          Launch("");
          raise(number);
        },
        testing::ExitedWithCode(1), std::string("Terminating Identra on signal ") + name + "\n");
  }
}

TEST_F(IdentraTest, LocalUserBecomingADirectoryUserRebuildsOnce) {
  TempDir dir;
  const std::string identity = dir / "dscl.txt";
  std::filesystem::copy_file(Fixture("dscl-local.txt"), identity);
  IdentraMain* main = Launch("127.0.0.1:" + std::to_string(ClosedPort()), identity);
  ASSERT_TRUE(RunFor(nullptr, 1.5));
  EXPECT_EQ(Rebuilds(), 1u);
  ASSERT_TRUE(RunFor(nullptr, 60));
  EXPECT_EQ(log.Matching("Local user detected - checking for identity changes.").size(), 1u);
  EXPECT_EQ(Rebuilds(), 1u);
  std::filesystem::copy_file(Fixture("dscl-ad.txt"), identity, std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(RunFor(nullptr, 60));
  EXPECT_EQ(log.Matching("Identity changed from local user to directory user.").size(), 1u);
  EXPECT_EQ(Rebuilds(), 2u);
  EXPECT_EQ(main->Connections().size(), 1u);
  // A directory user is not examined again.
  ASSERT_TRUE(RunFor(nullptr, 120));
  EXPECT_EQ(log.Matching("Local user detected - checking for identity changes.").size(), 2u);
}

// The identity cache stands in for the directory at an offline start: a lookup that fails,
// or a local user without a directory identity, leaves the cached one as it was.
TEST_F(IdentraTest, OnlyADirectoryIdentityIsCached) {
  const std::string cache = UserOptionsDir<1>().Dir() + "/userident-" + std::to_string(getuid()) + ".txt";
  std::filesystem::remove(cache);
  const std::string closed = "127.0.0.1:" + std::to_string(ClosedPort());
  Launch(closed);
  ASSERT_TRUE(RunFor(nullptr, 1.5));
  const std::string saved = ReadWholeFile(cache);
  ASSERT_NE(saved.find("_identType:4\n"), std::string::npos) << saved;

  for (const char* fixture : {"dscl-garbage.txt", "dscl-local.txt"}) {
    app = RefxPtr<IdentraMain>();
    args.clear();
    argv.clear();
    Launch(closed, Fixture(fixture));
    ASSERT_TRUE(RunFor(nullptr, 1.5));
    EXPECT_EQ(ReadWholeFile(cache), saved) << fixture;
  }
  EXPECT_EQ(log.Matching("UserIdent initialization failed!").size(), 1u);
  std::filesystem::remove(cache);
}

}  // namespace
