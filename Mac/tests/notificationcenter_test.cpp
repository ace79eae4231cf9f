#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/Basetypes.h"
#include "platform/CFRunLoop.h"
#include "LoggingEnvironment.h"
#include "platform/NSWorkspace.h"
#include "TestSupport.h"

namespace {

const testing::Environment* const kLogging = testing::AddGlobalTestEnvironment(new LoggingEnvironment);

const char* const kAllNames[] = {NSWorkspaceWillSleepNotification, NSWorkspaceDidWakeNotification,
                                 NSWorkspaceSessionDidBecomeActiveNotification,
                                 NSWorkspaceSessionDidResignActiveNotification};

// Records what reached one observer as "<observer>:<name>".
struct Recorder {
  std::vector<std::string>* log;
  std::string tag;
  void Observe(NSNotificationCenter& center, const char* name) {
    center.addObserver(this, [this](const NSNotification& n) { log->push_back(tag + ":" + n.name); }, name);
  }
};

TEST(NSNotificationCenter, DeliversToTheObserversOfEachNameInOrder) {
  NSNotificationCenter center;
  std::vector<std::string> log;
  Recorder a{&log, "a"}, b{&log, "b"};
  a.Observe(center, NSWorkspaceWillSleepNotification);
  b.Observe(center, NSWorkspaceWillSleepNotification);
  b.Observe(center, NSWorkspaceDidWakeNotification);
  for (const char* name : kAllNames) center.postNotificationName(name);
  EXPECT_EQ(log, (std::vector<std::string>{"a:NSWorkspaceWillSleepNotification", "b:NSWorkspaceWillSleepNotification",
                                           "b:NSWorkspaceDidWakeNotification"}));

  log.clear();
  center.removeObserver(&b, NSWorkspaceWillSleepNotification);
  center.postNotificationName(NSWorkspaceWillSleepNotification);
  center.postNotificationName(NSWorkspaceDidWakeNotification);
  EXPECT_EQ(log, (std::vector<std::string>{"a:NSWorkspaceWillSleepNotification", "b:NSWorkspaceDidWakeNotification"}));

  log.clear();
  center.removeObserver(&a);
  center.removeObserver(&b);
  for (const char* name : kAllNames) center.postNotificationName(name);
  EXPECT_TRUE(log.empty());
}

TEST(NSNotificationCenter, RemovalDuringDeliveryIsSafe) {
  NSNotificationCenter center;
  std::vector<std::string> log;
  int first = 0, second = 0, third = 0;
  center.addObserver(&first, [&](const NSNotification&) {
    log.push_back("first");
    center.removeObserver(&first);   // itself
    center.removeObserver(&second);  // one not yet called
  }, NSWorkspaceWillSleepNotification);
  center.addObserver(&second, [&](const NSNotification&) { log.push_back("second"); },
                     NSWorkspaceWillSleepNotification);
  center.addObserver(&third, [&](const NSNotification&) { log.push_back("third"); }, NSWorkspaceWillSleepNotification);
  center.postNotificationName(NSWorkspaceWillSleepNotification);
  center.postNotificationName(NSWorkspaceWillSleepNotification);
  EXPECT_EQ(log, (std::vector<std::string>{"first", "third", "third"}));
}

TEST(NSNotificationCenter, TellsWhenItGainsAndLosesObservers) {
  std::vector<bool> told;
  NSNotificationCenter center([&](bool observed) { told.push_back(observed); });
  int a = 0, b = 0;
  center.addObserver(&a, [](const NSNotification&) {}, "x");
  center.addObserver(&b, [](const NSNotification&) {}, "y");
  center.removeObserver(&a);
  center.removeObserver(&a);
  center.removeObserver(&b, "y");
  EXPECT_EQ(told, (std::vector<bool>{true, false}));
}

// The workspace's centre through its FIFO, on this thread's run loop.
class WorkspaceChannelTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UserOptionsDir<1>().Create());
    path = NSWorkspace::NotifyPath();
  }
  void TearDown() override { Center().removeObserver(this); }

  static NSNotificationCenter& Center() { return NSWorkspace::sharedWorkspace().notificationCenter(); }

  void ObserveAll() {
    for (const char* name : kAllNames)
      Center().addObserver(this, [this](const NSNotification& n) { received.push_back(n.name); }, name);
  }

  // Writes through a writer of its own, which it then closes.
  void Send(const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }

  // Runs the loop until count notifications arrived or ten seconds passed.
  void RunUntil(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (received.size() < count && std::chrono::steady_clock::now() < deadline)
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, true);
  }

  std::string path;
  std::vector<std::string> received;
};

TEST_F(WorkspaceChannelTest, NamesWrittenToTheFifoArriveOnTheRunLoop) {
  ObserveAll();
  struct stat status {};
  ASSERT_EQ(lstat(path.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(status.st_uid, geteuid());

  StderrCapture err;
  Send("NSWorkspaceWillSleep");
  Send("Notification\nbogus\n\n" + std::string(300, 'x') + "\r\nNSWorkspaceDidWakeNotification\r\n");
  RunUntil(2);
  Send("NSWorkspaceSessionDidResignActiveNotification\nNSWorkspaceSessionDidBecomeActiveNotification\n");
  RunUntil(4);
  EXPECT_EQ(received, (std::vector<std::string>{"NSWorkspaceWillSleepNotification", "NSWorkspaceDidWakeNotification",
                                                "NSWorkspaceSessionDidResignActiveNotification",
                                                "NSWorkspaceSessionDidBecomeActiveNotification"}));
  const std::string text = err.Text();
  EXPECT_NE(text.find("Unknown notification 'bogus' on " + path + " ignored"), std::string::npos) << text;
  EXPECT_NE(text.find("Unknown notification '" + std::string(255, 'x') + "' on"), std::string::npos) << text;
}

TEST_F(WorkspaceChannelTest, TheLastObserverGoneClosesTheChannel) {
  ObserveAll();
  Center().removeObserver(this);
  errno = 0;
  EXPECT_LT(open(path.c_str(), O_WRONLY | O_NONBLOCK), 0);
  EXPECT_EQ(errno, ENXIO);  // a FIFO without a reader
  EXPECT_TRUE(std::filesystem::is_fifo(path));

  // Observing again opens it again.
  ObserveAll();
  Send("NSWorkspaceDidWakeNotification\n");
  RunUntil(1);
  EXPECT_EQ(received, (std::vector<std::string>{"NSWorkspaceDidWakeNotification"}));
}

TEST_F(WorkspaceChannelTest, AnEndingHandlerStopsTheRestOfItsInput) {
  Center().addObserver(this, [this](const NSNotification& n) {
    received.push_back(n.name);
    Center().removeObserver(this);
  }, NSWorkspaceWillSleepNotification);
  Send("NSWorkspaceWillSleepNotification\nNSWorkspaceWillSleepNotification\n");
  RunUntil(1);
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.05, false);
  EXPECT_EQ(received.size(), 1u);
}

TEST_F(WorkspaceChannelTest, WhateverHeldThePathIsReplacedWithoutFollowingLinks) {
  TempDir elsewhere;
  const std::string target = elsewhere / "target";
  std::ofstream(target) << "keep";
  for (bool link : {false, true}) {
    std::filesystem::remove(path);
    if (link)
      std::filesystem::create_symlink(target, path);
    else
      std::ofstream(path) << "a file";
    ObserveAll();
    EXPECT_TRUE(std::filesystem::is_fifo(std::filesystem::symlink_status(path))) << link;
    Center().removeObserver(this);
  }
  EXPECT_EQ(ReadWholeFile(target), "keep");
  EXPECT_FALSE(std::filesystem::is_fifo(target));
}

TEST(NSLog, OneStampedLineOnStandardError) {
  StderrCapture err;
  NSLog("receiveSleepWakeNote: %s", NSWorkspaceDidWakeNotification);
  const std::vector<std::string> lines = SplitLines(err.Text());
  ASSERT_EQ(lines.size(), 1u);
  const std::string prefix = std::string(" ") + program_invocation_short_name + "[" + std::to_string(getpid()) + ":";
  EXPECT_NE(lines[0].find(prefix), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("] receiveSleepWakeNote: NSWorkspaceDidWakeNotification"), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0][4], '-');  // begins with the date
}

}  // namespace
