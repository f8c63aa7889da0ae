#pragma once
// A hook that sees the datagrams the protocol code sends and receives, and why it refused one,
// for a front end's verbose mode (corvalink-cli -v). The core reports; it never prints. With no
// hook set, reporting costs one test of a flag.

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "platform/ipv4.h"

namespace corvalink {

/// Which protocol a datagram belongs to.
enum class TraceChannel { Search, Upgrade, Tftp };

struct DatagramTrace {
  TraceChannel channel = TraceChannel::Search;
  bool sent = false;  ///< false: received
  Endpoint peer;      ///< where it went, or where it came from
  std::span<const uint8_t> bytes;
  /// Received datagrams only: why it was refused ("wrong type ..."); empty when it was taken.
  std::string_view refusedBecause;
};

/// The hook is called on the thread that sent or read the datagram; `bytes` lives only for the
/// call. An empty hook ends the tracing. One hook per process, set before the sockets are used.
using DatagramTraceHook = std::function<void(const DatagramTrace&)>;
void SetDatagramTraceHook(DatagramTraceHook hook);
bool DatagramTraceOn();

/// Reports one datagram to the hook, if there is one.
void TraceDatagram(TraceChannel channel, bool sent, const Endpoint& peer,
                   std::span<const uint8_t> bytes, std::string_view refusedBecause = {});

}  // namespace corvalink
