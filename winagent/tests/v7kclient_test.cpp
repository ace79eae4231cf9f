// The appliance client against the stand-in appliance on 127.0.0.1. The appliance is a
// native program: Wine starts it through /bin/sh, its event lines go to a file that the
// test reads through Wine's view of the Unix file system.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/AppShutdown.h"
#include "ApplianceProcess.h"
#include "client/CSocket.h"
#include "client/V7kClient.h"
#include "config/AgentConfig.h"
#include "identity/UserIdentification.h"
#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestPlatform.h"
#include "TestSupport.h"

namespace {

// ---- the agent's side ----

class LogLines {
 public:
  void Add(const std::wstring& line) {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(Narrow(line));
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.clear();
  }
  std::vector<std::string> Containing(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> found;
    for (const auto& line : lines_)
      if (line.find(text) != std::string::npos) found.push_back(line);
    return found;
  }
  bool WaitFor(const std::string& text, size_t count = 1, DWORD timeoutMs = 10000) {
    return WaitUntil([&] { return Containing(text).size() >= count; }, timeoutMs);
  }

 private:
  std::mutex lock_;
  std::vector<std::string> lines_;
};

LogLines g_log;

IdentityRecord MakeIdentity(const std::wstring& user) {
  IdentityRecord r;
  auto set = [](IdentityField& f, const std::wstring& v) { f = {WMI, v}; };
  set(r.UserName, user);
  set(r.DisplayName, L"J\u00f6rg Doe");
  set(r.GroupName, L"Staff");
  set(r.DomainName, L"CORP");
  set(r.UserDistinguishedName, L"CN=" + user + L",OU=Staff");
  set(r.ComputerName, L"WS01");
  set(r.ComputerDistinguishedName, L"CN=WS01,OU=PCs");
  r.filled = true;
  return r;
}

// The identity the clients copy; tests change it.
class IdentityHolder {
 public:
  void Set(const IdentityRecord& record) {
    std::lock_guard<std::mutex> hold(lock_);
    record_ = record;
  }
  IdentityRecord Get() {
    std::lock_guard<std::mutex> hold(lock_);
    return record_;
  }
  V7kClient::IdentityProvider Provider() {
    return [this] { return Get(); };
  }

 private:
  std::mutex lock_;
  IdentityRecord record_;
};

// Retry delays are drawn from 479: 479 % size + 1 equals the size for every window size
// the defaults give (40, 60, 80, 120, 160, 240), so the logged delay shows the window.
constexpr uint32_t kWindowRevealingRandom = 479;

class V7kClientTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 0), &data);
  }

  void SetUp() override {
    SetLogPathOverride(logDir_ / L"client.log");
    SetTraceCapture([](int, const std::wstring& line) { g_log.Add(line); });
    g_log.Clear();
    g_Config = AgentConfig{};
    g_Config.RP = 139;
    g_Config.RH = 150;
    g_Config.RX = 2000;
    g_Config.RW = 60000;
    g_Config.RM = 2.0;
    g_Config.LC = 0xFFFFFFFFu;
    g_Config.LD = 4;

    ClientTimings& timing = platform_.clientTimings;
    timing.pollMs = 20;
    timing.identityCheckMs = 100;
    timing.connectTimeoutMs = 500;
    timing.noIdentityRetryMs = 100;
    timing.retrySecondMs = 2;
    timing.logoffPauseMs = 20;
    platform_.random = [] { return kWindowRevealingRandom; };
    V7kClient::ResetLogonCacheForTest();
    identity_.Set(MakeIdentity(L"jdoe"));
  }

  void TearDown() override {
    for (auto& client : clients_) StopAndWait(*client);
    clients_.clear();
    SetTraceCapture({});
    SetLogPathOverride(L"");
  }

  V7kClient& Start(uint16_t port, const std::wstring& host = L"127.0.0.1") {
    auto client = std::make_unique<V7kClient>(nextInstance_++, identity_.Provider(), g_Config, platform_);
    client->SetAddress(host, port);
    EXPECT_TRUE(client->StartThread());
    EXPECT_TRUE(client->WaitStarted(5000));
    clients_.push_back(std::move(client));
    return *clients_.back();
  }

  static void StopAndWait(V7kClient& client) {
    client.SignalStop();
    EXPECT_TRUE(WaitUntil([&] { return client.HasEnded(); }, 5000)) << "client " << client.Instance() << " stuck";
  }

  // A port on which nothing listens.
  static uint16_t ClosedPort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    int len = sizeof(a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
  }

  ScratchDir logDir_{"v7k-log"};
  TestPlatform platform_;
  IdentityHolder identity_;
  int32_t nextInstance_ = 1000;
  std::vector<std::unique_ptr<V7kClient>> clients_;
};

TEST_F(V7kClientTest, LogonThenHeartbeatsWithGrowingMilliseconds) {
  // The reply's RH is not this agent's interval: the heartbeats keep the configured one.
  Appliance appliance("--heartbeat 1");
  ASSERT_NE(appliance.Port(), 0);
  V7kClient& client = Start(appliance.Port());

  ASSERT_TRUE(appliance.WaitForCommand("BEAT", 4));
  const auto events = appliance.Events();
  std::vector<const ApplianceEvent*> messages;
  for (const auto& e : events)
    if (!e.command.empty()) messages.push_back(&e);

  // An empty cache: a logoff first, then the logon with the identity in the Windows order.
  ASSERT_GE(messages.size(), 6u);
  EXPECT_EQ(messages[0]->command, "LGOF");
  EXPECT_EQ(messages[0]->Param("RS"), "1");
  const ApplianceEvent& lgon = *messages[1];
  ASSERT_EQ(lgon.command, "LGON");
  std::vector<std::string> tags;
  for (const auto& [tag, value] : lgon.params) tags.push_back(tag);
  EXPECT_EQ(tags, (std::vector<std::string>{"TP", "UN", "DO", "GP", "CN", "FN", "DN", "WI", "VS", "VN"}));
  EXPECT_EQ(lgon.Param("TP"), "0");
  EXPECT_EQ(lgon.Param("UN"), "jdoe");
  EXPECT_EQ(lgon.Param("DO"), "CORP");
  EXPECT_EQ(lgon.Param("GP"), "Staff");
  EXPECT_EQ(lgon.Param("CN"), "WS01");
  EXPECT_EQ(lgon.Param("FN"), "J\xc3\xb6rg Doe");  // UTF-8 on the wire
  EXPECT_EQ(lgon.Param("DN"), "CN=jdoe,OU=Staff");
  EXPECT_EQ(lgon.Param("WI"), "CN=WS01,OU=PCs");
  EXPECT_EQ(lgon.Param("VS"), "Identra v2.0");
  EXPECT_EQ(lgon.Param("VN"), std::to_string(0x00010009));

  // Heartbeats carry the milliseconds since the connection was made, about RH apart.
  uint32_t previous = 0;
  for (size_t i = 2; i < messages.size(); ++i) {
    ASSERT_EQ(messages[i]->command, "BEAT");
    const uint32_t ms = static_cast<uint32_t>(std::stoul(messages[i]->Param("MS")));
    EXPECT_GE(ms, previous + g_Config.RH - 40) << "heartbeat " << i;
    previous = ms;
  }
  EXPECT_EQ(client.InnerState(), AuthFSM_Inner::ST_HeartbeatPending);
  EXPECT_EQ(g_log.Containing("'STAT' SUCCESS received: user identity accepted by web filter appliance").size(), 1u);
  EXPECT_EQ(g_log.Containing("SOCKET: [127.0.0.1:").size() >= 1, true);
  EXPECT_TRUE(g_log.WaitFor("Sent 'BEAT' Packet. [Success]"));

  // A connected client sends its logoff when stopped; its heartbeat state sends no other.
  StopAndWait(client);
  clients_.clear();
  EXPECT_EQ(appliance.Commands().back(), "LGOF");
  EXPECT_EQ(g_log.Containing("V7k thread instance 1000 was signalled to shut down").size(), 1u);
  EXPECT_EQ(g_log.Containing("[127.0.0.1] thread shutdown normally.").size(), 1u);
}

// A slow resolver stalls only its own client: the stop request, which the main-loop thread
// makes, does not wait for the resolution.
TEST_F(V7kClientTest, SlowNameResolutionDoesNotHoldTheStopRequest) {
  HandleHolder entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HandleHolder release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  platform_.resolve = [&](const std::wstring&, in_addr&) {
    SetEvent(entered.Get());
    WaitForSingleObject(release.Get(), 20000);
    return false;
  };
  V7kClient& client = Start(139, L"slow.invalid");
  ASSERT_EQ(WaitForSingleObject(entered.Get(), 5000), WAIT_OBJECT_0);

  std::future<void> stop = std::async(std::launch::async, [&] { client.SignalStop(); });
  const bool returned = stop.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  SetEvent(release.Get());
  EXPECT_TRUE(returned) << "the stop request waited for the resolver";
  stop.wait();
  EXPECT_TRUE(WaitUntil([&] { return client.HasEnded(); }, 5000));
}

// A socket that cannot be made because the previous one is still open fails the attempt
// into the retry; the old socket is never connected again.
TEST_F(V7kClientTest, ConnectWithThePreviousSocketOpenFailsTheAttempt) {
  V7kClient client(7, identity_.Provider(), g_Config, platform_);  // not started: the test is its thread
  client.SetAddress(L"127.0.0.1", ClosedPort());
  client.Connect();
  ASSERT_EQ(platform_.resolutions, 1);
  WSASetLastError(0);  // the refusal leaves no error of its own
  client.Connect();
  EXPECT_EQ(platform_.resolutions, 1);
  EXPECT_EQ(g_log.Containing("(7) V7100_Connect failed creating socket: ").size(), 1u);
}

TEST(ApplianceEntry, HostAndPortTable) {
  struct Row {
    const wchar_t* entry;
    bool valid;
    const wchar_t* host;
    uint16_t port;
  };
  const Row rows[] = {
      {L"10.0.0.1", true, L"10.0.0.1", 139},
      {L"filter.example:8080", true, L"filter.example", 8080},
      {L"10.0.0.1:1", true, L"10.0.0.1", 1},
      {L"10.0.0.1:65535", true, L"10.0.0.1", 65535},
      {L"10.0.0.1:0", false, L"", 0},
      {L"127.0.0.1:109173", false, L"", 0},  // not port 43637
      {L"10.0.0.1:65536", false, L"", 0},
      {L"10.0.0.1:80x", false, L"", 0},
      {L"10.0.0.1:80:90", false, L"", 0},
      {L"10.0.0.1:", false, L"", 0},
      {L"10.0.0.1:-80", false, L"", 0},
      {L":8080", false, L"", 0},
      {L"", false, L"", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.entry));
    const std::optional<ApplianceAddress> address = ParseApplianceEntry(row.entry, 139, EntryPort::Digits);
    ASSERT_EQ(address.has_value(), row.valid);
    if (!row.valid) continue;
    EXPECT_EQ(address->host, row.host);
    EXPECT_EQ(address->port, row.port);
  }
}

TEST_F(V7kClientTest, LogoffFirstFollowsTheLogonCache) {
  Appliance appliance("");
  auto logonOnce = [&](size_t lgonCount) {
    V7kClient& client = Start(appliance.Port());
    EXPECT_TRUE(appliance.WaitForCommand("LGON", lgonCount));
    EXPECT_TRUE(WaitUntil([&] { return client.InnerState() == AuthFSM_Inner::ST_HeartbeatPending; }, 5000));
    StopAndWait(client);
    clients_.clear();
  };
  // Whether each connection began with a logoff.
  auto logoffFirst = [&] {
    std::vector<bool> first;
    for (const auto& commands : appliance.Connections()) first.push_back(!commands.empty() && commands[0] == "LGOF");
    return first;
  };

  logonOnce(1);  // empty cache
  logonOnce(2);  // same local address, same identity
  identity_.Set(MakeIdentity(L"asmith"));
  logonOnce(3);  // the cache keeps the first accepted identity ...
  logonOnce(4);  // ... so every later logon is preceded by a logoff
  EXPECT_EQ(logoffFirst(), (std::vector<bool>{true, false, true, true}));
}

TEST_F(V7kClientTest, CacheRecordsTheIdentityThatWasSent) {
  // The reply comes late; the identity changes while it is on its way (and the identity
  // check is too slow to notice before the reply is taken).
  platform_.clientTimings.identityCheckMs = 60000;
  Appliance appliance("--delay 300");
  V7kClient& first = Start(appliance.Port());
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 1));
  identity_.Set(MakeIdentity(L"asmith"));
  ASSERT_TRUE(g_log.WaitFor("'STAT' SUCCESS received"));
  ASSERT_TRUE(WaitUntil([&] { return first.InnerState() == AuthFSM_Inner::ST_HeartbeatPending; }, 5000));
  EXPECT_EQ(first.LogonCrc(), IdentityCrc(MakeIdentity(L"jdoe")));
  StopAndWait(first);

  // The appliance accepted jdoe, never asmith: the next logon must log off first.
  Start(appliance.Port());
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 2));
  const auto connections = appliance.Connections();
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_EQ(connections[1].at(0), "LGOF");
  EXPECT_EQ(connections[1].at(1), "LGON");
}

TEST_F(V7kClientTest, IdentityChangeWhileConnectedRestarts) {
  Appliance appliance("");
  V7kClient& client = Start(appliance.Port());
  ASSERT_TRUE(appliance.WaitForCommand("BEAT", 1));
  const size_t logoffs = appliance.CountCommand("LGOF");
  identity_.Set(MakeIdentity(L"asmith"));
  ASSERT_TRUE(g_log.WaitFor("Detected user identity changes; restarting."));
  ASSERT_TRUE(WaitUntil([&] { return client.HasEnded(); }, 5000));
  EXPECT_EQ(g_log.Containing("thread shutdown normally.").size(), 1u);
  // The heartbeat state ends without a logoff of its own.
  EXPECT_TRUE(WaitUntil([&] { return appliance.Count("close") >= 1; }, 5000));
  EXPECT_EQ(appliance.CountCommand("LGOF"), logoffs);

  // The restarted client logs the new identity on.
  Start(appliance.Port());
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 2));
  std::string lastUser;
  for (const auto& e : appliance.Events())
    if (e.command == "LGON") lastUser = e.Param("UN");
  EXPECT_EQ(lastUser, "asmith");
}

// Replies that are not an accepting STAT, and a silent appliance, end in the retry path;
// the client keeps trying and still stops cleanly.
TEST_F(V7kClientTest, RefusedAndBrokenRepliesRetry) {
  struct Case {
    const char* options;
    std::vector<std::string> lines;  // each seen at least once
  } cases[] = {
      {"--status 1 --error 'too old'",
       {"'STAT' error: code:1 message:\"too old\".\n", "'STAT' 1: Client Version Is Old.  Terminating.\n",
        "'STAT' received but has protocol errors.\n", "Server connection lost or timed out.  Will retry in 60 seconds."}},
      {"--status 7 --error busy",
       {"'STAT' error: code:7 message:\"busy\".\n", "'STAT' received but has protocol errors.\n",
        "Server connection lost or timed out.  Will retry in 60 seconds."}},
      {"--garbage", {"Server connection lost or timed out.  Will retry in 60 seconds."}},
      {"--no-reply", {"Server timeout waiting for logon ack.  Will retry in 60 seconds."}},
      // One receive takes one reply: a STAT that arrives in two parts is not joined.
      {"--split-reply", {"DATA:RECV:NOTENOUGH:", "Server connection lost or timed out.  Will retry in 60 seconds."}},
  };
  g_Config.RX = 300;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    g_log.Clear();
    Appliance appliance(c.options);
    V7kClient& client = Start(appliance.Port());
    // A second logon shows the retry happened; the window then is 120 s.
    EXPECT_TRUE(appliance.WaitForCommand("LGON", 2));
    for (const auto& line : c.lines) EXPECT_TRUE(g_log.WaitFor(line)) << line;
    EXPECT_TRUE(g_log.WaitFor("Will retry in 120 seconds."));
    EXPECT_EQ(g_log.Containing("'STAT' SUCCESS").size(), 0u);
    EXPECT_NE(client.InnerState(), AuthFSM_Inner::ST_HeartbeatPending);
    StopAndWait(client);
    clients_.clear();
  }
}

TEST_F(V7kClientTest, ConnectionClosedAfterLogonRetriesFromTheFirstWindow) {
  // Every logon is accepted and then the appliance hangs up: the accepted STAT resets the
  // retries, so each retry draws from the first window again.
  Appliance appliance("--close-after-logon");
  Start(appliance.Port());
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 3));
  ASSERT_TRUE(g_log.WaitFor("Server connection lost or timed out.  Will retry in ", 2));
  for (const auto& line : g_log.Containing("Will retry in "))
    EXPECT_NE(line.find("Will retry in 60 seconds."), std::string::npos) << line;
}

TEST_F(V7kClientTest, ApplianceDownRetriesWithAGrowingWindow) {
  const uint16_t port = ClosedPort();
  Start(port);
  ASSERT_TRUE(g_log.WaitFor("Server connection lost or timed out.  Will retry in ", 9, 20000));
  std::vector<std::string> delays;
  for (const auto& line : g_log.Containing("Will retry in ")) {
    const size_t at = line.find("Will retry in ") + 14;
    delays.push_back(line.substr(at, line.find(' ', at) - at));
  }
  delays.resize(9);
  EXPECT_EQ(delays, (std::vector<std::string>{"60", "120", "240", "240", "240", "240", "240", "240", "240"}));
  EXPECT_EQ(g_log.Containing("Connected.").size(), 0u);
}

TEST_F(V7kClientTest, RealRandomDelaysStayInsideTheirWindows) {
  platform_.random = {};
  const uint16_t port = ClosedPort();
  Start(port);
  ASSERT_TRUE(g_log.WaitFor("Will retry in ", 4, 20000));
  const int windows[] = {60, 120, 240, 240};
  const auto lines = g_log.Containing("Will retry in ");
  for (size_t i = 0; i < 4; ++i) {
    const int delay = atoi(lines[i].c_str() + lines[i].find("Will retry in ") + 14);
    EXPECT_GE(delay, 1) << lines[i];
    EXPECT_LE(delay, windows[i]) << lines[i];
  }
}

TEST_F(V7kClientTest, ConnectThatNeverCompletesTimesOut) {
  // A listener that never accepts, its queue filled: further connects stay pending.
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  int len = sizeof(a);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::vector<SOCKET> fillers;
  for (int i = 0; i < 3; ++i) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    fillers.push_back(s);
  }
  Sleep(100);

  const ULONGLONG started = GetTickCount64();
  Start(ntohs(a.sin_port));
  ASSERT_TRUE(g_log.WaitFor("Server connection lost or timed out.  Will retry in 60 seconds.", 1, 5000));
  // Abandoned by the connect timer (500 ms here), not refused.
  EXPECT_GE(GetTickCount64() - started, 450u);
  EXPECT_EQ(g_log.Containing("Connected.").size(), 0u);
  clients_.front()->SignalStop();
  EXPECT_TRUE(WaitUntil([&] { return clients_.front()->HasEnded(); }, 5000));
  clients_.clear();
  for (SOCKET s : fillers) closesocket(s);
  closesocket(listener);
}

TEST_F(V7kClientTest, StopWhileTheAckIsPendingLogsOffTwice) {
  Appliance appliance("--no-reply");
  V7kClient& client = Start(appliance.Port());
  ASSERT_TRUE(appliance.WaitForCommand("LGON", 1));
  ASSERT_TRUE(WaitUntil([&] { return client.InnerState() == AuthFSM_Inner::ST_LogonAckPending; }, 5000));
  StopAndWait(client);
  clients_.clear();
  ASSERT_TRUE(WaitUntil([&] { return appliance.Count("close") >= 1; }, 5000));
  // One from the stopping thread, one from the logon machine on its way out.
  EXPECT_EQ(appliance.Commands(), (std::vector<std::string>{"LGOF", "LGON", "LGOF", "LGOF"}));
  EXPECT_EQ(appliance.Count("bad_frame"), 0u);
}

TEST_F(V7kClientTest, NoIdentityMeansNoConnection) {
  Appliance appliance("");
  identity_.Set(IdentityRecord{});
  Start(appliance.Port());
  ASSERT_TRUE(g_log.WaitFor("No user identity currently loaded.", 3));
  EXPECT_EQ(appliance.Count("connect"), 0u);
  identity_.Set(MakeIdentity(L"jdoe"));
  EXPECT_TRUE(appliance.WaitForCommand("LGON", 1));
}

TEST_F(V7kClientTest, RegistryRunsOneClientPerHostAndStopsDisplacedOnes) {
  Appliance first("");
  Appliance second("");
  V7kClientRegistry& registry = V7kClientRegistry::Instance();
  LockHolder hold(registry.Lock());
  auto make = [&](const std::wstring& host, uint16_t port) {
    auto client = std::make_unique<V7kClient>(nextInstance_++, identity_.Provider(), g_Config, platform_);
    client->SetAddress(host, port);
    V7kClient* raw = client.get();
    registry.Register(host, std::move(client));
    EXPECT_TRUE(raw->StartThread());
    EXPECT_TRUE(raw->WaitStarted(5000));
    return raw;
  };
  V7kClient* a = make(L"127.0.0.1", first.Port());
  V7kClient* b = make(L"localhost", second.Port());
  hold.Leave();
  ASSERT_TRUE(first.WaitForCommand("BEAT", 1));
  ASSERT_TRUE(second.WaitForCommand("BEAT", 1));
  EXPECT_EQ(first.Count("connect"), 1u);
  EXPECT_EQ(second.Count("connect"), 1u);
  EXPECT_EQ(registry.Find(L"127.0.0.1"), a);
  EXPECT_EQ(registry.Find(L"localhost"), b);
  EXPECT_EQ(registry.Find(L"127.0.0.2"), nullptr);

  // A second entry for the same host replaces the first client, which is stopped.
  V7kClient* c = make(L"127.0.0.1", first.Port());
  EXPECT_EQ(registry.Find(L"127.0.0.1"), c);
  EXPECT_TRUE(WaitUntil([&] { return a->HasEnded(); }, 5000)) << "displaced client still running";
  EXPECT_TRUE(WaitUntil([&] { registry.Cleanup(); return registry.StoppingCount() == 0; }, 5000));
  EXPECT_TRUE(first.WaitForCommand("LGON", 2));

  registry.StopAll();
  EXPECT_EQ(registry.RegisteredCount(), 0u);
  EXPECT_TRUE(WaitUntil([&] { registry.Cleanup(); return registry.StoppingCount() == 0; }, 5000));
  EXPECT_EQ(first.Count("close"), 2u);
  EXPECT_EQ(second.Count("close"), 1u);
}

}  // namespace
