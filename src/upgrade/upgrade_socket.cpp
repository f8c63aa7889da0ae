#include "upgrade/upgrade_socket.h"

#include <utility>

#include "upgrade/upgrade_formats.h"

namespace corvalink {

CUpgradeSocket::CUpgradeSocket(int32_t& acknowledged) : m_acknowledged(acknowledged) {}

bool CUpgradeSocket::Create() {
  // A second opening of the dialog must not leave the first opening's socket behind.
  Close();
  std::optional<UdpSocket> s = UdpSocket::Open(Endpoint{});
  if (!s) return false;
  m_socket = std::make_unique<UdpSocket>(std::move(*s));
  return true;
}

void CUpgradeSocket::Adopt(std::unique_ptr<DatagramSocket> socket) {
  Close();
  m_socket = std::move(socket);
}

void CUpgradeSocket::Close() {
  if (m_socket) m_socket->Close();
}

bool CUpgradeSocket::IsOpen() const { return m_socket && m_socket->IsOpen(); }

int CUpgradeSocket::Descriptor() const {
  const auto* udp = dynamic_cast<const UdpSocket*>(m_socket.get());
  return udp != nullptr ? udp->Descriptor() : -1;
}

uint16_t CUpgradeSocket::LocalPort() const {
  const auto* udp = dynamic_cast<const UdpSocket*>(m_socket.get());
  return udp != nullptr ? udp->LocalPort() : 0;
}

int CUpgradeSocket::SendRequest(const Packet& request, const Endpoint& to) {
  if (!IsOpen()) return -1;
  return m_socket->SendTo(request, to);
}

void CUpgradeSocket::OnReceive(int /*errorCode*/) {
  if (!IsOpen()) return;
  // Cleared before each read so a short datagram cannot borrow its type byte from an earlier
  // one: only a datagram that itself starts DD 82 acknowledges.
  m_reply.fill(0);
  if (m_socket->ReceiveFrom(m_reply, nullptr) < 0) m_reply.fill(0);
  if (!IsUpgradeReply(m_reply)) return;
  m_acknowledged = 1;
  // The handshake is over; anything the router sends after this is of no interest.
  Close();
}

}  // namespace corvalink
