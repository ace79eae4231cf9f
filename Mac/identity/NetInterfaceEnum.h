// Snapshot of the IPv4 interfaces that count for reaching an appliance, compared entry
// by entry to notice a change of network.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ifaddrs;

// An IPv4 socket address; all zero when empty. Compared over all its bytes.
struct SockAddr {
  sockaddr_in addr;

  SockAddr() { Reset(); }
  void Reset();
  bool IsIPv4() const { return addr.sin_family == AF_INET; }
  bool IsAnyAddress() const { return addr.sin_addr.s_addr == 0; }
  // Dotted decimal.
  std::string to_string() const;
  bool operator==(const SockAddr& other) const;
};

// A 6-byte hardware address; all zero when empty.
struct EtherAddr {
  uint8_t bytes[6] = {};

  bool IsZero() const;
  std::string to_string() const;  // "%02x:%02x:%02x:%02x:%02x:%02x"
  bool operator==(const EtherAddr& other) const;
};

struct NetAddrPair {
  SockAddr sockAddr;
  EtherAddr etherAddr;
  std::string name;

  void Reset() { *this = NetAddrPair(); }
  // "<name> <address> <hardware address>"
  std::string to_string() const;
};

class NetAddrVector : public std::vector<NetAddrPair> {
 public:
  // Same length and, position by position, the same addresses; names do not count.
  bool operator==(const NetAddrVector& other) const;
};

class NetInterfaceEnum_imp;

class NetInterfaceEnum {
 public:
  explicit NetInterfaceEnum(bool verbose);
  ~NetInterfaceEnum();
  NetInterfaceEnum(const NetInterfaceEnum&) = delete;
  NetInterfaceEnum& operator=(const NetInterfaceEnum&) = delete;

  // The machine's interfaces now.
  void Load();
  // The interfaces of a list in getifaddrs form, in its order.
  void LoadFrom(const ifaddrs* list);
  bool operator==(const NetInterfaceEnum& other) const;
  void DumpStateToLog() const;
  const NetAddrVector& Entries() const;

 private:
  std::unique_ptr<NetInterfaceEnum_imp> _imp;
};
