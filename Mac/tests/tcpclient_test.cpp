#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackListener.h"
#include "client/TcpClient.h"
#include "TestSupport.h"

namespace {

// Records the client's signals as its owner would see them.
struct Owner {
  explicit Owner(const char* name = "appliance-1") : client(TcpClientFSM::Create(name)) {
    const int32_t signals[] = {TcpClientFSM::SG_Connected, TcpClientFSM::SG_Disconnected, TcpClientFSM::SG_RxData};
    id = client->SubscribeToSignals(&OnSignal, this, 3, signals);
  }
  ~Owner() { client->Unsubscribe(id); }
  static void OnSignal(TcpClientFSM::Machine::SubscriptionType* s) {
    auto* self = static_cast<Owner*>(s->context);
    self->signals.push_back(TcpClientFSM::SignalName(s->signal));
  }
  int Count(const std::string& signal) const {
    int n = 0;
    for (const std::string& s : signals) n += s == signal;
    return n;
  }
  TcpClientFSM* tcp() const { return client->owner(); }
  int32_t state() const { return client->state(); }

  RefxPtr<TcpClientFSM> client;
  int32_t id = 0;
  std::vector<std::string> signals;
};

TEST(TcpClient, ConnectSendReceiveAndPeerClose) {
  VirtualClock clock;
  LogLines log;
  Listener listener;
  {
    Owner owner;
    ASSERT_TRUE(owner.tcp()->Connect("127.0.0.1", listener.port()));
    EXPECT_EQ(owner.state(), TcpClientFSM::ST_Connect_InProgress);
    ASSERT_TRUE(RunLoopUntil([&] { return owner.Count("SG_Connected") == 1; }));
    EXPECT_EQ(owner.state(), TcpClientFSM::ST_Connected);
    EXPECT_EQ(owner.tcp()->GetPeerAddrText(), "127.0.0.1");
    EXPECT_EQ(owner.tcp()->GetLocalAddrText(), "127.0.0.1");
    ASSERT_GE(listener.Accept(), 0);

    EXPECT_TRUE(owner.tcp()->SendData("LGON", 4));
    EXPECT_EQ(listener.Receive(4), "LGON");
    EXPECT_FALSE(owner.tcp()->SendData("", 0));

    listener.Send("STAT-1");
    ASSERT_TRUE(RunLoopUntil([&] { return owner.tcp()->DataAvailable() == 6; }));
    listener.Send("+more");
    ASSERT_TRUE(RunLoopUntil([&] { return owner.tcp()->DataAvailable() == 11; }));
    const HeapBuff<uint8_t> bytes = owner.tcp()->Read();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), "STAT-1+more");
    EXPECT_EQ(owner.tcp()->DataAvailable(), 0u);
    EXPECT_EQ(owner.Count("SG_RxData"), 2);

    listener.ClosePeer();
    ASSERT_TRUE(RunLoopUntil([&] { return owner.state() == TcpClientFSM::ST_Disconnected; }));
    // Nothing further arrives: one disconnect, then silence.
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.2, false);
    EXPECT_EQ(owner.Count("SG_Disconnected"), 1);
    EXPECT_FALSE(owner.tcp()->SendData("BEAT", 4));
    const std::string port = std::to_string(listener.port());
    EXPECT_EQ(log.Matching("Connecting to port").at(0),
              "1 TcpClientFSM => appliance-1: Connecting to port " + port + " at 127.0.0.1 (127.0.0.1)");
    EXPECT_EQ(log.Matching("Connection succeeded").size(), 1u);
    EXPECT_EQ(log.Matching("Received 6 bytes").size(), 1u);
    EXPECT_EQ(log.Matching("peer close detected").at(0),
              "1 TcpClientFSM => appliance-1: peer close detected, selectErr=0, 1");
  }
  EXPECT_EQ(log.Matching("appliance-1: TcpClientFSM destroyed").size(), 1u);
}

TEST(TcpClient, RefusedAndUnresolvableEndDisconnectedOnce) {
  VirtualClock clock;
  LogLines log;
  struct Case {
    const char* host;
    uint16_t port;
  } cases[] = {{"127.0.0.1", ClosedPort()}, {"nothing-here.invalid", 139}};
  for (const Case& c : cases) {
    Owner owner;
    ASSERT_TRUE(owner.tcp()->Connect(c.host, c.port));
    ASSERT_TRUE(RunLoopUntil([&] { return owner.state() == TcpClientFSM::ST_Disconnected; })) << c.host;
    CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.2, false);
    EXPECT_EQ(owner.Count("SG_Disconnected"), 1) << c.host;
    EXPECT_EQ(owner.Count("SG_Connected"), 0) << c.host;
  }
}

TEST(TcpClient, NameResolvedThenConnectedOnTheConfiguredPort) {
  VirtualClock clock;
  LogLines log;
  Listener listener;
  Owner owner;
  ASSERT_TRUE(owner.tcp()->Connect("localhost", listener.port()));
  EXPECT_EQ(owner.state(), TcpClientFSM::ST_DNS_InProgress);
  ASSERT_TRUE(RunLoopUntil([&] { return owner.state() == TcpClientFSM::ST_Connected; }));
  EXPECT_EQ(owner.tcp()->GetPeerAddrText(), "127.0.0.1");
  EXPECT_EQ(log.Matching("Connecting to port").at(0),
            "1 TcpClientFSM => appliance-1: Connecting to port " + std::to_string(listener.port()) +
                " at 127.0.0.1 (localhost)");
}

// Threads of this process: the resolver threads beside the test's own.
size_t ThreadCount() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                                           std::filesystem::directory_iterator()));
}

TEST(TcpClient, ReleasedWhileResolvingGivesNoCallback) {
  VirtualClock clock;
  LogLines log;
  {
    Owner owner;
    ASSERT_TRUE(owner.tcp()->Connect("localhost", 139));
    ASSERT_EQ(owner.state(), TcpClientFSM::ST_DNS_InProgress);
  }
  const size_t linesAtRelease = log.Messages().size();
  // A resolver thread queues its answer before it ends: once none is left, the answer
  // waits in the loop's queue ahead of the marker.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (ThreadCount() > 1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(ThreadCount(), 1u);
  bool marker = false;
  CFRunLoopPerformBlock(CFRunLoopGetCurrent(), kCFRunLoopDefaultMode, [&] { marker = true; });
  // The answer for the host that is gone ran nothing, and nothing is left to wait for.
  EXPECT_EQ(CFRunLoopRunInMode(kCFRunLoopDefaultMode, 1, false), kCFRunLoopRunFinished);
  EXPECT_TRUE(marker);
  EXPECT_EQ(log.Messages().size(), linesAtRelease);
}

TEST(TcpClient, ConnectRefusesBadArgumentsAndSecondCalls) {
  VirtualClock clock;
  Listener listener;
  Owner owner;
  EXPECT_FALSE(owner.tcp()->Connect("127.0.0.1", 0));
  EXPECT_FALSE(owner.tcp()->Connect("", listener.port()));
  EXPECT_FALSE(owner.tcp()->Connect(nullptr, listener.port()));
  EXPECT_EQ(owner.state(), TcpClientFSM::ST_Init);
  EXPECT_FALSE(owner.tcp()->SendData("x", 1));  // no socket yet
  EXPECT_TRUE(owner.tcp()->Connect("127.0.0.1", listener.port()));
  EXPECT_FALSE(owner.tcp()->Connect("127.0.0.1", listener.port()));
  ASSERT_TRUE(RunLoopUntil([&] { return owner.state() == TcpClientFSM::ST_Connected; }));
  owner.client->onEvent(TcpClientFSM::EV_DisconnectReq, nullptr);
  EXPECT_EQ(owner.state(), TcpClientFSM::ST_Disconnected);
  EXPECT_EQ(owner.Count("SG_Disconnected"), 1);
}

TEST(TcpClient, DataDuringConnectAndABoundedQueue) {
  VirtualClock clock;
  LogLines log;
  Listener listener;
  Owner owner;
  ASSERT_TRUE(owner.tcp()->Connect("127.0.0.1", listener.port()));
  ASSERT_GE(listener.Accept(), 0);
  // More than one largest frame before the client reads anything.
  std::string flood(70000, '\0');
  for (size_t i = 0; i < flood.size(); ++i) flood[i] = static_cast<char>(i * 7);
  listener.Send(flood);
  // A read reported while the connect is still in progress is handled as connected.
  owner.client->onEvent(TcpClientFSM::EV_RxData, nullptr);
  EXPECT_EQ(owner.state(), TcpClientFSM::ST_Connected);
  EXPECT_EQ(owner.Count("SG_Connected"), 0);
  EXPECT_EQ(log.Matching("Data received while connection in progress").size(), 1u);
  ASSERT_TRUE(RunLoopUntil([&] { return owner.Count("SG_RxData") > 0 && owner.tcp()->DataAvailable() >= 65545; }));
  CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.2, false);
  ASSERT_EQ(owner.tcp()->DataAvailable(), TcpClientFSM::kMaxQueued);
  const HeapBuff<uint8_t> kept = owner.tcp()->Read();
  // The oldest bytes: where the first frame is.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(kept.data()), kept.size()), flood.substr(0, 65545));
  // Once read, the queue takes bytes again.
  listener.Send("next");
  ASSERT_TRUE(RunLoopUntil([&] { return owner.tcp()->DataAvailable() == 4; }));
}

TEST(TcpClient, EventFloodIsThrottled) {
  VirtualClock clock;
  LogLines log;
  Owner owner;
  const CFAbsoluteTime began = CFAbsoluteTimeGetCurrent();
  std::vector<double> waits;
  for (int i = 1; i <= 34; ++i) {
    const CFAbsoluteTime before = CFAbsoluteTimeGetCurrent();
    owner.client->onEvent(TcpClientFSM::EV_DisconnectReq, nullptr);
    waits.push_back(CFAbsoluteTimeGetCurrent() - before);
  }
  // Events 30, 31 and 32 fall within 3 s of the start and wait 1 s each; 33 starts a new count.
  for (int i = 0; i < 34; ++i) EXPECT_EQ(waits[i], (i >= 29 && i <= 31) ? 1.0 : 0.0) << "event " << i + 1;
  EXPECT_EQ(CFAbsoluteTimeGetCurrent() - began, 3.0);
  EXPECT_EQ(log.Matching("WARNING: Message rate throttling active due to event flood!").size(), 3u);
}

}  // namespace
