#pragma once
// Datagrams a real network may throw at the utility's sockets: cut-off, over-long, foreign and
// plainly wrong ones, and a bounded flood of the kinds a search socket must drop.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/ipv4.h"
#include "platform/udp_socket.h"
#include "sim_router.h"

namespace corvalink::sim {

enum class JunkKind {
  Empty,        ///< zero-length datagram
  OneByte,      ///< the single byte DD
  Short,        ///< DD 80 and nothing else: a reply with every field zero
  Long,         ///< a valid reply of the first router followed by 12 more bytes (66 bytes)
  WrongMagic,   ///< 54 bytes, reply layout, magic 0xDC
  WrongType,    ///< 54 bytes, reply layout, type 0x82 (an UpgradeReply to a search socket)
  OverLong,     ///< 1472 bytes (a full Ethernet payload), starting 00 00
  Foreign,      ///< text from another protocol
};

/// Parses "empty", "onebyte", "short", "long", "wrongmagic", "wrongtype", "overlong", "foreign".
std::optional<JunkKind> ParseJunkKind(std::string_view name);

/// The bytes of one datagram of `kind`; `router` supplies the fields where the kind keeps them.
std::vector<uint8_t> MakeJunk(JunkKind kind, const SimRouter& router);

/// The kinds a flood sends in turn; a client's reply test must drop every one of them.
inline constexpr JunkKind FLOOD_KINDS[] = {JunkKind::WrongMagic, JunkKind::WrongType,
                                           JunkKind::Empty, JunkKind::OverLong};

struct FloodResult {
  int sent = 0;     ///< datagrams handed to the kernel
  int failed = 0;   ///< sends the kernel refused (full queue)
  uint32_t elapsedMs = 0;
};

/// Sends up to `count` flood datagrams to `target`, stopping early once `maxMs` have passed.
FloodResult SendFlood(DatagramSocket& socket, const Endpoint& target, int count, uint32_t maxMs);

}  // namespace corvalink::sim
