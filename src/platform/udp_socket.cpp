#include "platform/udp_socket.h"

#include <utility>

// What the socket does alike on every system; each system's calls are in udp_socket_posix.cpp
// and udp_socket_win32.cpp.

namespace corvalink {

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept
    : m_fd(std::exchange(other.m_fd, NO_SOCKET)),
      m_receiveTimeoutMs(std::exchange(other.m_receiveTimeoutMs, 0)),
      m_sendInterface(std::exchange(other.m_sendInterface, 0u)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, NO_SOCKET);
    m_receiveTimeoutMs = std::exchange(other.m_receiveTimeoutMs, 0);
    m_sendInterface = std::exchange(other.m_sendInterface, 0u);
  }
  return *this;
}

}  // namespace corvalink
