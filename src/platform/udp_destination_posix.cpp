#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/udp_destination.h"

namespace corvalink {

bool EnableDestinationAddress(UdpSocket& socket) {
  if (!socket.IsOpen()) return false;
  int on = 1;
  return ::setsockopt(socket.Descriptor(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

int ReceiveWithDestination(UdpSocket& socket, std::span<uint8_t> buffer, Endpoint* from,
                           Ipv4* to) {
  if (!socket.IsOpen()) return -1;
  sockaddr_in sa{};
  iovec iov{buffer.data(), buffer.size()};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))];
  msghdr msg{};
  msg.msg_name = &sa;
  msg.msg_namelen = sizeof sa;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  ssize_t n;
  do {
    n = ::recvmsg(socket.Descriptor(), &msg, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  if (from != nullptr) {
    std::memcpy(from->address.data(), &sa.sin_addr.s_addr, 4);
    from->port = ntohs(sa.sin_port);
  }
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr && to != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info{};
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    std::memcpy(to->data(), &info.ipi_addr.s_addr, 4);
  }
  return static_cast<int>(n);
}

}  // namespace corvalink
