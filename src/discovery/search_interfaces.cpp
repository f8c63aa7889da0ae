#include "discovery/search_interfaces.h"

#include <algorithm>

namespace corvalink {

std::vector<InterfaceAddress> SearchInterfaces(const std::vector<InterfaceAddress>& all) {
  std::vector<InterfaceAddress> out;
  for (const InterfaceAddress& a : all) {
    if (!a.address || !a.up || a.loopback || a.pointToPoint || !a.broadcastCapable) continue;
    // Some systems list a loopback address on an interface that does not say it is one.
    if ((*a.address)[0] == 127 || *a.address == Ipv4{}) continue;
    // An interface with several addresses is one segment: its first address speaks for it.
    const bool seen = std::any_of(out.begin(), out.end(), [&](const InterfaceAddress& o) {
      return o.name == a.name;
    });
    if (!seen) out.push_back(a);
  }
  return out;
}

const InterfaceAddress* InterfaceWithAddress(const std::vector<InterfaceAddress>& list,
                                             const Ipv4& local) {
  for (const InterfaceAddress& a : list) {
    if (a.address && *a.address == local) return &a;
  }
  return nullptr;
}

}  // namespace corvalink
