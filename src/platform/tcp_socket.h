#pragma once
// IPv4 stream sockets: a listening socket that accepts connections, and a connected socket
// that reads and writes bytes. The simulator's print-server side takes print jobs on them;
// tests connect to it. Move-only, one owner, one thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/ipv4.h"
#include "platform/socket_layer.h"

namespace corvalink {

/// What Receive returns when nothing is waiting on a socket that is not to block.
inline constexpr int RECEIVE_WOULD_BLOCK = -2;

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  /// A socket listening on `local` (port 0: one the system chooses), the address reusable at
  /// once after an earlier listener ended. Nothing, with `err`, when it cannot be bound.
  static std::optional<TcpSocket> Listen(const Endpoint& local, int backlog, std::string* err);
  /// Connects to `peer`, waiting at most `timeoutMs`. Nothing, with `err`, on failure.
  static std::optional<TcpSocket> Connect(const Endpoint& peer, int timeoutMs, std::string* err);

  /// On a listening socket: the next waiting connection, without blocking; nothing when none
  /// waits. The new socket does not block (Receive returns RECEIVE_WOULD_BLOCK).
  std::optional<TcpSocket> Accept(Endpoint* peer);

  /// Reads what is there, up to the buffer's size; blocks only a blocking socket. Returns the
  /// bytes read, 0 when the peer has closed its side, RECEIVE_WOULD_BLOCK, or -1 on an error.
  int Receive(std::span<uint8_t> buffer);
  /// Waits up to `timeoutMs` until Receive has something to return (data, end or error).
  bool WaitReadable(int timeoutMs);
  /// Writes all of `data`, waiting while the peer's window is full (at most `timeoutMs` in
  /// all). False when the connection failed or the time ran out; a closed peer raises no signal.
  bool SendAll(std::span<const uint8_t> data, int timeoutMs = 10000);
  /// Ends the sending direction: the peer reads the end of the stream.
  void ShutdownSend();
  void Close();

  bool IsOpen() const { return m_fd != NO_SOCKET; }
  SocketHandle Descriptor() const { return m_fd; }
  /// The socket's own address (for an accepted one: the address the peer connected to).
  Endpoint LocalEndpoint() const;

 private:
  explicit TcpSocket(SocketHandle fd) : m_fd(fd) {}
  SocketHandle m_fd = NO_SOCKET;
};

}  // namespace corvalink
