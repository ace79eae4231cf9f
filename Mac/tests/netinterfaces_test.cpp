#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "LoggingEnvironment.h"
#include "identity/NetInterfaceEnum.h"
#include "TestSupport.h"

namespace {

const testing::Environment* const kLogging = testing::AddGlobalTestEnvironment(new LoggingEnvironment);

using Mac = std::array<uint8_t, 6>;
constexpr Mac kMac1 = {0x02, 0, 0, 0, 0, 0x01};
constexpr Mac kMac2 = {0x02, 0, 0, 0, 0, 0x02};
constexpr Mac kNoMac = {};
constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

// A list in the form getifaddrs gives: a link entry per interface, then the addresses.
class IfList {
 public:
  IfList& Link(const char* name, unsigned flags, const Mac& mac, unsigned short type = ARPHRD_ETHER) {
    Node& node = Add(name, flags);
    auto* link = reinterpret_cast<sockaddr_ll*>(&node.address);
    link->sll_family = AF_PACKET;
    link->sll_hatype = type;
    link->sll_halen = type == ARPHRD_ETHER ? 6 : 0;
    std::memcpy(link->sll_addr, mac.data(), mac.size());
    return *this;
  }
  IfList& Inet(const char* name, const char* address) {
    Node& node = Add(name, kUp);
    auto* in = reinterpret_cast<sockaddr_in*>(&node.address);
    in->sin_family = AF_INET;
    inet_pton(AF_INET, address, &in->sin_addr);
    return *this;
  }
  // Linked here, so that a copy links its own nodes.
  const ifaddrs* get() const {
    ifaddrs* next = nullptr;
    for (auto node = _nodes.rbegin(); node != _nodes.rend(); ++node) {
      node->entry.ifa_name = node->name.data();
      node->entry.ifa_addr = reinterpret_cast<sockaddr*>(&node->address);
      node->entry.ifa_next = next;
      next = &node->entry;
    }
    return next;
  }

 private:
  struct Node {
    ifaddrs entry{};
    sockaddr_storage address{};
    std::string name;
  };
  Node& Add(const char* name, unsigned flags) {
    Node& node = _nodes.emplace_back();
    node.name = name;
    node.entry.ifa_flags = flags;
    return node;
  }
  mutable std::deque<Node> _nodes;
};

std::vector<std::string> Entries(const IfList& list) {
  NetInterfaceEnum snapshot(false);
  snapshot.LoadFrom(list.get());
  std::vector<std::string> texts;
  for (const NetAddrPair& entry : snapshot.Entries()) texts.push_back(entry.to_string());
  return texts;
}

TEST(NetInterfaceEnum, WhichInterfacesCount) {
  const struct {
    const char* what;
    IfList list;
    std::vector<std::string> entries;
  } cases[] = {
      {"loopback only", IfList().Link("lo", kUp | IFF_LOOPBACK, kNoMac, ARPHRD_LOOPBACK).Inet("lo", "127.0.0.1"), {}},
      {"en with IPv4 and MAC", IfList().Link("en0", kUp, kMac1).Inet("en0", "10.0.0.1"),
       {"en0 10.0.0.1 02:00:00:00:00:01"}},
      {"en without IPv4", IfList().Link("en0", kUp, kMac1), {}},
      {"en without MAC", IfList().Link("en0", kUp, kNoMac).Inet("en0", "10.0.0.1"), {}},
      {"en at 0.0.0.0", IfList().Link("en0", kUp, kMac1).Inet("en0", "0.0.0.0"), {}},
      {"en down", IfList().Link("en0", IFF_BROADCAST, kMac1).Inet("en0", "10.0.0.1"), {}},
      {"ppp and tun without MAC",
       IfList().Link("ppp0", kUp, kNoMac, ARPHRD_PPP).Link("tun0", kUp, kNoMac, ARPHRD_NONE)
           .Inet("ppp0", "10.8.0.2").Inet("tun0", "10.9.0.2"),
       {"ppp0 10.8.0.2 00:00:00:00:00:00", "tun0 10.9.0.2 00:00:00:00:00:00"}},
      {"other names never", IfList().Link("eth0", kUp, kMac1).Inet("eth0", "10.0.0.1"), {}},
      {"alias label folds into its interface, the last address wins",
       IfList().Link("en0", kUp, kMac1).Inet("en0", "10.0.0.1").Inet("en0:1", "10.0.0.9"),
       {"en0 10.0.0.9 02:00:00:00:00:01"}},
      // The next interface starts afresh: en1 has no address of its own.
      {"entry reset per interface",
       IfList().Link("en0", kUp, kMac1).Link("en1", kUp, kMac2).Inet("en0", "10.0.0.1"),
       {"en0 10.0.0.1 02:00:00:00:00:01"}},
      {"kernel order kept",
       IfList().Link("en1", kUp, kMac2).Link("en0", kUp, kMac1).Inet("en0", "10.0.0.1").Inet("en1", "10.0.0.2"),
       {"en1 10.0.0.2 02:00:00:00:00:02", "en0 10.0.0.1 02:00:00:00:00:01"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Entries(c.list), c.entries) << c.what;
}

TEST(NetInterfaceEnum, WhatCountsAsAChange) {
  const IfList base = IfList().Link("en0", kUp, kMac1).Link("en1", kUp, kMac2).Inet("en0", "10.0.0.1").Inet(
      "en1", "10.0.0.2");
  const struct {
    const char* what;
    IfList list;
    bool same;
  } cases[] = {
      {"identical", IfList().Link("en0", kUp, kMac1).Link("en1", kUp, kMac2).Inet("en0", "10.0.0.1").Inet(
                        "en1", "10.0.0.2"),
       true},
      {"other names, same addresses",
       IfList().Link("en5", kUp, kMac1).Link("ppp9", kUp, kMac2).Inet("en5", "10.0.0.1").Inet("ppp9", "10.0.0.2"),
       true},
      {"order swapped",
       IfList().Link("en1", kUp, kMac2).Link("en0", kUp, kMac1).Inet("en0", "10.0.0.1").Inet("en1", "10.0.0.2"),
       false},
      {"address changed",
       IfList().Link("en0", kUp, kMac1).Link("en1", kUp, kMac2).Inet("en0", "10.0.0.1").Inet("en1", "10.0.0.3"),
       false},
      {"hardware address changed",
       IfList().Link("en0", kUp, kMac1).Link("en1", kUp, kMac1).Inet("en0", "10.0.0.1").Inet("en1", "10.0.0.2"),
       false},
      {"one gone", IfList().Link("en0", kUp, kMac1).Inet("en0", "10.0.0.1"), false},
  };
  NetInterfaceEnum before(false);
  before.LoadFrom(base.get());
  for (const auto& c : cases) {
    NetInterfaceEnum after(false);
    after.LoadFrom(c.list.get());
    EXPECT_EQ(before == after, c.same) << c.what;
  }

  // A snapshot that was never loaded equals one of a machine with nothing that counts.
  NetInterfaceEnum initial(false), loopbackOnly(false);
  loopbackOnly.LoadFrom(IfList().Link("lo", kUp, kNoMac, ARPHRD_LOOPBACK).Inet("lo", "127.0.0.1").get());
  EXPECT_TRUE(initial == loopbackOnly);
  EXPECT_FALSE(initial == before);
}

TEST(NetInterfaceEnum, DumpAndVerboseLoadLogEachEntry) {
  const IfList list = IfList().Link("en0", kUp, {0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5}).Inet("en0", "192.168.1.20");
  LogEverything();
  StderrCapture err;
  NetInterfaceEnum quiet(false);
  quiet.LoadFrom(list.get());
  EXPECT_EQ(err.Text().find("en0 "), std::string::npos);
  quiet.DumpStateToLog();
  NetInterfaceEnum verbose(true);
  verbose.LoadFrom(list.get());
  const std::vector<std::string> lines = SplitLines(err.Text());
  int found = 0;
  for (const std::string& line : lines)
    found += line.find("5 NetInterfaceEnum.* => en0 192.168.1.20 a0:b1:c2:d3:e4:f5") != std::string::npos;
  EXPECT_EQ(found, 2) << err.Text();
  LogHub<LogContext>::Get().SetDefaultLevel(SEV_NOTICE);
}

TEST(NetInterfaceEnum, TheMachinesOwnListHoldsOnlyQualifyingNames) {
  NetInterfaceEnum snapshot(false);
  snapshot.Load();
  for (const NetAddrPair& entry : snapshot.Entries()) {
    const std::string& name = entry.name;
    EXPECT_TRUE(name.rfind("en", 0) == 0 || name.rfind("ppp", 0) == 0 || name.rfind("tun", 0) == 0) << name;
  }
}

// Runs ip(8) with the arguments; true when it succeeded.
bool Ip(const std::string& arguments) { return std::system(("ip " + arguments + " >/dev/null 2>&1").c_str()) == 0; }

// In a child of its own, inside a fresh network namespace that goes away with it: a veth
// pair en0/en1, en0 with an IPv4 address. The snapshots before and after en1 gets one.
TEST(NetInterfaceEnum, RealVethPairInsideANetworkNamespace) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a network namespace";
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pipeFds[0]);
    std::string report;
    if (unshare(CLONE_NEWNET) != 0) {
      report = "no namespace";
    } else if (!Ip("link add en0 type veth peer name en1") || !Ip("addr add 10.200.0.1/24 dev en0") ||
               !Ip("link set en0 up") || !Ip("link set en1 up") || !Ip("link set lo up")) {
      report = "setup failed";
    } else {
      NetInterfaceEnum first(false), second(false);
      first.Load();
      for (const NetAddrPair& entry : first.Entries()) report += entry.to_string() + "\n";
      Ip("addr add 10.200.0.2/24 dev en1");
      second.Load();
      report += first == second ? "same" : "changed";
      report += " " + std::to_string(second.Entries().size());
    }
    const ssize_t written = write(pipeFds[1], report.data(), report.size());
    _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
  }
  close(pipeFds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<size_t>(n));
  close(pipeFds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (report == "no namespace") GTEST_SKIP() << "this machine makes no network namespace";
  ASSERT_NE(report, "setup failed");
  const std::vector<std::string> lines = SplitLines(report);
  ASSERT_EQ(lines.size(), 2u) << report;
  EXPECT_EQ(lines[0].rfind("en0 10.200.0.1 ", 0), 0u) << report;
  EXPECT_NE(lines[0], "en0 10.200.0.1 00:00:00:00:00:00");
  EXPECT_EQ(lines[1], "changed 2");
}

}  // namespace
