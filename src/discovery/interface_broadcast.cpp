#include "discovery/interface_broadcast.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace corvalink {
namespace {

Ipv4 AddressOf(const sockaddr* sa) {
  Ipv4 out{};
  sockaddr_in sin{};
  std::memcpy(&sin, sa, sizeof sin);
  std::memcpy(out.data(), &sin.sin_addr.s_addr, 4);  // already in wire order
  return out;
}

bool IsIpv4(const sockaddr* sa) { return sa != nullptr && sa->sa_family == AF_INET; }

struct IfaddrsDeleter {
  void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

}  // namespace

Ipv4 DirectedBroadcast(const Ipv4& address, const Ipv4& mask) {
  Ipv4 out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<uint8_t>(address[i] | static_cast<uint8_t>(~mask[i]));
  }
  return out;
}

std::optional<Ipv4> InterfaceBroadcastAddress(std::string_view name, std::string* err) {
  auto fail = [&](std::string message) -> std::optional<Ipv4> {
    if (err != nullptr) *err = std::move(message);
    return std::nullopt;
  };
  const std::string quoted = "\"" + std::string(name) + "\"";
  ifaddrs* raw = nullptr;
  if (getifaddrs(&raw) != 0) {
    return fail("cannot list the network interfaces: " + std::string(std::strerror(errno)));
  }
  std::unique_ptr<ifaddrs, IfaddrsDeleter> list(raw);

  bool known = false;
  bool pointToPoint = false;
  for (const ifaddrs* a = list.get(); a != nullptr; a = a->ifa_next) {
    if (a->ifa_name == nullptr || name != a->ifa_name) continue;
    known = true;
    if (!IsIpv4(a->ifa_addr)) continue;
    if ((a->ifa_flags & IFF_POINTOPOINT) != 0) {
      pointToPoint = true;
      continue;
    }
    // A configured broadcast address wins; "ip addr add" without "brd" leaves it 0.0.0.0.
    if ((a->ifa_flags & IFF_BROADCAST) != 0 && IsIpv4(a->ifa_broadaddr)) {
      const Ipv4 configured = AddressOf(a->ifa_broadaddr);
      if (configured != Ipv4{}) return configured;
    }
    if (!IsIpv4(a->ifa_netmask)) continue;
    return DirectedBroadcast(AddressOf(a->ifa_addr), AddressOf(a->ifa_netmask));
  }
  if (!known) return fail("no network interface is called " + quoted);
  if (pointToPoint) return fail("network interface " + quoted + " is a point-to-point link without broadcast");
  return fail("network interface " + quoted + " has no IPv4 address");
}

}  // namespace corvalink
