#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Basetypes.h"
#include "support/File_aid.h"
#include "TestSupport.h"
#include "support/XCFString.h"

namespace {

std::string Bytes(const HeapBuff<char>& b) { return std::string(b.data(), b.size()); }

TEST(HeapBuff, GrowsByTheRequestPlusItsSizeAndNeverShrinks) {
  HeapBuff<char> b(10, "0123456789");
  b.Alloc(8);
  EXPECT_EQ(Bytes(b), "0123456789");
  b.Alloc(16);
  ASSERT_EQ(b.size(), 26u);
  EXPECT_EQ(std::string(b.data(), 10), "0123456789");

  HeapBuff<unsigned char> empty(0, nullptr);
  EXPECT_EQ(empty.data(), nullptr);
  EXPECT_EQ(empty.size(), 0u);

  HeapBuff<char> copy;
  copy = b;
  EXPECT_EQ(copy.size(), 26u);
  EXPECT_NE(copy.data(), b.data());
  copy = copy;
  EXPECT_EQ(std::string(copy.data(), 10), "0123456789");
  // A request the size cannot count refuses and keeps the block.
  EXPECT_EQ(b.Alloc(UINT32_MAX), nullptr);
  EXPECT_EQ(b.size(), 26u);
}

TEST(HeapBuff, JoinKeepsTheOrder) {
  std::vector<HeapBuff<char>> parts;
  parts.emplace_back(3, "abc");
  parts.emplace_back(0, nullptr);
  parts.emplace_back(5, "defgh");
  EXPECT_EQ(Bytes(HeapBuffJoin(parts.begin(), parts.end())), "abcdefgh");
  EXPECT_EQ(HeapBuffJoin(parts.begin(), parts.begin() + 1).size(), 3u);
  EXPECT_EQ(HeapBuffJoin(parts.begin(), parts.begin()).size(), 0u);
}

TEST(XCFString, CreationAndCopies) {
  XCFString s;
  EXPECT_TRUE(s.IsNull());
  EXPECT_STREQ(s.c_str(), "");

  // A missing or empty format gives the empty string, never null.
  s.CreateFormat(nullptr);
  EXPECT_FALSE(s.IsNull());
  EXPECT_STREQ(s.c_str(), "");
  s.CreateFormat("%s-%d", "user", 501);
  EXPECT_STREQ(s.c_str(), "user-501");
  const std::string longText(9000, 'x');
  s.CreateFormat("%s", longText.c_str());
  EXPECT_EQ(s.length(), 8191u);

  const char* text = "folder/name";
  s.Create(text, text + 6);
  EXPECT_STREQ(s.c_str(), "folder");
  EXPECT_STREQ(text, "folder/name");
  s.Create(text, text + 11);
  EXPECT_STREQ(s.c_str(), "folder/name");

  XCFString copy(s);
  EXPECT_NE(copy.get(), s.get());
  EXPECT_STREQ(copy.c_str(), "folder/name");
  XCFString::Copy(copy, copy);
  EXPECT_STREQ(copy.c_str(), "folder/name");
  XCFString::Copy(copy, XCFString::NullString);
  EXPECT_TRUE(copy.IsNull());

  const XCFString joined = XCFString::NullString + XCFString("abc");
  EXPECT_STREQ(joined.c_str(), "abc");
  EXPECT_STREQ((XCFString("ab") + XCFString("cd")).c_str(), "abcd");
}

TEST(Stristr, CaseFreeSearch) {
  struct Case {
    const char* text;
    const char* pattern;
    int position;  // -1: null
  } cases[] = {
      {"Hello World", "WORLD", 6}, {"aXbxc", "XC", 3},     {"abc", "abcd", -1}, {"abc", "", -1},
      {"", "a", -1},               {nullptr, "a", -1},     {"abc", nullptr, -1}, {"[RA][ra]", "[rA]", 0},
  };
  for (const Case& c : cases) {
    const char* found = stristr(c.text, c.pattern);
    if (c.position < 0)
      EXPECT_EQ(found, nullptr) << (c.text ? c.text : "(null)");
    else
      EXPECT_EQ(found, c.text + c.position) << c.text;
  }
}

struct Counted {
  explicit Counted(int* alive) : alive(alive) { ++*alive; }
  ~Counted() { --*alive; }
  int* alive;
};

TEST(RefPtr, LastReferenceDestroysTheObject) {
  int alive = 0;
  {
    RefPtr<Counted> a(new Counted(&alive));
    RefPtr<Counted> b(a);
    RefPtr<Counted> c;
    c = b;
    c = c;
    a.decr();
    EXPECT_FALSE(a);
    b.decr();
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(c->alive, &alive);
  }
  EXPECT_EQ(alive, 0);
}

void CountFire(WCFRunLoopTimer* timer, void* data) {
  ++*static_cast<int*>(data);
  if (timer->FireCount() == 2) throw 42;  // dropped by the timer
}

TEST(WCFRunLoopTimer, RepeatsStopsAndRestarts) {
  VirtualClock clock;
  int fires = 0;
  WCFRunLoopTimer timer(5.0, &CountFire, &fires);
  timer.AddToRunLoop();
  timer.AddToRunLoop();
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 16, false);
  EXPECT_EQ(fires, 3);
  EXPECT_EQ(timer.FireCount(), 3);
  timer.Stop();
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 20, false);
  EXPECT_EQ(fires, 3);
  timer.SetNextFireTime(2);
  timer.AddToRunLoop();
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 3, false);
  EXPECT_EQ(fires, 4);
}

TEST(WCFRunLoopTimer, IntervalZeroFiresOnce) {
  VirtualClock clock;
  int fires = 0;
  WCFRunLoopTimer timer(0.0, &CountFire, &fires);
  timer.AddToRunLoop();
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 100, false), kCFRunLoopRunFinished);
  EXPECT_EQ(fires, 1);
}

TEST(WCFRunLoopTimer, DestroyedTimerLeavesTheLoop) {
  VirtualClock clock;
  int fires = 0;
  {
    WCFRunLoopTimer timer(1.0, &CountFire, &fires);
    timer.AddToRunLoop();
  }
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 5, false), kCFRunLoopRunFinished);
  EXPECT_EQ(fires, 0);
}

// Files -------------------------------------------------------------------------------------

TEST(File_aid, TextFilesReadWholeAndWriteAppending) {
  TempDir dir;
  const std::string path = dir / "Idagent.cfg";
  int32_t error = 0;
  XCFString text = File_aid::ReadTextFile(path.c_str(), &error);
  EXPECT_STREQ(text.c_str(), "");
  EXPECT_FALSE(text.IsNull());
  EXPECT_EQ(error, -2);

  EXPECT_TRUE(File_aid::WriteTextFile(path.c_str(), "RA[10.0.0.1]", nullptr));
  EXPECT_TRUE(File_aid::WriteTextFile(path.c_str(), " RP[139]", nullptr));
  error = 0;
  EXPECT_STREQ(File_aid::ReadTextFile(path.c_str(), &error).c_str(), "RA[10.0.0.1] RP[139]");
  EXPECT_EQ(error, 0);

  EXPECT_FALSE(File_aid::WriteTextFile("", "x", &error));
  EXPECT_FALSE(File_aid::WriteTextFile((dir / "missing/x").c_str(), "x", &error));
  EXPECT_EQ(error, -2);
  EXPECT_STREQ(File_aid::ReadTextFile(nullptr, nullptr).c_str(), "");
}

TEST(File_aid, AWriteThatFailsIsReported) {
  // The full device opens, and every write to it fails once the buffer is flushed.
  int32_t error = 0;
  EXPECT_FALSE(File_aid::WriteTextFile("/dev/full", "RA[10.0.0.1]", &error));
  EXPECT_EQ(error, -2);
  File_aid::AnsiTextFile file("/dev/full", File_aid::kAppend);
  ASSERT_TRUE(file.IsOpen());
  file.Printf("%s", std::string(5000, 'y').c_str());
  EXPECT_FALSE(file.Close());
  EXPECT_TRUE(file.Close());  // nothing open any more
}

TEST(File_aid, SizesAreSixtyFourBitAndBigFilesAreNotRead) {
  TempDir dir;
  const std::string path = dir / "big";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  const off_t fiveGiB = off_t{5} << 30;
  ASSERT_EQ(ftruncate(fd, fiveGiB), 0);  // sparse: no disk used
  File_aid::File<char> file(path.c_str(), File_aid::kRead);
  EXPECT_EQ(file.GetSize(), fiveGiB);
  EXPECT_EQ(file.Read(), -1);
  EXPECT_FALSE(file.IsOpen());

  ASSERT_EQ(ftruncate(fd, File_aid::kMaxReadSize + 1), 0);
  close(fd);
  int32_t error = 0;
  EXPECT_STREQ(File_aid::ReadTextFile(path.c_str(), &error).c_str(), "");
  EXPECT_EQ(error, -2);

  // Up to the cap a file reads whole, with a terminator after the bytes read.
  const std::string small = dir / "small";
  ASSERT_TRUE(File_aid::WriteTextFile(small.c_str(), "abc", nullptr));
  File_aid::File<unsigned char> bytes(small.c_str(), File_aid::kRead);
  EXPECT_EQ(bytes.Read(), 3);
  EXPECT_EQ(bytes.Contents().data()[3], 0);
  EXPECT_EQ(bytes.Read(), 0);  // closed after reading
}

TEST(File_aid, FindFileInPathList) {
  TempDir a, b;
  ASSERT_TRUE(File_aid::WriteTextFile((b / "Idagent.cfg").c_str(), "", nullptr));
  const std::string fa = a.path() + "/", fb = b.path() + "/";
  const char* folders[] = {fa.c_str(), fb.c_str()};
  int32_t index = 7;
  EXPECT_EQ(File_aid::FindFileInPathList("Idagent.cfg", folders, 2, &index).c_str(), fb);
  EXPECT_EQ(index, 1);
  // No hit: the empty string, so the caller's path is the bare name.
  const XCFString none = File_aid::FindFileInPathList("Other.cfg", folders, 2, &index);
  EXPECT_STREQ(none.c_str(), "");
  EXPECT_FALSE(none.IsNull());
  EXPECT_EQ(index, -1);
  EXPECT_STREQ(File_aid::FindFileInPathList("", folders, 2, nullptr).c_str(), "");
}

// Only regular files are read: a FIFO would block the open for ever, a device never end.
TEST(File_aid, WhatIsNoRegularFileIsSkipped) {
  TempDir a, b;
  ASSERT_EQ(mkfifo((a / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(a / "folder");
  ASSERT_TRUE(File_aid::WriteTextFile((b / "fifo").c_str(), "RA[b]", nullptr));
  ASSERT_TRUE(File_aid::WriteTextFile((b / "folder").c_str(), "RA[b]", nullptr));
  std::filesystem::create_symlink(a / "fifo", b / "link");
  const std::string fa = a.path() + "/", fb = b.path() + "/";
  const char* folders[] = {fa.c_str(), fb.c_str()};
  const struct {
    std::string path;  // read on its own
    const char* name;  // searched for in both folders: the first one's is no regular file
  } cases[] = {{a / "fifo", "fifo"}, {a / "folder", "folder"}, {b / "link", nullptr}, {"/dev/zero", nullptr}};
  for (const auto& c : cases) {
    LogLines log;
    int32_t error = 0;
    EXPECT_STREQ(File_aid::ReadTextFile(c.path.c_str(), &error).c_str(), "") << c.path;
    EXPECT_EQ(error, -2) << c.path;
    if (c.name) {
      int32_t index = -1;
      EXPECT_EQ(File_aid::FindFileInPathList(c.name, folders, 2, &index).c_str(), fb) << c.path;
      EXPECT_EQ(index, 1) << c.path;
    }
    EXPECT_EQ(log.Matching("'" + c.path + "' is not a regular file; skipped").size(), c.name ? 2u : 1u)
        << log.StderrText();
  }
}

// Appending never blocks either: a FIFO in a written file's place, read or not, is refused.
TEST(File_aid, AppendingToAFifoFailsAtOnce) {
  TempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int32_t error = 0;
  EXPECT_FALSE(File_aid::WriteTextFile(fifo.c_str(), "RA[x]", &error));
  EXPECT_EQ(error, -2);
  FdHolder reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  ASSERT_GE(reader.get(), 0);
  EXPECT_FALSE(File_aid::AnsiTextFile(fifo.c_str(), File_aid::kAppend).IsOpen());
  char byte = 0;
  EXPECT_LE(read(reader.get(), &byte, 1), 0);  // nothing was written into it
  EXPECT_FALSE(File_aid::WriteTextFile(dir.path().c_str(), "RA[x]", nullptr));
}

TEST(File_aid, PrintfCutsAtTheBufferAndWritesNoTerminator) {
  TempDir dir;
  const std::string path = dir / "out.txt";
  {
    File_aid::AnsiTextFile file(path.c_str(), File_aid::kAppend);
    EXPECT_EQ(file.Printf("%s=%d\n", "RH", 60000), 9);
    EXPECT_EQ(file.Printf("%s", std::string(5000, 'y').c_str()), 4094);
  }
  const std::string text = ReadWholeFile(path);
  EXPECT_EQ(text.size(), 9u + 4094u);
  EXPECT_EQ(text.substr(0, 9), "RH=60000\n");
  File_aid::AnsiTextFile closed;
  EXPECT_EQ(closed.Printf("abc"), 3);
}

TEST(WCFSocket, ReleasingOrReplacingInvalidatesTheSocketHeld) {
  for (const bool replace : {false, true}) {
    WCFSocket held(CFSocketCreate(kCFAllocatorDefault, AF_INET, SOCK_STREAM, IPPROTO_TCP, 0, nullptr, nullptr));
    ASSERT_NE(held.get(), nullptr);
    const CFSocketRef first = held.get();
    CFRetain(first);  // kept to look at after the holder let go
    if (replace)
      held.reset(CFSocketCreate(kCFAllocatorDefault, AF_INET, SOCK_STREAM, IPPROTO_TCP, 0, nullptr, nullptr));
    else
      held.release();
    EXPECT_FALSE(CFSocketIsValid(first)) << (replace ? "reset" : "release");
    EXPECT_EQ(held.get() != nullptr, replace);
    if (held.get()) {
      EXPECT_TRUE(CFSocketIsValid(held.get()));
    }
    CFRelease(first);
  }
}

// Options folder and lock -------------------------------------------------------------------

// The folder is fixed once per process, so each case runs in a child.
TEST(UserOptionsDirDeathTest, FolderFromHome) {
  EXPECT_EXIT(
      {
        unsetenv("HOME");
        UserOptionsDir<1> dir;
        _exit(dir.Dir() == "/.QelIdentra" ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  // A long home is never cut: a cut path would be another folder.
  TempDir temp;
  const std::string home = temp.path() + "/" + std::string(200, 'h') + "/" + std::string(200, 'i') + "/" +
                           std::string(200, 'j');
  std::filesystem::create_directories(home);
  EXPECT_EXIT(
      {
        setenv("HOME", home.c_str(), 1);
        umask(077);
        UserOptionsDir<1> dir;
        setenv("HOME", "/elsewhere", 1);
        UserOptionsDir<1> again;
        struct stat st {};
        const bool ok = again.Dir() == home + "/.QelIdentra" && UserOptionsDir<1>::Create() &&
                        UserOptionsDir<1>::Create() && stat(dir.Dir().c_str(), &st) == 0 &&
                        (st.st_mode & 0777) == 0744 && umask(0) == 077;
        _exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(FileMutex, SecondDescriptorAndChildProcessSeeItHeld) {
  TempDir dir;
  const std::string path = dir / "applock";
  ASSERT_TRUE(File_aid::WriteTextFile(path.c_str(), "OwnerPid=99999999\n--released--\nold tail\n", nullptr));
  {
    FileMutex lock(path.c_str());
    ASSERT_TRUE(lock.IsLocked());
    EXPECT_EQ(lock.LockError(), 0);
    const std::string pidLine = "OwnerPid=" + std::to_string(getpid()) + "\n";
    EXPECT_EQ(ReadWholeFile(path).substr(0, pidLine.size()), pidLine);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    FileMutex second(path.c_str());
    EXPECT_FALSE(second.IsLocked());
    EXPECT_EQ(second.LockError(), EWOULDBLOCK);

    const pid_t child = fork();
    if (child == 0) {
      FileMutex inChild(path.c_str());
      _exit(inChild.IsLocked() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // Released: the pid line, then the release mark, then whatever longer content was there.
  const std::string text = ReadWholeFile(path);
  const std::string expected = "OwnerPid=" + std::to_string(getpid()) + "\n--released--\n";
  EXPECT_EQ(text.substr(0, expected.size()), expected);
  FileMutex again(path.c_str());
  EXPECT_TRUE(again.IsLocked());

  FileMutex nowhere((dir / "missing/applock").c_str());
  EXPECT_FALSE(nowhere.IsLocked());
  EXPECT_EQ(nowhere.LockError(), ENOENT);
}

// A pid line that cannot be written (as on a full disk) is reported; the lock holds anyway.
TEST(FileMutex, AFailedPidLineIsReportedAndTheLockHolds) {
  TempDir dir;
  const std::string path = dir / "applock";
  EXPECT_EXIT(
      {
        signal(SIGXFSZ, SIG_IGN);
        rlimit none{};
        setrlimit(RLIMIT_FSIZE, &none);
        FileMutex lock(path.c_str());
        FileMutex second(path.c_str());
        _exit(lock.IsLocked() && lock.WriteError() == EFBIG && !second.IsLocked() ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
  FileMutex lock(path.c_str());
  ASSERT_TRUE(lock.IsLocked());
  EXPECT_EQ(lock.WriteError(), 0);
}

}  // namespace
