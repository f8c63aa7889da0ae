#include "discovery/search_targets.h"

#include <charconv>

namespace corvalink {
namespace {

uint32_t ToNumber(const Ipv4& a) {
  return static_cast<uint32_t>(a[0]) << 24 | static_cast<uint32_t>(a[1]) << 16 |
         static_cast<uint32_t>(a[2]) << 8 | a[3];
}

Ipv4 FromNumber(uint32_t n) {
  return {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
          static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
}

std::optional<SearchTarget> Fail(std::string* err, std::string message) {
  if (err != nullptr) *err = std::move(message);
  return std::nullopt;
}

}  // namespace

std::optional<SearchTarget> ParseSearchTarget(std::string_view text, std::string* err) {
  const std::string quoted = "'" + std::string(text) + "'";
  const std::size_t slash = text.find('/');
  const std::optional<Ipv4> address = ParseIpv4(text.substr(0, slash));
  if (!address) {
    return Fail(err, quoted + " is not an IPv4 address (A.B.C.D) or block (A.B.C.D/N)");
  }
  if (slash == std::string_view::npos) return SearchTarget{*address, 1};
  const std::string_view bitsText = text.substr(slash + 1);
  int bits = -1;
  const auto [end, ec] = std::from_chars(bitsText.data(), bitsText.data() + bitsText.size(), bits);
  if (ec != std::errc() || end != bitsText.data() + bitsText.size() || bitsText.empty() ||
      bitsText.size() > 2 || bits < 0 || bits > 32) {
    return Fail(err, quoted + ": the prefix length after '/' must be a number from " +
                         std::to_string(MIN_SWEEP_PREFIX) + " to 32");
  }
  if (bits < MIN_SWEEP_PREFIX) {
    return Fail(err, quoted + " is larger than a /" + std::to_string(MIN_SWEEP_PREFIX) +
                         " (1022 addresses), the most one sweep takes; name a smaller block");
  }
  const uint32_t size = bits == 32 ? 1u : 1u << (32 - bits);
  const uint32_t network = ToNumber(*address) & ~(size - 1);
  // Blocks of four and more have a network and a broadcast address, which no router holds.
  if (size >= 4) return SearchTarget{FromNumber(network + 1), size - 2};
  return SearchTarget{FromNumber(network), size};
}

Ipv4 TargetAddress(const SearchTarget& target, uint32_t i) {
  return FromNumber(ToNumber(target.first) + i);
}

}  // namespace corvalink
