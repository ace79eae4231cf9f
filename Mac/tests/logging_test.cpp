#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Logging.h"
#include "TestSupport.h"

namespace {

using Hub = LogHub<LogContext>;

// The message part of a system-log line: what follows "<Level>: ".
std::vector<std::string> Messages(const std::string& text) {
  std::vector<std::string> messages;
  for (const std::string& line : SplitLines(text)) {
    const size_t at = line.find(">: ");
    messages.push_back(at == std::string::npos ? "?" + line : line.substr(line.find('<', line.find("] ")) + 1));
  }
  return messages;
}

std::string Stars() {
  std::string s = "*";
  for (int i = 1; i < 55; ++i) s += " *";
  return s;
}

std::string Equals() {
  std::string s = "=";
  for (int i = 1; i < 55; ++i) s += " =";
  return s;
}

// A temporary HOME with Library/Logs, logging started and stopped around each test.
class LoggingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home / "Library/Logs");
    savedHome_ = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.path().c_str(), 1);
    Hub::Get().SetDefaultLevel(SEV_NOTICE);
  }
  void TearDown() override {
    setenv("HOME", savedHome_.c_str(), 1);
    Hub::Get().SetDefaultLevel(SEV_NOTICE);
  }
  std::string LogFile() { return ReadWholeFile(home / "Library/Logs/qelidentra.log"); }

  TempDir home;
  std::string savedHome_;
};

TEST_F(LoggingTest, StartAndShutdownLinesInTheFileAndOnStderr) {
  StderrCapture err;
  InitLogging();
  g_AnonymousLog.Logf(SEV_NOTICE, "Loading %s", "x");
  TermLogging();
  g_AnonymousLog.Log(SEV_ERROR, "after shutdown");  // the default connection: neither output
  const std::vector<std::string> expected = {
      "Notice>: 6 LogHub => " + Stars(),
      "Notice>: 6 LogHub => Application started",
      "Notice>: 0 Anonymous => Identra version: 2.0.30.133",
      "Notice>: 0 Anonymous => Loading x",
      "Notice>: 6 LogHub => Application shutdown",
      "Notice>: 6 LogHub => " + Equals(),
  };
  EXPECT_EQ(Messages(LogFile()), expected);
  EXPECT_EQ(Messages(err.Text()), expected);
  EXPECT_EQ(Stars().size(), 109u);
  // The layout before the message: time, program name and pid.
  const std::string first = SplitLines(LogFile()).at(0);
  const std::string tag = std::string(program_invocation_short_name) + "[" + std::to_string(getpid()) + "] <Notice>";
  EXPECT_EQ(first.find(Hub::Get().CurrentTime()), 0u) << first;
  EXPECT_NE(first.find(tag), std::string::npos) << first;
}

TEST_F(LoggingTest, LevelFilteringAndTheConfigurationLevel) {
  StderrCapture err;
  Hub& hub = Hub::Get();
  hub.Startup();
  LogSource app("IdentraMain", LC_AppMain);
  app.Logf(SEV_INFO, "Loading config file %s", "a");   // dropped at the default level 5
  app.Logf(SEV_NOTICE, "notice %d", 1);
  hub.SetLevelFromLD(3);
  app.Logf(SEV_INFO, "Loading config file %s", "b");
  app.Logf(SEV_DEBUG, "debug %d", 1);                   // above 6
  hub.SetLevelFromLD(9);                                // leaves the level
  app.Logf(SEV_INFO, "still info");
  hub.SetLevelFromLD(0);
  app.Logf(SEV_NOTICE, "notice %d", 2);                 // dropped at 3
  app.Logf(SEV_ERROR, "error");

  // A source's own level wins over the hub's, and its children inherit it.
  LogSource debugSource("Verbose", LC_UnitTest);
  debugSource.SetLevel(SEV_DEBUG);
  LogSource child("Child", LC_UnitTest, &debugSource);
  debugSource.Log(SEV_DEBUG, "own level");
  child.Log(SEV_DEBUG, "parent's level");
  child.SetLevel(SEV_ERROR);
  child.Log(SEV_DEBUG, "not this");
  hub.Shutdown();

  const std::vector<std::string> messages = Messages(LogFile());
  // At level 3 the shutdown notices are filtered like any other message.
  const std::vector<std::string> body(messages.begin() + 2, messages.end());
  const std::vector<std::string> expected = {
      "Notice>: 8 IdentraMain => notice 1",
      "Info>: 8 IdentraMain => Loading config file b",
      "Info>: 8 IdentraMain => still info",
      "Error>: 8 IdentraMain => error",
      "Debug>: 7 Verbose => own level",
      "Debug>: 7 Child => parent's level",
  };
  EXPECT_EQ(body, expected);
  EXPECT_EQ(Messages(err.Text()), messages);
}

TEST_F(LoggingTest, LongMessagesAreCutAndAMissingFormatLogsNothing) {
  StderrCapture err;
  Hub::Get().Startup();
  g_AnonymousLog.Logf(SEV_NOTICE, "%s", std::string(20000, 'm').c_str());
  g_AnonymousLog.Logf(SEV_NOTICE, nullptr);
  Hub::Get().Shutdown();
  const std::vector<std::string> messages = Messages(LogFile());
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[2], "Notice>: 0 Anonymous => " + std::string(16383, 'm'));
}

TEST_F(LoggingTest, UnopenableLogFileLeavesStderr) {
  std::filesystem::remove_all(home / "Library");
  StderrCapture err;
  Hub::Get().Startup();
  g_AnonymousLog.Log(SEV_NOTICE, "goes on");
  Hub::Get().Shutdown();
  const std::vector<std::string> expected = {
      "Notice>: 6 LogHub => " + Stars(),
      "Notice>: 6 LogHub => Application started",
      "Error>: 6 LogHub => ERROR - Unable to open log file " + home.path() + "/Library/Logs/qelidentra.log",
      "Notice>: 0 Anonymous => goes on",
      "Notice>: 6 LogHub => Application shutdown",
      "Notice>: 6 LogHub => " + Equals(),
  };
  EXPECT_EQ(Messages(err.Text()), expected);
}

TEST_F(LoggingTest, DyingParentWithChildrenSaysSo) {
  StderrCapture err;
  Hub::Get().Startup();
  {
    auto* parent = new LogSource("Parent", LC_UnitTest);
    LogSource child("Child", LC_UnitTest, parent);
    delete parent;
  }
  Hub::Get().Shutdown();
  EXPECT_EQ(Messages(err.Text()).at(2),
            "Error>: 7 Parent => FATAL ERROR IN LogSource dtor: child sources still referencing a dying parent");
}

TEST(LogHubChannels, BrokenTableThrows) {
  const LogChannelRow wrongNumber[] = {{0, "LC_Unspecified"}, {2, "LC_V7K_Proto"}};
  const LogChannelRow missingName[] = {{0, "LC_Unspecified"}, {1, nullptr}};
  struct Case {
    const LogChannelRow* table;
    int32_t line;
  } cases[] = {{wrongNumber, 118}, {missingName, 120}};
  for (const Case& c : cases) {
    try {
      Hub::Get().SetLogChannels(c.table, 2, LC_DiagTools);
      ADD_FAILURE() << "no exception";
    } catch (const tWtfException& e) {
      EXPECT_EQ(e.line, c.line);
      EXPECT_STREQ(e.file, "Logging");
      EXPECT_STREQ(e.text, "");
    }
  }
  EXPECT_NO_THROW(Hub::Get().SetLogChannels(channels, 9, LC_DiagTools));
}

}  // namespace
