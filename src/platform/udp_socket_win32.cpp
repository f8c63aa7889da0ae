#include "platform/udp_socket.h"

#include "platform/sockaddr_ipv4.h"

#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>

#include <cstring>

namespace corvalink {
namespace {

SOCKET Native(SocketHandle h) { return static_cast<SOCKET>(h); }

// A zero-timeout select: whether a read would find a datagram now. Winsock has no per-call
// "don't wait" flag, and a non-blocking socket would change how the sends behave.
bool Readable(SOCKET s, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &set, nullptr, nullptr, &tv) > 0 && FD_ISSET(s, &set) != 0;
}

}  // namespace

std::optional<UdpSocket> UdpSocket::Open(const Endpoint& local, std::string* err) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s == INVALID_SOCKET) {
    if (err != nullptr) *err = SocketErrorText(::WSAGetLastError());
    return std::nullopt;
  }
  UdpSocket socket(static_cast<SocketHandle>(s));
  // A datagram sent to a closed port comes back as an ICMP report, which Windows turns into a
  // WSAECONNRESET on the next read, in place of the next real datagram; Linux reports nothing
  // on an unconnected socket. Both programs expect the Linux behaviour.
  BOOL report = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
             nullptr);
  sockaddr_in sa = ToSockaddr(local);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) {
    const int cause = ::WSAGetLastError();
    if (err != nullptr) *err = SocketErrorText(cause);
    socket.Close();
    ::WSASetLastError(cause);  // callers may still read it
    return std::nullopt;
  }
  return socket;
}

int UdpSocket::SendTo(std::span<const uint8_t> data, const Endpoint& to) {
  if (m_fd == NO_SOCKET) return -1;
  sockaddr_in sa = ToSockaddr(to);
  const int n = ::sendto(Native(m_fd), reinterpret_cast<const char*>(data.data()),
                         static_cast<int>(data.size()), 0, reinterpret_cast<const sockaddr*>(&sa),
                         sizeof sa);
  return n == SOCKET_ERROR ? -1 : n;
}

namespace {

// One recvfrom into `buffer`. A datagram longer than the buffer fills it and the rest is
// dropped, as on Linux; Winsock reports that as WSAEMSGSIZE, but the first bytes and the sender
// are there.
int ReadDatagram(SOCKET s, std::span<uint8_t> buffer, Endpoint* from) {
  sockaddr_in sa{};
  int len = sizeof sa;
  int n = ::recvfrom(s, reinterpret_cast<char*>(buffer.data()), static_cast<int>(buffer.size()),
                     0, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n == SOCKET_ERROR) {
    const int cause = ::WSAGetLastError();
    if (cause == WSAETIMEDOUT) return RECEIVE_TIMED_OUT;
    if (cause != WSAEMSGSIZE) return -1;
    n = static_cast<int>(buffer.size());
  }
  if (from != nullptr) *from = FromSockaddr(sa);
  return n;
}

}  // namespace

int UdpSocket::ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) {
  if (m_fd == NO_SOCKET) return -1;
  if (!Readable(Native(m_fd), 0)) {
    ::WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  const int n = ReadDatagram(Native(m_fd), buffer, from);
  return n == RECEIVE_TIMED_OUT ? -1 : n;
}

bool UdpSocket::WaitReadable(int timeoutMs) {
  if (m_fd == NO_SOCKET) return false;
  return Readable(Native(m_fd), timeoutMs < 0 ? 0 : timeoutMs);
}

// A wait is one blocking recvfrom bounded by the socket's receive timeout (SO_RCVTIMEO), set
// only when the wait's length changes. Microsoft's warning that a timed-out receive leaves the
// socket "indeterminate" concerns connections; a datagram socket has none, and the next read
// works as before. No wait at all is the zero-timeout select of ReceiveFrom.
int UdpSocket::ReceiveWithin(std::span<uint8_t> buffer, Endpoint* from, int timeoutMs) {
  if (m_fd == NO_SOCKET) return -1;
  if (timeoutMs <= 0) {
    if (!Readable(Native(m_fd), 0)) return RECEIVE_TIMED_OUT;
    return ReceiveFrom(buffer, from);
  }
  if (timeoutMs != m_receiveTimeoutMs) {
    const DWORD ms = static_cast<DWORD>(timeoutMs);
    if (::setsockopt(Native(m_fd), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                     sizeof ms) != 0) {
      return DatagramSocket::ReceiveWithin(buffer, from, timeoutMs);
    }
    m_receiveTimeoutMs = timeoutMs;
  }
  return ReadDatagram(Native(m_fd), buffer, from);
}

bool UdpSocket::SetBroadcast(bool on) {
  if (m_fd == NO_SOCKET) return false;
  const BOOL value = on ? TRUE : FALSE;
  return ::setsockopt(Native(m_fd), SOL_SOCKET, SO_BROADCAST,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

void UdpSocket::Close() {
  if (m_fd != NO_SOCKET) {
    ::closesocket(Native(m_fd));
    m_fd = NO_SOCKET;
  }
}

uint16_t UdpSocket::LocalPort() const {
  if (m_fd == NO_SOCKET) return 0;
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(Native(m_fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

}  // namespace corvalink
