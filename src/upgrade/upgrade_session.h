#pragma once
// The upgrade handshake without a window: the same request the upgrade dialog's timer sends,
// repeated at the same interval, until the router acknowledges it or the caller's time runs out.
// The dialog has no limit; a script needs one, so the caller sets it.

#include <cstdint>
#include <functional>
#include <string>

#include "discovery/router_record.h"
#include "platform/ipv4.h"
#include "platform/ms_clock.h"
#include "upgrade/upgrade_socket.h"

namespace corvalink {

/// The spacing of upgrade requests, as the dialog's poll timer has it.
inline constexpr uint32_t UPGRADE_REQUEST_INTERVAL_MS = 500;

enum class HandshakeEnd {
  Acknowledged,  ///< the router's reply set the flag
  Timeout,       ///< no reply within the time given
  Stopped,       ///< the caller's stop test said so
  Failed,        ///< the socket could not be waited on; `error` says why
};

struct HandshakeResult {
  HandshakeEnd end = HandshakeEnd::Timeout;
  int requestsSent = 0;
  std::string error;
};

struct HandshakeOptions {
  /// Longest time to wait for the reply, from the first request on.
  uint32_t timeoutMs = 30000;
  uint32_t intervalMs = UPGRADE_REQUEST_INTERVAL_MS;
  /// Asked between waits; true ends the handshake. May be empty.
  std::function<bool()> stop;
  /// Called after each request with the number sent so far. May be empty.
  std::function<void(int)> onRequestSent;
};

/// Sends the request for `router` to `to` at once and then every intervalMs, reading every
/// datagram that reaches `socket` in between, until `acknowledged` (the flag the socket sets)
/// is 1. The socket must be open; the caller clears the flag before. Unlike the dialog, whose
/// first request waits for its timer's first tick, the first request goes out at once.
HandshakeResult RunUpgradeHandshake(CUpgradeSocket& socket, const int32_t& acknowledged,
                                    const RouterRecord& router, const Endpoint& to, Clock& clock,
                                    const HandshakeOptions& options);

}  // namespace corvalink
