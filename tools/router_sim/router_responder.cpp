#include "router_responder.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace corvalink::sim {
namespace {

constexpr uint8_t MAGIC = 0xDD;
constexpr uint8_t SEARCH = 0x80;
constexpr uint8_t UPGRADE = 0x82;
// Offsets inside an UpgradeRequest.
constexpr std::size_t REQUEST_MAC_AT = 12;
constexpr std::size_t REQUEST_PASSWORD_AT = 18;
// Big enough for any UDP datagram, so the record shows its true length.
constexpr std::size_t RECEIVE_BUFFER = 65536;

std::string EndpointText(const Endpoint& e) {
  return Ipv4ToText(e.address) + ':' + std::to_string(e.port);
}

bool SetError(std::string* err, std::string text) {
  if (err != nullptr) *err = std::move(text);
  return false;
}

}  // namespace

bool LoseDatagram(uint32_t& state, int percent) {
  if (percent <= 0) return false;
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return static_cast<int>(state % 100) < percent;
}

std::optional<UpgradeBehaviour> ParseUpgradeBehaviour(std::string_view text, std::string* err) {
  UpgradeBehaviour b;
  if (text == "at-once") {
    b.mode = UpgradeMode::AtOnce;
  } else if (text == "never") {
    b.mode = UpgradeMode::Never;
  } else if (text.starts_with("after=")) {
    std::string_view n = text.substr(6);
    auto [ptr, ec] = std::from_chars(n.data(), n.data() + n.size(), b.afterN);
    if (ec != std::errc() || ptr != n.data() + n.size() || b.afterN < 1) {
      SetError(err, "after= needs a whole number of at least 1: " + std::string(text));
      return std::nullopt;
    }
    b.mode = UpgradeMode::After;
  } else if (text.starts_with("password=")) {
    auto bytes = ParseHex(text.substr(9));
    if (!bytes || bytes->size() != PASSWORD_SIZE) {
      SetError(err, "password= needs the 24 scrambled bytes as 48 hex digits");
      return std::nullopt;
    }
    std::copy(bytes->begin(), bytes->end(), b.scrambled.begin());
    b.mode = UpgradeMode::Password;
  } else {
    SetError(err, "unknown upgrade behaviour: " + std::string(text));
    return std::nullopt;
  }
  return b;
}

RouterResponder::RouterResponder(ResponderOptions options, DatagramLog& log, SendQueue& queue,
                                 EventSink events)
    : m_options(std::move(options)),
      m_log(log),
      m_queue(queue),
      m_events(std::move(events)),
      m_buffer(RECEIVE_BUFFER) {
  m_options.duplicate = std::max(m_options.duplicate, 1);
}

bool RouterResponder::Open(const Endpoint& bind, std::string* err) {
  auto socket = UdpSocket::Open(bind);
  if (!socket) {
    return SetError(err, "cannot bind the router socket to " + EndpointText(bind));
  }
  m_socket = std::make_shared<UdpSocket>(std::move(*socket));
  if (m_options.straySender) {
    auto stray = UdpSocket::Open(Endpoint{bind.address, 0});
    if (!stray) return SetError(err, "cannot open the stray sender's socket");
    m_stray = std::make_shared<UdpSocket>(std::move(*stray));
  }
  return true;
}

uint16_t RouterResponder::Port() const { return m_socket ? m_socket->LocalPort() : 0; }
SocketHandle RouterResponder::Descriptor() const {
  return m_socket ? m_socket->Descriptor() : NO_SOCKET;
}
SocketHandle RouterResponder::StrayDescriptor() const {
  return m_stray ? m_stray->Descriptor() : NO_SOCKET;
}

void RouterResponder::OnReadable() {
  Endpoint from;
  int n = m_socket->ReceiveFrom(m_buffer, &from);
  if (n < 0) return;
  std::span<const uint8_t> datagram(m_buffer.data(), static_cast<std::size_t>(n));
  m_log.Record("search", from, datagram);
  if (n < 2 || datagram[0] != MAGIC) return;
  if (datagram[1] == SEARCH) {
    AnswerSearch(from);
  } else if (datagram[1] == UPGRADE) {
    AnswerUpgrade(datagram, from);
  }
}

void RouterResponder::OnStrayReadable() {
  Endpoint from;
  int n = m_stray->ReceiveFrom(m_buffer, &from);
  if (n >= 0) m_log.Record("stray", from, {m_buffer.data(), static_cast<std::size_t>(n)});
}

FloodResult RouterResponder::Flood(const Endpoint& target, int count, uint32_t maxMs) {
  FloodResult r = SendFlood(*m_socket, target, count, maxMs);
  if (m_events) {
    m_events("FLOOD to=" + EndpointText(target) + " sent=" + std::to_string(r.sent) +
             " failed=" + std::to_string(r.failed) + " ms=" + std::to_string(r.elapsedMs));
  }
  return r;
}

void RouterResponder::AnswerSearch(const Endpoint& from) {
  ++m_searchRequests;
  for (JunkKind kind : m_options.extras) {
    SimRouter first = m_options.routers.empty() ? SimRouter{} : m_options.routers.front();
    m_socket->SendTo(MakeJunk(kind, first), from);
  }
  int settleMs = 0;
  if (m_options.floodCount > 0) {
    Flood(from, m_options.floodCount, m_options.floodMaxMs);
    settleMs = m_options.floodSettleMs;
  }
  std::vector<ReplyBytes> replies;
  replies.reserve(m_options.routers.size());
  for (const SimRouter& r : m_options.routers) {
    if (!m_busy || !m_busy(r.ip)) replies.push_back(BuildSimSearchReply(r));
  }
  int delayMs = m_options.delayMs + settleMs;
  if (delayMs == 0) {
    SendReplies(replies, from, "search");
    return;
  }
  uint64_t due = SimNowMs() + static_cast<uint64_t>(delayMs);
  std::shared_ptr<DatagramSocket> via = m_stray ? m_stray : m_socket;
  for (int round = 0; round < m_options.duplicate; ++round) {
    for (const ReplyBytes& reply : replies) {
      m_queue.Schedule(via, from, {reply.begin(), reply.end()}, due);
    }
  }
}

void RouterResponder::AnswerUpgrade(std::span<const uint8_t> request, const Endpoint& from) {
  // A request reads as a router would read it: missing bytes count as zero.
  ReplyBytes padded{};
  std::copy_n(request.begin(), std::min(request.size(), padded.size()), padded.begin());

  // With routers configured, each answers only the requests that name its MAC; with none, the
  // simulator stands in for whatever router the request names.
  SimRouter target;
  std::copy_n(padded.begin() + 4, 4, target.ip.begin());
  std::copy_n(padded.begin() + 8, 4, target.mask.begin());
  std::copy_n(padded.begin() + REQUEST_MAC_AT, MAC_SIZE, target.mac.begin());
  if (!m_options.routers.empty()) {
    auto it = std::find_if(m_options.routers.begin(), m_options.routers.end(),
                           [&](const SimRouter& r) { return r.mac == target.mac; });
    if (it == m_options.routers.end()) return;
    target = *it;
  }
  if (LoseDatagram(m_lossState, target.lossPercent)) return;
  ++m_upgradeRequests;
  const bool busy = m_busy && m_busy(target.ip);
  bool answer = !busy && !target.refusePassword &&
                ShouldAnswerUpgrade(m_options.upgrade, m_upgradeRequests, padded);
  if (m_events) {
    m_events("UPGRADE from=" + EndpointText(from) + " n=" + std::to_string(m_upgradeRequests) +
             (answer                  ? " answered"
              : busy                  ? " ignored (writing its flash)"
              : target.refusePassword ? " refused (password)"
                                      : " ignored"));
  }
  if (!answer) return;
  std::vector<ReplyBytes> replies{BuildSimUpgradeReply(target)};
  if (m_options.delayMs == 0) {
    SendReplies(replies, from, "upgrade");
    return;
  }
  std::shared_ptr<DatagramSocket> via = m_stray ? m_stray : m_socket;
  uint64_t due = SimNowMs() + static_cast<uint64_t>(m_options.delayMs);
  for (int round = 0; round < m_options.duplicate; ++round) {
    m_queue.Schedule(via, from, {replies[0].begin(), replies[0].end()}, due);
  }
}

bool RouterResponder::ShouldAnswerUpgrade(const UpgradeBehaviour& b, int n,
                                          std::span<const uint8_t> request) {
  switch (b.mode) {
    case UpgradeMode::AtOnce:
      return true;
    case UpgradeMode::After:
      return n >= b.afterN;
    case UpgradeMode::Password:
      return request.size() >= REQUEST_PASSWORD_AT + PASSWORD_SIZE &&
             std::equal(b.scrambled.begin(), b.scrambled.end(),
                        request.begin() + REQUEST_PASSWORD_AT);
    case UpgradeMode::Never:
      return false;
  }
  return false;
}

void RouterResponder::SendReplies(const std::vector<ReplyBytes>& replies, const Endpoint& to,
                                  std::string_view what) {
  DatagramSocket& via = m_stray ? *m_stray : *m_socket;
  auto start = std::chrono::steady_clock::now();
  int sent = 0;
  for (int round = 0; round < m_options.duplicate; ++round) {
    for (const ReplyBytes& reply : replies) {
      if (via.SendTo(reply, to) == static_cast<int>(reply.size())) ++sent;
    }
  }
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start)
                .count();
  if (m_events && !replies.empty()) {
    m_events("BURST " + std::string(what) + " to=" + EndpointText(to) +
             " replies=" + std::to_string(sent) + " us=" + std::to_string(us));
  }
}

}  // namespace corvalink::sim
