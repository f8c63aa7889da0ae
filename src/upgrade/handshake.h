#pragma once
// The upgrade handshake: the request that asks a router to take new firmware, sent again at a
// fixed interval until the router acknowledges it. UpgradeHandshake is one step of it, driven by
// a window's timer (one Tick per UPGRADE_REQUEST_INTERVAL_MS) or by RunUpgradeHandshake's loop.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "discovery/router_record.h"
#include "discovery/search_formats.h"
#include "platform/ipv4.h"
#include "platform/ms_clock.h"
#include "upgrade/progress_bar.h"
#include "upgrade/upgrade_socket.h"

namespace corvalink {

/// The spacing of upgrade requests.
inline constexpr uint32_t UPGRADE_REQUEST_INTERVAL_MS = 500;

/// A window's bar while it waits for the acknowledgement: a range of 0 to this, one step of 1
/// per tick, starting over from 0 once it passes the top.
inline constexpr int HANDSHAKE_BAR_TOP = 5;

/// How much of an address field a window reads before it parses it (a 30-byte buffer).
inline constexpr std::size_t ROUTER_ADDRESS_FIELD_CHARS = 29;

/// What a window lends its handshake: the router address field, the Send button, the poll
/// timer, its watch on the socket, and the transfer. UI thread only.
class HandshakeWindow {
 public:
  virtual ~HandshakeWindow() = default;
  /// The RouterIP field's text, as it stands.
  virtual std::string RouterAddressField() const = 0;
  virtual void EnableSendButton() = 0;
  virtual void StopPollTimer() = 0;
  /// Called just before the socket is closed: the window stops watching its descriptor.
  virtual void StopWatchingSocket() {}
  /// Runs the transfer and shows its result (the window's OnSend).
  virtual void StartTransfer() = 0;
};

/// One handshake with one router, step by step. The socket must outlive the object; its owner
/// reads it (OnReceive) whenever a datagram waits, which sets the acknowledged flag. Not
/// thread-safe: Tick and the socket's reads run on one thread.
class UpgradeHandshake {
 public:
  enum class Step {
    RequestSent,   ///< not yet acknowledged: the request went out again (or had no address)
    Acknowledged,  ///< the router's reply has set the flag; nothing was sent
  };

  /// `acknowledged` is the flag `socket` sets; the caller clears it before the first tick.
  UpgradeHandshake(CUpgradeSocket& socket, const bool& acknowledged);

  /// Starts over for `router`: the request is built from its record, the count goes to 0.
  void Start(const RouterRecord& router);

  /// A window's opening: Start, and the bar set up as the handshake shows it, at 0 of
  /// 0..HANDSHAKE_BAR_TOP with a step of 1, whatever an earlier opening left on it.
  void Open(const RouterRecord& router, ProgressModel& bar);

  /// One tick of a window's poll timer. Until the router acknowledges, the bar steps and the
  /// request goes to the address in the window's field at `port`. Once it has, in this order:
  /// the Send button is enabled, the timer stopped, the socket closed, the bar set to 0 and the
  /// transfer run, all inside this call; Acknowledged is returned after the transfer.
  Step OnPollTimer(HandshakeWindow& window, ProgressModel& bar, uint16_t port);

  /// One step: Acknowledged once the flag is set, else the request is sent to `to` and the count
  /// goes up. Without an address nothing is sent, and the step still counts as a request.
  Step Tick(const std::optional<Endpoint>& to);
  /// The same with the address as a window's field holds it: the first
  /// ROUTER_ADDRESS_FIELD_CHARS characters, which must be a dotted address, and `port`.
  Step Tick(std::string_view addressField, uint16_t port);

  bool IsAcknowledged() const { return m_acknowledged; }
  /// Ticks that sent (or would have sent) the request since Start.
  int RequestsSent() const { return m_requestsSent; }
  const Packet& Request() const { return m_request; }

 private:
  CUpgradeSocket& m_socket;
  const bool& m_acknowledged;
  Packet m_request{};
  int m_requestsSent = 0;
};

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
  /// Longest time to wait for the reply, from the first request on. A window has no limit; a
  /// script needs one.
  uint32_t timeoutMs = 30000;
  uint32_t intervalMs = UPGRADE_REQUEST_INTERVAL_MS;
  /// Asked between waits; true ends the handshake. May be empty.
  std::function<bool()> stop;
  /// Called after each request with the number sent so far. May be empty.
  std::function<void(int)> onRequestSent;
};

/// The handshake as a loop, for a program without an event loop: ticks at once and then every
/// intervalMs, reading every datagram that reaches `socket` in between, until the router
/// acknowledges, the time runs out or `stop` says so. The socket must be open; the caller
/// clears `acknowledged` before. Unlike a window, whose first tick comes one interval after
/// opening, the first request goes out at once.
HandshakeResult RunUpgradeHandshake(CUpgradeSocket& socket, const bool& acknowledged,
                                    const RouterRecord& router, const Endpoint& to, Clock& clock,
                                    const HandshakeOptions& options);

}  // namespace corvalink
