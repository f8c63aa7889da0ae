#pragma once
// The 21 interface texts that may replace the built-in captions and messages, and whether a text
// file was found at all.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvalink {

inline constexpr std::size_t TEXT_SLOT_COUNT = 21;
inline constexpr std::size_t TEXT_SLOT_SIZE = 100;  // 99 characters and a NUL

using TextSlot = std::array<char, TEXT_SLOT_SIZE>;

struct InterfaceTextTable {
  std::array<TextSlot, TEXT_SLOT_COUNT> slots{};
  /// Whether an interface text file has been opened.
  bool loaded = false;

  /// The text of one slot, up to its NUL (never past the slot).
  std::string_view Text(std::size_t slot) const {
    const TextSlot& s = slots[slot];
    std::size_t n = 0;
    while (n < s.size() && s[n] != '\0') ++n;
    return {s.data(), n};
  }
};

}  // namespace corvalink
