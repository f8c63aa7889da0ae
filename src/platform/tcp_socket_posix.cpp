#include "platform/tcp_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/sockaddr_ipv4.h"

namespace corvalink {
namespace {

using Clock = std::chrono::steady_clock;

bool Fail(std::string* err, const std::string& what) {
  if (err != nullptr) *err = what + ": " + std::strerror(errno);
  return false;
}

// poll that restarts after a signal with the time that is left.
int PollFor(int fd, short events, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    pollfd p{fd, events, 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int r = ::poll(&p, 1, left < 0 ? 0 : static_cast<int>(left));
    if (r >= 0 || errno != EINTR) return r;
  }
}

}  // namespace

std::optional<TcpSocket> TcpSocket::Listen(const Endpoint& local, int backlog, std::string* err) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    Fail(err, "socket");
    return std::nullopt;
  }
  TcpSocket s(fd);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in sa = ToSockaddr(local);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    Fail(err, "bind " + Ipv4ToText(local.address) + ":" + std::to_string(local.port));
    return std::nullopt;
  }
  if (::listen(fd, backlog) != 0) {
    Fail(err, "listen");
    return std::nullopt;
  }
  return s;
}

std::optional<TcpSocket> TcpSocket::Connect(const Endpoint& peer, int timeoutMs, std::string* err) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    Fail(err, "socket");
    return std::nullopt;
  }
  TcpSocket s(fd);
  const sockaddr_in sa = ToSockaddr(peer);
  const std::string where = Ipv4ToText(peer.address) + ":" + std::to_string(peer.port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EINPROGRESS) {
      Fail(err, "connect " + where);
      return std::nullopt;
    }
    if (PollFor(fd, POLLOUT, timeoutMs) <= 0) {
      if (err != nullptr) *err = "connect " + where + ": no answer within " + std::to_string(timeoutMs) + " ms";
      return std::nullopt;
    }
    int soErr = 0;
    socklen_t len = sizeof soErr;
    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soErr, &len);
    if (soErr != 0) {
      errno = soErr;
      Fail(err, "connect " + where);
      return std::nullopt;
    }
  }
  // The caller reads and writes with waits of its own: back to blocking.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return s;
}

std::optional<TcpSocket> TcpSocket::Accept(Endpoint* peer) {
  if (m_fd < 0) return std::nullopt;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd;
  do {
    fd = ::accept4(static_cast<int>(m_fd), reinterpret_cast<sockaddr*>(&sa), &len,
                   SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::nullopt;
  if (peer != nullptr) *peer = FromSockaddr(sa);
  return TcpSocket(fd);
}

int TcpSocket::Receive(std::span<uint8_t> buffer) {
  if (m_fd < 0) return -1;
  ssize_t n;
  do {
    n = ::recv(static_cast<int>(m_fd), buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? RECEIVE_WOULD_BLOCK : -1;
  return static_cast<int>(n);
}

bool TcpSocket::WaitReadable(int timeoutMs) {
  if (m_fd < 0) return false;
  return PollFor(static_cast<int>(m_fd), POLLIN, timeoutMs) > 0;
}

bool TcpSocket::SendAll(std::span<const uint8_t> data, int timeoutMs) {
  if (m_fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < data.size()) {
    // MSG_NOSIGNAL: a peer that went away is a failed send here, not a SIGPIPE for the process.
    const ssize_t n = ::send(static_cast<int>(m_fd), data.data() + sent, data.size() - sent,
                             MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || PollFor(static_cast<int>(m_fd), POLLOUT, static_cast<int>(left)) <= 0) {
        return false;
      }
      continue;
    }
    return false;
  }
  return true;
}

void TcpSocket::ShutdownSend() {
  if (m_fd >= 0) ::shutdown(static_cast<int>(m_fd), SHUT_WR);
}

void TcpSocket::Close() {
  if (m_fd >= 0) {
    ::close(static_cast<int>(m_fd));
    m_fd = NO_SOCKET;
  }
}

Endpoint TcpSocket::LocalEndpoint() const {
  if (m_fd < 0) return {};
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(static_cast<int>(m_fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return {};
  return FromSockaddr(sa);
}

}  // namespace corvalink
