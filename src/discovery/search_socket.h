#pragma once
// The socket that sends searches and reads the routers' replies. It is event-driven: whoever
// watches Descriptor() (a Qt notifier, the CLI's poll loop) calls OnReceive (one datagram) or
// ReceiveBurst (all that are waiting) when it is readable, on the thread that owns the table.

#include <functional>
#include <memory>

#include "discovery/router_table.h"
#include "discovery/search_formats.h"
#include "platform/event_socket.h"

namespace corvalink {

class CSearchSocket : public EventSocket {
 public:
  /// Called for each datagram that passes the reply test, with the padded 54 bytes.
  using ReplyHandler = std::function<void(const Packet& reply)>;

  explicit CSearchSocket(ReplyHandler onReply);

  /// Allows broadcast, then sends the search request to `destination`. Returns bytes sent or -1.
  int SendSearch(const Endpoint& destination);

  /// Reads one datagram of at most `length` bytes. Returns the bytes read or -1.
  int Receive(uint8_t* buffer, int length, int flags);
  /// Reads one datagram and hands it on when it is a search reply. The error code is unused.
  void OnReceive(int errorCode) override;
  /// Reads and hands on datagrams as OnReceive does until none is waiting, a read fails, or
  /// `maxDatagrams` were read. Returns how many were read. Routers answer a search all at
  /// once, so a watcher that takes the whole burst per notification lists them together; the
  /// bound lets a flood of datagrams give the watcher's other events their turn.
  int ReceiveBurst(int maxDatagrams);

 private:
  /// One datagram read and tested; false when none could be read.
  bool ReceiveOne();

  ReplyHandler m_onReply;
  Packet m_buffer{};
};

/// Starts a new search: forgets the current routers (the table's slots keep their bytes) and
/// sends one request. Returns bytes sent or -1. The caller empties its own list first.
int StartSearch(RouterTable& table, CSearchSocket& socket, const Endpoint& destination);

}  // namespace corvalink
