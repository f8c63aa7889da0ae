#include "upgrade/handshake.h"

#include <algorithm>

#include "discovery/search_loop.h"
#include "upgrade/upgrade_formats.h"

namespace corvalink {

UpgradeHandshake::UpgradeHandshake(CUpgradeSocket& socket, const bool& acknowledged)
    : m_socket(socket), m_acknowledged(acknowledged) {}

void UpgradeHandshake::Start(const RouterRecord& router) {
  m_request = BuildUpgradeRequest(router);
  m_requestsSent = 0;
}

void UpgradeHandshake::Open(const RouterRecord& router, ProgressModel& bar) {
  Start(router);
  // The position first, inside whatever range the bar had: a bar left full by an earlier
  // transfer must not show full in the new range.
  bar.SetPos(0);
  bar.SetRange(0, HANDSHAKE_BAR_TOP);
  bar.SetStep(1);
}

UpgradeHandshake::Step UpgradeHandshake::OnPollTimer(HandshakeWindow& window, ProgressModel& bar,
                                                     uint16_t port) {
  if (IsAcknowledged()) {
    window.EnableSendButton();
    window.StopPollTimer();
    window.StopWatchingSocket();
    m_socket.Close();
    bar.SetPos(0);
    window.StartTransfer();
    return Step::Acknowledged;
  }
  bar.StepIt();
  return Tick(window.RouterAddressField(), port);
}

UpgradeHandshake::Step UpgradeHandshake::Tick(const std::optional<Endpoint>& to) {
  if (IsAcknowledged()) return Step::Acknowledged;
  // A failed send is not reported: like a lost datagram, it shows as a reply that never comes.
  if (to) m_socket.SendRequest(m_request, *to);
  ++m_requestsSent;
  return Step::RequestSent;
}

UpgradeHandshake::Step UpgradeHandshake::Tick(std::string_view addressField, uint16_t port) {
  std::optional<Endpoint> to;
  if (std::optional<Ipv4> address = ParseIpv4(addressField.substr(0, ROUTER_ADDRESS_FIELD_CHARS))) {
    to = Endpoint{*address, port};
  }
  return Tick(to);
}

HandshakeResult RunUpgradeHandshake(CUpgradeSocket& socket, const bool& acknowledged,
                                    const RouterRecord& router, const Endpoint& to, Clock& clock,
                                    const HandshakeOptions& options) {
  HandshakeResult result;
  UpgradeHandshake handshake(socket, acknowledged);
  handshake.Start(router);
  const uint32_t start = clock.NowMs();
  auto descriptor = [&socket] { return socket.Descriptor(); };
  auto onReadable = [&socket] { socket.OnReceive(0); };
  auto done = [&] { return handshake.IsAcknowledged() || (options.stop && options.stop()); };
  auto end = [&](HandshakeEnd how, std::string error = {}) {
    result.end = how;
    result.requestsSent = handshake.RequestsSent();
    result.error = std::move(error);
    return result;
  };

  for (;;) {
    if (handshake.IsAcknowledged()) return end(HandshakeEnd::Acknowledged);
    if (options.stop && options.stop()) return end(HandshakeEnd::Stopped);
    const uint32_t elapsed = ElapsedMs(start, clock.NowMs());
    if (elapsed >= options.timeoutMs) return end(HandshakeEnd::Timeout);
    if (handshake.Tick(to) == UpgradeHandshake::Step::Acknowledged) {
      return end(HandshakeEnd::Acknowledged);
    }
    if (options.onRequestSent) options.onRequestSent(handshake.RequestsSent());
    const uint32_t wait = std::min(options.intervalMs, options.timeoutMs - elapsed);
    const PollResult waited = PollReadable(descriptor, onReadable, clock, wait, done);
    if (waited.end == PollEnd::Failed) return end(HandshakeEnd::Failed, waited.error);
    if (waited.end == PollEnd::Closed && !handshake.IsAcknowledged()) {
      return end(HandshakeEnd::Failed, "the upgrade socket was closed before the router answered");
    }
  }
}

}  // namespace corvalink
