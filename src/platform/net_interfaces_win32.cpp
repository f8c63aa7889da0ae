#include "platform/net_interfaces.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <cstring>
#include <vector>

#include "platform/win_error.h"

namespace corvalink {
namespace {

std::string Ansi(const wchar_t* text) {
  if (text == nullptr) return {};
  const int n = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

Ipv4 MaskOfLength(unsigned bits) {
  Ipv4 mask{};
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const unsigned take = bits > 8 ? 8 : bits;
    mask[i] = static_cast<uint8_t>(take == 0 ? 0 : 0xFFu << (8 - take));
    bits -= take;
  }
  return mask;
}

std::string ErrorText(ULONG code) { return WindowsErrorText(code, "network interface"); }

}  // namespace

bool ListInterfaceAddresses(std::vector<InterfaceAddress>* out, std::string* err) {
  out->clear();
  // The list's size is only known by asking; it can grow between two calls, so ask again.
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG r = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && r == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    r = ::GetAdaptersAddresses(
        AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (r == ERROR_NO_DATA) return true;
  if (r != NO_ERROR) {
    if (err != nullptr) *err = ErrorText(r);
    return false;
  }
  for (auto* a = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
       a = a->Next) {
    InterfaceAddress base;
    base.name = Ansi(a->FriendlyName);
    base.otherName = a->AdapterName != nullptr ? a->AdapterName : "";
    base.pointToPoint = a->IfType == IF_TYPE_PPP;
    base.up = a->OperStatus == IfOperStatusUp;
    base.index = a->IfIndex;
    base.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
    base.broadcastCapable = !base.loopback && !base.pointToPoint && a->IfType != IF_TYPE_TUNNEL;
    bool any = false;
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (sa == nullptr || sa->sa_family != AF_INET) continue;
      sockaddr_in sin{};
      std::memcpy(&sin, sa, sizeof sin);
      InterfaceAddress entry = base;
      Ipv4 address{};
      std::memcpy(address.data(), &sin.sin_addr.s_addr, 4);  // already in wire order
      entry.address = address;
      // Windows keeps a prefix length, not a configured broadcast address.
      entry.mask = MaskOfLength(u->OnLinkPrefixLength > 32 ? 32 : u->OnLinkPrefixLength);
      out->push_back(std::move(entry));
      any = true;
    }
    if (!any) out->push_back(std::move(base));
  }
  return true;
}

}  // namespace corvalink
