#include "portsetup/server_address.h"

#include <algorithm>
#include <string_view>

namespace corvalink {

std::array<uint8_t, SERVER_IP_DATA_SIZE> BuildServerIpData(const Ipv4& address) {
  std::array<uint8_t, SERVER_IP_DATA_SIZE> data{};
  std::string text = Ipv4ToText(address);  // at most 15 characters, so the NUL always fits
  std::copy(text.begin(), text.end(), data.begin());
  return data;
}

bool StoreServerAddress(const Registry& registry, const Ipv4& address, std::string* err) {
  auto fail = [&](const std::string& cause) {
    if (err != nullptr) {
      *err = std::string("The router address could not be stored as \"") + SERVER_IP_VALUE +
             "\" under " + HKEY_LOCAL_MACHINE_NAME + "\\" + SERVER_KEY + ": " + cause + ".";
    }
    return false;
  };
  std::string cause;
  // The key belongs to the printer-port software's installation: open it, never create it.
  const std::array<uint8_t, SERVER_IP_DATA_SIZE> data = BuildServerIpData(address);
  if (!registry.WriteValue(HKEY_LOCAL_MACHINE_NAME, SERVER_KEY, SERVER_IP_VALUE, REG_TYPE_SZ, data,
                           &cause)) {
    return fail(cause);
  }
  return true;
}

}  // namespace corvalink
