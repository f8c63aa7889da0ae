#include "discovery/mac_text.h"

#include <string>

namespace corvalink {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<MacAddress> ParseMacAddress(std::string_view text) {
  std::string digits;
  if (text.size() == 2 * MAC_SIZE) {
    digits = std::string(text);
  } else if (text.size() == 3 * MAC_SIZE - 1) {
    const char sep = text[2];
    if (sep != ':' && sep != '-') return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (i % 3 != 2) {
        digits += text[i];
      } else if (text[i] != sep) {
        return std::nullopt;
      }
    }
  } else {
    return std::nullopt;
  }
  MacAddress mac{};
  for (std::size_t i = 0; i < MAC_SIZE; ++i) {
    const int hi = HexDigit(digits[2 * i]);
    const int lo = HexDigit(digits[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    mac[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return mac;
}

}  // namespace corvalink
