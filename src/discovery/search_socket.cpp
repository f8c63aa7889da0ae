#include "discovery/search_socket.h"

#include <utility>

namespace corvalink {

CSearchSocket::CSearchSocket(ReplyHandler onReply) : m_onReply(std::move(onReply)) {}

int CSearchSocket::SendSearch(const Endpoint& destination) {
  if (!IsOpen()) return -1;
  // Set before every send, not once at creation: the search goes to the limited broadcast
  // address, which the system refuses without it. A failure shows as a failed send.
  Socket()->SetBroadcast(true);
  const Packet request = BuildSearchRequest();
  return Socket()->SendTo(request, destination);
}

int CSearchSocket::Receive(uint8_t* buffer, int length, int /*flags*/) {
  if (Socket() == nullptr || buffer == nullptr || length <= 0) return -1;
  return Socket()->ReceiveFrom(std::span<uint8_t>(buffer, static_cast<std::size_t>(length)),
                               nullptr);
}

void CSearchSocket::OnReceive(int /*errorCode*/) { ReceiveOne(); }

int CSearchSocket::ReceiveBurst(int maxDatagrams) {
  int read = 0;
  while (read < maxDatagrams && ReceiveOne()) ++read;
  return read;
}

bool CSearchSocket::ReceiveOne() {
  m_buffer.fill(0);
  // A longer datagram is cut to the packet size by the read itself; a shorter one leaves zeros
  // after its end, which is how the protocol reads missing bytes.
  if (Receive(m_buffer.data(), static_cast<int>(m_buffer.size()), 0) < 0) {
    m_buffer.fill(0);
    return false;
  }
  if (IsSearchReply(m_buffer) && m_onReply) m_onReply(m_buffer);
  return true;
}

int StartSearch(RouterTable& table, CSearchSocket& socket, const Endpoint& destination) {
  table.routerCount = 0;
  return socket.SendSearch(destination);
}

}  // namespace corvalink
