#include "discovery/interface_broadcast.h"

#include <vector>

#include "platform/net_interfaces.h"

namespace corvalink {

Ipv4 DirectedBroadcast(const Ipv4& address, const Ipv4& mask) {
  Ipv4 out{};
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<uint8_t>(address[i] | static_cast<uint8_t>(~mask[i]));
  }
  return out;
}

std::optional<Ipv4> SearchBroadcast(const InterfaceAddress& a) {
  if (!a.address || a.pointToPoint) return std::nullopt;
  // A configured broadcast address wins. An address added without one ("ip addr add" without
  // "brd") has none; glibc then reports the address itself (or 0.0.0.0) in its place, and a
  // search sent there would only reach this machine.
  if (a.broadcast && *a.broadcast != Ipv4{} && *a.broadcast != *a.address) return *a.broadcast;
  if (!a.mask) return std::nullopt;
  return DirectedBroadcast(*a.address, *a.mask);
}

std::optional<Ipv4> InterfaceBroadcastAddress(std::string_view name, std::string* err) {
  auto fail = [&](std::string message) -> std::optional<Ipv4> {
    if (err != nullptr) *err = std::move(message);
    return std::nullopt;
  };
  const std::string quoted = "\"" + std::string(name) + "\"";
  std::vector<InterfaceAddress> list;
  std::string listErr;
  if (!ListInterfaceAddresses(&list, &listErr)) {
    return fail("cannot list the network interfaces: " + listErr);
  }

  bool known = false;
  bool pointToPoint = false;
  for (const InterfaceAddress& a : list) {
    if (name != a.name && (a.otherName.empty() || name != a.otherName)) continue;
    known = true;
    if (!a.address) continue;
    if (a.pointToPoint) {
      pointToPoint = true;
      continue;
    }
    if (std::optional<Ipv4> broadcast = SearchBroadcast(a)) return broadcast;
  }
  if (!known) return fail("no network interface is called " + quoted);
  if (pointToPoint) return fail("network interface " + quoted + " is a point-to-point link without broadcast");
  return fail("network interface " + quoted + " has no IPv4 address");
}

}  // namespace corvalink
