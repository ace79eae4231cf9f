#include "support/Logging.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

#include "config/AgentConfig.h"
#include "support/Utilities.h"
#include "TestSupport.h"

#include <knownfolders.h>

namespace {

bool g_debugger = false;
bool FakeDebugger() { return g_debugger; }

struct Captured {
  int level;
  std::wstring text;
};

// Logs into a folder of its own, with no debugger and a capture of every line.
class LoggingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_debugger = false;
    SetDebuggerQuery(&FakeDebugger);
    g_Config.LC = 0xFFFFFFFF;
    g_Config.LD = 4;
    logPath_ = dir_ / L"qelidentra.log";
    SetLogPathOverride(logPath_);
    SetTraceCapture([this](int level, const std::wstring& text) {
      std::lock_guard<std::mutex> guard(mutex_);
      captured_.push_back({level, text});
    });
  }
  void TearDown() override {
    SetTraceCapture(nullptr);
    SetLogPathOverride(L"");
    SetDebuggerQuery(nullptr);
    g_Config.LC = 0;
    g_Config.LD = 0;
  }

  std::vector<Captured> TakeCaptured() {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::exchange(captured_, {});
  }
  std::string LogBytes() const { return ReadFileBytes(logPath_); }

  ScratchDir dir_;
  std::wstring logPath_;
  std::mutex mutex_;
  std::vector<Captured> captured_;
};

// The log line's stamp: level tag, local time, process id, tab and blank.
const std::string kStamp = "L[0-4?]\t[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\t[0-9]{4,}\t ";

// The log's lines with their stamps removed and their level tags kept, each with its CRLF.
std::vector<std::string> Unstamped(const std::string& log) {
  std::vector<std::string> lines;
  const std::regex stamp("^(L.)\t[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\t[0-9]{4,}\t ");
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    end = (end == std::string::npos) ? log.size() : end + 2;
    lines.push_back(std::regex_replace(log.substr(start, end - start), stamp, "$1 ",
                                       std::regex_constants::format_first_only));
    start = end;
  }
  return lines;
}

TEST_F(LoggingTest, LineHasStampProcessIdAndCrlf) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  TracePrintf(TC_App, 2, L"wide %s, narrow %hs, %d\n", L"text", "bytes", 42);
  std::string log = LogBytes();

  std::smatch m;
  ASSERT_TRUE(std::regex_match(log, m,
                               std::regex("L2\t([0-9]{4})-([0-9]{2})-([0-9]{2}) [0-9]{2}:[0-9]{2}:[0-9]{2}\t([0-9]{4,})\t "
                                          "wide text, narrow bytes, 42\r\n")))
      << log;
  EXPECT_EQ(std::stoi(m[1]), before.wYear);
  EXPECT_EQ(std::stoi(m[2]), before.wMonth);
  EXPECT_EQ(std::stoul(m[4].str()), GetCurrentProcessId());

  auto captured = TakeCaptured();
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0].level, 2);
  EXPECT_EQ(captured[0].text, L"wide text, narrow bytes, 42\n");
}

TEST_F(LoggingTest, LineEndsAndLevelTags) {
  g_Config.LD = 9;
  struct Case {
    int level;
    const wchar_t* text;
    std::string line;
  } cases[] = {
      {0, L"no end", "L0 no end\r\n"},
      {1, L"line feed\n", "L1 line feed\r\n"},
      {3, L"already\r\n", "L3 already\r\n"},
      {4, L"", "L4 \r\n"},
      {7, L"odd level", "L? odd level\r\n"},
      {-1, L"negative", "L? negative\r\n"},
  };
  for (const Case& c : cases) LogWrite(c.level, c.text);
  std::vector<std::string> lines = Unstamped(LogBytes());
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], cases[i].line);

  // Each character is written as its low 8 bits.
  LogWrite(1, L"caf\u00e9 \u0141");
  EXPECT_EQ(Unstamped(LogBytes()).back(), "L1 caf\xe9 \x41\r\n");
}

TEST_F(LoggingTest, LongTextIsCut) {
  const std::wstring longText(3000, L'x');
  // The formatted trace keeps 2,047 characters.
  TracePrintf(TC_App, 1, L"%s", longText.c_str());
  auto captured = TakeCaptured();
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0].text, std::wstring(2047, L'x'));

  // The file line after the level tag holds at most 2,175 characters, then CRLF.
  SetLogPathOverride(dir_ / L"direct.log");
  LogWrite(1, longText.c_str());
  std::string log = ReadFileBytes(dir_ / L"direct.log");
  ASSERT_GE(log.size(), 5u);
  EXPECT_EQ(log.size(), 3 + 2175 + 2u);
  EXPECT_EQ(log.substr(log.size() - 3), "x\r\n");
  EXPECT_TRUE(std::regex_search(log, std::regex("^" + kStamp + "x")));
}

TEST_F(LoggingTest, FilterPassesExactlyWhatLcAndLdAllow) {
  struct Case {
    uint32_t LC, LD;
    bool debugger;
    uint32_t mask;
    int level;
    bool passes;
  } cases[] = {
      {0xBFFFFFFF, 4, false, TC_Check, 1, true},  // the default LC lets check records through
      {0xBFFFFFFF, 4, false, 0x40000000, 0, false},
      {0xFFFFFFFF, 0, false, TC_App, 0, true},  // LD 0: only level 0
      {0xFFFFFFFF, 0, false, TC_App, 1, false},
      {TC_Config | TC_Ident, 2, false, TC_Ident, 2, true},
      {TC_Config | TC_Ident, 2, false, TC_Ident, 3, false},
      {TC_Config | TC_Ident, 4, false, TC_Socket, 0, false},
      {TC_Config, 4, false, TC_Config | TC_Socket, 4, true},  // any shared bit
      {0xFFFFFFFF, 4, false, TC_App, 7, false},
      {0xFFFFFFFF, 7, false, TC_App, 7, true},
      {0, 0, false, TC_App, 0, false},  // before the configuration is loaded
      {0, 0, true, TC_App, 4, true},    // a debugger sees everything
      {0, 0, true, 0x40000000, 9, true},
  };
  for (const Case& c : cases) {
    g_Config.LC = c.LC;
    g_Config.LD = c.LD;
    g_debugger = c.debugger;
    SCOPED_TRACE(::testing::Message() << std::hex << "LC " << c.LC << " LD " << c.LD << " debugger " << c.debugger
                                      << " mask " << c.mask << std::dec << " level " << c.level);
    EXPECT_EQ(TraceFilter(c.level, c.mask), c.passes);
    TracePrintf(c.mask, c.level, L"printf");
    EXPECT_EQ(TakeCaptured().size(), c.passes ? 1u : 0u);
    // A stream of category TC_App obeys the same rule at its level.
    if (c.mask == TC_App) {
      TsApp(c.level) << L"stream";
      EXPECT_EQ(TakeCaptured().size(), c.passes ? 1u : 0u);
    }
  }
}

TEST_F(LoggingTest, ChannelsWriteTagPrefixAndTextUnderTheirMask) {
  struct Channel {
    std::function<void()> write;
    uint32_t mask;
    std::wstring line;
  } channels[] = {
      {[] { TsConfigInit(2) << L"key " << "RA"; }, TC_Config, L"ConfigInit: key RA"},
      {[] { TsIdentInfo() << 12; }, TC_Ident, L"IdentInfo: 12"},
      {[] { TsNovell() << L"x"; }, TC_Ident, L"NovellUserIdentHack: x"},
      {[] { TsAuthServ() << std::string("svc"); }, TC_Service, L"AuthServ: svc"},
      {[] { TsAppShutdown() << L"bye"; }, TC_Shutdown, L"AppShutdown: bye"},
      {[] { TsApp() << std::hex << 255; }, TC_App, L"App: ff"},
      {[] { TsMain(0) << L"err " << -3; }, TC_App, L"Main: err -3"},
      {[] { TsV7kClient(1, L"(3) ") << "connected"; }, TC_Client, L"V7kClient:(3) connected"},
      {[] { TsAuthFSM(4, L"(1) ") << L"EV_" << 2.5; }, TC_FSM, L"AuthFSM:(1) EV_2.5"},
  };
  for (const Channel& c : channels) {
    g_Config.LC = ~c.mask;
    c.write();
    EXPECT_TRUE(TakeCaptured().empty()) << c.line;
    g_Config.LC = c.mask;
    c.write();
    auto captured = TakeCaptured();
    ASSERT_EQ(captured.size(), 1u) << c.line;
    EXPECT_EQ(captured[0].text, c.line);
  }
  // The default level is 1; an explicit one is kept.
  g_Config.LC = 0xFFFFFFFF;
  g_Config.LD = 0;
  TsMain() << L"level one";
  TsMain(0) << L"level zero";
  auto captured = TakeCaptured();
  ASSERT_EQ(captured.size(), 1u);
  EXPECT_EQ(captured[0].text, L"Main: level zero");
  EXPECT_EQ(captured[0].level, 0);

  // 8-bit text reaches the 8-bit log file byte for byte.
  g_Config.LD = 4;
  TsMain() << "caf\xc3\xa9";
  EXPECT_EQ(Unstamped(LogBytes()).back(), "L1 Main: caf\xc3\xa9\r\n");
}

TEST_F(LoggingTest, CheckAndAssertionRecords) {
  const int checkLine = __LINE__ + 1;
  HRESULT hr = TRACE_CHECK(E_FAIL);
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(TRACE_CHECK(S_FALSE), S_FALSE);
  EXPECT_EQ(TraceCheckAt("C:\\build\\src\\ConfigInit.cpp", 349, static_cast<long>(0x80070005)),
            static_cast<long>(0x80070005));
  const int assertLine = __LINE__ + 1;
  EXPECT_FALSE(TRACE_ASSERT(1 + 1 == 3));
  EXPECT_TRUE(TRACE_ASSERT(1 + 1 == 2));
  TraceAssertAt("winagent/iprange.cpp", 253);

  auto captured = TakeCaptured();
  ASSERT_EQ(captured.size(), 5u);
  struct Expected {
    int level;
    std::wstring text;
  } expected[] = {
      {1, L"logging_test.cpp(" + std::to_wstring(checkLine) + L"): Check failed, returning 0x80004005 (-2147467259)\n"},
      {4, L"logging_test.cpp(" + std::to_wstring(checkLine + 2) + L"): Check failed, returning 0x00000001 (1)\n"},
      {1, L"ConfigInit.cpp(349): Check failed, returning 0x80070005 (-2147024891)\n"},
      {0, L"logging_test.cpp(" + std::to_wstring(assertLine) + L"): Assertion failed\n"},
      {0, L"iprange.cpp(253): Assertion failed\n"},
  };
  for (size_t i = 0; i < captured.size(); ++i) {
    EXPECT_EQ(captured[i].level, expected[i].level) << i;
    EXPECT_EQ(captured[i].text, expected[i].text) << i;
  }

  // Category 0x80000000: outside LC the records are not written, and the check still returns its code.
  g_Config.LC = 0x7FFFFFFF;
  EXPECT_EQ(TRACE_CHECK(E_FAIL), E_FAIL);
  TRACE_ASSERT(false);
  EXPECT_TRUE(TakeCaptured().empty());
}

TEST_F(LoggingTest, MarkerStartsAnOldLogAfreshOnce) {
  const std::wstring marker = logPath_ + L"_ge201";
  ASSERT_TRUE(WriteFileBytes(logPath_, "old agent's line\r\n"));
  SetLogPathOverride(logPath_);  // the next write opens it anew
  TracePrintf(TC_App, 1, L"first");
  EXPECT_NE(GetFileAttributesW(marker.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Unstamped(LogBytes()), std::vector<std::string>{"L1 first\r\n"});

  // A later run (the file opened again) with the marker in place appends.
  SetLogPathOverride(logPath_);
  TracePrintf(TC_App, 1, L"second");
  EXPECT_EQ(Unstamped(LogBytes()), (std::vector<std::string>{"L1 first\r\n", "L1 second\r\n"}));
}

TEST_F(LoggingTest, CreatesTheFoldersAndRetriesAFailedOpen) {
  // A path whose folder is a file cannot be opened: the line still reaches the debugger side.
  ASSERT_TRUE(WriteFileBytes(dir_ / L"blocker", "x"));
  const std::wstring blocked = dir_ / L"blocker\\Log\\qelidentra.log";
  SetLogPathOverride(blocked);
  const DWORD before = 1234;
  SetLastError(before);
  TracePrintf(TC_App, 1, L"lost");
  EXPECT_EQ(GetLastError(), before);  // tracing leaves the caller's error alone
  EXPECT_EQ(TakeCaptured().size(), 1u);

  // Once the folder can be made, the next write opens the file.
  DeleteFileW((dir_ / L"blocker").c_str());
  TracePrintf(TC_App, 1, L"found");
  EXPECT_EQ(Unstamped(ReadFileBytes(blocked)), std::vector<std::string>{"L1 found\r\n"});
}

TEST_F(LoggingTest, ThreadsWriteWholeLines) {
  constexpr int kThreads = 8, kLines = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) TsV7kClient(2, L"(" + std::to_wstring(t) + L") ") << L"line " << i;
    });
  for (auto& thread : threads) thread.join();

  std::vector<std::string> lines = Unstamped(LogBytes());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
  std::vector<int> next(kThreads, 0);
  const std::regex form("L2 V7kClient:\\(([0-9])\\) line ([0-9]+)\r\n");
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, form)) << line;
    int t = std::stoi(m[1]);
    EXPECT_EQ(std::stoi(m[2]), next[t]++);  // each thread's lines in its own order
  }
}

TEST(LogPath, LocalAppDataWithTheServiceAccountRule) {
  struct Case {
    const wchar_t* folder;
    const wchar_t* path;
  } cases[] = {
      {L"C:\\users\\anna\\AppData\\Local", L"C:\\users\\anna\\AppData\\Local\\QelIdentra\\Log\\qelidentra.log"},
      {L"C:\\Windows\\ServiceProfiles\\NetworkService\\AppData\\Local",
       L"C:\\Windows\\ServiceProfiles\\LocalService\\AppData\\Local\\QelIdentra\\Log\\qelidentra.log"},
      {L"C:\\Windows\\serviceprofiles\\networkservice\\AppData\\Local",
       L"C:\\Windows\\serviceprofiles\\LocalService\\AppData\\Local\\QelIdentra\\Log\\qelidentra.log"},
      {L"C:\\x\\NetworkServices\\y", L"C:\\x\\NetworkServices\\y\\QelIdentra\\Log\\qelidentra.log"},
      {L"C:\\NetworkService\\NetworkService\\y",
       L"C:\\LocalService\\NetworkService\\y\\QelIdentra\\Log\\qelidentra.log"},  // first occurrence only
  };
  for (const Case& c : cases) EXPECT_EQ(LogPathUnder(c.folder), c.path) << c.folder;
}

TEST(LogPath, DefaultLogIsUnderTheUsersLocalAppData) {
  KnownFolderResult local = KnownFolderPath(FOLDERID_LocalAppData);
  ASSERT_TRUE(local.found);
  const std::wstring expected = local.path + L"\\QelIdentra\\Log\\qelidentra.log";
  EXPECT_EQ(DefaultLogPath(), expected);

  SetLogPathOverride(L"");
  SetDebuggerQuery([] { return true; });
  const std::wstring marker = L"default path line " + std::to_wstring(GetTickCount64());
  TracePrintf(TC_App, 1, L"%s", marker.c_str());
  SetDebuggerQuery(nullptr);
  SetLogPathOverride(L"");  // closes the file
  const std::string log = ReadFileBytes(expected);
  EXPECT_NE(log.find(Narrow(marker) + "\r\n"), std::string::npos);
  EXPECT_NE(GetFileAttributesW((expected + L"_ge201").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
