#pragma once
// The firmware file the user chose: its full path and its file title, each a NUL-terminated
// text in a fixed 255-byte field, as the file chooser fills them.

#include <array>
#include <cstddef>
#include <string_view>

namespace corvalink {

inline constexpr std::size_t FIRMWARE_FIELD_SIZE = 255;

struct FirmwarePath {
  std::array<char, FIRMWARE_FIELD_SIZE> path{};
  std::array<char, FIRMWARE_FIELD_SIZE> title{};

  static std::string_view TextOf(const std::array<char, FIRMWARE_FIELD_SIZE>& field) {
    std::size_t n = 0;
    while (n < field.size() && field[n] != '\0') ++n;
    return {field.data(), n};
  }
  std::string_view Path() const { return TextOf(path); }
  std::string_view Title() const { return TextOf(title); }
};

}  // namespace corvalink
