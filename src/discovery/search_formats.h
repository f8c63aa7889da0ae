#pragma once
// The search request the utility broadcasts and the reply routers send back.
//
// SearchRequest, always 54 bytes:
//   offset size field
//   0      4    header: DD 80 00 36
//   4      8    tag "VELMORA" and its NUL
//   12     42   zero
//
// SearchReply, as read (a longer one is cut to 54 bytes, a shorter one reads as zeros):
//   0      4    header: DD 80, length not examined
//   4      4    ipAddress
//   8      4    ipMask
//   12     6    macAddress
//   18     24   location
//   42     12   first 12 bytes of the password, plain

#include <array>
#include <cstdint>
#include <span>

#include "discovery/packet_header.h"
#include "discovery/router_record.h"

namespace corvalink {

using Packet = std::array<uint8_t, PACKET_SIZE>;

inline constexpr char SEARCH_TAG[] = "VELMORA";

/// The one search request; identical every time.
Packet BuildSearchRequest();

/// A received datagram as the protocol reads it: its first 54 bytes, zeros after its end.
Packet PadDatagram(std::span<const uint8_t> datagram);

/// True when the datagram starts DD 80.
bool IsSearchReply(const Packet& datagram);

/// The record fields a reply carries (bytes 4..53); the last 12 password bytes are zero.
RouterRecord DecodeReplyRecord(const Packet& reply);

}  // namespace corvalink
