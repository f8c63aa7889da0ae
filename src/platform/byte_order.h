#pragma once
// The one place where multi-byte numbers meet the wire: big-endian, byte by byte, so the
// host's byte order and the buffer's alignment never matter.

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvalink {

inline void PutU16Be(std::span<uint8_t> b, std::size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

inline uint16_t GetU16Be(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

inline void PutU32Be(std::span<uint8_t> b, std::size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 24);
  b[at + 1] = static_cast<uint8_t>(v >> 16);
  b[at + 2] = static_cast<uint8_t>(v >> 8);
  b[at + 3] = static_cast<uint8_t>(v);
}

inline uint32_t GetU32Be(std::span<const uint8_t> b, std::size_t at) {
  return static_cast<uint32_t>(b[at]) << 24 | static_cast<uint32_t>(b[at + 1]) << 16 |
         static_cast<uint32_t>(b[at + 2]) << 8 | static_cast<uint32_t>(b[at + 3]);
}

}  // namespace corvalink
