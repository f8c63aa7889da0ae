#pragma once
// The reversible, keyed in-place transform under which router passwords are held: a word-wise
// XOR chaining through a 32-word feedback register, then a byte substitution. Stateless and
// reentrant; independent of the host's byte order and of the buffer's alignment.

#include <cstdint>
#include <span>

namespace corvalink {

/// Seed constants of the feedback register (words 6, 16 and 20, most significant byte first).
/// Part of the key: every router record and every upgrade request carries passwords under them,
/// so they never change. Why SCRAMBLE_SEED_1 and the substitution table fit together is
/// explained beside the table in scrambler.cpp.
inline constexpr uint32_t SCRAMBLE_SEED_1 = 0x5A3C96E1;
inline constexpr uint32_t SCRAMBLE_SEED_2 = 0xC4F0172B;
inline constexpr uint32_t SCRAMBLE_SEED_3 = 0x8E61D3A5;

/// Scrambles `buffer` in place: its whole 4-byte words are chained, then every byte substituted.
void Scramble(std::span<uint8_t> buffer);
/// Undoes Scramble: Unscramble(Scramble(b)) is b, for every length.
void Unscramble(std::span<uint8_t> buffer);

}  // namespace corvalink
