#pragma once
// A plain event loop for front ends without a window system (the command line): it waits on a
// socket's descriptor and hands each readable datagram to its OnReceive, one read per datagram,
// until a deadline. The window front end keeps its own notifier and never uses this.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "discovery/router_table.h"
#include "discovery/search_socket.h"
#include "discovery/search_targets.h"
#include "platform/ipv4.h"
#include "platform/ms_clock.h"
#include "platform/socket_layer.h"

namespace corvalink {

enum class PollEnd {
  Deadline,  ///< the time ran out
  Stopped,   ///< the caller's stop test said so
  Closed,    ///< the descriptor went away (-1); an upgrade socket closes itself on the reply
  Failed,    ///< the wait itself failed; `error` says why
};

struct PollResult {
  PollEnd end = PollEnd::Deadline;
  /// How many times onReadable ran.
  int datagrams = 0;
  std::string error;
};

/// Calls `onReadable` once each time the descriptor has a datagram waiting, until `timeoutMs`
/// have passed on `clock`, `stop` (asked before every wait; may be empty) returns true, or
/// `descriptor` (asked anew before every wait) returns -1. An interrupted wait (a signal) is
/// not a failure: the loop asks `stop` and goes on; `stop` is asked at least every 100 ms. `onReadable` must read the datagram, or
/// the loop spins on it until the deadline.
PollResult PollReadable(const std::function<SocketHandle()>& descriptor,
                        const std::function<void()>& onReadable, Clock& clock,
                        uint32_t timeoutMs, const std::function<bool()>& stop = {});

/// What one search sends, and how long it listens.
struct SearchPlan {
  /// Where the request goes first; the limited broadcast goes out of every interface.
  Endpoint destination{{255, 255, 255, 255}, DISCOVERY_PORT};
  /// False: no request to `destination`, only the targets.
  bool toDestination = true;
  /// Addresses asked one by one on destination.port, SWEEP_INTERVAL_MS apart, in order.
  std::vector<SearchTarget> targets;
  /// Replies are collected for this long after the last request went out.
  uint32_t timeoutMs = 2000;
};

/// One search from start to end: the table forgets its routers, the plan's requests go out
/// (the targets paced while replies are read), and every datagram reaching any of the socket's
/// Descriptors() until `timeoutMs` after the last request goes through OnReceiveOn. Failed,
/// with a message naming the address, when a request cannot be sent.
PollResult RunSearch(CSearchSocket& socket, RouterTable& table, Clock& clock,
                     const SearchPlan& plan, const std::function<bool()>& stop = {});

/// One search from start to end: StartSearch to `destination` (the table forgets its routers),
/// then every datagram reaching the socket within `timeoutMs` goes through socket.OnReceive,
/// whose handler stores the replies. Failed, with a message naming the destination, when the
/// request cannot be sent.
PollResult RunSearch(CSearchSocket& socket, RouterTable& table, Clock& clock, uint32_t timeoutMs,
                     const Endpoint& destination, const std::function<bool()>& stop = {});

}  // namespace corvalink
