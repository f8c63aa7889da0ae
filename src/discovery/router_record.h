#pragma once
// One router as discovery describes it. The first 50 bytes of its wire form (everything but the
// last 12 password bytes) are bytes 4..53 of a search reply.
//
//   offset size field
//   0      4    ipAddress   wire order
//   4      4    ipMask      wire order
//   8      6    macAddress  first byte first
//   14     24   location    NUL-terminated text
//   38     24   password    always held scrambled

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/ipv4.h"

namespace corvalink {

inline constexpr std::size_t MAC_SIZE = 6;
inline constexpr std::size_t LOCATION_SIZE = 24;
inline constexpr std::size_t PASSWORD_SIZE = 24;
inline constexpr std::size_t ROUTER_RECORD_SIZE = 4 + 4 + MAC_SIZE + LOCATION_SIZE + PASSWORD_SIZE;
/// How many leading record bytes a search reply carries.
inline constexpr std::size_t REPLY_RECORD_BYTES = 50;

using MacAddress = std::array<uint8_t, MAC_SIZE>;

struct RouterRecord {
  Ipv4 ipAddress{};
  Ipv4 ipMask{};
  MacAddress macAddress{};
  std::array<char, LOCATION_SIZE> location{};
  std::array<uint8_t, PASSWORD_SIZE> password{};
  bool operator==(const RouterRecord&) const = default;
};

}  // namespace corvalink
