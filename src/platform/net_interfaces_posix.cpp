#include "platform/net_interfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace corvalink {
namespace {

bool IsIpv4(const sockaddr* sa) { return sa != nullptr && sa->sa_family == AF_INET; }

std::optional<Ipv4> AddressOf(const sockaddr* sa) {
  if (!IsIpv4(sa)) return std::nullopt;
  Ipv4 out{};
  sockaddr_in sin{};
  std::memcpy(&sin, sa, sizeof sin);
  std::memcpy(out.data(), &sin.sin_addr.s_addr, 4);  // already in wire order
  return out;
}

struct IfaddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

bool ListInterfaceAddresses(std::vector<InterfaceAddress>* out, std::string* err) {
  out->clear();
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) {
    if (err != nullptr) *err = std::strerror(errno);
    return false;
  }
  std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);
  for (const ifaddrs* a = list.get(); a != nullptr; a = a->ifa_next) {
    if (a->ifa_name == nullptr) continue;
    InterfaceAddress entry;
    entry.name = a->ifa_name;
    entry.pointToPoint = (a->ifa_flags & IFF_POINTOPOINT) != 0;
    entry.up = (a->ifa_flags & IFF_UP) != 0 && (a->ifa_flags & IFF_RUNNING) != 0;
    entry.index = ::if_nametoindex(a->ifa_name);
    entry.loopback = (a->ifa_flags & IFF_LOOPBACK) != 0;
    entry.broadcastCapable = (a->ifa_flags & IFF_BROADCAST) != 0;
    if (IsIpv4(a->ifa_addr)) {
      entry.address = AddressOf(a->ifa_addr);
      entry.mask = AddressOf(a->ifa_netmask);
      // ifa_broadaddr shares its storage with the point-to-point peer address.
      if ((a->ifa_flags & IFF_BROADCAST) != 0) entry.broadcast = AddressOf(a->ifa_broadaddr);
    }
    out->push_back(std::move(entry));
  }
  return true;
}

}  // namespace corvalink
