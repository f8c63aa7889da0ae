#pragma once
// The routers' side of the discovery and upgrade protocols on one UDP port (56415 on a real
// router): every SearchRequest is answered with one SearchReply per configured router, every
// UpgradeRequest as the chosen upgrade behaviour says; faults (delay, duplicates, a stray
// sender, malformed extras, a junk flood) are switched on by options.
// Not thread-safe: one event loop drives it.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datagram_log.h"
#include "junk.h"
#include "platform/udp_socket.h"
#include "send_queue.h"
#include "sim_router.h"

namespace corvalink::sim {

/// Receives one line per notable event ("BURST ...", "FLOOD ...", "UPGRADE ..."), for stdout.
using EventSink = std::function<void(const std::string&)>;

enum class UpgradeMode {
  AtOnce,    ///< every request is answered
  After,     ///< requests from the afterN-th on are answered
  Password,  ///< only requests whose 24 password bytes equal `scrambled`
  Never,
};

struct UpgradeBehaviour {
  UpgradeMode mode = UpgradeMode::AtOnce;
  int afterN = 1;
  std::array<uint8_t, PASSWORD_SIZE> scrambled{};
};

/// "at-once", "after=N" (N >= 1), "password=<48 hex digits>", "never".
std::optional<UpgradeBehaviour> ParseUpgradeBehaviour(std::string_view text, std::string* err);

struct ResponderOptions {
  std::vector<SimRouter> routers;
  int delayMs = 0;          ///< replies wait this long; 0 sends them back to back at once
  int duplicate = 1;        ///< each round of replies goes out this many times
  bool straySender = false; ///< replies come from a second socket, not the one asked
  std::vector<JunkKind> extras;  ///< sent to the requester before the replies
  int floodCount = 0;       ///< junk datagrams sent to each requester before the replies
  uint32_t floodMaxMs = 10000;
  int floodSettleMs = 200;  ///< pause after a flood so the replies do not drown in it
  UpgradeBehaviour upgrade;
};

class RouterResponder {
 public:
  RouterResponder(ResponderOptions options, DatagramLog& log, SendQueue& queue, EventSink events);
  RouterResponder(const RouterResponder&) = delete;
  RouterResponder& operator=(const RouterResponder&) = delete;

  /// Binds the protocol socket (and the stray socket when asked for). False with `err`.
  bool Open(const Endpoint& bind, std::string* err);
  uint16_t Port() const;
  SocketHandle Descriptor() const;
  /// The stray sender's socket, NO_SOCKET when there is none.
  SocketHandle StrayDescriptor() const;

  /// Reads one datagram from the protocol socket and answers it.
  void OnReadable();
  /// Reads one datagram that reached the stray sender and records it.
  void OnStrayReadable();

  /// Asked for each router before it answers: true while it writes its flash, which keeps it
  /// silent. Empty: never busy.
  void SetBusyTest(std::function<bool(const Ipv4&)> busy) { m_busy = std::move(busy); }

  /// Sends a junk flood from the protocol socket.
  FloodResult Flood(const Endpoint& target, int count, uint32_t maxMs);

  int SearchRequests() const { return m_searchRequests; }
  int UpgradeRequests() const { return m_upgradeRequests; }

  /// Whether the n-th (1-based) UpgradeRequest with these bytes is answered.
  static bool ShouldAnswerUpgrade(const UpgradeBehaviour& b, int n,
                                  std::span<const uint8_t> request);

 private:
  void AnswerSearch(const Endpoint& from);
  void AnswerUpgrade(std::span<const uint8_t> request, const Endpoint& from);
  void SendReplies(const std::vector<ReplyBytes>& replies, const Endpoint& to,
                   std::string_view what);

  ResponderOptions m_options;
  DatagramLog& m_log;
  SendQueue& m_queue;
  EventSink m_events;
  std::shared_ptr<UdpSocket> m_socket;
  std::shared_ptr<UdpSocket> m_stray;
  std::vector<uint8_t> m_buffer;
  int m_searchRequests = 0;
  int m_upgradeRequests = 0;
  std::function<bool(const Ipv4&)> m_busy;
  /// Decides the losses of routers with a loss share; seeded alike on every run.
  uint32_t m_lossState = 0x2545F491;
};

/// Whether the next datagram of a router that loses `percent` % of them is lost; `state` is
/// the generator's state, moved on at each call (xorshift32, so runs repeat).
bool LoseDatagram(uint32_t& state, int percent);

}  // namespace corvalink::sim
