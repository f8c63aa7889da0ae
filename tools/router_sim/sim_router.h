#pragma once
// One simulated router as the simulator answers for it, the SearchReply and UpgradeReply bytes
// it sends, and the text form in which a person describes it on the command line.
//
// SearchReply as a router sends it (54 bytes, built here from explicit offsets, not from the
// client's own code, so a fault in one side cannot hide the same fault in the other):
//   offset size field
//   0      1    magic 0xDD
//   1      1    type 0x80
//   2      2    length 54, big-endian
//   4      4    ipAddress, wire order
//   8      4    ipMask, wire order
//   12     6    macAddress
//   18     24   location bytes, as configured (a NUL inside is usual, not required)
//   42     12   first 12 bytes of the password, plain, zero-padded

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/router_record.h"
#include "platform/ipv4.h"

namespace corvalink::sim {

inline constexpr std::size_t SIM_REPLY_SIZE = 54;
using ReplyBytes = std::array<uint8_t, SIM_REPLY_SIZE>;

struct SimRouter {
  MacAddress mac{};
  Ipv4 ip{};
  Ipv4 mask{{255, 255, 255, 0}};
  /// Raw bytes; all 24 may be non-zero, which a client must show without reading past them.
  std::array<uint8_t, LOCATION_SIZE> location{};
  /// The plain password; only its first 12 bytes travel in a SearchReply.
  std::string password;
  /// How long the router writes its flash after a complete image; meanwhile it answers neither
  /// searches nor upgrade requests, as a real one is busy and then restarts.
  uint32_t flashMs = 0;
  /// Every upgrade request is refused as carrying the wrong password: never acknowledged.
  bool refusePassword = false;
  /// This share (0-100) of the upgrade requests to the router and of its TFTP datagrams, both
  /// ways, is lost.
  int lossPercent = 0;
};

/// The SearchReply this router sends.
ReplyBytes BuildSimSearchReply(const SimRouter& router);

/// The UpgradeReply: DD 82 00 36, then ipAddress, ipMask and macAddress, zeros after.
ReplyBytes BuildSimUpgradeReply(const SimRouter& router);

/// Parses "mac=001A2B3C4D5E,ip=198.18.0.10,mask=255.255.255.0,location=Lab,password=secret".
/// Keys: mac (12 hex digits, ':' or '-' allowed between pairs), ip, mask, location (text up to 24
/// bytes, no comma), locationhex (up to 24 bytes as hex), password (text), passwordhex,
/// flash-ms (0-600000), loss (percent, 0-100), and the bare word refuse-password. mac and
/// ip are required. Nothing is returned and `err` says why for any other text.
std::optional<SimRouter> ParseRouterSpec(std::string_view spec, std::string* err);

/// `count` distinct routers: MAC 02 C0 4C 00 hi lo (locally administered), IP 198.18.0.10 + i
/// (wrapping within 198.18.0.0/24 past .254), mask 255.255.255.0, location "Router <i+1>",
/// password "pass<i+1>".
std::vector<SimRouter> GenerateRouters(int count);

/// Hex text (pairs of digits, optional ':' '-' ' ' between pairs) to bytes; nothing on bad text.
std::optional<std::vector<uint8_t>> ParseHex(std::string_view text);
/// Upper-case hex, no separators.
std::string ToHex(std::span<const uint8_t> bytes);

}  // namespace corvalink::sim
