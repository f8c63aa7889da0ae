#pragma once
// The socket of the upgrade handshake: sends upgrade requests from a port the system chose and
// notices the router's reply. Event-driven like the search socket: its owner calls OnReceive
// once per readable datagram.

#include <cstdint>

#include "discovery/search_formats.h"
#include "platform/event_socket.h"

namespace corvalink {

class CUpgradeSocket : public EventSocket {
 public:
  /// `acknowledged` is set when a reply is accepted; it must outlive the socket.
  explicit CUpgradeSocket(bool& acknowledged);

  /// Sends one request. Returns bytes sent or -1.
  int SendRequest(const Packet& request, const Endpoint& to);
  /// Reads one datagram into m_reply; a reply (DD 82) sets the flag and closes the socket.
  void OnReceive(int errorCode) override;

 private:
  bool& m_acknowledged;
  Packet m_reply{};
};

}  // namespace corvalink
