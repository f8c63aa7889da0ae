#include "portsetup/server_address.h"

#include <algorithm>
#include <string_view>

namespace corvalink {
namespace {

// Any value this long is not an address; the bound keeps a stray large file from being read.
constexpr std::size_t SERVER_IP_READ_LIMIT = 4096;

}  // namespace

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
             "\" under " + HKEY_LOCAL_MACHINE_NAME + "\\" + PRODUCT_KEY + ": " + cause + ".";
    }
    return false;
  };
  std::string cause;
  // The key belongs to the printer-port software's installation: open it, never create it.
  const std::array<uint8_t, SERVER_IP_DATA_SIZE> data = BuildServerIpData(address);
  if (!registry.WriteValue(HKEY_LOCAL_MACHINE_NAME, PRODUCT_KEY, SERVER_IP_VALUE, REG_TYPE_SZ, data,
                           &cause)) {
    return fail(cause);
  }
  return true;
}

bool ReadServerAddress(const Registry& registry, Ipv4* address, std::string* reason) {
  const std::string where = std::string("\"") + SERVER_IP_VALUE + "\" under " + HKEY_LOCAL_MACHINE_NAME +
                            "\\" + PRODUCT_KEY + " (" + registry.Location() + ")";
  auto fail = [&](const std::string& why) {
    if (reason != nullptr) *reason = where + " " + why;
    return false;
  };
  const std::optional<RegistryValue> value =
      registry.ReadValue(HKEY_LOCAL_MACHINE_NAME, PRODUCT_KEY, SERVER_IP_VALUE, SERVER_IP_READ_LIMIT);
  if (!value) return fail("is not set or cannot be read");
  if (value->type != REG_TYPE_SZ) {
    return fail("is not a string value (type " + std::to_string(value->type) + ")");
  }
  const auto nul = std::find(value->data.begin(), value->data.end(), uint8_t{0});
  const std::string text(value->data.begin(), nul);
  const std::optional<Ipv4> parsed = ParseIpv4(text);
  // Only the form StoreServerAddress writes: a reader that takes "010" as octal (as inet_addr
  // does) would otherwise print to another host than this one. Whatever else the value holds is
  // never repeated: the message reaches every user (lpstat), and the bytes are not theirs to see.
  if (!parsed || Ipv4ToText(*parsed) != text) {
    return fail("is malformed: it holds no dotted IPv4 address as corvalink stores it");
  }
  if ((*parsed)[0] == 0 || (*parsed)[0] >= 224) {
    return fail("holds " + text + ", which is no router's address");
  }
  if (address != nullptr) *address = *parsed;
  return true;
}

}  // namespace corvalink
