#include "platform/tcp_socket.h"

#include "platform/sockaddr_ipv4.h"

#include <winsock2.h>
#include <windows.h>

#include <chrono>

namespace corvalink {
namespace {

using Clock = std::chrono::steady_clock;

SOCKET Native(SocketHandle h) { return static_cast<SOCKET>(h); }

bool Fail(std::string* err, const std::string& what) {
  if (err != nullptr) *err = what + ": " + SocketErrorText(::WSAGetLastError());
  return false;
}

bool SetNonBlocking(SOCKET s, bool on) {
  u_long value = on ? 1 : 0;
  return ::ioctlsocket(s, FIONBIO, &value) == 0;
}

// select on one socket for reading or writing. A failed connect shows in the exception set
// (Winsock's way), which counts as ready so the caller reads the error.
int SelectFor(SOCKET s, bool write, int timeoutMs) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  if (timeoutMs < 0) timeoutMs = 0;
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, write ? nullptr : &ready, write ? &ready : nullptr, write ? &failed : nullptr,
                  &tv);
}

}  // namespace

std::optional<TcpSocket> TcpSocket::Listen(const Endpoint& local, int backlog, std::string* err) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    Fail(err, "socket");
    return std::nullopt;
  }
  TcpSocket socket(static_cast<SocketHandle>(s));
  // No SO_REUSEADDR: on Windows it lets a second listener take a port that is in use, where
  // Linux refuses. A Windows listener rebinds a port whose old connections wait out TIME_WAIT
  // without it; SO_EXCLUSIVEADDRUSE keeps other programs off the port while ours listens.
  const BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  const sockaddr_in sa = ToSockaddr(local);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) {
    Fail(err, "bind " + Ipv4ToText(local.address) + ":" + std::to_string(local.port));
    return std::nullopt;
  }
  if (::listen(s, backlog) == SOCKET_ERROR) {
    Fail(err, "listen");
    return std::nullopt;
  }
  if (!SetNonBlocking(s, true)) {
    Fail(err, "ioctlsocket");
    return std::nullopt;
  }
  return socket;
}

std::optional<TcpSocket> TcpSocket::Connect(const Endpoint& peer, int timeoutMs, std::string* err) {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) {
    Fail(err, "socket");
    return std::nullopt;
  }
  TcpSocket socket(static_cast<SocketHandle>(s));
  const std::string where = Ipv4ToText(peer.address) + ":" + std::to_string(peer.port);
  if (!SetNonBlocking(s, true)) {
    Fail(err, "ioctlsocket");
    return std::nullopt;
  }
  const sockaddr_in sa = ToSockaddr(peer);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) {
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
      Fail(err, "connect " + where);
      return std::nullopt;
    }
    if (SelectFor(s, true, timeoutMs) <= 0) {
      if (err != nullptr) {
        *err = "connect " + where + ": no answer within " + std::to_string(timeoutMs) + " ms";
      }
      return std::nullopt;
    }
    int soErr = 0;
    int len = sizeof soErr;
    ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soErr), &len);
    if (soErr != 0) {
      ::WSASetLastError(soErr);
      Fail(err, "connect " + where);
      return std::nullopt;
    }
  }
  // The caller reads and writes with waits of its own: back to blocking.
  SetNonBlocking(s, false);
  return socket;
}

std::optional<TcpSocket> TcpSocket::Accept(Endpoint* peer) {
  if (m_fd == NO_SOCKET) return std::nullopt;
  sockaddr_in sa{};
  int len = sizeof sa;
  const SOCKET s = ::accept(Native(m_fd), reinterpret_cast<sockaddr*>(&sa), &len);
  if (s == INVALID_SOCKET) return std::nullopt;
  TcpSocket socket(static_cast<SocketHandle>(s));
  // An accepted socket takes the listener's non-blocking mode on Windows; set it all the same.
  if (!SetNonBlocking(s, true)) return std::nullopt;
  if (peer != nullptr) *peer = FromSockaddr(sa);
  return socket;
}

int TcpSocket::Receive(std::span<uint8_t> buffer) {
  if (m_fd == NO_SOCKET) return -1;
  const int n = ::recv(Native(m_fd), reinterpret_cast<char*>(buffer.data()),
                       static_cast<int>(buffer.size()), 0);
  if (n == SOCKET_ERROR) return ::WSAGetLastError() == WSAEWOULDBLOCK ? RECEIVE_WOULD_BLOCK : -1;
  return n;
}

bool TcpSocket::WaitReadable(int timeoutMs) {
  if (m_fd == NO_SOCKET) return false;
  return SelectFor(Native(m_fd), false, timeoutMs) > 0;
}

bool TcpSocket::SendAll(std::span<const uint8_t> data, int timeoutMs) {
  if (m_fd == NO_SOCKET) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t sent = 0;
  while (sent < data.size()) {
    // Windows raises no signal for a peer that went away: a failed send is all there is.
    const int n = ::send(Native(m_fd), reinterpret_cast<const char*>(data.data() + sent),
                         static_cast<int>(data.size() - sent), 0);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || SelectFor(Native(m_fd), true, static_cast<int>(left)) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

void TcpSocket::ShutdownSend() {
  if (m_fd != NO_SOCKET) ::shutdown(Native(m_fd), SD_SEND);
}

void TcpSocket::Close() {
  if (m_fd != NO_SOCKET) {
    ::closesocket(Native(m_fd));
    m_fd = NO_SOCKET;
  }
}

Endpoint TcpSocket::LocalEndpoint() const {
  if (m_fd == NO_SOCKET) return {};
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(Native(m_fd), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return {};
  return FromSockaddr(sa);
}

}  // namespace corvalink
