#include "app/NetMutex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestSupport.h"

namespace {

std::string Utf16(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

std::wstring Format(const wchar_t* format, ...) {
  wchar_t buffer[2048];
  va_list args;
  va_start(args, format);
  _vsnwprintf(buffer, 2048, format, args);
  va_end(args);
  buffer[2047] = L'\0';
  return buffer;
}

std::wstring HolderExe() {
  std::wstring path = Widen(MUTEXHOLDER_EXE);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

class NetMutexTest : public ::testing::Test {
 protected:
  std::vector<std::wstring> Lines() { return traces_.Lines(); }

  ScratchDir dir_;
  TraceLines traces_{"netmutex-log"};
};

TEST_F(NetMutexTest, LockWritesTheFiveLinesAndAStaleMarkerIsReplaced) {
  const std::wstring marker = dir_ / L"appmtx";
  ASSERT_TRUE(WriteFileBytes(marker, Utf16(L"Machine=OLD\r\nPath=C:\\gone.exe\r\n")));

  NetMutex mine;
  mine.ownWindow = 0x1A2B;
  ASSERT_TRUE(mine.Lock(marker.c_str()));  // nobody holds the old file open
  EXPECT_TRUE(mine.Lock());                // already held

  wchar_t machine[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(machine, &length);
  const std::wstring expected =
      Format(L"Machine=%s\r\nPath=%s\r\nProcessID=0x%x\r\nThreadID=0x%x\r\nMsgHWND=0x1A2B\r\n",
             machine, ProgramPath().c_str(), GetCurrentProcessId(), GetCurrentThreadId());
  EXPECT_EQ(ReadFileBytes(marker), Utf16(expected));  // UTF-16LE, no byte-order mark

  // A second taker is refused and learns who holds it.
  NetMutex other;
  EXPECT_FALSE(other.Lock(marker.c_str()));
  EXPECT_TRUE(other.holderRead);
  EXPECT_STREQ(other.holderMachine, machine);
  EXPECT_EQ(std::wstring(other.holderPath), ProgramPath());
  EXPECT_EQ(other.processId, GetCurrentProcessId());
  EXPECT_EQ(other.threadId, GetCurrentThreadId());
  EXPECT_EQ(other.holderWindow, 0x1A2Bu);

  // Released, the file stays and the next taker replaces it.
  mine.Release();
  EXPECT_FALSE(ReadFileBytes(marker).empty());
  other.ownWindow = 0x77;
  EXPECT_TRUE(other.Lock());
  EXPECT_NE(ReadFileBytes(marker).find(Utf16(L"MsgHWND=0x77\r\n")), std::string::npos);
}

TEST_F(NetMutexTest, ReadHolderAcceptsOnlyBoundedWellFormedMarkers) {
  const std::wstring good =
      L"Machine=HOST1\r\nPath=C:\\Identra\\idagent.exe\r\nProcessID=0x1f4\r\nThreadID=0x2C\r\n"
      L"MsgHWND=0x10A2E\r\n";
  struct Case {
    const char* what;
    std::string bytes;
    bool read;
    const wchar_t* machine;
    const wchar_t* path;
    uint32_t pid, tid, window;
  };
  const std::wstring longPath = L"C:\\" + std::wstring(300, L'p') + L".exe";
  std::wstring padded = good;
  while (padded.size() * 2 <= 4096) padded += L"                                        \r\n";
  const Case cases[] = {
      {"the five lines", Utf16(good), true, L"HOST1", L"C:\\Identra\\idagent.exe", 0x1f4, 0x2c,
       0x10a2e},
      {"trailing blanks and no final line end",
       Utf16(L"Machine=H \t\r\nPath=C:\\a.exe  \r\n"
             L"ProcessID=0x10\r\nThreadID=0x11\r\nMsgHWND=0x12"),
       true, L"H", L"C:\\a.exe", 0x10, 0x11, 0x12},
      {"four of five",
       Utf16(L"Path=C:\\a.exe\r\nProcessID=0x10\r\nThreadID=0x11\r\nMsgHWND=0x12\r\n"), true, L"",
       L"C:\\a.exe", 0x10, 0x11, 0x12},
      {"three of five", Utf16(L"Path=C:\\a.exe\r\nProcessID=0x10\r\nMsgHWND=0x12\r\n"), false, L"",
       L"", 0, 0, 0},
      {"a machine name too long for its field counts as missing",
       Utf16(L"Machine=ABCDEFGHIJKLMNOP\r\nPath=C:\\a.exe\r\nProcessID=0x10\r\nThreadID=0x11\r\n"
             L"MsgHWND=0x12\r\n"),
       true, L"", L"C:\\a.exe", 0x10, 0x11, 0x12},
      {"a path too long and a bad number",
       Utf16(L"Machine=H\r\nPath=" + longPath +
             L"\r\nProcessID=0x10\r\nThreadID=0xZZ\r\nMsgHWND=0x12\r\n"),
       false, L"", L"", 0, 0, 0},
      {"numbers over 32 bits or without 0x",
       Utf16(L"Machine=H\r\nPath=C:\\a.exe\r\nProcessID=0x123456789\r\n"
             L"ThreadID=11\r\nMsgHWND=0x12\r\n"),
       false, L"", L"", 0, 0, 0},
      {"a name inside another value is not its line",
       Utf16(L"Machine=H\r\nPath=C:\\ProcessID=0x99\\a.exe\r\nProcessID=0x10\r\nThreadID=0x11\r\n"
             L"MsgHWND=0x12\r\n"),
       true, L"H", L"C:\\ProcessID=0x99\\a.exe", 0x10, 0x11, 0x12},
      {"more than a marker's size", Utf16(padded), false, L"", L"", 0, 0, 0},
      {"empty", "", false, L"", L"", 0, 0, 0},
      {"an odd final byte is ignored", Utf16(good) + "x", true, L"HOST1",
       L"C:\\Identra\\idagent.exe", 0x1f4, 0x2c, 0x10a2e},
  };
  const std::wstring marker = dir_ / L"appmtx";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(WriteFileBytes(marker, c.bytes));
    NetMutex reader;
    wcscpy(reader.markerPath, marker.c_str());
    // Fields of an earlier read must not survive a failed one.
    ASSERT_TRUE(WriteFileBytes(marker, Utf16(good)));
    ASSERT_TRUE(reader.ReadHolder());
    ASSERT_TRUE(WriteFileBytes(marker, c.bytes));

    EXPECT_EQ(reader.ReadHolder(), c.read);
    EXPECT_EQ(reader.holderRead, c.read);
    EXPECT_STREQ(reader.holderMachine, c.machine);
    EXPECT_STREQ(reader.holderPath, c.path);
    EXPECT_EQ(reader.processId, c.pid);
    EXPECT_EQ(reader.threadId, c.tid);
    EXPECT_EQ(reader.holderWindow, c.window);
  }
  NetMutex reader;
  wcscpy(reader.markerPath, (dir_ / L"missing").c_str());
  EXPECT_FALSE(reader.ReadHolder());
}

// A second process holding the marker, started as the agent would find it running.
class Holder {
 public:
  Holder(const std::wstring& marker, const std::wstring& options) {
    static int count = 0;
    const std::wstring tag =
        std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(count++);
    const std::wstring readyName = L"mutexholder-ready-" + tag;
    const std::wstring quitName = L"mutexholder-quit-" + tag;
    ready_.Reset(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    quit_.Reset(CreateEventW(nullptr, TRUE, FALSE, quitName.c_str()));
    std::wstring command = L"\"" + HolderExe() + L"\" \"marker=" + marker + L"\" ready=" +
                           readyName + L" quit=" + quitName + L" " + options;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
      CloseHandle(info.hThread);
      process_.Reset(info.hProcess);
      processId_ = info.dwProcessId;
    }
  }
  ~Holder() {
    if (Running()) {
      SetEvent(quit_.Get());
      if (WaitForSingleObject(process_.Get(), 5000) != WAIT_OBJECT_0)
        TerminateProcess(process_.Get(), 9);
    }
  }

  bool WaitReady() {
    HANDLE both[2] = {ready_.Get(), process_.Get()};
    return process_.Valid() && WaitForMultipleObjects(2, both, FALSE, 20000) == WAIT_OBJECT_0;
  }
  bool Running() {
    return process_.Valid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
  }
  // Asks a holder that is still running to end; the exit code, or -1 when it did not end.
  int Finish() {
    SetEvent(quit_.Get());
    if (WaitForSingleObject(process_.Get(), 10000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    return static_cast<int>(code);
  }
  DWORD Id() const { return processId_; }

 private:
  HandleHolder ready_, quit_, process_;
  DWORD processId_ = 0;
};

TEST_F(NetMutexTest, TakesOverOnlyFromTheHolderTheMarkerDescribes) {
  const std::wstring holder = HolderExe();
  const std::wstring self = std::to_wstring(GetCurrentProcessId());
  // An unrelated program whose process id a stale marker may name.
  Holder bystander(dir_ / L"unrelated", L"mode=stale class=none path=C:\\other.exe");
  ASSERT_TRUE(bystander.WaitReady());
  const std::wstring other = std::to_wstring(bystander.Id());
  struct Case {
    const char* what;
    std::wstring options;
    bool takenOver;
    bool holderEnds;  // on its own answer or by termination
    int exitCode;     // 0 quit normally or never asked, 1 terminated, 2 asked and ignored
  };
  const Case cases[] = {
      {"answers the quit request", L"mode=answer", true, true, 0},
      {"ignores it and can be opened: terminated", L"mode=ignore", true, true, 1},
      {"ignores it with an empty process access list: cannot be ended", L"mode=ignore emptydacl",
       false, false, 2},
      {"marker names an unrelated process beside a real main window",
       L"mode=stale pid=" + other + L" \"path=" + holder + L"\"", false, false, 0},
      {"marker names this very process",
       L"mode=stale class=none pid=" + self + L" \"path=" + ProgramPath() + L"\"", false, false, 0},
      {"window of another class", L"mode=stale class=OtherClass \"path=" + holder + L"\"", false,
       false, 0},
      {"no window, an unrelated process under another program's path",
       L"mode=stale class=none pid=" + other + L" \"path=C:\\Identra\\idagent.exe\"", false, false,
       0},
      {"no window, the holder's own path: terminated",
       L"mode=stale class=none \"path=" + holder + L"\"", true, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring marker = dir_ / L"appmtx";
    Holder running(marker, c.options);
    ASSERT_TRUE(running.WaitReady());
    traces_.Clear();

    SingleInstanceLock lock;
    const bool acquired = AcquireSingleInstance(lock, nullptr, marker.c_str());
    EXPECT_EQ(acquired, c.takenOver);
    EXPECT_EQ(lock.held, c.takenOver);
    EXPECT_EQ(lock.mutex.Held(), c.takenOver);

    const std::vector<std::wstring> lines = Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), L"Main: Single-app mutex is locked by " +
                                 std::wstring(lock.mutex.holderPath) +
                                 L".  We will try to shut them down");
    if (c.takenOver) {
      EXPECT_EQ(lines.back(), L"Main: Single-app mutex was stolen successfully.");
      // The marker now names this instance.
      NetMutex reader;
      wcscpy(reader.markerPath, marker.c_str());
      ASSERT_TRUE(reader.ReadHolder());
      EXPECT_EQ(reader.processId, GetCurrentProcessId());
    }
    if (c.holderEnds) {
      for (int i = 0; i < 100 && running.Running(); ++i) Sleep(100);
      EXPECT_FALSE(running.Running());
    } else {
      EXPECT_TRUE(running.Running());
    }
    EXPECT_EQ(running.Finish(), c.exitCode);
  }
  EXPECT_TRUE(bystander.Running());
  EXPECT_EQ(bystander.Finish(), 0);
}

}  // namespace
