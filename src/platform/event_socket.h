#pragma once
// A datagram socket that an event loop watches: its owner (a Qt notifier, the CLI's poll loop)
// watches Descriptor() and calls OnReceive once per readable datagram, on the thread that owns
// the socket. The search and upgrade sockets are built on it; tests put a fake socket in place
// of the real one with Adopt.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/udp_socket.h"

namespace corvalink {

class EventSocket {
 public:
  EventSocket() = default;
  /// Closes the socket if it is open.
  virtual ~EventSocket() = default;
  EventSocket(const EventSocket&) = delete;
  EventSocket& operator=(const EventSocket&) = delete;

  /// Opens a datagram socket on any address and a port the system chooses; an open socket is
  /// closed first. False when no socket could be opened; `err` then says why.
  bool Create(std::string* err = nullptr);
  /// Uses `socket` instead of a real one (tests); an open socket is closed first.
  void Adopt(std::unique_ptr<DatagramSocket> socket);
  /// Closing twice does nothing.
  void Close();
  bool IsOpen() const;
  /// The handle to watch for readability, NO_SOCKET (-1) when closed or not a real socket.
  SocketHandle Descriptor() const;
  /// Local port, 0 when closed or not a real socket.
  uint16_t LocalPort() const;

  /// The receive notification: reads one datagram. The error code comes from the watcher and
  /// is not examined.
  virtual void OnReceive(int errorCode) = 0;

 protected:
  /// The socket in use, null before the first Create or Adopt.
  DatagramSocket* Socket() const { return m_socket.get(); }

 private:
  std::unique_ptr<DatagramSocket> m_socket;
};

}  // namespace corvalink
