// The stand-in appliance as a child process, spoken to over 127.0.0.1 with the shared codec.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "NativeAppliance.h"
#include "PacketLumo.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

class Agent {
 public:
  explicit Agent(uint16_t port) {
    m_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    m_connected = connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Agent() { close(m_fd); }
  bool Connected() const { return m_connected; }

  bool Send(uint32_t command, const CParam* table) {
    const uint32_t length = m_packet.ConstructFullPacket(command, table);
    return send(m_fd, m_packet.Frame(), length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
  }
  bool SendRaw(const std::string& bytes) {
    return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  bool SendLogon() {
    LgonIdentity id;
    id.userName = "alice";
    id.domainName = "CORP";
    id.computerName = "WS1";
    return Send(kCmdLgon, LgonTable(id, LgonOrder::Windows).Rows());
  }

  // One receive; empty on time-out. closed tells an orderly end.
  Bytes Receive(int timeoutMs, bool* closed = nullptr) {
    if (closed) *closed = false;
    pollfd p{m_fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return {};
    uint8_t buffer[2048];
    const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      return {};
    }
    return Bytes(buffer, buffer + n);
  }

  CPacketLumo& Packet() { return m_packet; }

 private:
  int m_fd = -1;
  bool m_connected = false;
  CPacketLumo m_packet{kMacDialect, [] { return uint8_t{42}; }};
};

StatReply ReadStat(CPacketLumo& packet, const Bytes& bytes) {
  const RxMessage message = ClassifyReceive(packet, bytes.data(), bytes.size());
  EXPECT_EQ(message.kind, RxKind::Stat);
  return ReadStatReply(packet.Params(), packet.Payload(), packet.PayloadLength(), 99);
}

TEST(Appliance, AnswersALogonWithAStatAndReportsEveryEvent) {
  ApplianceProcess appliance({"--port", "0", "--heartbeat", "1500", "--config", "LD[4]", "--error", "all \"fine\""});
  ASSERT_NE(appliance.Port(), 0);
  {
    Agent agent(appliance.Port());
    ASSERT_TRUE(agent.Connected());
    EXPECT_NE(appliance.LineWith("\"event\":\"connect\""), "");
    const CParam logoff[] = {IntParam(MakeTag("RS"), PT_UInt8, 1, PF_Required), EndParam()};
    ASSERT_TRUE(agent.Send(kCmdLgof, logoff));
    ASSERT_TRUE(agent.SendLogon());

    const StatReply reply = ReadStat(agent.Packet(), agent.Receive(3000));
    EXPECT_EQ(reply.outcome, StatOutcome::Accepted);
    EXPECT_EQ(reply.heartbeat, 1500u);
    EXPECT_EQ(reply.configText, "LD[4]");
    EXPECT_EQ(reply.errorText, "all \"fine\"");

    EXPECT_EQ(appliance.LineWith("\"command\":\"LGOF\""),
              "{\"event\":\"message\",\"conn\":1,\"command\":\"LGOF\",\"magic\":\"LH\",\"params\":[{\"tag\":\"RS\","
              "\"value\":1}],\"parse\":1}");
    EXPECT_EQ(appliance.LineWith("\"command\":\"LGON\""),
              "{\"event\":\"message\",\"conn\":1,\"command\":\"LGON\",\"magic\":\"LH\",\"params\":["
              "{\"tag\":\"TP\",\"value\":0},{\"tag\":\"UN\",\"value\":\"alice\"},{\"tag\":\"DO\",\"value\":\"CORP\"},"
              "{\"tag\":\"CN\",\"value\":\"WS1\"},{\"tag\":\"VS\",\"value\":\"Identra v2.0\"},"
              "{\"tag\":\"VN\",\"value\":65545}],\"parse\":6}");
    EXPECT_NE(appliance.LineWith("\"event\":\"reply\""), "");
  }
  EXPECT_EQ(appliance.LineWith("\"event\":\"close\""), "{\"event\":\"close\",\"conn\":1,\"by\":\"peer\"}");

  // Bytes that are no frame are reported, and the connection stays usable.
  Agent second(appliance.Port());
  ASSERT_TRUE(second.Connected());
  ASSERT_TRUE(second.SendRaw("GET / HTTP/1.0\r\n\r\n"));
  EXPECT_EQ(appliance.LineWith("bad_frame"),
            "{\"event\":\"bad_frame\",\"conn\":2,\"bytes\":18,\"hex\":\"474554202f20485454502f312e300d0a0d0a\"}");
  ASSERT_TRUE(second.SendLogon());
  EXPECT_EQ(ReadStat(second.Packet(), second.Receive(3000)).outcome, StatOutcome::Accepted);
}

// Everything an agent gets after its logon, until the connection closes or stays quiet.
struct Received {
  std::vector<Bytes> chunks;
  bool closed = false;
  int64_t firstAfterMs = -1;
  std::vector<int64_t> atMs;  // arrival of each chunk
};

Received Collect(Agent& agent, int quietMs) {
  Received r;
  const auto start = Clock::now();
  for (;;) {
    Bytes chunk = agent.Receive(quietMs, &r.closed);
    if (chunk.empty()) return r;
    r.atMs.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    if (r.chunks.empty()) r.firstAfterMs = r.atMs.back();
    r.chunks.push_back(std::move(chunk));
  }
}

TEST(Appliance, FaultModesDoWhatTheySay) {
  enum Expect { kStat, kNothing, kGarbage, kSplit };
  struct Case {
    std::vector<std::string> args;
    Expect expect;
    StatOutcome outcome;
    bool closed;
    int minDelayMs;
  };
  const Case cases[] = {
      {{"--status", "1", "--error", "old"}, kStat, StatOutcome::VersionOld, false, 0},
      {{"--status", "7"}, kStat, StatOutcome::Refused, false, 0},
      {{"--no-reply"}, kNothing, StatOutcome::Malformed, false, 0},
      {{"--close-after-logon"}, kStat, StatOutcome::Accepted, true, 0},
      {{"--no-reply", "--close-after-logon"}, kNothing, StatOutcome::Malformed, true, 0},
      {{"--garbage"}, kGarbage, StatOutcome::Malformed, false, 0},
      {{"--split-reply"}, kSplit, StatOutcome::Accepted, false, 0},
      {{"--delay", "400"}, kStat, StatOutcome::Accepted, false, 400},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& a : c.args) name += a + " ";
    SCOPED_TRACE(name);
    std::vector<std::string> args{"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ApplianceProcess appliance(args);
    ASSERT_NE(appliance.Port(), 0);
    Agent agent(appliance.Port());
    ASSERT_TRUE(agent.SendLogon());
    const Received r = Collect(agent, 700);
    EXPECT_EQ(r.closed, c.closed);
    EXPECT_GE(r.firstAfterMs, r.chunks.empty() ? -1 : c.minDelayMs);
    switch (c.expect) {
      case kStat:
        ASSERT_EQ(r.chunks.size(), 1u);
        EXPECT_EQ(ReadStat(agent.Packet(), r.chunks[0]).outcome, c.outcome);
        break;
      case kNothing:
        EXPECT_TRUE(r.chunks.empty());
        break;
      case kGarbage:
        ASSERT_EQ(r.chunks.size(), 1u);
        EXPECT_EQ(ClassifyReceive(agent.Packet(), r.chunks[0].data(), r.chunks[0].size()).kind, RxKind::BadFrame);
        break;
      case kSplit: {
        ASSERT_EQ(r.chunks.size(), 2u);
        EXPECT_GE(r.atMs[1] - r.atMs[0], 100);  // two writes apart, not one the stack happened to cut
        EXPECT_LT(agent.Packet().ExtractFullPacket(r.chunks[0].data(), r.chunks[0].size(), nullptr, nullptr), 0);
        Bytes joined = r.chunks[0];
        joined.insert(joined.end(), r.chunks[1].begin(), r.chunks[1].end());
        EXPECT_EQ(ReadStat(agent.Packet(), joined).outcome, c.outcome);
        break;
      }
    }
  }
}

TEST(Appliance, ServesManyAgentsAtOnce) {
  ApplianceProcess appliance({"--port", "0"});
  ASSERT_NE(appliance.Port(), 0);
  std::vector<std::unique_ptr<Agent>> agents;
  for (int i = 0; i < 8; ++i) {
    agents.push_back(std::make_unique<Agent>(appliance.Port()));
    ASSERT_TRUE(agents.back()->Connected());
  }
  for (auto& agent : agents) ASSERT_TRUE(agent->SendLogon());
  for (auto& agent : agents) EXPECT_EQ(ReadStat(agent->Packet(), agent->Receive(3000)).outcome, StatOutcome::Accepted);
  for (int id = 1; id <= 8; ++id)
    EXPECT_NE(appliance.LineWith("\"event\":\"connect\",\"conn\":" + std::to_string(id) + ","), "") << id;
}

TEST(Appliance, StopsOnASignalOrAtTheEndOfItsLifetime) {
  {
    ApplianceProcess appliance({"--port", "0"});
    ASSERT_NE(appliance.Port(), 0);
    Agent agent(appliance.Port());
    EXPECT_NE(appliance.LineWith("connect"), "");
    appliance.Signal(SIGTERM);
    EXPECT_EQ(appliance.LineWith("close"), "{\"event\":\"close\",\"conn\":1,\"by\":\"appliance\"}");
    EXPECT_EQ(appliance.Line(), "{\"event\":\"stop\",\"reason\":\"signal\"}");
    EXPECT_EQ(appliance.WaitExit(2000), 0);
  }
  {
    ApplianceProcess appliance({"--port", "0", "--exit-after", "1"});
    ASSERT_NE(appliance.Port(), 0);
    EXPECT_EQ(appliance.Line(3000), "{\"event\":\"stop\",\"reason\":\"lifetime\"}");
    EXPECT_EQ(appliance.WaitExit(2000), 0);
  }
  {
    ApplianceProcess appliance({"--port", "notanumber"});
    EXPECT_EQ(appliance.Port(), 0);
    EXPECT_EQ(appliance.WaitExit(2000), 2);
  }
}

}  // namespace
