#pragma once
// The local address a datagram was sent to, for a server bound to every address of a host that
// has several: its answer must come from the address the client asked, or the client (rightly)
// takes it for a stranger's.

#include <cstdint>
#include <span>

#include "platform/ipv4.h"
#include "platform/udp_socket.h"

namespace corvalink {

/// Asks the system to report, with every datagram read, the address it was sent to. False when
/// the socket is closed or the system cannot.
bool EnableDestinationAddress(UdpSocket& socket);

/// Reads one datagram as UdpSocket::ReceiveFrom does (without waiting); `to` (may be null)
/// receives the local address it was sent to, or stays as it was when the system did not say.
int ReceiveWithDestination(UdpSocket& socket, std::span<uint8_t> buffer, Endpoint* from, Ipv4* to);

}  // namespace corvalink
