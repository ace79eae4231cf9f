// QelIdentra as a program: run as nobody with a temporary HOME and the fake dscl, inside a
// network namespace with en0 and the stand-in appliance on its loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <thread>

#include "NetnsSandbox.h"
#include "TestSupport.h"

namespace {

const std::string kAnotherInstance = "ERROR(9242): Another Identra instance is already running for this user.\n";

std::string Agent() { return NetnsSandbox::BinDir() + "/QelIdentra"; }

std::string Fixture(const std::string& name) {
  return (std::filesystem::path(__FILE__).parent_path() / "fixtures" / name).string();
}

bool WaitFor(const std::function<bool()>& done, double seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The sandbox with the agent's files at hand.
class BlackBox : public testing::Test {
 protected:
  explicit BlackBox(const std::vector<std::string>& applianceArgs = {}) : sandbox(applianceArgs) {}
  void SetUp() override {
    if (sandbox.Unsupported()) GTEST_SKIP() << sandbox.Why();
    ASSERT_TRUE(sandbox.Available()) << sandbox.Why();
  }
  std::string Ra() const { return "RA[127.0.0.1:" + std::to_string(sandbox.Port()) + "]"; }
  pid_t Start(const std::vector<std::string>& args, const std::string& output,
              const std::vector<std::string>& env = {}, const std::string& listing = Fixture("dscl-ad.txt")) {
    std::vector<std::string> command = {Agent()};
    command.insert(command.end(), args.begin(), args.end());
    return sandbox.Start(command, listing, out / output, env);
  }
  std::string Output(const std::string& name) const { return ReadWholeFile(out / name); }
  std::string Log() const { return ReadWholeFile(sandbox.Home() + "/Library/Logs/qelidentra.log"); }
  std::string Lock() const { return ReadWholeFile(sandbox.Home() + "/.QelIdentra/applock"); }
  std::string Appliance() const { return sandbox.ApplianceOutput(); }
  // Without an identity the user counts as local: the agent connects, but logs nobody on.
  bool Connected() const { return Appliance().find("\"event\":\"connect\"") != std::string::npos; }
  bool LoggedOn() const { return Log().find("'STAT' SUCCESS received") != std::string::npos; }
  bool NotifyReady() const { return std::filesystem::is_fifo(sandbox.Home() + "/.QelIdentra/notify"); }

  NetnsSandbox sandbox;
  TempDir out;
};

TEST_F(BlackBox, VersionSwitchPrintsTheBanner) {
  const pid_t pid = Start({"--version"}, "version");
  EXPECT_EQ(NetnsSandbox::Wait(pid, 20), 0);
  EXPECT_EQ(Output("version").substr(0, 43), "Qel Security Identra for Apple v2.0.30.133\n");
  EXPECT_FALSE(std::filesystem::exists(sandbox.Home() + "/.QelIdentra"));  // nothing made, nothing locked
}

TEST_F(BlackBox, RootIsRefused) {
  if (getuid() != 0) GTEST_SKIP() << "needs root";
  TempDir home;
  std::filesystem::create_directories(home / "Library/Logs");
  const std::string command = "HOME=" + home.path() + " " + Agent() + " >" + (out / "root") + " 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::vector<std::string> lines = SplitLines(Output("root"));
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "This application refuses to run as root."), 1) << Output("root");
  EXPECT_NE(ReadWholeFile(home / "Library/Logs/qelidentra.log").find("This application refuses to run as root."),
            std::string::npos);
  // A version query is answered even as root.
  EXPECT_EQ(std::system((Agent() + " -v >/dev/null").c_str()), 0);
}

TEST_F(BlackBox, LogonHeartbeatsThenSigtermLogsOff) {
  const pid_t pid = Start({Ra(), "RH[1000]"}, "agent");
  ASSERT_TRUE(WaitFor([&] { return Occurrences(Appliance(), "\"command\":\"BEAT\"") >= 2; })) << Appliance() << Log();
  EXPECT_TRUE(LoggedOn());
  EXPECT_NE(Appliance().find("{\"tag\":\"UN\",\"value\":\"jo\"}"), std::string::npos) << Appliance();
  EXPECT_EQ(Lock().substr(0, Lock().find('\n') + 1), "OwnerPid=" + std::to_string(pid) + "\n");
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  // Connected: the logoff goes out, and the logon machine's end gives status 1.
  EXPECT_EQ(NetnsSandbox::Wait(pid, 20), 1);
  const std::string appliance = Appliance();
  EXPECT_GT(appliance.rfind("\"command\":\"LGOF\""), appliance.rfind("\"command\":\"BEAT\"")) << appliance;
  EXPECT_NE(Log().find("Mach signal received (SIGTERM): response=quit app"), std::string::npos);
  EXPECT_NE(Log().find("Shutdown() in progress..."), std::string::npos);
  EXPECT_EQ(Lock().find("--released--"), std::string::npos);  // an immediate end releases nothing
}

TEST_F(BlackBox, OneInstancePerUserAndAStaleLockIsTakenOver) {
  // A lock file left by a process that is gone.
  const std::string options = sandbox.Home() + "/.QelIdentra";
  std::filesystem::create_directory(options);
  ASSERT_TRUE(File_aid::WriteTextFile((options + "/applock").c_str(), "OwnerPid=999999\nold contents\n", nullptr));
  ASSERT_EQ(chown(options.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chown((options + "/applock").c_str(), 65534, 65534), 0);

  const pid_t first = Start({"RA[]"}, "first");
  ASSERT_TRUE(WaitFor([&] { return Lock().rfind("OwnerPid=" + std::to_string(first) + "\n", 0) == 0; })) << Lock();
  ASSERT_TRUE(WaitFor([&] { return NotifyReady(); }));
  const pid_t second = Start({"RA[]"}, "second");
  EXPECT_EQ(NetnsSandbox::Wait(second, 20), 9242 & 0xFF);
  EXPECT_EQ(Output("second"), kAnotherInstance);
  EXPECT_EQ(Lock().rfind("OwnerPid=" + std::to_string(first) + "\n", 0), 0u);

  // No appliance connected: a quit is an orderly end with status 0 and a released lock.
  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(NetnsSandbox::Wait(first, 20), 0);
  EXPECT_EQ(Lock().rfind("OwnerPid=" + std::to_string(first) + "\n--released--\n", 0), 0u) << Lock();
  EXPECT_NE(Log().find("Application shutdown"), std::string::npos);

  // A lock that cannot be taken for another reason says why, besides the usual line.
  std::filesystem::remove(options + "/applock");
  std::filesystem::create_directory(options + "/applock");
  const pid_t third = Start({"RA[]"}, "third");
  EXPECT_EQ(NetnsSandbox::Wait(third, 20), 9242 & 0xFF);
  EXPECT_EQ(Output("third"), kAnotherInstance + "Cannot lock " + options + "/applock: Is a directory\n");
}

// A file system of a few pages mounted on a folder for the object's life, owned by nobody,
// filled up to the last byte once the files given have been written to it.
class FullVolume {
 public:
  FullVolume(const std::string& folder, const std::vector<std::pair<std::string, std::string>>& files)
      : _folder(folder) {
    _mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k,mode=0700,uid=65534,gid=65534") == 0;
    if (!_mounted) return;
    for (const auto& [name, text] : files) {
      File_aid::WriteTextFile((folder + "/" + name).c_str(), text.c_str(), nullptr);
      if (chown((folder + "/" + name).c_str(), 65534, 65534) != 0) _mounted = false;
    }
    const int fd = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
    char block[512] = {};
    while (fd >= 0 && write(fd, block, sizeof block) > 0) {
    }
    while (fd >= 0 && write(fd, block, 1) > 0) {
    }
    if (fd >= 0) close(fd);
  }
  ~FullVolume() {
    if (_mounted) umount2(_folder.c_str(), MNT_DETACH);
  }
  FullVolume(const FullVolume&) = delete;
  FullVolume& operator=(const FullVolume&) = delete;
  bool Mounted() const { return _mounted; }

 private:
  std::string _folder;
  bool _mounted = false;
};

// The options folder on a full disk: the lock still excludes a second instance, and neither
// the empty pid line nor the cache that could not be replaced goes unsaid; the old cache stays.
TEST_F(BlackBox, FullOptionsFolderIsReportedAndLosesNothing) {
  const std::string options = sandbox.Home() + "/.QelIdentra";
  std::filesystem::create_directory(options);
  const std::string cacheName = "userident-65534.txt";
  const std::string cache = "#Ver:1\n_userName:jo\n_machineName:mac1\n_distinguishedName:uid=jo,dc=org\n"
                            "_domainName:org\n_groupName:staff\n_identType:3\n_unixUserID:65534\n";
  FullVolume volume(options, {{cacheName, cache}});
  if (!volume.Mounted()) GTEST_SKIP() << "no tmpfs could be mounted on " << options;

  const pid_t first = Start({"RA[]"}, "first");
  ASSERT_TRUE(WaitFor([&] { return NotifyReady(); })) << Output("first") << Log();
  const std::string noSpace = ": No space left on device";
  EXPECT_NE(Log().find("Could not write the process id into the lock file " + options + "/applock" + noSpace),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("UserIdent: could not save the identity cache " + options + "/" + cacheName + noSpace),
            std::string::npos)
      << Log();
  EXPECT_EQ(ReadWholeFile(options + "/" + cacheName), cache);
  EXPECT_FALSE(std::filesystem::exists(options + "/" + cacheName + ".new"));

  const pid_t second = Start({"RA[]"}, "second");
  EXPECT_EQ(NetnsSandbox::Wait(second, 20), 9242 & 0xFF);
  EXPECT_EQ(Output("second"), kAnotherInstance);
  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(NetnsSandbox::Wait(first, 20), 0);
}

TEST_F(BlackBox, SleepAndWakeThroughTheNotificationChannel) {
  // Without an appliance: the process ends five seconds after the wake.
  const pid_t idle = Start({"RA[]"}, "idle");
  ASSERT_TRUE(WaitFor([&] { return NotifyReady(); }));
  ASSERT_TRUE(sandbox.Notify("NSWorkspaceWillSleepNotification"));
  ASSERT_TRUE(WaitFor([&] {
    return Output("idle").find("receiveSleepWakeNote: NSWorkspaceWillSleepNotification") != std::string::npos;
  })) << Output("idle");
  const auto woke = std::chrono::steady_clock::now();
  ASSERT_TRUE(sandbox.Notify("NSWorkspaceDidWakeNotification"));
  EXPECT_EQ(NetnsSandbox::Wait(idle, 20), 1);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - woke).count();
  EXPECT_GE(seconds, 4.5);
  EXPECT_LT(seconds, 10);
  EXPECT_NE(Output("idle").find("receiveSleepWakeNote: NSWorkspaceDidWakeNotification"), std::string::npos);

  // Connected: the sleep logs off and ends the process at once.
  const pid_t connected = Start({Ra()}, "connected");
  ASSERT_TRUE(WaitFor([&] { return Occurrences(Log(), "'STAT' SUCCESS received") == 1 && NotifyReady(); }));
  ASSERT_TRUE(sandbox.Notify("NSWorkspaceWillSleepNotification"));
  EXPECT_EQ(NetnsSandbox::Wait(connected, 20), 1);
  EXPECT_NE(Appliance().find("\"command\":\"LGOF\""), std::string::npos);
}

// The largest resident size the process has had, in KiB; -1 when it cannot be read.
long PeakResidentKiB(pid_t pid) {
  const std::string status = ReadWholeFile("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("VmHWM:");
  return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// Whatever the directory tool printed, the agent's memory stays bounded.
void ExpectPeakUnder64MiB(pid_t pid, const std::string& with) {
  const long peak = PeakResidentKiB(pid);
  std::cout << "With " << with << " the agent's peak resident size was " << peak << " KiB\n";
  EXPECT_GT(peak, 0) << with;
  EXPECT_LT(peak, 64 * 1024) << with;
}

// A directory that answers late, as after a wake-up or from a distant server, is waited for:
// the user is a directory user and logged on. (A tool that never answers is stopped after
// its bound; the identity and application tests show it with the bound shortened.)
TEST_F(BlackBox, SlowDirectoryIsWaitedForAndTheUserLoggedOn) {
  const auto began = std::chrono::steady_clock::now();
  const pid_t pid = Start({Ra()}, "agent", {"FAKE_DSCL_DELAY=8"});
  ASSERT_TRUE(WaitFor([&] { return LoggedOn(); }, 40)) << Appliance() << Log();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  std::cout << "With dscl answering after 8 s the agent logged on after " << seconds << " s\n";
  EXPECT_GE(seconds, 8.0);
  EXPECT_NE(Appliance().find("{\"tag\":\"UN\",\"value\":\"jo\"}"), std::string::npos) << Appliance();
  EXPECT_EQ(Log().find("UserIdent initialization failed!"), std::string::npos) << Log();
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(NetnsSandbox::Wait(pid, 20), 1);
}

// A user record with a picture: megabytes of hex ahead of the names, still the user's
// identity and a logon, in little memory.
TEST_F(BlackBox, RecordWithAPhotoStillLogsTheUserOn) {
  const std::string listing = out / "photo.txt";
  const std::string record = WithPhoto(ReadWholeFile(Fixture("dscl-ad.txt")), "PrimaryGroupID", 3u << 20);
  ASSERT_TRUE(File_aid::WriteTextFile(listing.c_str(), record.c_str(), nullptr));
  const pid_t pid = Start({Ra()}, "agent", {}, listing);
  ASSERT_TRUE(WaitFor([&] { return LoggedOn(); })) << Appliance() << Log();
  EXPECT_NE(Appliance().find("{\"tag\":\"UN\",\"value\":\"jo\"}"), std::string::npos) << Appliance();
  ExpectPeakUnder64MiB(pid, "a 3 MiB photo in the record");
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(NetnsSandbox::Wait(pid, 20), 1);
}

// Listings of 15 MiB, in every shape: the user is logged on, and what the agent holds of
// a listing is bounded by the few attributes an identity is made of, not by its lines.
class BlackBoxLongListing : public BlackBox, public testing::WithParamInterface<size_t> {};

TEST_P(BlackBoxLongListing, LogsTheUserOnInLittleMemory) {
  const auto [shape, text] = LongListings(ReadWholeFile(Fixture("dscl-ad.txt")), 15u << 20)[GetParam()];
  const std::string listing = out / "listing.txt";
  ASSERT_TRUE(File_aid::WriteTextFile(listing.c_str(), text.c_str(), nullptr));
  const pid_t pid = Start({Ra()}, "agent", {}, listing);
  ASSERT_TRUE(WaitFor([&] { return LoggedOn(); })) << shape << Appliance() << Log();
  EXPECT_NE(Appliance().find("{\"tag\":\"UN\",\"value\":\"jo\"}"), std::string::npos) << shape << Appliance();
  ExpectPeakUnder64MiB(pid, "a 15 MiB listing of " + shape);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(NetnsSandbox::Wait(pid, 20), 1);
}

INSTANTIATE_TEST_SUITE_P(Shapes, BlackBoxLongListing, testing::Range<size_t>(0, 5));

TEST_F(BlackBox, EndlessDsclOutputIsCutAtItsBound) {
  const pid_t pid = Start({Ra()}, "agent", {"FAKE_DSCL_ENDLESS=RecordName: jo"});
  ASSERT_TRUE(WaitFor([&] { return Connected(); })) << Log();
  EXPECT_NE(Log().find("SystemRun.execInner: dscl stopped for writing more than 16777216 bytes"), std::string::npos)
      << Log();
  EXPECT_NE(Log().find("UserIdent initialization failed!"), std::string::npos);
  ExpectPeakUnder64MiB(pid, "endless dscl output");
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_GE(NetnsSandbox::Wait(pid, 20), 0);
}

TEST_F(BlackBox, FifosInPlaceOfTheConfigurationAndIdentityFilesAreSkipped) {
  const std::string options = sandbox.Home() + "/.QelIdentra";
  std::filesystem::create_directory(options);
  const std::string config = options + "/Idagent.cfg", identity = options + "/identity.txt";
  for (const std::string& fifo : {config, identity}) {
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(chown(fifo.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(chown(options.c_str(), 65534, 65534), 0);
  const pid_t pid = Start({Ra(), "UX[" + identity + "]"}, "agent");
  ASSERT_TRUE(WaitFor([&] { return Connected(); })) << Log();
  for (const std::string& fifo : {config, identity})
    EXPECT_NE(Log().find("'" + fifo + "' is not a regular file; skipped"), std::string::npos) << Log();
  EXPECT_NE(Log().find("UserIdent.TestFileInit - load failed for " + identity + ", err=-2"), std::string::npos);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_GE(NetnsSandbox::Wait(pid, 20), 0);
}

// An appliance that answers every logon with RH 1.
class BlackBoxFastBeat : public BlackBox {
 protected:
  BlackBoxFastBeat() : BlackBox({"--heartbeat", "1"}) {}
};

// The interval takes effect when the agent logs on anew (here after a network change): it
// beats once a second, not a thousand times.
TEST_F(BlackBoxFastBeat, AnApplianceAnsweringRh1IsHeardOnceASecond) {
  const pid_t pid = Start({Ra(), "RH[60000]"}, "agent");
  ASSERT_TRUE(WaitFor([&] { return LoggedOn(); })) << Appliance() << Log();
  EXPECT_EQ(Occurrences(Log(), "Heartbeat interval of 1 ms from the web filter is taken as 1000 ms"), 1u) << Log();
  const std::string add = "ip -n " + sandbox.Namespace() + " addr add 192.0.2.7/32 dev en0";
  ASSERT_EQ(std::system(add.c_str()), 0) << add;
  ASSERT_TRUE(WaitFor([&] { return Occurrences(Appliance(), "\"command\":\"LGON\"") == 2; })) << Appliance();
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const std::string appliance = Appliance();
  const size_t beats = Occurrences(appliance.substr(appliance.rfind("\"command\":\"LGON\"")), "\"command\":\"BEAT\"");
  EXPECT_GE(beats, 2u);
  EXPECT_LE(beats, 5u);
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  EXPECT_EQ(NetnsSandbox::Wait(pid, 20), 1);
}

}  // namespace
