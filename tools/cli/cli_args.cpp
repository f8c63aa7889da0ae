#include "cli_args.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "discovery/mac_text.h"
#include "discovery/router_table.h"

namespace corvalink::cli {

std::optional<RouterSelector> ParseRouterSelector(std::string_view text, std::string* err) {
  RouterSelector selector;
  if (std::optional<Ipv4> ip = ParseIpv4(text)) {
    selector.kind = RouterSelector::Kind::Ip;
    selector.ip = *ip;
    return selector;
  }
  if (std::optional<MacAddress> mac = ParseMacAddress(text)) {
    selector.kind = RouterSelector::Kind::Mac;
    selector.mac = *mac;
    return selector;
  }
  if (err != nullptr) {
    *err = "\"" + std::string(text) + "\" is neither " + MAC_ADDRESS_FORMS + " nor an IPv4 address";
  }
  return std::nullopt;
}

std::optional<Endpoint> ParseEndpoint(std::string_view text, std::string* err) {
  auto fail = [&]() -> std::optional<Endpoint> {
    if (err != nullptr) *err = "\"" + std::string(text) + "\" is not an IPv4 address and port (a.b.c.d:port)";
    return std::nullopt;
  };
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return fail();
  std::optional<Ipv4> ip = ParseIpv4(text.substr(0, colon));
  std::string_view portText = text.substr(colon + 1);
  unsigned port = 0;
  auto [ptr, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
  if (!ip || portText.empty() || ec != std::errc() || ptr != portText.data() + portText.size() ||
      port == 0 || port > 65535) {
    return fail();
  }
  return Endpoint{*ip, static_cast<uint16_t>(port)};
}

std::optional<double> ParseSeconds(std::string_view text, double min, double max,
                                   std::string* err) {
  double value = 0;
  // from_chars takes no sign, spaces or hexadecimal prefix, but does take "nan" and "inf".
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                   std::chars_format::general);
  if (!text.empty() && ec == std::errc() && ptr == text.data() + text.size() &&
      std::isfinite(value) && value >= min && value <= max) {
    return value;
  }
  if (err != nullptr) {
    char range[80];
    std::snprintf(range, sizeof range, "a number of seconds from %g to %g", min, max);
    *err = "\"" + std::string(text) + "\" is not " + range;
  }
  return std::nullopt;
}

std::vector<int> FindRouters(const RouterTable& table, const RouterSelector& selector) {
  std::vector<int> slots;
  if (selector.kind == RouterSelector::Kind::Mac) {
    if (std::optional<int> slot = table.FindByMac(selector.mac)) slots.push_back(*slot);
    return slots;
  }
  for (int slot : table.NewestFirst()) {
    if (table.Slot(slot).ipAddress == selector.ip) slots.push_back(slot);
  }
  return slots;
}

}  // namespace corvalink::cli
