#pragma once
// The socket that sends searches and reads the routers' replies. It is event-driven: whoever
// watches Descriptors() (a Qt notifier, window messages, the CLI's poll loop) calls OnReceive
// or OnReceiveOn (one datagram) or ReceiveBurst (all that are waiting) when one is readable,
// on the thread that owns the table.
//
// A search to the limited broadcast goes out of every interface that can reach routers by
// broadcast (see search_interfaces.h), one request each, from a socket of its own on that
// interface's address (a "leg"); the legs stay open for late replies and are reused by the
// next search while their interface stays. Every other destination, and a host where no
// interface qualifies, is served by the one socket on any address, as a single datagram.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "discovery/router_table.h"
#include "discovery/search_formats.h"
#include "platform/event_socket.h"
#include "platform/net_interfaces.h"

namespace corvalink {

/// Where a reply came in: the interface (name and local address) it reached, and its sender.
/// The name is empty and the address 0.0.0.0 when that is not known.
struct ReplyArrival {
  std::string interfaceName;
  Ipv4 localAddress{};
  Endpoint from;
};

/// How a search reaches the interfaces: which there are, and a socket whose datagrams leave by
/// one of them (null, with `err`, when it cannot be had). Tests put fakes here.
struct InterfaceAccess {
  std::function<bool(std::vector<InterfaceAddress>*, std::string* err)> list;
  std::function<std::unique_ptr<DatagramSocket>(const InterfaceAddress&, std::string* err)> open;
};

/// The system's interfaces, and a UDP socket bound to an interface's address that sends out of
/// that interface.
InterfaceAccess SystemInterfaceAccess();

/// One interface a search went out of.
struct SearchLeg {
  InterfaceAddress via;
  /// Null when no socket could be opened on it; `error` says why.
  std::unique_ptr<DatagramSocket> socket;
  /// Bytes the last search sent out of it, or -1.
  int sent = -1;
  std::string error;
};

class CSearchSocket : public EventSocket {
 public:
  /// Called for each datagram that passes the reply test, with the padded 54 bytes.
  using ReplyHandler = std::function<void(const Packet& reply)>;
  /// The same, with where the reply came in.
  using ArrivalHandler = std::function<void(const Packet& reply, const ReplyArrival& arrival)>;

  explicit CSearchSocket(ReplyHandler onReply);
  /// Replies go (also) to `onReply` with where they came in. Set before the first search: the
  /// local address of replies to the socket on any address is asked of the system from then on.
  void SetArrivalHandler(ArrivalHandler onReply) { m_onArrival = std::move(onReply); }
  ~CSearchSocket() override;

  /// Uses `access` instead of the system's interfaces. Without it, a search goes out of every
  /// interface only while the socket on any address is a real one (Create), so a test that
  /// adopts a fake socket never sends on the host's network.
  void SetInterfaceAccess(InterfaceAccess access);

  /// Allows broadcast, then sends the search request to `destination`: to the limited
  /// broadcast, out of every interface. Returns the bytes of one request when at least one was
  /// sent, else -1.
  int SendSearch(const Endpoint& destination);

  /// Reads one datagram from the socket on any address and hands it on when it is a search
  /// reply. The error code is unused.
  void OnReceive(int errorCode) override;
  /// Reads one datagram from the socket whose handle is `handle` (any of Descriptors()).
  void OnReceiveOn(SocketHandle handle);
  /// Reads one datagram from leg `leg`.
  void OnReceiveLeg(std::size_t leg);
  /// Reads and hands on datagrams as OnReceive does, from every socket in turn, until none is
  /// waiting or `maxDatagrams` were read. Returns how many were read. Routers answer a search
  /// all at once, so a watcher that takes the whole burst per notification lists them
  /// together; the bound lets a flood of datagrams give the watcher's other events their turn.
  int ReceiveBurst(int maxDatagrams);

  /// Every handle to watch: the socket on any address, then the legs' (real sockets only).
  std::vector<SocketHandle> Descriptors() const;
  std::size_t LegCount() const { return m_legs.size(); }
  const SearchLeg& Leg(std::size_t i) const { return m_legs[i]; }
  /// Datagrams the last search sent.
  int LastSearchDatagrams() const { return m_lastDatagrams; }

  /// Closes the legs and the socket on any address; closing twice does nothing.
  void Close();

 private:
  /// One datagram read and tested from `socket`; false when none could be read.
  bool ReceiveOne(DatagramSocket* socket, const SearchLeg* leg);
  /// Opens legs for `wanted`, keeping those whose interface and address stay.
  void UpdateLegs(const std::vector<InterfaceAddress>& wanted);
  bool PerInterface() const;

  ReplyHandler m_onReply;
  ArrivalHandler m_onArrival;
  InterfaceAccess m_access;
  bool m_accessSet = false;
  bool m_arrivalAddressOn = false;
  std::vector<SearchLeg> m_legs;
  /// Every interface as listed at the last search, to name the arrival of replies to the
  /// socket on any address.
  std::vector<InterfaceAddress> m_interfaces;
  int m_lastDatagrams = 0;
  Packet m_buffer{};
};

/// Starts a new search: forgets the current routers (the table's slots keep their bytes) and
/// sends one request (one per interface for the limited broadcast). Returns bytes sent or -1.
/// The caller empties its own list first.
int StartSearch(RouterTable& table, CSearchSocket& socket, const Endpoint& destination);

}  // namespace corvalink
