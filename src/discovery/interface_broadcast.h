#pragma once
// Where a search goes when the user names a network interface: the directed broadcast address
// of that interface's IPv4 network, so that hosts with several interfaces can search one of
// them instead of whichever one the limited broadcast happens to leave by.

#include <optional>
#include <string>
#include <string_view>

#include "platform/ipv4.h"
#include "platform/net_interfaces.h"

namespace corvalink {

/// The address with every host bit of `mask` set.
Ipv4 DirectedBroadcast(const Ipv4& address, const Ipv4& mask);

/// Where a search on this interface address goes: the broadcast address it is configured with,
/// or, where none is set (reported as absent, as 0.0.0.0 or as the address itself), the directed
/// broadcast of its network. Nothing for an entry without
/// an IPv4 address and mask, or for a point-to-point link.
std::optional<Ipv4> SearchBroadcast(const InterfaceAddress& entry);

/// The broadcast address of the first IPv4 address on the interface called `name`: the one the
/// interface is configured with, or, where none is set (loopback, an address added without
/// one), the directed broadcast of its network. Nothing, with `err` naming the interface and
/// the reason, when there is no such interface, it has no IPv4 address, or it is a
/// point-to-point link (which has no broadcast).
std::optional<Ipv4> InterfaceBroadcastAddress(std::string_view name, std::string* err);

}  // namespace corvalink
