#pragma once
// The socket of the upgrade handshake: sends upgrade requests from a port the system chose and
// notices the router's reply. Event-driven like the search socket: its owner calls OnReceive
// once per readable datagram.

#include <cstdint>
#include <memory>

#include "discovery/search_formats.h"
#include "platform/udp_socket.h"

namespace corvalink {

class CUpgradeSocket {
 public:
  /// `acknowledged` is set to 1 when a reply is accepted; it must outlive the socket.
  explicit CUpgradeSocket(int32_t& acknowledged);
  CUpgradeSocket(const CUpgradeSocket&) = delete;
  CUpgradeSocket& operator=(const CUpgradeSocket&) = delete;

  /// Opens a datagram socket on a port the system chooses; an open socket is closed first.
  bool Create();
  void Adopt(std::unique_ptr<DatagramSocket> socket);
  /// Closing twice does nothing.
  void Close();
  bool IsOpen() const;
  int Descriptor() const;
  uint16_t LocalPort() const;

  /// Sends one request. Returns bytes sent or -1.
  int SendRequest(const Packet& request, const Endpoint& to);
  /// Reads one datagram into m_reply; a reply (DD 82) sets the flag and closes the socket.
  void OnReceive(int errorCode);

 private:
  int32_t& m_acknowledged;
  std::unique_ptr<DatagramSocket> m_socket;
  Packet m_reply{};
};

}  // namespace corvalink
