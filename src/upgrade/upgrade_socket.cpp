#include "upgrade/upgrade_socket.h"

#include <utility>

#include "upgrade/upgrade_formats.h"

namespace corvalink {

CUpgradeSocket::CUpgradeSocket(int32_t& acknowledged) : m_acknowledged(acknowledged) {}

int CUpgradeSocket::SendRequest(const Packet& request, const Endpoint& to) {
  if (!IsOpen()) return -1;
  return Socket()->SendTo(request, to);
}

void CUpgradeSocket::OnReceive(int /*errorCode*/) {
  if (!IsOpen()) return;
  // Cleared before each read so a short datagram cannot borrow its type byte from an earlier
  // one: only a datagram that itself starts DD 82 acknowledges.
  m_reply.fill(0);
  if (Socket()->ReceiveFrom(m_reply, nullptr) < 0) m_reply.fill(0);
  if (!IsUpgradeReply(m_reply)) return;
  m_acknowledged = 1;
  // The handshake is over; anything the router sends after this is of no interest.
  Close();
}

}  // namespace corvalink
