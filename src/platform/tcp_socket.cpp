#include "platform/tcp_socket.h"

#include <utility>

// What the socket does alike on every system; each system's calls are in tcp_socket_posix.cpp
// and tcp_socket_win32.cpp.

namespace corvalink {

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, NO_SOCKET)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = std::exchange(other.m_fd, NO_SOCKET);
  }
  return *this;
}

}  // namespace corvalink
