#pragma once
// The upgrade request that asks a router to accept new firmware, and its reply.
//
// UpgradeRequest, always 54 bytes:
//   offset size field
//   0      4    header: DD 82 00 36
//   4      4    ipAddress   (as held)
//   8      4    ipMask      (as held)
//   12     6    macAddress
//   18     24   password    (scrambled, as held)
//   42     12   zero
//
// UpgradeReply: any datagram that starts DD 82; nothing else of it is examined.

#include "discovery/router_record.h"
#include "discovery/search_formats.h"

namespace corvalink {

/// The request for `router`; the same bytes every time for the same record.
Packet BuildUpgradeRequest(const RouterRecord& router);

/// True when the datagram starts DD 82.
bool IsUpgradeReply(const Packet& datagram);

}  // namespace corvalink
