#include "discovery/search_socket.h"

#include <optional>
#include <utility>

#include "discovery/search_interfaces.h"
#include "platform/datagram_trace.h"
#include "platform/udp_destination.h"

namespace corvalink {
namespace {

constexpr Ipv4 LIMITED_BROADCAST_ADDRESS{255, 255, 255, 255};

std::unique_ptr<DatagramSocket> OpenOnInterface(const InterfaceAddress& via, std::string* err) {
  if (!via.address) return nullptr;
  // Bound to the interface's address: the replies come back to it, and Windows sends a limited
  // broadcast from a bound socket out of that adapter. Linux is told the interface as well.
  std::optional<UdpSocket> s = UdpSocket::Open(Endpoint{*via.address, 0}, err);
  if (!s) return nullptr;
  s->SetSendInterface(via.index);
  return std::make_unique<UdpSocket>(std::move(*s));
}

}  // namespace

InterfaceAccess SystemInterfaceAccess() { return {ListInterfaceAddresses, OpenOnInterface}; }

CSearchSocket::CSearchSocket(ReplyHandler onReply) : m_onReply(std::move(onReply)) {}

CSearchSocket::~CSearchSocket() { Close(); }

void CSearchSocket::SetInterfaceAccess(InterfaceAccess access) {
  m_access = std::move(access);
  m_accessSet = true;
}

bool CSearchSocket::PerInterface() const {
  return m_accessSet ? static_cast<bool>(m_access.list) : Descriptor() != NO_SOCKET;
}

void CSearchSocket::UpdateLegs(const std::vector<InterfaceAddress>& wanted) {
  std::vector<SearchLeg> legs;
  for (const InterfaceAddress& w : wanted) {
    SearchLeg leg;
    for (SearchLeg& old : m_legs) {
      if (old.socket && old.socket->IsOpen() && old.via.name == w.name &&
          old.via.address == w.address) {
        leg.socket = std::move(old.socket);
        break;
      }
    }
    leg.via = w;
    if (!leg.socket && m_access.open) leg.socket = m_access.open(w, &leg.error);
    if (!leg.socket && leg.error.empty()) leg.error = "no socket could be opened on it";
    legs.push_back(std::move(leg));
  }
  for (SearchLeg& old : m_legs) {
    if (old.socket) old.socket->Close();
  }
  m_legs = std::move(legs);
}

int CSearchSocket::SendSearch(const Endpoint& destination) {
  if (!IsOpen()) return -1;
  m_lastDatagrams = 0;
  const Packet request = BuildSearchRequest();
  const InterfaceAccess access = m_accessSet ? m_access : SystemInterfaceAccess();
  const bool limited = destination.address == LIMITED_BROADCAST_ADDRESS;
  // Listed once per search, not per datagram of a sweep.
  if (PerInterface() && access.list && (limited || m_interfaces.empty())) {
    std::string listErr;
    std::vector<InterfaceAddress> all;
    if (access.list(&all, &listErr)) m_interfaces = std::move(all);
  }
  if (m_onArrival && !m_arrivalAddressOn) {
    // Asked before the first request leaves: the system notes the address a datagram was sent
    // to only for datagrams that arrive after this.
    if (auto* udp = dynamic_cast<UdpSocket*>(Socket())) EnableDestinationAddress(*udp);
    m_arrivalAddressOn = true;
  }

  if (limited && PerInterface()) {
    if (!m_accessSet) m_access = access;
    UpdateLegs(SearchInterfaces(m_interfaces));
    int sent = -1;
    for (SearchLeg& leg : m_legs) {
      leg.sent = -1;
      if (!leg.socket) continue;
      leg.socket->SetBroadcast(true);
      leg.sent = leg.socket->SendTo(request, destination);
      if (leg.sent < 0) continue;
      sent = leg.sent;
      ++m_lastDatagrams;
      TraceDatagram(TraceChannel::Search, true, destination, request);
    }
    // A host where no interface qualifies, or none could be used, still sends its one
    // request the way the system routes it.
    if (m_lastDatagrams > 0) return sent;
  }
  // Set before every send, not once at creation: the search goes to the limited broadcast
  // address, which the system refuses without it. A failure shows as a failed send.
  Socket()->SetBroadcast(true);
  const int sent = Socket()->SendTo(request, destination);
  if (sent >= 0) {
    ++m_lastDatagrams;
    TraceDatagram(TraceChannel::Search, true, destination, request);
  }
  return sent;
}

void CSearchSocket::OnReceive(int /*errorCode*/) { ReceiveOne(Socket(), nullptr); }

void CSearchSocket::OnReceiveOn(SocketHandle handle) {
  if (handle == Descriptor()) {
    ReceiveOne(Socket(), nullptr);
    return;
  }
  for (const SearchLeg& leg : m_legs) {
    const auto* udp = dynamic_cast<const UdpSocket*>(leg.socket.get());
    if (udp != nullptr && udp->Descriptor() == handle) {
      ReceiveOne(leg.socket.get(), &leg);
      return;
    }
  }
}

void CSearchSocket::OnReceiveLeg(std::size_t leg) {
  if (leg < m_legs.size()) ReceiveOne(m_legs[leg].socket.get(), &m_legs[leg]);
}

int CSearchSocket::ReceiveBurst(int maxDatagrams) {
  int read = 0;
  for (bool any = true; any && read < maxDatagrams;) {
    any = false;
    if (read < maxDatagrams && ReceiveOne(Socket(), nullptr)) {
      ++read;
      any = true;
    }
    for (std::size_t i = 0; i < m_legs.size(); ++i) {
      if (read < maxDatagrams && ReceiveOne(m_legs[i].socket.get(), &m_legs[i])) {
        ++read;
        any = true;
      }
    }
  }
  return read;
}

std::vector<SocketHandle> CSearchSocket::Descriptors() const {
  std::vector<SocketHandle> out;
  if (Descriptor() != NO_SOCKET) out.push_back(Descriptor());
  for (const SearchLeg& leg : m_legs) {
    const auto* udp = dynamic_cast<const UdpSocket*>(leg.socket.get());
    if (udp != nullptr && udp->Descriptor() != NO_SOCKET) out.push_back(udp->Descriptor());
  }
  return out;
}

void CSearchSocket::Close() {
  for (SearchLeg& leg : m_legs) {
    if (leg.socket) leg.socket->Close();
  }
  m_legs.clear();
  EventSocket::Close();
}

bool CSearchSocket::ReceiveOne(DatagramSocket* socket, const SearchLeg* leg) {
  m_buffer.fill(0);
  // A longer datagram is cut to the packet size by the read itself; a shorter one leaves zeros
  // after its end, which is how the protocol reads missing bytes.
  ReplyArrival arrival;
  int n = -1;
  auto* udp = dynamic_cast<UdpSocket*>(socket);
  if (leg == nullptr && m_arrivalAddressOn && udp != nullptr) {
    n = ReceiveWithDestination(*udp, m_buffer, &arrival.from, &arrival.localAddress);
  } else if (socket != nullptr) {
    n = socket->ReceiveFrom(m_buffer, &arrival.from);
  }
  if (n < 0) {
    m_buffer.fill(0);
    return false;
  }
  const bool reply = IsSearchReply(m_buffer);
  if (DatagramTraceOn()) {
    TraceDatagram(TraceChannel::Search, false, arrival.from,
                  std::span<const uint8_t>(m_buffer).first(static_cast<std::size_t>(n)),
                  PacketRefusal(m_buffer, TYPE_SEARCH));
  }
  if (!reply) return true;
  // Taken before any handler runs: a handler may start a search, which replaces the legs.
  if (leg != nullptr) {
    arrival.interfaceName = leg->via.name;
    arrival.localAddress = leg->via.address.value_or(Ipv4{});
  } else if (const InterfaceAddress* a = InterfaceWithAddress(m_interfaces, arrival.localAddress)) {
    arrival.interfaceName = a->name;
  }
  if (m_onReply) m_onReply(m_buffer);
  if (m_onArrival) m_onArrival(m_buffer, arrival);
  return true;
}

int StartSearch(RouterTable& table, CSearchSocket& socket, const Endpoint& destination) {
  table.Clear();
  return socket.SendSearch(destination);
}

}  // namespace corvalink
