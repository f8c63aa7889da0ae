#pragma once
// A MAC address as people type it on a command line: the one MAC parser, which every program's
// options go through.

#include <optional>
#include <string_view>

#include "discovery/router_record.h"

namespace corvalink {

/// "001A2B3C4D5E", "00:1a:2b:3c:4d:5e" or "00-1A-2B-3C-4D-5E": twelve hexadecimal digits in
/// either case, bare or in pairs with one separator throughout. Nothing for anything else
/// (spaces, a mixed or trailing separator, other lengths).
std::optional<MacAddress> ParseMacAddress(std::string_view text);

/// What a message says a MAC should look like, e.g. after "is not".
inline constexpr char MAC_ADDRESS_FORMS[] =
    "a MAC address (12 hexadecimal digits, e.g. 001A2B3C4D5E or 00:1A:2B:3C:4D:5E)";

}  // namespace corvalink
