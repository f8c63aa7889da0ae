#include "platform/udp_destination.h"

#include <winsock2.h>
#include <windows.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/sockaddr_ipv4.h"

namespace corvalink {
namespace {

SOCKET Native(const UdpSocket& s) { return static_cast<SOCKET>(s.Descriptor()); }

// WSARecvMsg is an extension: its address is asked of the provider, per socket.
LPFN_WSARECVMSG RecvMsgOf(SOCKET s) {
  GUID id = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG fn = nullptr;
  DWORD returned = 0;
  if (::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &fn, sizeof fn,
                 &returned, nullptr, nullptr) == SOCKET_ERROR) {
    return nullptr;
  }
  return fn;
}

bool ReadableNow(SOCKET s) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{0, 0};
  return ::select(0, &set, nullptr, nullptr, &tv) > 0 && FD_ISSET(s, &set) != 0;
}

}  // namespace

bool EnableDestinationAddress(UdpSocket& socket) {
  if (!socket.IsOpen()) return false;
  DWORD on = 1;
  return ::setsockopt(Native(socket), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on),
                      sizeof on) == 0;
}

int ReceiveWithDestination(UdpSocket& socket, std::span<uint8_t> buffer, Endpoint* from,
                           Ipv4* to) {
  if (!socket.IsOpen()) return -1;
  const SOCKET s = Native(socket);
  LPFN_WSARECVMSG recvMsg = RecvMsgOf(s);
  if (recvMsg == nullptr) return socket.ReceiveFrom(buffer, from);
  if (!ReadableNow(s)) {
    ::WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  sockaddr_in sa{};
  WSABUF data{static_cast<ULONG>(buffer.size()), reinterpret_cast<char*>(buffer.data())};
  alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
  WSAMSG msg{};
  msg.name = reinterpret_cast<sockaddr*>(&sa);
  msg.namelen = sizeof sa;
  msg.lpBuffers = &data;
  msg.dwBufferCount = 1;
  msg.Control = WSABUF{sizeof control, control};
  DWORD n = 0;
  if (recvMsg(s, &msg, &n, nullptr, nullptr) == SOCKET_ERROR) {
    // As in ReceiveFrom: a datagram longer than the buffer is its first bytes.
    if (::WSAGetLastError() != WSAEMSGSIZE) return -1;
    n = static_cast<DWORD>(buffer.size());
  }
  if (from != nullptr) *from = FromSockaddr(sa);
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c != nullptr && to != nullptr;
       c = WSA_CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    IN_PKTINFO info{};
    std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
    std::memcpy(to->data(), &info.ipi_addr.s_addr, 4);
  }
  return static_cast<int>(n);
}

}  // namespace corvalink
