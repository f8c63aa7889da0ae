#pragma once
// IPv4 addresses as their four wire bytes (first byte = first number of the dotted form),
// and the one conversion between that form and dotted-decimal text.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvalink {

using Ipv4 = std::array<uint8_t, 4>;

/// A UDP peer: address as wire bytes, port as a host number.
struct Endpoint {
  Ipv4 address{};
  uint16_t port = 0;
  bool operator==(const Endpoint&) const = default;
};

/// "a.b.c.d" with each number 0..255 and no leading zeros, 7 to 15 characters.
std::string Ipv4ToText(const Ipv4& address);

/// Strict dotted-quad parse: four decimal numbers 0..255 separated by dots, nothing else.
/// Returns nothing for any other text (the caller decides what an unusable address means).
std::optional<Ipv4> ParseIpv4(std::string_view text);

}  // namespace corvalink
