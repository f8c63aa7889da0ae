#include "platform/ipv4.h"

#include <gtest/gtest.h>

#include "platform/byte_order.h"

namespace corvalink {
namespace {

TEST(Ipv4, TextRoundTripsAtTheExtremes) {
  EXPECT_EQ(Ipv4ToText({192, 168, 1, 1}), "192.168.1.1");
  EXPECT_EQ(Ipv4ToText({255, 255, 255, 255}), "255.255.255.255");
  EXPECT_EQ(Ipv4ToText({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(ParseIpv4("198.18.0.2"), (Ipv4{198, 18, 0, 2}));
}

TEST(Ipv4, RejectsEverythingButAStrictDottedQuad) {
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", "1.2.3.256", "1..2.3", "a.b.c.d", " 1.2.3.4",
                          "1.2.3.4 ", "1.2.3.0004", "-1.2.3.4"}) {
    EXPECT_FALSE(ParseIpv4(bad).has_value()) << bad;
  }
}

TEST(ByteOrder, WritesHighByteFirstWhateverTheHost) {
  std::array<uint8_t, 6> b{};
  PutU16Be(b, 1, 0xDC5F);
  PutU16Be(b, 3, 0x0036);
  EXPECT_EQ(b, (std::array<uint8_t, 6>{0, 0xDC, 0x5F, 0x00, 0x36, 0}));
  EXPECT_EQ(GetU16Be(b, 1), 0xDC5F);
  PutU32Be(b, 1, 0x01020304);
  EXPECT_EQ(GetU32Be(b, 1), 0x01020304u);
  EXPECT_EQ(b[1], 1);
}

}  // namespace
}  // namespace corvalink
