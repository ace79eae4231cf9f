// The socket wrapper against loopback listeners, under real Winsock.
#include "client/CSocket.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/Logging.h"
#include "support/Utilities.h"
#include "TestSupport.h"

namespace {

class CSocketTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(CSocket::Start(), 0); }
  static void TearDownTestSuite() { CSocket::Stop(); }

  void SetUp() override {
    SetLogPathOverride(log_ / L"socket.log");
    SetDebuggerQuery([] { return true; });
    SetTraceCapture([this](int, const std::wstring& line) { lines_.push_back(Narrow(line)); });
  }
  void TearDown() override {
    SetTraceCapture({});
    SetDebuggerQuery(nullptr);
    SetLogPathOverride(L"");
  }

  // A listener on 127.0.0.1 with a free port.
  struct Listener {
    SOCKET s = INVALID_SOCKET;
    uint16_t port = 0;
    Listener() {
      s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      sockaddr_in a = {};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
      listen(s, 4);
      int size = sizeof a;
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
      port = ntohs(a.sin_port);
    }
    ~Listener() {
      if (s != INVALID_SOCKET) closesocket(s);
    }
  };

  // Waits for the socket event and reads the network events.
  static WSANETWORKEVENTS Await(CSocket& socket, WSAEVENT event) {
    WSANETWORKEVENTS events = {};
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(socket.EnumEvents(event, &events));
    return events;
  }

  size_t Assertions() const {
    size_t n = 0;
    for (const std::string& line : lines_)
      if (line.find("CSocket.cpp(") != std::string::npos && line.find("Assertion failed") != std::string::npos) ++n;
    return n;
  }

  ScratchDir log_;
  std::vector<std::string> lines_;
};

TEST_F(CSocketTest, ConvertsWinsockErrorsToResultCodes) {
  struct Case {
    int error;
    int32_t result;
  };
  for (const Case c : {Case{10035, static_cast<int32_t>(0x80072733u)}, Case{10049, static_cast<int32_t>(0x80072741u)},
                       Case{10061, static_cast<int32_t>(0x8007274Du)}, Case{0, 0}, Case{-7, -7}}) {
    EXPECT_EQ(CSocket::ResultFromWinsock(c.error), c.result) << c.error;
  }
  WSASetLastError(10035);
  EXPECT_EQ(CSocket::LastError(), static_cast<int32_t>(0x80072733u));
}

TEST_F(CSocketTest, ConnectsSendsReceivesAndCloses) {
  Listener listener;
  EventHolder event(false);
  CSocket socket;
  ASSERT_NE(socket.Create(), INVALID_SOCKET);
  EXPECT_TRUE(socket.SetNoDelay());
  ASSERT_TRUE(socket.SelectEvents(event.Get(), CSocket::kConnectEvents));
  if (!socket.ConnectByName(L"127.0.0.1", listener.port)) {
    EXPECT_EQ(CSocket::LastError(), static_cast<int32_t>(0x80072733u));  // in progress
  }
  WSANETWORKEVENTS events = Await(socket, event.Get());
  ASSERT_TRUE(events.lNetworkEvents & FD_CONNECT);
  EXPECT_EQ(events.iErrorCode[FD_CONNECT_BIT], 0);

  sockaddr_in peer = {};
  int size = sizeof peer;
  SOCKET server = accept(listener.s, reinterpret_cast<sockaddr*>(&peer), &size);
  ASSERT_NE(server, INVALID_SOCKET);

  std::wstring local;
  ASSERT_TRUE(socket.LocalAddress(local));
  EXPECT_EQ(local, L"127.0.0.1:" + std::to_wstring(ntohs(peer.sin_port)));

  // Agent to appliance.
  const uint8_t hello[] = {'Q', 0, 1, 2, 'x'};
  EXPECT_EQ(socket.Send(hello, sizeof hello), static_cast<int>(sizeof hello));
  char got[16] = {};
  EXPECT_EQ(recv(server, got, sizeof got, 0), static_cast<int>(sizeof hello));
  EXPECT_EQ(std::string(got, sizeof hello), std::string(reinterpret_cast<const char*>(hello), sizeof hello));

  // Appliance to agent: a read event, then a receive into a zeroed buffer.
  ASSERT_TRUE(socket.SelectEvents(event.Get(), CSocket::kDataEvents));
  send(server, "reply", 5, 0);
  events = Await(socket, event.Get());
  EXPECT_TRUE(events.lNetworkEvents & FD_READ);
  uint8_t buffer[CSocket::kReceiveSize];
  std::memset(buffer, 0xEE, sizeof buffer);
  ASSERT_EQ(socket.Receive(buffer), 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "reply");
  EXPECT_EQ(buffer[5], 0);
  EXPECT_EQ(buffer[CSocket::kReceiveSize - 1], 0);

  // The appliance closes: a close event.
  closesocket(server);
  events = Await(socket, event.Get());
  EXPECT_TRUE(events.lNetworkEvents & FD_CLOSE);

  EXPECT_TRUE(socket.Shutdown());
  EXPECT_EQ(socket.Close(), 0);
  EXPECT_FALSE(socket.IsValid());
  EXPECT_EQ(Assertions(), 0u);

  // Closing again fails, leaves the handle invalid and is logged as an assertion.
  EXPECT_EQ(socket.Close(), SOCKET_ERROR);
  EXPECT_FALSE(socket.IsValid());
  EXPECT_EQ(Assertions(), 1u);
}

TEST_F(CSocketTest, RefusedPortIsReportedThroughTheConnectEvent) {
  uint16_t port = 0;
  {
    Listener gone;  // a port that was free a moment ago and has no listener now
    port = gone.port;
  }
  EventHolder event(false);
  CSocket socket;
  ASSERT_NE(socket.Create(), INVALID_SOCKET);
  ASSERT_TRUE(socket.SelectEvents(event.Get(), CSocket::kConnectEvents));
  if (!socket.ConnectByName(L"127.0.0.1", port)) {
    ASSERT_EQ(CSocket::LastError(), static_cast<int32_t>(0x80072733u));
  }
  const WSANETWORKEVENTS events = Await(socket, event.Get());
  ASSERT_TRUE(events.lNetworkEvents & FD_CONNECT);
  EXPECT_EQ(events.iErrorCode[FD_CONNECT_BIT], WSAECONNREFUSED);
}

TEST_F(CSocketTest, UnresolvableNameFailsWithAddressNotAvailable) {
  // A label longer than 63 characters cannot be put into a query, so no resolver is asked.
  const std::wstring name = std::wstring(70, L'a') + L".invalid";
  CSocket socket;
  ASSERT_NE(socket.Create(), INVALID_SOCKET);
  WSASetLastError(0);
  EXPECT_FALSE(socket.ConnectByName(name, 139));
  EXPECT_EQ(CSocket::LastError(), static_cast<int32_t>(0x80072741u));
}

TEST_F(CSocketTest, OperationsWithoutASocketAreAssertedAndFail) {
  CSocket socket;
  std::wstring local = L"stale";
  EXPECT_FALSE(socket.LocalAddress(local));
  EXPECT_TRUE(local.empty());
  EXPECT_FALSE(socket.SetNoDelay());
  EXPECT_EQ(Assertions(), 2u);

  ASSERT_NE(socket.Create(), INVALID_SOCKET);
  const SOCKET first = socket.Handle();
  EXPECT_EQ(socket.Create(), INVALID_SOCKET);  // an open handle is never replaced
  EXPECT_EQ(socket.Handle(), first);
  EXPECT_EQ(Assertions(), 3u);
}

}  // namespace
