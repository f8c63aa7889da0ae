#pragma once
// The host's network interfaces and their IPv4 addresses, as the system lists them: getifaddrs
// on Linux, GetAdaptersAddresses on Windows.

#include <optional>
#include <string>
#include <vector>

#include "platform/ipv4.h"

namespace corvalink {

/// One address of an interface, or (address empty) an interface with no IPv4 address at all,
/// so that its name is still known.
struct InterfaceAddress {
  /// The interface's name: "eth0" on Linux; on Windows the friendly name ("Ethernet") in the
  /// ANSI code page, with the adapter's own name (a GUID) in `otherName`.
  std::string name;
  std::string otherName;
  std::optional<Ipv4> address;
  std::optional<Ipv4> mask;
  /// The broadcast address the interface is configured with, where the system keeps one.
  std::optional<Ipv4> broadcast;
  bool pointToPoint = false;
  /// Whether the interface can carry datagrams: Linux, up and running (IFF_UP and IFF_RUNNING:
  /// switched on, with a carrier); Windows, its operational status is up.
  bool up = false;
  /// The system's index of the interface (if_nametoindex / IfIndex); 0 when unknown.
  unsigned index = 0;
  /// The host's own loopback interface, which never reaches a router.
  bool loopback = false;
  /// Whether a limited broadcast sent out of this interface reaches its segment: Linux,
  /// IFF_BROADCAST; Windows, every adapter that is not loopback, a tunnel or point-to-point.
  bool broadcastCapable = false;
};

/// Every interface in the system's order. False, with `err` for people, when they cannot be
/// listed.
bool ListInterfaceAddresses(std::vector<InterfaceAddress>* out, std::string* err);

}  // namespace corvalink
