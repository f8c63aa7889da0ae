#pragma once
// Search targets a user names for routed subnets, which no broadcast of ours reaches: one
// address (a router's, or a remote subnet's directed broadcast) or a CIDR block swept address
// by address. The sweep is bounded in size and paced, so it can never become a flood.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ipv4.h"

namespace corvalink {

/// The shortest prefix a sweep takes: a /22 is 1022 addresses.
inline constexpr int MIN_SWEEP_PREFIX = 22;
/// Time between two datagrams of a sweep: a /24 (254 addresses) takes about a second.
inline constexpr uint32_t SWEEP_INTERVAL_MS = 4;

/// `count` consecutive addresses from `first`.
struct SearchTarget {
  Ipv4 first{};
  uint32_t count = 0;
};

/// "A.B.C.D" (that address alone) or "A.B.C.D/N" with N from MIN_SWEEP_PREFIX to 32: every host
/// address of the block (for N up to 30 without the network and broadcast addresses; a /31 is
/// both its addresses, a /32 its one). Host bits set in A.B.C.D are ignored. Anything else:
/// nothing, and `err` says what was expected.
std::optional<SearchTarget> ParseSearchTarget(std::string_view text, std::string* err);

/// The `i`-th address of `target` (i < count).
Ipv4 TargetAddress(const SearchTarget& target, uint32_t i);

}  // namespace corvalink
