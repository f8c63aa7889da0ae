#pragma once
// `corvalink-cli interfaces`: the IPv4 interfaces that --interface accepts, with the address a
// search on each goes to, and the short list an unknown --interface is answered with.

#include <string>
#include <vector>

#include "platform/net_interfaces.h"

namespace corvalink::cli {

/// One line per IPv4 address under the headings NAME, ADDRESS, BROADCAST and STATE ("up" or
/// "down"); a point-to-point link shows "-" as its broadcast, since a search cannot use it.
/// Entries without an IPv4 address are left out. Nothing at all when none is left.
std::string FormatInterfaceTable(const std::vector<InterfaceAddress>& list);

/// "lo 127.0.0.1 up, lab0 198.18.0.1 up", for an error line; "none" when there is no IPv4
/// interface.
std::string InterfaceSummary(const std::vector<InterfaceAddress>& list);

/// Lists the system's interfaces: the table on standard output, EXIT_OK; EXIT_ERROR with one
/// line when they cannot be listed.
int RunInterfacesCommand();

/// The summary of the system's interfaces, or why they cannot be listed.
std::string SystemInterfaceSummary();

}  // namespace corvalink::cli
