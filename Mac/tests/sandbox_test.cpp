// The black-box sandbox itself: what a program run in it sees, and that nothing of it
// outlives the sandbox object.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// The script run straight from a shell command line in the folder given, with TMPDIR set to
// tmpdir: its exit status.
int RunScript(const std::string& arguments, const std::string& tmpdir, const std::string& cwd = "/") {
  const std::string script =
      (std::filesystem::path(__FILE__).parent_path() / "../../tools/sandbox/netns-sandbox.sh").string();
  const int status = std::system(
      ("cd " + cwd + " && TMPDIR=" + tmpdir + " bash " + script + " " + arguments + " 2>/dev/null").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder as `up` marks it, with one file in it.
void MakeFolder(const std::string& path, bool marked) {
  std::filesystem::create_directories(path);
  std::ofstream(path + "/data") << "keep";
  if (marked) std::ofstream(path + "/.netns-sandbox");
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

// `down` runs as root and removes a folder: only one that `up` marked (or an empty one),
// below the temporary folder, named by an absolute path. This needs no root.
TEST(NetnsSandbox, DownRemovesOnlyAFolderUpMadeBelowTheTemporaryFolder) {
  // The script's temporary folder is the test's own, so "outside" is outside wherever the
  // checkout and the system's temporary folder lie.
  TempDir top;
  const std::string tmp = top / "tmp";
  const std::string outside = top / "outside";
  MakeFolder(tmp + "/made", true);
  MakeFolder(tmp + "/relative", true);
  MakeFolder(tmp + "/foreign", false);
  MakeFolder(outside, true);
  std::filesystem::create_directory_symlink(outside, tmp + "/link");
  const struct {
    std::string arguments;
    std::string kept;  // empty: nothing to check
  } refused[] = {
      {"down ''", ""},
      {"down relative", tmp + "/relative/data"},  // run from tmp, where it names a marked folder
      {"down " + tmp + "/foreign", tmp + "/foreign/data"},
      {"down " + outside, outside + "/data"},
      {"down " + tmp + "/link", outside + "/data"},
      {"down " + tmp + "/made/../../outside", outside + "/data"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(RunScript(c.arguments, tmp, tmp), 1);
    if (!c.kept.empty()) {
      EXPECT_TRUE(std::filesystem::exists(c.kept));
    }
  }
  for (const std::string name : {"made", "empty"}) {
    SCOPED_TRACE(name);
    const std::string folder = tmp + "/" + name;
    if (name == "empty") std::filesystem::create_directory(folder);  // an `up` that failed early
    EXPECT_EQ(RunScript("down " + folder, tmp), 0);
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(RunScript("down " + folder, tmp), 0);  // again: nothing left to do
  }
}

// A machine that makes the namespace but no veth pair or address (a container): skipped,
// and the namespace made on the way is gone with the sandbox.
TEST(NetnsSandbox, ANamespaceWithoutVethOrAddressIsUnsupportedNotAFailure) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir fakes;
  const std::string path = getenv("PATH");
  for (const std::string step : {"type veth", "addr add"}) {
    SCOPED_TRACE(step);
    std::ofstream(fakes / "ip") << "#!/bin/sh\n"
                                << "case \" $* \" in *\" " << step << " \"*) echo refused-here >&2; exit 2 ;; esac\n"
                                << "PATH='" << path << "' exec ip \"$@\"\n";
    std::filesystem::permissions(fakes / "ip", std::filesystem::perms::owner_all);
    setenv("PATH", (fakes.path() + ":" + path).c_str(), 1);
    {
      NetnsSandbox sandbox;
      setenv("PATH", path.c_str(), 1);
      EXPECT_TRUE(sandbox.Unsupported()) << sandbox.Why();
      EXPECT_NE(sandbox.Why().find("refused-here"), std::string::npos) << sandbox.Why();
    }
    const std::string ours = "qelid-sbx-" + std::to_string(getpid()) + "-";
    EXPECT_NE(std::system(("ip netns list | grep -q " + ours).c_str()), 0);
  }
}

}  // namespace
