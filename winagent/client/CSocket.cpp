#include "client/CSocket.h"

#include <ws2tcpip.h>

#include <cstring>

#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

// Result of the last start; clean-up runs only after a successful one.
int32_t g_startResult = static_cast<int32_t>(0x80004005u);

constexpr int kAddressNotAvailable = WSAEADDRNOTAVAIL;  // 10049

}  // namespace

CSocket::~CSocket() {
  if (IsValid()) closesocket(m_socket);
}

int32_t CSocket::Start() {
  WSADATA data = {};
  g_startResult = ResultFromWinsock(WSAStartup(MAKEWORD(2, 0), &data));
  TRACE_ASSERT(g_startResult >= 0);
  return g_startResult;
}

void CSocket::Stop() {
  if (g_startResult < 0) return;
  g_startResult = static_cast<int32_t>(0x80004005u);
  TRACE_ASSERT(WSACleanup() == 0);
}

int32_t CSocket::ResultFromWinsock(int error) {
  return error > 0 ? static_cast<int32_t>(ResultFromWin32(static_cast<DWORD>(error))) : error;
}

int32_t CSocket::LastError() { return ResultFromWinsock(WSAGetLastError()); }

SOCKET CSocket::Create() {
  TRACE_ASSERT(!IsValid());
  if (IsValid()) return INVALID_SOCKET;  // never lose an open handle
  m_socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0);
  return m_socket;
}

bool CSocket::SelectEvents(WSAEVENT event, long networkEvents) {
  TRACE_ASSERT(IsValid());
  return WSAEventSelect(m_socket, event, networkEvents) != SOCKET_ERROR;
}

bool CSocket::EnumEvents(WSAEVENT event, WSANETWORKEVENTS* out) {
  TRACE_ASSERT(IsValid());
  if (!TRACE_ASSERT(out != nullptr)) return false;
  return WSAEnumNetworkEvents(m_socket, event, out) != SOCKET_ERROR;
}

bool CSocket::SetNoDelay() {
  TRACE_ASSERT(IsValid());
  const DWORD on = 1;
  return setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on) !=
         SOCKET_ERROR;
}

bool CSocket::Resolve(const std::wstring& host, in_addr& address) {
  const std::string name = ToUtf8(host);
  if (inet_pton(AF_INET, name.c_str(), &address) == 1) return true;
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const bool resolved = getaddrinfo(name.c_str(), nullptr, &hints, &found) == 0 && found != nullptr &&
                        found->ai_addr != nullptr;
  if (resolved) address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  if (found != nullptr) freeaddrinfo(found);
  return resolved;
}

bool CSocket::ConnectByName(const std::wstring& host, uint16_t port) {
  TRACE_ASSERT(IsValid());
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (!Resolve(host, address.sin_addr)) {
    WSASetLastError(kAddressNotAvailable);
    return false;
  }
  return Connect(address);
}

bool CSocket::Connect(const sockaddr_in& address) {
  TRACE_ASSERT(IsValid());
  return WSAConnect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof address, nullptr, nullptr, nullptr,
                    nullptr) != SOCKET_ERROR;
}

bool CSocket::LocalAddress(std::wstring& out) {
  TRACE_ASSERT(IsValid());
  out.clear();
  sockaddr_in address = {};
  int size = sizeof address;
  if (getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &size) == SOCKET_ERROR) return false;
  char dotted[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted) == nullptr) return false;
  wchar_t text[257] = {};
  _snwprintf(text, 256, L"%hs:%u", dotted, static_cast<unsigned>(ntohs(address.sin_port)));
  out = text;
  return true;
}

int CSocket::Send(const uint8_t* bytes, int count) {
  TRACE_ASSERT(IsValid());
  return send(m_socket, reinterpret_cast<const char*>(bytes), count, 0);
}

int CSocket::Receive(uint8_t (&buffer)[kReceiveSize]) {
  TRACE_ASSERT(IsValid());
  std::memset(buffer, 0, sizeof buffer);
  return recv(m_socket, reinterpret_cast<char*>(buffer), kReceiveSize, 0);
}

bool CSocket::Shutdown() {
  TRACE_ASSERT(IsValid());
  return shutdown(m_socket, SD_BOTH) != SOCKET_ERROR;
}

int CSocket::Close() {
  TRACE_ASSERT(IsValid());
  const int result = closesocket(m_socket);
  if (result == 0) m_socket = INVALID_SOCKET;
  TRACE_ASSERT(!IsValid());
  return result;
}
