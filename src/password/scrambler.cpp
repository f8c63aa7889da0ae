#include "password/scrambler.h"

#include <array>
#include <cstddef>

namespace corvalink {
namespace {

// The forward substitution: a fixed permutation of the byte values, drawn once at random and
// then adjusted in one place.
//
// The first scrambled byte is forward[p0 ^ m], where p0 is the first plain byte and m is the
// most significant byte of SCRAMBLE_SEED_1: the first word is XORed with register words 1
// (zero) and 6 (the seed, most significant byte first in memory). With m = 0x5A we set
// forward[0x5A] = 0x00, so a scrambled password starts with a zero byte exactly when the plain
// password does, that is when the router has no password. The password check relies on this:
// "the held field's first byte is zero" then means "no password" and nothing else.
constexpr std::array<uint8_t, 256> FORWARD = {
    0xB8, 0x8E, 0xA6, 0x8C, 0x90, 0x80, 0x6B, 0xE3, 0x31, 0x7E, 0x47, 0x39, 0xB4, 0x02, 0x89, 0x56,
    0x4E, 0x16, 0x3C, 0xD3, 0x12, 0xC2, 0x4D, 0x19, 0x01, 0xE5, 0x7F, 0xF1, 0x0D, 0xEE, 0x2F, 0xBC,
    0x3F, 0x10, 0x44, 0x91, 0x29, 0x88, 0x61, 0x99, 0x48, 0x14, 0xFB, 0x26, 0xA4, 0xA1, 0xFD, 0x96,
    0x2B, 0xA0, 0x94, 0x86, 0xFE, 0xD4, 0x5F, 0x95, 0xE6, 0x0E, 0x46, 0x57, 0x4F, 0xF6, 0x1F, 0xEB,
    0xED, 0x5B, 0x9B, 0x24, 0x70, 0x60, 0xA7, 0xAC, 0x13, 0x11, 0xB9, 0xBA, 0xD6, 0xD7, 0xB5, 0x58,
    0x7D, 0x36, 0xCC, 0x20, 0x4C, 0x51, 0x74, 0x54, 0x43, 0xC1, 0x00, 0x4A, 0x92, 0x1A, 0x37, 0xB3,
    0x21, 0xA9, 0x3A, 0xC9, 0xA2, 0x1B, 0x09, 0xBD, 0x5D, 0x40, 0x45, 0x22, 0xD0, 0xD8, 0xC8, 0x93,
    0xB7, 0x8D, 0x69, 0x0A, 0xCD, 0x5C, 0xF5, 0x0B, 0xD1, 0x9F, 0x6D, 0xAF, 0xF3, 0x32, 0x50, 0xB1,
    0x38, 0x2A, 0xDB, 0xE0, 0x5E, 0xCE, 0x82, 0x1C, 0x30, 0x23, 0x78, 0x72, 0x4B, 0x66, 0x08, 0xAA,
    0x41, 0x52, 0x81, 0x53, 0xE9, 0xFC, 0x2E, 0x49, 0x28, 0xCF, 0x5A, 0xC0, 0x9D, 0x85, 0xB2, 0xA5,
    0xEA, 0xE8, 0xEC, 0x27, 0x6E, 0x87, 0x7A, 0xEF, 0x8A, 0x9A, 0x63, 0xF0, 0xF9, 0x83, 0x76, 0xE2,
    0x55, 0xDC, 0x79, 0x34, 0xDF, 0x05, 0x6C, 0xD9, 0x62, 0xA3, 0xB0, 0xF4, 0xF8, 0x06, 0xBE, 0xE1,
    0x9C, 0xF2, 0x04, 0x77, 0xA8, 0xDA, 0xE7, 0x0C, 0xBB, 0x15, 0xCA, 0xB6, 0x6A, 0xCB, 0xBF, 0xFF,
    0xAB, 0x3E, 0x97, 0xF7, 0x07, 0xDE, 0xC7, 0x9E, 0x18, 0x35, 0x73, 0x7B, 0x8B, 0x1E, 0x1D, 0x59,
    0x64, 0xC5, 0x8F, 0x2D, 0xDD, 0x75, 0xC3, 0xC4, 0x68, 0xC6, 0xD5, 0x42, 0xAE, 0x25, 0x65, 0x7C,
    0x98, 0xFA, 0x71, 0xD2, 0x3B, 0x67, 0x33, 0x84, 0x0F, 0x03, 0xE4, 0x6F, 0x17, 0xAD, 0x3D, 0x2C,
};

static_assert(FORWARD[SCRAMBLE_SEED_1 >> 24] == 0,
              "an empty password must be the only one whose scrambled form starts with zero");

constexpr bool IsPermutation(const std::array<uint8_t, 256>& table) {
  std::array<bool, 256> seen{};
  for (uint8_t v : table) {
    if (seen[v]) return false;
    seen[v] = true;
  }
  return true;
}

// A repeated value would make scrambling irreversible and lose passwords.
static_assert(IsPermutation(FORWARD), "the forward table must be a permutation of 0..255");

constexpr std::array<uint8_t, 256> MakeInverse(const std::array<uint8_t, 256>& forward) {
  std::array<uint8_t, 256> inverse{};
  for (std::size_t b = 0; b < 256; ++b) inverse[forward[b]] = static_cast<uint8_t>(b);
  return inverse;
}

constexpr std::array<uint8_t, 256> INVERSE = MakeInverse(FORWARD);

constexpr int REGISTER_WORDS = 32;
constexpr std::size_t WORD_BYTES = 4;
constexpr int WRITE_START = 24;
constexpr int FIRST_READ_START = 6;
constexpr int SECOND_READ_START = 1;

using Register = std::array<uint8_t, REGISTER_WORDS * WORD_BYTES>;

void PutSeed(Register& reg, int word, uint32_t seed) {
  // Most significant byte first in memory: the register is combined with the buffer byte by
  // byte, so this layout (not the host's) is what makes the result the same on every machine.
  std::size_t at = static_cast<std::size_t>(word) * WORD_BYTES;
  reg[at] = static_cast<uint8_t>(seed >> 24);
  reg[at + 1] = static_cast<uint8_t>(seed >> 16);
  reg[at + 2] = static_cast<uint8_t>(seed >> 8);
  reg[at + 3] = static_cast<uint8_t>(seed);
}

Register InitialRegister() {
  Register reg{};
  for (std::size_t k = 0; k < WORD_BYTES; ++k) reg[5 * WORD_BYTES + k] = 0xFF;
  PutSeed(reg, 6, SCRAMBLE_SEED_1);
  PutSeed(reg, 16, SCRAMBLE_SEED_2);
  PutSeed(reg, 20, SCRAMBLE_SEED_3);
  return reg;
}

// Both directions run the register through the same states (it always receives the chained
// word), so one loop serves both; only which of plain and chained is known up front differs.
void Chain(std::span<uint8_t> buffer, bool scramble) {
  const std::size_t words = buffer.size() / WORD_BYTES;
  Register reg = InitialRegister();
  int write = WRITE_START;
  int firstRead = FIRST_READ_START;
  int secondRead = SECOND_READ_START;
  for (std::size_t i = 0; i < words; ++i) {
    uint8_t* word = buffer.data() + i * WORD_BYTES;
    uint8_t* w = &reg[static_cast<std::size_t>(write) * WORD_BYTES];
    const uint8_t* r1 = &reg[static_cast<std::size_t>(firstRead) * WORD_BYTES];
    const uint8_t* r2 = &reg[static_cast<std::size_t>(secondRead) * WORD_BYTES];
    for (std::size_t k = 0; k < WORD_BYTES; ++k) {
      uint8_t key = static_cast<uint8_t>(r1[k] ^ r2[k]);
      if (scramble) {
        word[k] = static_cast<uint8_t>(word[k] ^ key);
        w[k] = word[k];
      } else {
        w[k] = word[k];
        word[k] = static_cast<uint8_t>(word[k] ^ key);
      }
    }
    write = (write + 1) & 0x1F;
    firstRead = (firstRead + 1) & 0x1F;
    secondRead = (secondRead + 1) & 0x1F;
  }
}

void Substitute(std::span<uint8_t> buffer, const std::array<uint8_t, 256>& table) {
  for (uint8_t& b : buffer) b = table[b];
}

}  // namespace

void Scramble(std::span<uint8_t> buffer) {
  Chain(buffer, true);
  Substitute(buffer, FORWARD);
}

void Unscramble(std::span<uint8_t> buffer) {
  Substitute(buffer, INVERSE);
  Chain(buffer, false);
}

}  // namespace corvalink
