#include "discovery/search_formats.h"

#include <algorithm>
#include <cstring>

namespace corvalink {
namespace {

constexpr std::size_t TAG_OFFSET = 4;
constexpr std::size_t REPLY_IP_OFFSET = 4;
constexpr std::size_t REPLY_MASK_OFFSET = 8;
constexpr std::size_t REPLY_MAC_OFFSET = 12;
constexpr std::size_t REPLY_LOCATION_OFFSET = 18;
constexpr std::size_t REPLY_PASSWORD_OFFSET = 42;
/// A reply has room for only the first half of the password field.
constexpr std::size_t REPLY_PASSWORD_BYTES = PACKET_SIZE - REPLY_PASSWORD_OFFSET;

static_assert(REPLY_PASSWORD_OFFSET + REPLY_PASSWORD_BYTES - REPLY_IP_OFFSET == REPLY_RECORD_BYTES);

}  // namespace

Packet BuildSearchRequest() {
  Packet p{};
  WritePacketHeader(p, TYPE_SEARCH);
  // Seven letters, then the zero already in place at offset 11.
  std::memcpy(p.data() + TAG_OFFSET, SEARCH_TAG, sizeof SEARCH_TAG - 1);
  return p;
}

Packet PadDatagram(std::span<const uint8_t> datagram) {
  Packet p{};
  const std::size_t n = std::min(datagram.size(), p.size());
  std::copy_n(datagram.begin(), n, p.begin());
  return p;
}

bool IsSearchReply(const Packet& datagram) {
  return HasPacketHeader(datagram, TYPE_SEARCH);
}

RouterRecord DecodeReplyRecord(const Packet& reply) {
  RouterRecord r;
  auto from = [&reply](std::size_t at) { return reply.begin() + static_cast<std::ptrdiff_t>(at); };
  std::copy_n(from(REPLY_IP_OFFSET), r.ipAddress.size(), r.ipAddress.begin());
  std::copy_n(from(REPLY_MASK_OFFSET), r.ipMask.size(), r.ipMask.begin());
  std::copy_n(from(REPLY_MAC_OFFSET), r.macAddress.size(), r.macAddress.begin());
  for (std::size_t i = 0; i < LOCATION_SIZE; ++i) {
    r.location[i] = static_cast<char>(reply[REPLY_LOCATION_OFFSET + i]);
  }
  std::copy_n(from(REPLY_PASSWORD_OFFSET), REPLY_PASSWORD_BYTES, r.password.begin());
  return r;
}

}  // namespace corvalink
