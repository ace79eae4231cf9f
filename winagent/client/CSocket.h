// Thin wrapper over one Winsock 2 TCP socket, event driven, with Winsock errors
// converted to the agent's 32-bit result codes. It owns its handle and closes it
// when destroyed.
#pragma once

#include <winsock2.h>

#include <cstdint>
#include <string>

#include "support/Holders.h"

class CSocket {
 public:
  static constexpr int kReceiveSize = 2048;

  // Network events selected while connecting and once connected.
  static constexpr long kConnectEvents = FD_CONNECT | FD_CLOSE;
  static constexpr long kDataEvents = FD_READ | FD_CLOSE;

  CSocket() = default;
  ~CSocket();
  CSocket(const CSocket&) = delete;
  CSocket& operator=(const CSocket&) = delete;

  // Starts Winsock 2.0 for the process and keeps the result; Stop cleans up only after
  // a successful start. Both run once, on the main thread.
  static int32_t Start();
  static void Stop();

  // Winsock error e > 0 becomes 0x80070000 | (e & 0xFFFF); 0 and negative values pass.
  static int32_t ResultFromWinsock(int error);
  // The thread's last Winsock error, converted.
  static int32_t LastError();

  // An IPv4 TCP stream socket; the handle must be invalid beforehand.
  SOCKET Create();
  bool SelectEvents(WSAEVENT event, long networkEvents);
  bool EnumEvents(WSAEVENT event, WSANETWORKEVENTS* out);
  bool SetNoDelay();
  // A dotted address is taken directly, any other text is resolved by name (first address).
  static bool Resolve(const std::wstring& host, in_addr& address);
  // Resolve, then Connect. A name that does not resolve sets the error 10049 and returns false.
  bool ConnectByName(const std::wstring& host, uint16_t port);
  bool Connect(const sockaddr_in& address);
  // "a.b.c.d:port" of the local end; empty text and false when it cannot be read.
  bool LocalAddress(std::wstring& out);
  // One send of the whole buffer: the send call's result (bytes accepted, or SOCKET_ERROR).
  int Send(const uint8_t* bytes, int count);
  // One receive of at most kReceiveSize bytes into the zeroed buffer: the receive call's
  // result (bytes received, 0 on an orderly close, SOCKET_ERROR).
  int Receive(uint8_t (&buffer)[kReceiveSize]);
  // Shuts both directions down.
  bool Shutdown();
  // Closes the socket; on success the handle becomes invalid. Returns the close call's result.
  int Close();

  SOCKET Handle() const { return m_socket; }
  bool IsValid() const { return m_socket != INVALID_SOCKET; }

 private:
  SOCKET m_socket = INVALID_SOCKET;
};
