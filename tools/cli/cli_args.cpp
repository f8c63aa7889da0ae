#include "cli_args.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "discovery/router_table.h"

namespace corvalink::cli {
namespace {

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// The twelve digits of a MAC text in any of the accepted spellings, or nothing.
std::optional<std::string> MacDigits(std::string_view text) {
  std::string digits;
  if (text.size() == 12) {
    digits = std::string(text);
  } else if (text.size() == 17) {
    const char sep = text[2];
    if (sep != ':' && sep != '-') return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (i % 3 == 2) {
        if (text[i] != sep) return std::nullopt;
      } else {
        digits += text[i];
      }
    }
  } else {
    return std::nullopt;
  }
  for (char& c : digits) {
    if (!IsHex(c)) return std::nullopt;
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return digits;
}

}  // namespace

std::optional<RouterSelector> ParseRouterSelector(std::string_view text, std::string* err) {
  RouterSelector selector;
  if (std::optional<Ipv4> ip = ParseIpv4(text)) {
    selector.kind = RouterSelector::Kind::Ip;
    selector.ip = *ip;
    return selector;
  }
  if (std::optional<std::string> digits = MacDigits(text)) {
    selector.kind = RouterSelector::Kind::Mac;
    selector.macText = *digits;
    // The same parser the router list's selection goes through.
    ParseMacText(selector.macText.c_str(), selector.mac);
    return selector;
  }
  if (err != nullptr) {
    *err = "\"" + std::string(text) +
           "\" is neither a MAC address (12 hexadecimal digits, e.g. 001A2B3C4D5E or "
           "00:1A:2B:3C:4D:5E) nor an IPv4 address";
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
  const int count = std::min(table.routerCount, MAX_ROUTERS);
  for (int slot = count - 1; slot >= 0; --slot) {
    const RouterRecord& r = table.slots[static_cast<std::size_t>(slot)];
    const bool match = selector.kind == RouterSelector::Kind::Mac ? r.macAddress == selector.mac
                                                                  : r.ipAddress == selector.ip;
    if (match) slots.push_back(slot);
  }
  return slots;
}

}  // namespace corvalink::cli
