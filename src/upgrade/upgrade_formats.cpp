#include "upgrade/upgrade_formats.h"

#include <algorithm>

namespace corvalink {
namespace {

constexpr std::size_t IP_OFFSET = 4;
constexpr std::size_t MASK_OFFSET = 8;
constexpr std::size_t MAC_OFFSET = 12;
constexpr std::size_t PASSWORD_OFFSET = 18;

static_assert(PASSWORD_OFFSET + PASSWORD_SIZE <= PACKET_SIZE);

}  // namespace

Packet BuildUpgradeRequest(const RouterRecord& router) {
  Packet p{};
  WritePacketHeader(p, TYPE_UPGRADE);
  std::copy(router.ipAddress.begin(), router.ipAddress.end(), p.begin() + IP_OFFSET);
  std::copy(router.ipMask.begin(), router.ipMask.end(), p.begin() + MASK_OFFSET);
  std::copy(router.macAddress.begin(), router.macAddress.end(), p.begin() + MAC_OFFSET);
  // The password goes as held, scrambled; the router knows the same key. The location is not
  // part of the request.
  std::copy(router.password.begin(), router.password.end(), p.begin() + PASSWORD_OFFSET);
  return p;
}

bool IsUpgradeReply(const Packet& datagram) {
  return HasPacketHeader(datagram, TYPE_UPGRADE);
}

}  // namespace corvalink
