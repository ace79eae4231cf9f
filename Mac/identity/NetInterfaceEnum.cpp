#include "identity/NetInterfaceEnum.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#ifdef __APPLE__
#include <net/if_dl.h>
#include <net/if_types.h>
#else
#include <linux/if_packet.h>
#include <net/if_arp.h>
#endif

#include <cstdio>
#include <cstring>

#include "support/Basetypes.h"
#include "support/Logging.h"

namespace {

constexpr size_t kMaxNameChars = 31;

// "en0:1" is an address label of en0.
std::string InterfaceOf(const char* label) {
  std::string name = label ? label : "";
  return name.substr(0, name.find(':'));
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Each interface has one link-level entry in the list: AF_LINK on a Mac, AF_PACKET on Linux.
// Its Ethernet address, when it has one, goes into bytes.
#ifdef __APPLE__
constexpr int kLinkFamily = AF_LINK;
void CopyEthernetAddress(const sockaddr* link, uint8_t (&bytes)[6]) {
  const auto* hardware = reinterpret_cast<const sockaddr_dl*>(link);
  if (hardware->sdl_type == IFT_ETHER && hardware->sdl_alen == sizeof bytes)
    std::memcpy(bytes, LLADDR(hardware), sizeof bytes);
}
#else
constexpr int kLinkFamily = AF_PACKET;
void CopyEthernetAddress(const sockaddr* link, uint8_t (&bytes)[6]) {
  const auto* hardware = reinterpret_cast<const sockaddr_ll*>(link);
  if (hardware->sll_hatype == ARPHRD_ETHER && hardware->sll_halen == sizeof bytes)
    std::memcpy(bytes, hardware->sll_addr, sizeof bytes);
}
#endif

}  // namespace

void SockAddr::Reset() { std::memset(&addr, 0, sizeof addr); }

std::string SockAddr::to_string() const {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  return text;
}

bool SockAddr::operator==(const SockAddr& other) const { return std::memcmp(&addr, &other.addr, sizeof addr) == 0; }

bool EtherAddr::IsZero() const { return *this == EtherAddr(); }

std::string EtherAddr::to_string() const {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                bytes[4], bytes[5]);
  return text;
}

bool EtherAddr::operator==(const EtherAddr& other) const {
  return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

std::string NetAddrPair::to_string() const {
  return name + " " + sockAddr.to_string() + " " + etherAddr.to_string();
}

bool NetAddrVector::operator==(const NetAddrVector& other) const {
  if (size() != other.size()) return false;
  for (size_t i = 0; i < size(); ++i) {
    if (!((*this)[i].sockAddr == other[i].sockAddr) || !((*this)[i].etherAddr == other[i].etherAddr)) return false;
  }
  return true;
}

class NetInterfaceEnum_imp {
 public:
  explicit NetInterfaceEnum_imp(bool verbose) : _verbose(verbose) {}

  // Each interface (a link-level entry, in the kernel's order) with its IPv4 addresses
  // (AF_INET entries under its name or one of its labels; the last one wins).
  void Load(const ifaddrs* list) {
    _entries.clear();
    for (const ifaddrs* link = list; link; link = link->ifa_next) {
      if (!link->ifa_addr || link->ifa_addr->sa_family != kLinkFamily) continue;
      _entry.Reset();
      _flags = static_cast<int32_t>(link->ifa_flags);
      _entry.name = std::string(link->ifa_name ? link->ifa_name : "").substr(0, kMaxNameChars);
      CopyEthernetAddress(link->ifa_addr, _entry.etherAddr.bytes);
      if (!(_flags & IFF_UP)) continue;

      for (const ifaddrs* address = list; address; address = address->ifa_next) {
        if (!address->ifa_addr || address->ifa_addr->sa_family != AF_INET) continue;
        if (InterfaceOf(address->ifa_name) != link->ifa_name) continue;
        _entry.sockAddr.addr.sin_family = AF_INET;
        _entry.sockAddr.addr.sin_addr = reinterpret_cast<const sockaddr_in*>(address->ifa_addr)->sin_addr;
      }
      if (!qualifyInterface()) continue;
      if (_verbose) _log.Logf(SEV_DEBUG, "%s", _entry.to_string().c_str());
      _entries.push_back(_entry);
    }
    _entry.Reset();
  }

  void Dump() const {
    for (const NetAddrPair& entry : _entries) _log.Logf(SEV_DEBUG, "%s", entry.to_string().c_str());
  }

  const NetAddrVector& Entries() const { return _entries; }

 private:
  bool qualifyInterface() const {
    const bool addressed = _entry.sockAddr.IsIPv4() && !_entry.sockAddr.IsAnyAddress();
    if (StartsWith(_entry.name, "en")) return addressed && !_entry.etherAddr.IsZero();
    if (StartsWith(_entry.name, "ppp") || StartsWith(_entry.name, "tun")) return addressed;
    return false;
  }

  int32_t _flags = 0;
  bool _verbose;
  LogSource _log{"NetInterfaceEnum.*", LC_NetIF_Mgmt};
  NetAddrVector _entries;
  NetAddrPair _entry;
};

NetInterfaceEnum::NetInterfaceEnum(bool verbose) : _imp(std::make_unique<NetInterfaceEnum_imp>(verbose)) {}

NetInterfaceEnum::~NetInterfaceEnum() = default;

void NetInterfaceEnum::Load() {
  const IfAddrsHolder list;
  _imp->Load(list.get());
}

void NetInterfaceEnum::LoadFrom(const ifaddrs* list) { _imp->Load(list); }

bool NetInterfaceEnum::operator==(const NetInterfaceEnum& other) const { return Entries() == other.Entries(); }

void NetInterfaceEnum::DumpStateToLog() const { _imp->Dump(); }

const NetAddrVector& NetInterfaceEnum::Entries() const { return _imp->Entries(); }
