#pragma once
// Names the system matches without regard to case (registry keys and values, TFTP modes) fold
// ASCII letters alone: a byte above 0x7F is compared as it stands, whatever the locale.

#include <string_view>

namespace corvalink {

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace corvalink
