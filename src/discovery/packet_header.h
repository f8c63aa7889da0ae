#pragma once
// The four-byte header that starts every datagram of the routers' own UDP protocol.
//
//   offset size field
//   0      1    magic   PACKET_MAGIC (0xDD)
//   1      1    type    TYPE_SEARCH (0x80) or TYPE_UPGRADE (0x82)
//   2      2    length  total datagram length, big-endian

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/byte_order.h"

namespace corvalink {

inline constexpr uint8_t PACKET_MAGIC = 0xDD;
inline constexpr uint8_t TYPE_SEARCH = 0x80;
inline constexpr uint8_t TYPE_UPGRADE = 0x82;
inline constexpr uint16_t DISCOVERY_PORT = 56415;

inline constexpr std::size_t PACKET_HEADER_SIZE = 4;
/// Every request is this long, and no more than this is read of a reply.
inline constexpr std::size_t PACKET_SIZE = 54;

/// Writes the header of a `type` datagram that fills all of `packet` (at least 4 bytes).
inline void WritePacketHeader(std::span<uint8_t> packet, uint8_t type) {
  packet[0] = PACKET_MAGIC;
  packet[1] = type;
  PutU16Be(packet, 2, static_cast<uint16_t>(packet.size()));
}

/// True when `datagram` starts with the magic and `type`; the length field is not examined.
inline bool HasPacketHeader(std::span<const uint8_t> datagram, uint8_t type) {
  return datagram.size() >= 2 && datagram[0] == PACKET_MAGIC && datagram[1] == type;
}

/// Why HasPacketHeader refuses `datagram` (the reply the socket waits for is `type`), for
/// people; empty when it does not.
inline const char* PacketRefusal(std::span<const uint8_t> datagram, uint8_t type) {
  if (HasPacketHeader(datagram, type)) return "";
  if (datagram.empty() || datagram[0] != PACKET_MAGIC) return "wrong magic (not DD)";
  return type == TYPE_SEARCH ? "wrong type (a search reply is DD 80)"
                             : "wrong type (an upgrade reply is DD 82)";
}

}  // namespace corvalink
