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

bool StoreServerAddress(const RegistryStore& registry, const Ipv4& address, std::string* err) {
  auto fail = [&](const std::string& cause) {
    if (err != nullptr) {
      *err = std::string("The router address could not be stored as \"") + SERVER_IP_VALUE +
             "\" under " + HKEY_LOCAL_MACHINE_NAME + "\\" + SERVER_KEY + ": " + cause + ".";
    }
    return false;
  };
  std::string cause;
  // The key belongs to the printer-port software's installation: open it, never create it.
  RegistryKey key = registry.OpenKey(HKEY_LOCAL_MACHINE_NAME, SERVER_KEY, RegAccess::Write, &cause);
  if (!key.IsOpen()) return fail(cause);
  std::array<uint8_t, SERVER_IP_DATA_SIZE> data = BuildServerIpData(address);
  if (!registry.SetValue(key, SERVER_IP_VALUE, REG_SZ, data, &cause)) return fail(cause);
  return true;
}

}  // namespace corvalink
