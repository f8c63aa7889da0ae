#include "upgrade/upgrade_socket.h"

#include <utility>

#include "platform/datagram_trace.h"
#include "upgrade/upgrade_formats.h"

namespace corvalink {

CUpgradeSocket::CUpgradeSocket(bool& acknowledged) : m_acknowledged(acknowledged) {}

int CUpgradeSocket::SendRequest(const Packet& request, const Endpoint& to) {
  if (!IsOpen()) return -1;
  const int sent = Socket()->SendTo(request, to);
  if (sent >= 0) TraceDatagram(TraceChannel::Upgrade, true, to, request);
  return sent;
}

void CUpgradeSocket::OnReceive(int /*errorCode*/) {
  if (!IsOpen()) return;
  // Cleared before each read so a short datagram cannot borrow its type byte from an earlier
  // one: only a datagram that itself starts DD 82 acknowledges.
  m_reply.fill(0);
  Endpoint from{};
  const int n = Socket()->ReceiveFrom(m_reply, &from);
  if (n < 0) m_reply.fill(0);
  if (n >= 0 && DatagramTraceOn()) {
    TraceDatagram(TraceChannel::Upgrade, false, from,
                  std::span<const uint8_t>(m_reply).first(static_cast<std::size_t>(n)),
                  PacketRefusal(m_reply, TYPE_UPGRADE));
  }
  if (!IsUpgradeReply(m_reply)) return;
  m_acknowledged = true;
  // The handshake is over; anything the router sends after this is of no interest.
  Close();
}

}  // namespace corvalink
