#include "platform/ipv4.h"

#include <charconv>

namespace corvalink {

std::string Ipv4ToText(const Ipv4& address) {
  std::string text;
  text.reserve(15);
  for (std::size_t i = 0; i < address.size(); ++i) {
    if (i != 0) text += '.';
    text += std::to_string(address[i]);
  }
  return text;
}

std::optional<Ipv4> ParseIpv4(std::string_view text) {
  Ipv4 out{};
  std::size_t pos = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i != 0) {
      if (pos >= text.size() || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    std::size_t end = pos;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end == pos || end - pos > 3) return std::nullopt;
    unsigned value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + pos, text.data() + end, value);
    if (ec != std::errc() || ptr != text.data() + end || value > 255) return std::nullopt;
    out[i] = static_cast<uint8_t>(value);
    pos = end;
  }
  if (pos != text.size()) return std::nullopt;
  return out;
}

}  // namespace corvalink
