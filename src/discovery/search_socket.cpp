#include "discovery/search_socket.h"

#include <utility>

#include "platform/datagram_trace.h"

namespace corvalink {

CSearchSocket::CSearchSocket(ReplyHandler onReply) : m_onReply(std::move(onReply)) {}

int CSearchSocket::SendSearch(const Endpoint& destination) {
  if (!IsOpen()) return -1;
  // Set before every send, not once at creation: the search goes to the limited broadcast
  // address, which the system refuses without it. A failure shows as a failed send.
  Socket()->SetBroadcast(true);
  const Packet request = BuildSearchRequest();
  const int sent = Socket()->SendTo(request, destination);
  if (sent >= 0) TraceDatagram(TraceChannel::Search, true, destination, request);
  return sent;
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
  Endpoint from{};
  const int n = Socket() != nullptr ? Socket()->ReceiveFrom(m_buffer, &from) : -1;
  if (n < 0) {
    m_buffer.fill(0);
    return false;
  }
  const bool reply = IsSearchReply(m_buffer);
  if (DatagramTraceOn()) {
    TraceDatagram(TraceChannel::Search, false, from,
                  std::span<const uint8_t>(m_buffer).first(static_cast<std::size_t>(n)),
                  PacketRefusal(m_buffer, TYPE_SEARCH));
  }
  if (reply && m_onReply) m_onReply(m_buffer);
  return true;
}

int StartSearch(RouterTable& table, CSearchSocket& socket, const Endpoint& destination) {
  table.routerCount = 0;
  return socket.SendSearch(destination);
}

}  // namespace corvalink
