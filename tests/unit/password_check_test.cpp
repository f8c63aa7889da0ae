#include "password/password_check.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "password/scrambler.h"

namespace corvalink {
namespace {

using Field = std::array<uint8_t, PASSWORD_SIZE>;

// A field as the router table holds it: the plain text, zero-padded to 24 bytes, scrambled.
Field Held(const std::string& plain) {
  Field f{};
  std::copy_n(plain.begin(), std::min(plain.size(), f.size()), f.begin());
  Scramble(f);
  return f;
}

struct Case {
  const char* name;
  std::string stored;
  std::string typed;
  PasswordVerdict verdict;
};

TEST(CheckRouterPassword, AcceptsExactlyTheStoredTextAndRestoresTheField) {
  const std::string full24 = "ABCDEFGHIJKLMNOPQRSTUVWX";  // fills the field: no NUL inside
  const Case cases[] = {
      {"exact", "secret", "secret", PasswordVerdict::Accepted},
      {"prefix of stored", "secret", "secre", PasswordVerdict::Refused},
      {"stored is a prefix", "secret", "secrets", PasswordVerdict::Refused},
      {"other case", "secret", "Secret", PasswordVerdict::Refused},
      {"empty typed, password set", "secret", "", PasswordVerdict::Refused},
      {"no password, nothing typed", "", "", PasswordVerdict::Accepted},
      {"no password, text typed", "", "x", PasswordVerdict::RefusedStayOpen},
      {"24 characters without NUL", full24, full24, PasswordVerdict::Accepted},
      {"23 of 24 characters", full24, full24.substr(0, 23), PasswordVerdict::Refused},
      {"24 characters and one more", full24, full24 + "Y", PasswordVerdict::Refused},
      {"one character", "a", "a", PasswordVerdict::Accepted},
      {"typed NUL is not an end", "secret", std::string("secret\0x", 8), PasswordVerdict::Refused},
  };
  for (const Case& c : cases) {
    Field held = Held(c.stored);
    const Field before = held;
    EXPECT_EQ(CheckRouterPassword(held, c.typed), c.verdict) << c.name;
    EXPECT_EQ(held, before) << c.name << ": field not scrambled back";
  }
}

TEST(CheckRouterPassword, TypingTheScrambledFormIsRefused) {
  for (const std::string plain : {"secret", "admin", "corvalink-2024"}) {
    Field held = Held(plain);
    const Field before = held;
    // The held bytes up to their first zero, as a user who copied them from an upgrade request
    // would type them.
    std::string scrambledText;
    for (uint8_t b : held) {
      if (b == 0) break;
      scrambledText.push_back(static_cast<char>(b));
    }
    ASSERT_FALSE(scrambledText.empty());
    EXPECT_EQ(CheckRouterPassword(held, scrambledText), PasswordVerdict::Refused) << plain;
    EXPECT_EQ(held, before);
    EXPECT_EQ(CheckRouterPassword(held, plain), PasswordVerdict::Accepted) << plain;
  }
}

TEST(SecureWipe, ZeroesExactlyTheGivenBytes) {
  std::array<uint8_t, 8> b;
  b.fill(0xAA);
  SecureWipe(b.data() + 1, 6);
  EXPECT_EQ(b, (std::array<uint8_t, 8>{0xAA, 0, 0, 0, 0, 0, 0, 0xAA}));
}

}  // namespace
}  // namespace corvalink
