// The black-box sandbox itself: what a program run in it sees, and that nothing of it
// outlives the sandbox object.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "NetnsSandbox.h"
#include "TestSupport.h"

namespace {

std::string Fixture(const std::string& name) {
  return (std::filesystem::path(__FILE__).parent_path() / "fixtures" / name).string();
}

bool NamespaceExists(const std::string& name) {
  return std::system(("ip netns list | grep -qw " + name).c_str()) == 0;
}

TEST(NetnsSandbox, AProgramRunsAsNobodyWithTheFakeDsclEn0AndTheAppliance) {
  NetnsSandbox sandbox({"--heartbeat", "2000"});
  if (sandbox.Unsupported()) GTEST_SKIP() << sandbox.Why();
  ASSERT_TRUE(sandbox.Available()) << sandbox.Why();
  TempDir out;
  const std::string script =
      "id -u; echo \"HOME=$HOME\"; command -v dscl; dscl localhost -read /Search/Users/nobody | grep RealName; "
      "ip -4 -o addr show dev en0 | awk '{print $4}'; ip -o link show en1 >/dev/null && echo en1; "
      "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(sandbox.Port()) + " && echo connected";
  const pid_t pid = sandbox.Start({"bash", "-c", script}, Fixture("dscl-ad.txt"), out / "out");
  ASSERT_EQ(NetnsSandbox::Wait(pid, 20), 0) << ReadWholeFile(out / "out");
  const std::vector<std::string> lines = SplitLines(ReadWholeFile(out / "out"));
  ASSERT_EQ(lines.size(), 7u) << ReadWholeFile(out / "out");
  EXPECT_EQ(lines[0], "65534");
  EXPECT_EQ(lines[1], "HOME=" + sandbox.Home());
  EXPECT_EQ(lines[2].substr(lines[2].rfind('/')), "/dscl");
  EXPECT_NE(lines[2].find("/fakes/"), std::string::npos) << lines[2];
  EXPECT_EQ(lines[3], "RealName: Jo Doe");
  EXPECT_EQ(lines[4], sandbox.Address() + "/24");
  EXPECT_EQ(lines[5], "en1");
  EXPECT_EQ(lines[6], "connected");
  EXPECT_NE(sandbox.ApplianceOutput().find("{\"event\":\"connect\""), std::string::npos) << sandbox.ApplianceOutput();
}

TEST(NetnsSandbox, StatusSignalsAndTheNotifyFifo) {
  NetnsSandbox sandbox;
  if (sandbox.Unsupported()) GTEST_SKIP() << sandbox.Why();
  ASSERT_TRUE(sandbox.Available()) << sandbox.Why();
  TempDir out;
  EXPECT_EQ(NetnsSandbox::Wait(sandbox.Start({"sh", "-c", "exit 26"}, "", out / "exit"), 20), 26);

  const pid_t sleeper = sandbox.Start({"sleep", "60"}, "", out / "sleep");
  EXPECT_EQ(NetnsSandbox::Wait(sleeper, 0.2), -1);
  ASSERT_EQ(kill(sleeper, SIGTERM), 0);  // the program's own process id
  EXPECT_EQ(NetnsSandbox::Wait(sleeper, 20), 128 + SIGTERM);

  const pid_t reader = sandbox.Start(
      {"sh", "-c", "mkdir -p \"$HOME/.QelIdentra\" && mkfifo -m 600 \"$HOME/.QelIdentra/notify\" && "
                   "read line <\"$HOME/.QelIdentra/notify\" && echo \"got $line\""},
      "", out / "reader");
  const std::string fifo = sandbox.Home() + "/.QelIdentra/notify";
  for (int i = 0; i < 200 && !std::filesystem::is_fifo(fifo); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(sandbox.Notify("NSWorkspaceWillSleepNotification"));
  EXPECT_EQ(NetnsSandbox::Wait(reader, 20), 0);
  EXPECT_EQ(ReadWholeFile(out / "reader"), "got NSWorkspaceWillSleepNotification\n");
}

TEST(NetnsSandbox, NothingOutlivesIt) {
  auto sandbox = std::make_unique<NetnsSandbox>();
  if (sandbox->Unsupported()) GTEST_SKIP() << sandbox->Why();
  ASSERT_TRUE(sandbox->Available()) << sandbox->Why();
  TempDir out;
  const std::string ns = sandbox->Namespace();
  const std::string home = sandbox->Home();
  ASSERT_TRUE(NamespaceExists(ns));
  const pid_t left = sandbox->Start({"sleep", "60"}, "", out / "left");
  EXPECT_EQ(NetnsSandbox::Wait(left, 0.2), -1);
  sandbox.reset();
  EXPECT_EQ(NetnsSandbox::Wait(left, 20), 128 + SIGTERM);
  EXPECT_FALSE(NamespaceExists(ns));
  EXPECT_FALSE(std::filesystem::exists(home));
}

}  // namespace
