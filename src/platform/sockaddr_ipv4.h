#pragma once
// Conversion between the core's Endpoint and the socket API's IPv4 address, for the socket
// implementations in this folder only. The address bytes are copied as they are: both sides hold
// them in wire order.

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <cstring>

#include "platform/ipv4.h"

namespace corvalink {

inline sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(e.port);
  std::memcpy(&sa.sin_addr.s_addr, e.address.data(), 4);
  return sa;
}

inline Endpoint FromSockaddr(const sockaddr_in& sa) {
  Endpoint e;
  std::memcpy(e.address.data(), &sa.sin_addr.s_addr, 4);
  e.port = ntohs(sa.sin_port);
  return e;
}

}  // namespace corvalink
