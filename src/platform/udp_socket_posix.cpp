#include "platform/udp_socket.h"

#include "platform/sockaddr_ipv4.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvalink {

std::optional<UdpSocket> UdpSocket::Open(const Endpoint& local, std::string* err) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (err != nullptr) *err = std::strerror(errno);
    return std::nullopt;
  }
  UdpSocket s(fd);
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int cause = errno;
    if (err != nullptr) *err = std::strerror(cause);
    s.Close();
    errno = cause;  // callers may still read it
    return std::nullopt;
  }
  return s;
}

int UdpSocket::SendTo(std::span<const uint8_t> data, const Endpoint& to) {
  if (m_fd < 0) return -1;
  sockaddr_in sa = ToSockaddr(to);
  ssize_t n;
  if (m_sendInterface != 0) {
    // The interface rides with the datagram; the source address stays the bound one (a zero
    // ipi_spec_dst leaves it to the socket).
    iovec iov{const_cast<uint8_t*>(data.data()), data.size()};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &sa;
    msg.msg_namelen = sizeof sa;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(m_sendInterface);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    do {
      n = ::sendmsg(static_cast<int>(m_fd), &msg, 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
  }
  do {
    n = ::sendto(static_cast<int>(m_fd), data.data(), data.size(), 0,
                 reinterpret_cast<const sockaddr*>(&sa),
                 sizeof sa);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? -1 : static_cast<int>(n);
}

int UdpSocket::ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) {
  if (m_fd < 0) return -1;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n;
  do {
    n = ::recvfrom(static_cast<int>(m_fd), buffer.data(), buffer.size(), MSG_DONTWAIT,
                   reinterpret_cast<sockaddr*>(&sa), &len);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -1;
  if (from != nullptr) *from = FromSockaddr(sa);
  return static_cast<int>(n);
}

bool UdpSocket::WaitReadable(int timeoutMs) {
  if (m_fd < 0) return false;
  pollfd p{static_cast<int>(m_fd), POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
  } while (r < 0 && errno == EINTR);
  return r > 0 && (p.revents & POLLIN) != 0;
}

int UdpSocket::ReceiveWithin(std::span<uint8_t> buffer, Endpoint* from, int timeoutMs) {
  if (m_fd < 0) return -1;
  int flags = 0;
  if (timeoutMs <= 0) {
    flags = MSG_DONTWAIT;
  } else if (timeoutMs != m_receiveTimeoutMs) {
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
      return DatagramSocket::ReceiveWithin(buffer, from, timeoutMs);
    }
    m_receiveTimeoutMs = timeoutMs;
  }
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  // Not restarted after a signal: the caller looks at its stop flags and waits again.
  ssize_t n = ::recvfrom(m_fd, buffer.data(), buffer.size(), flags,
                         reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? RECEIVE_TIMED_OUT : -1;
  if (from != nullptr) *from = FromSockaddr(sa);
  return static_cast<int>(n);
}

bool UdpSocket::SetBroadcast(bool on) {
  if (m_fd < 0) return false;
  int value = on ? 1 : 0;
  return ::setsockopt(static_cast<int>(m_fd), SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}

void UdpSocket::Close() {
  if (m_fd >= 0) {
    ::close(static_cast<int>(m_fd));
    m_fd = NO_SOCKET;
  }
}

uint16_t UdpSocket::LocalPort() const {
  if (m_fd < 0) return 0;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(static_cast<int>(m_fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

}  // namespace corvalink
