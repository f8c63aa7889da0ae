#pragma once
// IPv4 datagram sockets. DatagramSocket is what the protocol code talks to; UdpSocket is the
// real one, and tests put fakes in its place. Not thread-safe: one owner, one thread.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/ipv4.h"
#include "platform/socket_layer.h"

namespace corvalink {

/// What ReceiveWithin returns when no datagram came within its time.
inline constexpr int RECEIVE_TIMED_OUT = -2;

/// The few datagram operations the protocols need. Every call on a closed socket fails
/// quietly (-1 or false), as a closed socket shows as replies that never come.
class DatagramSocket {
 public:
  virtual ~DatagramSocket() = default;
  virtual bool IsOpen() const = 0;
  /// Sends one datagram. Returns the bytes sent, or -1.
  virtual int SendTo(std::span<const uint8_t> data, const Endpoint& to) = 0;
  /// Reads one datagram into `buffer` without waiting; a longer one is cut to the buffer and its
  /// rest is lost. Returns the bytes stored, or -1 when nothing could be read. `from` may be null.
  virtual int ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) = 0;
  /// Waits up to `timeoutMs` for a datagram to read. True when one is waiting.
  virtual bool WaitReadable(int timeoutMs) = 0;
  /// Waits up to `timeoutMs` (0: not at all) for one datagram and reads it as ReceiveFrom does.
  /// Returns its length, RECEIVE_TIMED_OUT when none came in time, or -1 when the read failed
  /// or was interrupted by a signal. This form waits and reads in two calls; a real socket
  /// does both in one.
  virtual int ReceiveWithin(std::span<uint8_t> buffer, Endpoint* from, int timeoutMs) {
    if (!WaitReadable(timeoutMs)) return RECEIVE_TIMED_OUT;
    return ReceiveFrom(buffer, from);
  }
  /// Allows or forbids sending to broadcast addresses.
  virtual bool SetBroadcast(bool on) = 0;
  /// Closes the socket; closing a closed socket does nothing.
  virtual void Close() = 0;
};

/// A UDP socket on an owned descriptor, closed by the destructor. Move-only.
class UdpSocket : public DatagramSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket() override;
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  /// Creates a socket bound to `local` (any address, port 0 = a port the system chooses).
  /// Returns nothing when the socket cannot be created or bound; `err` then says why, and
  /// LastSocketError() still holds the cause.
  static std::optional<UdpSocket> Open(const Endpoint& local = {}, std::string* err = nullptr);

  bool IsOpen() const override { return m_fd != NO_SOCKET; }
  int SendTo(std::span<const uint8_t> data, const Endpoint& to) override;
  int ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) override;
  bool WaitReadable(int timeoutMs) override;
  /// One system call: a blocking read bounded by the socket's receive timeout, which is set
  /// only when `timeoutMs` differs from the last one, so a loop that always waits as long costs
  /// one call per datagram.
  int ReceiveWithin(std::span<uint8_t> buffer, Endpoint* from, int timeoutMs) override;
  bool SetBroadcast(bool on) override;
  void Close() override;

  /// Sends every later datagram out of the interface with this system index (0: wherever the
  /// routes say). Linux names it per datagram (IP_PKTINFO); on Windows the socket must instead
  /// be bound to that interface's address, which is how Windows picks the adapter of a limited
  /// broadcast, and the index is not used.
  void SetSendInterface(unsigned index) { m_sendInterface = index; }

  /// The handle, for an event loop to watch; NO_SOCKET when closed.
  SocketHandle Descriptor() const { return m_fd; }
  /// The bound local port, 0 when closed or unknown.
  uint16_t LocalPort() const;

 private:
  explicit UdpSocket(SocketHandle fd) : m_fd(fd) {}
  SocketHandle m_fd = NO_SOCKET;
  int m_receiveTimeoutMs = 0;  ///< the receive timeout set on the descriptor; 0: none
  unsigned m_sendInterface = 0;
};

}  // namespace corvalink
