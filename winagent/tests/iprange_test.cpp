#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/AgentConfig.h"
#include "config/iprange.h"
#include "support/Logging.h"

namespace {

uint32_t Ip(const char* dotted) { return inet_addr(dotted); }

// Captures the check and assertion records written while it lives.
class RecordCapture {
 public:
  RecordCapture() {
    g_Config.LC = 0xFFFFFFFFu;
    g_Config.LD = 4;
    SetTraceCapture([this](int, const std::wstring& line) {
      if (line.find(L"iprange.cpp(") == 0) records_.push_back(line);
    });
  }
  ~RecordCapture() { SetTraceCapture({}); }
  const std::vector<std::wstring>& Records() const { return records_; }

 private:
  std::vector<std::wstring> records_;
};

class BackupChainsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    SetLogPathOverride(std::wstring(temp) + L"iprange_test.log");
  }
  void SetUp() override { BackupChains::Instance().Clear(); }
  void TearDown() override { BackupChains::Instance().Clear(); }
};

struct Server {
  const char* address;
  uint16_t port;
};

struct DefaultChainCase {
  const wchar_t* ra;
  bool chainKept;
  std::vector<Server> servers;
  const wchar_t* record;  // expected check record, or nullptr for none
};

// The default chain built from RA: "0.0.0.0;255.255.255.255;" + RA.
TEST_F(BackupChainsTest, DefaultChainFromRaTable) {
  // The longest RA the reader accepts (257 characters): every server of it is in the chain.
  std::wstring longRa;
  std::vector<Server> longServers;
  for (int i = 0; i < 15; ++i) {
    longRa += L"100.100.100.100;";
    longServers.push_back({"100.100.100.100", 0});
  }
  longRa += L"1.2.3.4;10.0.0.12";
  longServers.insert(longServers.end(), {{"1.2.3.4", 0}, {"10.0.0.12", 0}});
  ASSERT_EQ(longRa.size(), 257u);

  const DefaultChainCase cases[] = {
      {longRa.c_str(), true, longServers, nullptr},
      {L"10.0.0.1;10.0.0.2", true, {{"10.0.0.1", 0}, {"10.0.0.2", 0}}, nullptr},
      {L"10.0.0.1:8080;10.0.0.2", true, {{"10.0.0.1", 8080}, {"10.0.0.2", 0}}, nullptr},
      // Every character of the delimiter set separates, "-" included.
      {L"1.1.1.1 2.2.2.2+3.3.3.3-4.4.4.4_5.5.5.5=6.6.6.6,7.7.7.7?8.8.8.8~9.9.9.9`10.0.0.10",
       true,
       {{"1.1.1.1", 0}, {"2.2.2.2", 0}, {"3.3.3.3", 0}, {"4.4.4.4", 0}, {"5.5.5.5", 0}, {"6.6.6.6", 0},
        {"7.7.7.7", 0}, {"8.8.8.8", 0}, {"9.9.9.9", 0}, {"10.0.0.10", 0}},
       nullptr},
      {L"1.1.1.1|2.2.2.2!3.3.3.3@4.4.4.4#5.5.5.5$6.6.6.6%7.7.7.7^8.8.8.8&9.9.9.9*10.0.0.10",
       true,
       {{"1.1.1.1", 0}, {"2.2.2.2", 0}, {"3.3.3.3", 0}, {"4.4.4.4", 0}, {"5.5.5.5", 0}, {"6.6.6.6", 0},
        {"7.7.7.7", 0}, {"8.8.8.8", 0}, {"9.9.9.9", 0}, {"10.0.0.10", 0}},
       nullptr},
      {L"255.255.255.255", true, {{"255.255.255.255", 0}}, nullptr},
      // A trailing separator ends the list; it is no empty token.
      {L"10.0.0.1;", true, {{"10.0.0.1", 0}}, nullptr},
      {L"", false, {}, nullptr},
      // Two separators in a row: an empty token.
      {L"10.0.0.1;;10.0.0.2", false, {}, L"iprange.cpp(93): Check failed, returning 0x80070057 (-2147024809)\n"},
      {L";10.0.0.2", false, {}, L"iprange.cpp(93): Check failed, returning 0x80070057 (-2147024809)\n"},
      // Host names are no addresses; "-" splits "web-filter" into two bad tokens.
      {L"webfilter", false, {}, L"iprange.cpp(96): Check failed, returning 0x80072726 (-2147014874)\n"},
      {L"10.0.0.1;web-filter", false, {}, L"iprange.cpp(96): Check failed, returning 0x80072726 (-2147014874)\n"},
      {L"10.0.0.1:port", false, {}, L"iprange.cpp(96): Check failed, returning 0x80072726 (-2147014874)\n"},
  };
  for (const DefaultChainCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "RA " << std::string(c.ra, c.ra + wcslen(c.ra)));
    AgentConfig config;
    wcscpy(config.RA, c.ra);
    RecordCapture capture;
    BackupChains& chains = BackupChains::Instance();
    chains.Assemble(config);

    ASSERT_EQ(chains.Chains().size(), c.chainKept ? 1u : 0u);
    EXPECT_EQ(chains.HasDefault(), c.chainKept);
    if (c.record) {
      ASSERT_EQ(capture.Records().size(), 1u);
      EXPECT_EQ(capture.Records()[0], c.record);
    } else {
      EXPECT_TRUE(capture.Records().empty());
    }
    if (!c.chainKept) continue;
    const BackupChain& chain = chains.Chains()[0];
    EXPECT_EQ(chain.rangeStart.address, 0u);
    EXPECT_EQ(chain.rangeEnd.address, 0xFFFFFFFFu);
    ASSERT_EQ(chain.servers.size(), c.servers.size());
    for (size_t i = 0; i < c.servers.size(); ++i) {
      EXPECT_EQ(chain.servers[i].address, Ip(c.servers[i].address)) << i;
      EXPECT_EQ(chain.servers[i].port, c.servers[i].port) << i;
    }
  }
}

struct ListCase {
  const wchar_t* text;
  std::vector<size_t> serverCounts;  // one per chain read
};

// Configured chains "(chain)" with at most one delimiter after each group.
TEST_F(BackupChainsTest, ChainListTable) {
  const ListCase cases[] = {
      {L"(10.0.0.0;10.0.0.255;192.168.1.1)", {1}},
      {L"(10.0.0.0;10.0.0.255;192.168.1.1);(10.0.1.0;10.0.1.255;192.168.1.2;192.168.1.3)", {1, 2}},
      {L"(10.0.0.0;10.0.0.255;192.168.1.1)(10.0.1.0;10.0.1.255;192.168.1.2)", {1, 1}},
      // Reading stops at anything but "(" after a group and its one delimiter.
      {L"(10.0.0.0;10.0.0.255;192.168.1.1);;(10.0.1.0;10.0.1.255;192.168.1.2)", {1}},
      {L" (10.0.0.0;10.0.0.255;192.168.1.1)", {}},
      // A failing chain ends the list; the chains before it stay.
      {L"(10.0.0.0;10.0.0.255;192.168.1.1)(10.0.1.0;10.0.1.255;;1.1.1.1)(10.0.2.0;10.0.2.255;1.1.1.2)", {1}},
      // A chain must hold both range bounds.
      {L"(10.0.0.0)", {}},
      {L"(10.0.0.0;)", {}},
      {L"(10.0.0.0;10.0.0.255)", {0}},
      // An unclosed group reads nothing.
      {L"(10.0.0.0;10.0.0.255;192.168.1.1", {}},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "text " << std::string(c.text, c.text + wcslen(c.text)));
    BackupChains& chains = BackupChains::Instance();
    chains.Clear();
    chains.ParseList(c.text);
    ASSERT_EQ(chains.Chains().size(), c.serverCounts.size());
    for (size_t i = 0; i < c.serverCounts.size(); ++i) EXPECT_EQ(chains.Chains()[i].servers.size(), c.serverCounts[i]);
  }
}

TEST_F(BackupChainsTest, ConfiguredChainsComeBeforeTheDefaultOne) {
  AgentConfig config;
  wcscpy(config.RA, L"10.1.1.1:139");
  wcscpy(config.BackupChains, L"(10.0.0.0;10.0.0.255;192.168.1.1:4000)");
  BackupChains& chains = BackupChains::Instance();
  chains.Assemble(config);
  ASSERT_EQ(chains.Chains().size(), 2u);
  EXPECT_EQ(chains.Chains()[0].rangeStart.address, Ip("10.0.0.0"));
  EXPECT_EQ(chains.Chains()[0].rangeEnd.address, Ip("10.0.0.255"));
  EXPECT_EQ(chains.Chains()[0].servers[0].port, 4000);
  EXPECT_EQ(chains.Chains()[1].servers[0].address, Ip("10.1.1.1"));

  // Only the default chain goes; a configured one is never taken for it.
  chains.RemoveDefault();
  ASSERT_EQ(chains.Chains().size(), 1u);
  EXPECT_EQ(chains.Chains()[0].rangeStart.address, Ip("10.0.0.0"));
  chains.RemoveDefault();
  EXPECT_EQ(chains.Chains().size(), 1u);
}

TEST_F(BackupChainsTest, FailedDefaultChainLeavesConfiguredChainsAlone) {
  AgentConfig config;
  wcscpy(config.RA, L"appliance.example");
  wcscpy(config.BackupChains, L"(10.0.0.0;10.0.0.255;192.168.1.1)");
  BackupChains& chains = BackupChains::Instance();
  chains.Assemble(config);
  ASSERT_EQ(chains.Chains().size(), 1u);
  EXPECT_FALSE(chains.HasDefault());
  chains.RemoveDefault();
  EXPECT_EQ(chains.Chains().size(), 1u);
}

}  // namespace
