#pragma once
// The socket that sends searches and reads the routers' replies. It is event-driven: whoever
// watches Descriptor() (a Qt notifier, the CLI's poll loop) calls OnReceive once per readable
// datagram, on the same thread that owns the router table.

#include <functional>
#include <memory>

#include "discovery/router_table.h"
#include "discovery/search_formats.h"
#include "platform/udp_socket.h"

namespace corvalink {

class CSearchSocket {
 public:
  /// Called for each datagram that passes the reply test, with the padded 54 bytes.
  using ReplyHandler = std::function<void(const Packet& reply)>;

  explicit CSearchSocket(ReplyHandler onReply);
  CSearchSocket(const CSearchSocket&) = delete;
  CSearchSocket& operator=(const CSearchSocket&) = delete;

  /// Opens a datagram socket on any address and a port the system chooses.
  bool Create();
  /// Uses `socket` instead of a real one (tests).
  void Adopt(std::unique_ptr<DatagramSocket> socket);
  /// Closing twice does nothing.
  void Close();
  bool IsOpen() const;
  /// The descriptor to watch for readability, -1 when closed or not a real socket.
  int Descriptor() const;
  /// Local port, 0 when closed.
  uint16_t LocalPort() const;

  /// Allows broadcast, then sends the search request to `destination`. Returns bytes sent or -1.
  int SendSearch(const Endpoint& destination);

  /// Reads one datagram of at most `length` bytes. Returns the bytes read or -1.
  int Receive(uint8_t* buffer, int length, int flags);
  /// Reads one datagram and hands it on when it is a search reply. The error code is unused.
  void OnReceive(int errorCode);

 private:
  ReplyHandler m_onReply;
  std::unique_ptr<DatagramSocket> m_socket;
  Packet m_buffer{};
};

/// Starts a new search: forgets the current routers (the table's slots keep their bytes) and
/// sends one request. Returns bytes sent or -1. The caller empties its own list first.
int StartSearch(RouterTable& table, CSearchSocket& socket, const Endpoint& destination);

}  // namespace corvalink
