// A listener on 127.0.0.1 for tests that play the appliance's side themselves.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

// A loopback listener; the kernel completes connections before accept().
class Listener {
 public:
  Listener() {
    _fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(listen(_fd, 4), 0);
    socklen_t length = sizeof address;
    getsockname(_fd, reinterpret_cast<sockaddr*>(&address), &length);
    _port = ntohs(address.sin_port);
  }
  ~Listener() {
    if (_peer >= 0) close(_peer);
    close(_fd);
  }
  uint16_t port() const { return _port; }
  int Accept() {
    _peer = accept(_fd, nullptr, nullptr);
    return _peer;
  }
  void Send(const std::string& bytes) {
    EXPECT_EQ(send(_peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  std::string Receive(size_t count) {
    std::string bytes(count, '\0');
    size_t got = 0;
    while (got < count) {
      const ssize_t n = recv(_peer, bytes.data() + got, count - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }
  void ClosePeer() {
    close(_peer);
    _peer = -1;
  }

 private:
  int _fd = -1;
  int _peer = -1;
  uint16_t _port = 0;
};

// A port on which nothing listens.
inline uint16_t ClosedPort() {
  Listener gone;
  return gone.port();
}

