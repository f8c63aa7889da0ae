#include "text/ansi_text.h"

#include <gtest/gtest.h>

namespace corvalink {
namespace {

TEST(AnsiText, Windows1252BothWays) {
  const std::pair<uint8_t, char32_t> rows[] = {
      {0x00, 0x0000}, {0x41, 0x0041}, {0x7F, 0x007F}, {0x80, 0x20AC}, {0x81, 0x0081},
      {0x82, 0x201A}, {0x85, 0x2026}, {0x8A, 0x0160}, {0x8D, 0x008D}, {0x8F, 0x008F},
      {0x90, 0x0090}, {0x91, 0x2018}, {0x92, 0x2019}, {0x93, 0x201C}, {0x94, 0x201D},
      {0x96, 0x2013}, {0x97, 0x2014}, {0x99, 0x2122}, {0x9D, 0x009D}, {0x9F, 0x0178},
      {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
  };
  for (const auto& [byte, cp] : rows) {
    EXPECT_EQ(AnsiToCodePoint(byte), cp) << int(byte);
    EXPECT_EQ(CodePointToAnsi(cp), byte) << int(byte);
  }
  // Every byte round-trips, and the 256 code points are all different.
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(CodePointToAnsi(AnsiToCodePoint(static_cast<uint8_t>(b))), b);
  }
  // Latin-1 controls that Windows-1252 gives to other characters, and characters beyond it.
  for (char32_t none : {0x80, 0x85, 0x9F, 0x100, 0x151, 0x20AD, 0xFFFD, 0x1F600}) {
    EXPECT_FALSE(CodePointToAnsi(none).has_value()) << uint32_t(none);
  }
  EXPECT_EQ(AnsiToUtf8("a\x80\xE9\x9D"), "a\xE2\x82\xAC\xC3\xA9\xC2\x9D");
}

TEST(DecodeUtf8, WellFormedOnly) {
  EXPECT_EQ(DecodeUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            (std::u32string{U'a', 0xE9, 0x20AC, 0x1F600}));
  EXPECT_EQ(DecodeUtf8(""), std::u32string());
  for (const char* bad : {"\xE9", "\xC3", "\xC3\x28", "\xC0\xAF", "\xE0\x80\xAF",
                          "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "a\x80"}) {
    EXPECT_FALSE(DecodeUtf8(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace corvalink
