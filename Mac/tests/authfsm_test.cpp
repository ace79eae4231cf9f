#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "AuthFsmFixture.h"
#include "LoopbackListener.h"

namespace {

using Outer = AuthFSM_Outer;
using Inner = AuthFSM_Inner;

std::string Tags(const std::string& line) {
  std::string tags;
  const std::regex tag("\"tag\":\"(..)\"");
  for (auto it = std::sregex_iterator(line.begin(), line.end(), tag); it != std::sregex_iterator(); ++it)
    tags += (tags.empty() ? "" : " ") + (*it)[1].str();
  return tags;
}

// (retries, delay) of each logged retry step.
std::vector<std::pair<int, int>> RetrySteps(const LogLines& log) {
  std::vector<std::pair<int, int>> steps;
  const std::regex lost("Retries = (\\d+); next attempt in (\\d+) seconds");
  const std::regex timeout("retries=(\\d+), next attempt in (\\d+) seconds");
  for (const std::string& m : log.Messages()) {
    std::smatch match;
    if (std::regex_search(m, match, lost) || std::regex_search(m, match, timeout))
      steps.emplace_back(std::stoi(match[1]), std::stoi(match[2]));
  }
  return steps;
}

TEST_F(AuthFsmTest, LogonThenHeartbeatsAtTheConfiguredInterval) {
  ApplianceProcess appliance({"--port", "0"});
  RefxPtr<Outer> outer = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return Count("LGON") == 1; }));
  const std::string lgon = FirstLineWith("\"command\":\"LGON\"");
  EXPECT_EQ(Tags(lgon), "TP UN DO DN GP CN FN WI VS VN");
  for (const char* item : {"{\"tag\":\"TP\",\"value\":2}", "{\"tag\":\"UN\",\"value\":\"alice\"}",
                           "{\"tag\":\"DO\",\"value\":\"CORP\"}", "{\"tag\":\"DN\",\"value\":\"CN=alice,DC=corp,DC=example\"}",
                           "{\"tag\":\"GP\",\"value\":\"staff\"}", "{\"tag\":\"CN\",\"value\":\"mac-ws1\"}",
                           "{\"tag\":\"FN\",\"value\":\"Alice Example\"}",
                           "{\"tag\":\"WI\",\"value\":\"CN=mac-ws1,DC=corp,DC=example\"}",
                           "{\"tag\":\"VS\",\"value\":\"Identra v2.0\"}", "{\"tag\":\"VN\",\"value\":65545}"})
    EXPECT_NE(lgon.find(item), std::string::npos) << item << " in " << lgon;
  EXPECT_NE(lgon.find("\"parse\":10"), std::string::npos) << lgon;

  ASSERT_TRUE(Pump(&appliance, [&] { return outer->state() == Outer::ST_Connected && RecordedExits().empty() &&
                                             !log.Matching("'STAT' SUCCESS received").empty(); }));
  const CFAbsoluteTime acked = CFAbsoluteTimeGetCurrent();
  // RH is 42000: three beats in the next 130 seconds, each with MS 0.
  ASSERT_TRUE(Pump(&appliance, [&] { return CFAbsoluteTimeGetCurrent() - acked >= 130; }, 5.0));
  EXPECT_EQ(Count("BEAT"), 3);
  EXPECT_NE(FirstLineWith("\"command\":\"BEAT\"").find("{\"tag\":\"MS\",\"value\":0}"), std::string::npos);
  EXPECT_EQ(log.Matching("Logon packet sent to web filter").size(), 1u);
  EXPECT_EQ(log.Matching("LGON packet contents: ").size(), 1u);
  EXPECT_TRUE(RecordedExits().empty());
  EXPECT_EQ(outer->owner()->Retries(), 0);
}

TEST_F(AuthFsmTest, StatAdoptsHeartbeatAndConfigurationButTheRunningBeatStays) {
  ApplianceProcess appliance({"--port", "0", "--heartbeat", "30000", "--config", "UT[7]RY[12345]"});
  RefxPtr<Outer> outer = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return !log.Matching("'STAT' SUCCESS received").empty(); }));
  EXPECT_EQ(config.RH, 30000u);
  EXPECT_EQ(config.LocalUser.identType & 0xFFFF, 7);
  EXPECT_EQ(config.RY, 12345u);
  const CFAbsoluteTime acked = CFAbsoluteTimeGetCurrent();
  ASSERT_TRUE(Pump(&appliance, [&] { return CFAbsoluteTimeGetCurrent() - acked >= 80; }, 5.0));
  EXPECT_EQ(Count("BEAT"), 1);  // still every 42 s
}

TEST_F(AuthFsmTest, HeartbeatIntervalZeroFiresOnceAndNeverSpins) {
  config.RH = 0;
  ApplianceProcess appliance({"--port", "0"});
  RefxPtr<Outer> outer = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return !log.Matching("'STAT' SUCCESS received").empty(); }));
  const CFAbsoluteTime acked = CFAbsoluteTimeGetCurrent();
  ASSERT_TRUE(Pump(&appliance, [&] { return CFAbsoluteTimeGetCurrent() - acked >= 600; }, 50.0, 100));
  EXPECT_EQ(Count("BEAT"), 0);
  EXPECT_EQ(log.Matching("event EV_HeartbeatTimer").size(), 1u);
}

// Messages logged since mark (a count of messages).
std::vector<std::string> Since(const LogLines& log, size_t mark) {
  const std::vector<std::string> all = log.Messages();
  return std::vector<std::string>(all.begin() + static_cast<long>(std::min(mark, all.size())), all.end());
}

size_t CountWith(const std::vector<std::string>& messages, const std::string& text) {
  size_t n = 0;
  for (const std::string& m : messages) n += m.find(text) != std::string::npos;
  return n;
}

// Every way the logon can fail ends the logon machine (the process's immediate end, here
// recorded) and brings the connection machine to its retry step.
TEST_F(AuthFsmTest, FailedLogonsEndInTheRetryStep) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;
  } cases[] = {
      {{"--status", "1"},
       {"'STAT' error: code:1 message:\"None\".", "'STAT' 1: Client Version Is Old.  Terminating.",
        "Web filter connection lost. Retries = 1; next attempt in "}},
      {{"--status", "3", "--error", "Denied"},
       {"'STAT' error: code:3 message:\"Denied\".", "Web filter connection lost. Retries = 1; next attempt in "}},
      {{"--garbage"},
       {"Unknown packet type received from server in response to logon request: [00 00]",
        "Web filter connection lost. Retries = 1; next attempt in "}},
      {{"--no-reply"},
       {"Server timed out responding to logon packet.  Overload suspected",
        "Web filter logon timeout.  Congestion mitigation in effect; retries=1, next attempt in "}},
  };
  for (const Case& c : cases) {
    const std::string what = c.args[0];
    const size_t mark = log.Messages().size();
    RecordedExits().clear();
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ApplianceProcess appliance(args);
    RefxPtr<Outer> outer = Start(appliance.Port());
    const CFAbsoluteTime began = CFAbsoluteTimeGetCurrent();
    // The retry may come round again (after 1 s or more) before the loop returns: the first
    // round is checked.
    ASSERT_TRUE(Pump(&appliance, [&] { return CountWith(Since(log, mark), "next attempt in") >= 1; }, 5.0)) << what;
    const std::vector<std::string> messages = Since(log, mark);
    for (const std::string& line : c.lines) EXPECT_GE(CountWith(messages, line), 1u) << what << ": " << line;
    EXPECT_EQ(CountWith(messages, "'STAT' SUCCESS"), 0u) << what;
    ASSERT_FALSE(RecordedExits().empty()) << what;
    EXPECT_EQ(RecordedExits().front(), 1) << what;
    // Silence is bounded by the fixed 40-second logon-ack time-out.
    if (what == "--no-reply") {
      EXPECT_GE(CFAbsoluteTimeGetCurrent() - began, 40.0);
    }
    outer->onEvent(EV_AppTerminate, nullptr);
  }
}

// A peer that closes in the middle of the status reply, or before it: the connection is lost
// (not a protocol failure) and a retry follows.
TEST_F(AuthFsmTest, PeerClosingMidFrameIsALostConnection) {
  for (size_t sent : {size_t{0}, size_t{7}}) {
    const size_t mark = log.Messages().size();
    RecordedExits().clear();
    Listener listener;
    RefxPtr<Outer> outer = Start(listener.port());
    ASSERT_TRUE(Pump(nullptr, [&] { return outer->state() == Outer::ST_Connected; }));
    ASSERT_GE(listener.Accept(), 0);
    ASSERT_TRUE(Pump(nullptr, [&] { return CountWith(Since(log, mark), "Logon packet sent") == 1; }));
    CPacketLumo packet(kMacDialect, [] { return uint8_t{9}; });
    CParam rows[] = {IntParam(MakeTag("ST"), PT_UInt8, 0, PF_Required), EndParam()};
    const uint32_t length = packet.ConstructFullPacket(kCmdStat, rows);
    ASSERT_GT(length, sent);
    listener.Send(std::string(reinterpret_cast<const char*>(packet.Frame()), sent));
    ASSERT_TRUE(Pump(nullptr, [&] { return CountWith(Since(log, mark), "Received") >= (sent ? 1u : 0u); }));
    listener.ClosePeer();
    ASSERT_TRUE(Pump(nullptr, [&] { return CountWith(Since(log, mark), "next attempt in") == 1; })) << sent;
    EXPECT_EQ(CountWith(Since(log, mark), "Web filter connection lost. Retries = 1; next attempt in "), 1u);
    EXPECT_EQ(CountWith(Since(log, mark), "Unknown packet type"), 0u);
    EXPECT_TRUE(RecordedExits().empty()) << sent;
    outer->onEvent(EV_AppTerminate, nullptr);
  }
}

// An interval that a status reply sets (its RH, or RH in its configuration text) beats at
// most once a second; 0 keeps its meaning, and a configured interval stays as it is.
TEST_F(AuthFsmTest, StatHeartbeatBelowOneSecondIsTakenAsOneSecond) {
  const struct {
    std::vector<std::string> args;
    uint32_t configured;
    uint32_t taken;
    bool logged;
  } cases[] = {
      {{"--heartbeat", "1"}, 42000, 1000, true},
      {{"--heartbeat", "999"}, 42000, 1000, true},
      {{"--heartbeat", "1000"}, 42000, 1000, false},
      {{"--heartbeat", "0"}, 42000, 0, false},
      {{"--heartbeat", "30000", "--config", "RH[5]"}, 42000, 1000, true},
      {{"--config", "RY[1]"}, 500, 500, false},     // no RH in the reply
      {{"--heartbeat", "500"}, 500, 500, false},    // the configured one again
  };
  for (const auto& c : cases) {
    std::string what;
    for (const std::string& a : c.args) what += a + " ";
    SCOPED_TRACE(what + "configured " + std::to_string(c.configured));
    const size_t mark = log.Messages().size();
    config.RH = c.configured;
    std::vector<std::string> args = {"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ApplianceProcess appliance(args);
    RefxPtr<Outer> outer = Start(appliance.Port());
    ASSERT_TRUE(Pump(&appliance, [&] { return CountWith(Since(log, mark), "'STAT' SUCCESS received") == 1; }));
    EXPECT_EQ(config.RH, c.taken);
    EXPECT_EQ(CountWith(Since(log, mark), "from the web filter is taken as 1000 ms"), c.logged ? 1u : 0u);
    outer->onEvent(EV_AppTerminate, nullptr);
  }
}

// The next connection after an appliance answered RH 1 beats once a second, not a thousand times.
TEST_F(AuthFsmTest, AnApplianceAnsweringRh1IsHeardOnceASecond) {
  ApplianceProcess appliance({"--port", "0", "--heartbeat", "1"});
  RefxPtr<Outer> first = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return log.Matching("event EV_LogonAckRx").size() == 1; }));
  first->onEvent(EV_AppTerminate, nullptr);
  RefxPtr<Outer> second = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return log.Matching("event EV_LogonAckRx").size() == 2; }));
  const int before = Count("BEAT");
  const CFAbsoluteTime acked = CFAbsoluteTimeGetCurrent();
  ASSERT_TRUE(Pump(&appliance, [&] { return CFAbsoluteTimeGetCurrent() - acked >= 10; }, 0.5));
  const int beats = Count("BEAT") - before;
  EXPECT_GE(beats, 9);
  EXPECT_LE(beats, 11);
  second->onEvent(EV_AppTerminate, nullptr);
}

// A valid status reply with more than one largest frame behind it, all in one burst: the
// reply is what the receive queue keeps.
TEST_F(AuthFsmTest, StatFollowedByAFloodInOneBurstLogsOn) {
  Listener listener;
  RefxPtr<Outer> outer = Start(listener.port());
  ASSERT_TRUE(Pump(nullptr, [&] { return outer->state() == Outer::ST_Connected; }));
  ASSERT_GE(listener.Accept(), 0);
  ASSERT_TRUE(Pump(nullptr, [&] { return !log.Matching("Logon packet sent").empty(); }));
  CPacketLumo packet(kMacDialect, [] { return uint8_t{9}; });
  CParam rows[] = {IntParam(MakeTag("ST"), PT_UInt8, 0, PF_Required), EndParam()};
  const uint32_t length = packet.ConstructFullPacket(kCmdStat, rows);
  // Sent while the agent's loop stands still: the agent finds it all at once.
  listener.Send(std::string(reinterpret_cast<const char*>(packet.Frame()), length) + std::string(70000, 'T'));
  ASSERT_TRUE(Pump(nullptr, [&] { return !log.Matching("'STAT' SUCCESS received").empty() || !RecordedExits().empty(); }));
  EXPECT_TRUE(RecordedExits().empty());
  EXPECT_EQ(log.Matching("Unknown packet type").size(), 0u);
  EXPECT_EQ(outer->state(), Outer::ST_Connected);
  outer->onEvent(EV_AppTerminate, nullptr);
}

TEST_F(AuthFsmTest, ReplySplitOverReadsIsAccepted) {
  clock.SetSlice(600);  // the second half comes 200 ms of real time later
  ApplianceProcess appliance({"--port", "0", "--split-reply"});
  RefxPtr<Outer> outer = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return !log.Matching("'STAT' SUCCESS received").empty(); }, 1.0, 100));
  EXPECT_GE(log.Matching("Received").size(), 2u);
  EXPECT_TRUE(RecordedExits().empty());
  EXPECT_EQ(outer->state(), Outer::ST_Connected);
}

TEST_F(AuthFsmTest, RefusedConnectionsRetryWithGrowingBoundedDelays) {
  RefxPtr<Outer> outer = Start(ClosedPort());
  ASSERT_TRUE(Pump(nullptr, [&] { return RetrySteps(log).size() >= 9; }, 20.0, 2000));
  const std::vector<std::pair<int, int>> steps = RetrySteps(log);
  const int windows[] = {60, 120, 240, 240, 240, 240, 240, 240, 240};
  for (size_t i = 0; i < 9; ++i) {
    EXPECT_EQ(steps[i].first, std::min<int>(static_cast<int>(i) + 1, 7)) << i;
    EXPECT_GE(steps[i].second, 1) << i;
    EXPECT_LE(steps[i].second, windows[i]) << i;
  }
  EXPECT_TRUE(RecordedExits().empty());
  outer->onEvent(EV_AppTerminate, nullptr);
}

// A connection that fails before the outer machine has left its first state (the connect
// fails at once, or the address is refused outright) still reaches the retry step.
TEST_F(AuthFsmTest, ConnectionFailingAtOnceStillRetries) {
  struct Case {
    const char* host;
    uint16_t port;
  } cases[] = {{"255.255.255.255", 139}, {"127.0.0.1", 0}, {"", 139}};
  for (const Case& c : cases) {
    const size_t mark = log.Messages().size();
    AuthFSM_Signature signature;
    signature.appliance.host = c.host;
    signature.appliance.port = c.port;
    RefxPtr<Outer> outer = AuthFSM_Outer::Create(signature, &config, "at-once");
    outer->onEvent(Outer::EV_V7kConnectReq, nullptr);
    ASSERT_TRUE(Pump(nullptr, [&] { return CountWith(Since(log, mark), "next attempt in") == 1; })) << c.host;
    EXPECT_EQ(CountWith(Since(log, mark), "Web filter connection lost. Retries = 1; next attempt in "), 1u);
    EXPECT_EQ(outer->state(), Outer::ST_Init);
  }
  EXPECT_EQ(log.Matching("CFSocketConnectToAddress(255.255.255.255) failed: Network is unreachable").size(), 1u);
}

TEST_F(AuthFsmTest, ShutdownWhileConnectedSendsTheLogoffFirst) {
  ApplianceProcess appliance({"--port", "0"});
  RefxPtr<Outer> outer = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return !log.Matching("'STAT' SUCCESS received").empty(); }));
  const size_t logoffs = Count("LGOF");
  outer->onEvent(Outer::EV_Shutdown, nullptr);
  EXPECT_EQ(outer->state(), Outer::ST_Dead);
  ASSERT_TRUE(Pump(&appliance, [&] { return Count("LGOF") == static_cast<int>(logoffs) + 1; }));
  EXPECT_EQ(Commands().back(), "LGOF");
  EXPECT_NE(FirstLineWith("\"command\":\"LGOF\"").find("{\"tag\":\"RS\",\"value\":2}"), std::string::npos);
  // The logon machine's dead state ends the process (here the outer machine, in its own dead
  // state, would end it once more).
  ASSERT_FALSE(RecordedExits().empty());
  EXPECT_EQ(RecordedExits().front(), 1);
}

TEST_F(AuthFsmTest, DeadStateEndsTheProcessOnTheNextEvent) {
  AuthFSM_Signature signature;
  signature.appliance.host = "127.0.0.1";
  signature.appliance.port = 139;
  RefxPtr<Outer> outer = AuthFSM_Outer::Create(signature, &config, "dead");
  outer->onEvent(Outer::EV_Shutdown, nullptr);
  EXPECT_EQ(outer->state(), Outer::ST_Dead);
  EXPECT_TRUE(RecordedExits().empty());
  outer->onEvent(Outer::EV_V7kConnectReq, nullptr);
  EXPECT_EQ(RecordedExits(), std::vector<int>{1});
  EXPECT_TRUE(log.Matching("dead:").size() >= 2);
}

TEST_F(AuthFsmTest, LocalUserSendsNothing) {
  SetIdentity("localadmin", "", "");
  ApplianceProcess appliance({"--port", "0"});
  RefxPtr<Outer> outer = Start(appliance.Port());
  ASSERT_TRUE(Pump(&appliance, [&] { return !log.Matching("Local user detected; no operation to perform.").empty(); }));
  ASSERT_TRUE(Pump(&appliance, [&] { return CFAbsoluteTimeGetCurrent() > 1200; }, 10.0));
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(outer->state(), Outer::ST_Connected);
  EXPECT_TRUE(RecordedExits().empty());
}

}  // namespace
