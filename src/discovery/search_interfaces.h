#pragma once
// Which interfaces a search goes out of. One limited broadcast leaves a host with several
// segments (wired and Wi-Fi, a VPN, VMs) by one interface only, so a search sends its request
// out of each interface that can reach routers by broadcast, once.

#include <vector>

#include "platform/ipv4.h"
#include "platform/net_interfaces.h"

namespace corvalink {

/// One entry per interface a search goes out of, in the system's order: the first IPv4
/// address of every interface that is up and broadcast-capable. Loopback, point-to-point links
/// and interfaces without an IPv4 address (or with 0.0.0.0 or a 127.x.x.x one) are left out.
std::vector<InterfaceAddress> SearchInterfaces(const std::vector<InterfaceAddress>& all);

/// The entry of `list` whose address is `local`, or null.
const InterfaceAddress* InterfaceWithAddress(const std::vector<InterfaceAddress>& list,
                                             const Ipv4& local);

}  // namespace corvalink
