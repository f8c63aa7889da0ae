#pragma once
// The reversible, keyed in-place transform under which router passwords are held: a word-wise
// XOR chaining through a 32-word feedback register, then a byte substitution. Stateless and
// reentrant; independent of the host's byte order and of the buffer's alignment.

#include <cstdint>

namespace corvalink {

/// Seed constants of the feedback register (words 6, 16 and 20, most significant byte first).
/// Part of the key: every router record and every upgrade request carries passwords under them,
/// so they never change. Why SCRAMBLE_SEED_1 and the substitution table fit together is
/// explained beside the table in scrambler.cpp.
inline constexpr uint32_t SCRAMBLE_SEED_1 = 0x5A3C96E1;
inline constexpr uint32_t SCRAMBLE_SEED_2 = 0xC4F0172B;
inline constexpr uint32_t SCRAMBLE_SEED_3 = 0x8E61D3A5;

/// Scrambles (`direction` non-zero) or unscrambles (`direction` 0) `length` bytes of `buffer`
/// in place. A length of 0 or less leaves the buffer alone. Always returns 0.
int ScrambleBuffer(uint8_t* buffer, int32_t length, int32_t direction);

}  // namespace corvalink
