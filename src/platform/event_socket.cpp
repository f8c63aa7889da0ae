#include "platform/event_socket.h"

#include <optional>
#include <utility>

namespace corvalink {

bool EventSocket::Create(std::string* err) {
  // A second opening (of a dialog, of a search) must not leave the first one's socket behind.
  Close();
  // Any local address, a port the system picks: routers answer to whatever port the request
  // came from, and the routers' own port must stay free for them.
  std::optional<UdpSocket> s = UdpSocket::Open(Endpoint{}, err);
  if (!s) return false;
  m_socket = std::make_unique<UdpSocket>(std::move(*s));
  return true;
}

void EventSocket::Adopt(std::unique_ptr<DatagramSocket> socket) {
  Close();
  m_socket = std::move(socket);
}

void EventSocket::Close() {
  if (m_socket) m_socket->Close();
}

bool EventSocket::IsOpen() const { return m_socket && m_socket->IsOpen(); }

SocketHandle EventSocket::Descriptor() const {
  const auto* udp = dynamic_cast<const UdpSocket*>(m_socket.get());
  return udp != nullptr ? udp->Descriptor() : NO_SOCKET;
}

uint16_t EventSocket::LocalPort() const {
  const auto* udp = dynamic_cast<const UdpSocket*>(m_socket.get());
  return udp != nullptr ? udp->LocalPort() : 0;
}

}  // namespace corvalink
