#include "password/scrambler.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

namespace corvalink {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Scrambled(Bytes b, bool scramble = true) {
  if (scramble) {
    Scramble(b);
  } else {
    Unscramble(b);
  }
  return b;
}

// Buffers shorter than one word are substituted only, so single bytes reveal both tables.
std::array<uint8_t, 256> TableFromSingleBytes(bool scramble) {
  std::array<uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = Scrambled({static_cast<uint8_t>(b)}, scramble)[0];
  return table;
}

// The chained words of a scrambled buffer: undo only the substitution.
Bytes Chained(const Bytes& scrambled) {
  const auto inverse = TableFromSingleBytes(false);
  Bytes c = scrambled;
  for (uint8_t& v : c) v = inverse[v];
  return c;
}

Bytes Word(const Bytes& b, std::size_t i) {
  return Bytes(b.begin() + 4 * i, b.begin() + 4 * i + 4);
}

Bytes BigEndian(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

TEST(Scramble, InversePairOverRandomBuffersAtUnalignedAddresses) {
  std::mt19937 rng(20240);
  std::uniform_int_distribution<int> byte(0, 255);
  alignas(8) std::array<uint8_t, 320> storage{};
  for (int len = 0; len <= 300; ++len) {
    Bytes plain(static_cast<std::size_t>(len));
    for (uint8_t& v : plain) v = static_cast<uint8_t>(byte(rng));
    const Bytes reference = Scrambled(plain);
    for (std::size_t offset = 0; offset < 4; ++offset) {
      uint8_t* at = storage.data() + offset;
      const std::span<uint8_t> field(at, static_cast<std::size_t>(len));
      std::copy(plain.begin(), plain.end(), at);
      Scramble(field);
      ASSERT_TRUE(std::equal(reference.begin(), reference.end(), at))
          << "length " << len << " offset " << offset << ": result depends on alignment";
      Unscramble(field);
      ASSERT_TRUE(std::equal(plain.begin(), plain.end(), at)) << "length " << len;
      // The other order.
      Unscramble(field);
      Scramble(field);
      ASSERT_TRUE(std::equal(plain.begin(), plain.end(), at)) << "length " << len;
    }
    // No state survives a call: the same input again gives the same output.
    EXPECT_EQ(Scrambled(plain), reference) << "length " << len;
  }
}

TEST(Scramble, TrailingBytesAreOnlySubstituted) {
  const auto forward = TableFromSingleBytes(true);
  const Bytes plain{0x00, 0x41, 0xFF, 0x10, 0x20, 0x30, 0x7F};
  for (std::size_t len = 1; len <= 3; ++len) {
    Bytes b(plain.begin(), plain.begin() + len);
    for (uint8_t& v : b) v = forward[v];
    EXPECT_EQ(Scrambled(Bytes(plain.begin(), plain.begin() + len)), b) << len;
  }
  // Seven bytes: one chained word, then three bytes that never meet the register.
  const Bytes out = Scrambled(plain);
  for (std::size_t i = 4; i < 7; ++i) EXPECT_EQ(out[i], forward[plain[i]]) << i;
}

// The 24-byte field reads register words 1..11 only: words 0 and 5 meet seed 1 (stored most
// significant byte first), word 4 meets the all-ones word, words 1..3 meet zeros.
TEST(Scramble, PasswordFieldChainsWithSeedOneAndTheOnesWordOnly) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  const Bytes seed1 = BigEndian(SCRAMBLE_SEED_1);
  const Bytes zero(4, 0x00), ones(4, 0xFF);
  const std::array<Bytes, 6> key = {seed1, zero, zero, zero, ones, seed1};
  for (int round = 0; round < 50; ++round) {
    Bytes plain(24);
    for (uint8_t& v : plain) v = static_cast<uint8_t>(byte(rng));
    const Bytes chained = Chained(Scrambled(plain));
    for (std::size_t w = 0; w < 6; ++w) {
      Bytes expect = Word(plain, w);
      for (int k = 0; k < 4; ++k) expect[k] ^= key[w][k];
      EXPECT_EQ(Word(chained, w), expect) << "word " << w;
    }
  }
}

// Zero input exposes the key stream: seed 2 first enters at word 10 and seed 3 at word 14
// (first read position), again at 15 and 19 (second); chained word 0 feeds back at word 18.
TEST(Scramble, LongerBuffersMeetSeedsTwoAndThreeWhereTheRegisterSaysSo) {
  const Bytes s1 = BigEndian(SCRAMBLE_SEED_1), s2 = BigEndian(SCRAMBLE_SEED_2),
              s3 = BigEndian(SCRAMBLE_SEED_3), z(4, 0), ones(4, 0xFF);
  const std::vector<Bytes> expect = {s1, z, z, z, ones, s1, z, z, z,  z,
                                     s2, z, z, z, s3,   s2, z, z, s1, s3};
  const Bytes chained = Chained(Scrambled(Bytes(4 * expect.size(), 0)));
  for (std::size_t w = 0; w < expect.size(); ++w) EXPECT_EQ(Word(chained, w), expect[w]) << w;
}

// Chaining is linear: one flipped input word reappears through c(j) = p(j) ^ c(j-18) ^ c(j-23).
TEST(Scramble, OneInputWordFeedsBackEighteenAndTwentyThreeWordsLater) {
  const std::size_t words = 40;
  const Bytes base = Chained(Scrambled(Bytes(4 * words, 0)));
  Bytes flipped(4 * words, 0);
  flipped[0] = 0x81;
  flipped[3] = 0x18;
  const Bytes chained = Chained(Scrambled(flipped));
  for (std::size_t w = 0; w < words; ++w) {
    const bool touched = w == 0 || w == 18 || w == 23 || w == 36;
    Bytes diff = Word(chained, w);
    for (int k = 0; k < 4; ++k) diff[k] ^= base[4 * w + k];
    EXPECT_EQ(diff, touched ? (Bytes{0x81, 0, 0, 0x18}) : Bytes(4, 0)) << "word " << w;
  }
}

// The key is chosen so that "first held byte is zero" means "no password", and nothing else.
TEST(Scramble, OnlyAnEmptyPasswordScramblesToALeadingZero) {
  for (int first = 0; first < 256; ++first) {
    for (uint8_t rest : {0x00, 0x5A, 0xFF}) {
      Bytes field(24, rest);
      field[0] = static_cast<uint8_t>(first);
      EXPECT_EQ(Scrambled(field)[0] == 0, first == 0) << first << " " << int(rest);
    }
  }
}

}  // namespace
}  // namespace corvalink
