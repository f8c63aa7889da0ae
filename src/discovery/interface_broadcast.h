#pragma once
// Where a search goes when the user names a network interface: the directed broadcast address
// of that interface's IPv4 network, so that hosts with several interfaces can search one of
// them instead of whichever one the limited broadcast happens to leave by.

#include <optional>
#include <string>
#include <string_view>

#include "platform/ipv4.h"

namespace corvalink {

/// The address with every host bit of `mask` set.
Ipv4 DirectedBroadcast(const Ipv4& address, const Ipv4& mask);

/// The broadcast address of the first IPv4 address on the interface called `name`: the one the
/// interface is configured with, or, where none is set (loopback, an address added without
/// one), the directed broadcast of its network. Nothing, with `err` naming the interface and
/// the reason, when there is no such interface, it has no IPv4 address, or it is a
/// point-to-point link (which has no broadcast).
std::optional<Ipv4> InterfaceBroadcastAddress(std::string_view name, std::string* err);

}  // namespace corvalink
