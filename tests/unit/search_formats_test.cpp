#include "discovery/search_formats.h"

#include <gtest/gtest.h>

#include <vector>

#include "discovery/router_table.h"

namespace corvalink {
namespace {

TEST(SearchRequest, IsTheSameFiftyFourBytesEveryTime) {
  // clang-format off
  const Packet expected = {
      0xDD,                               // magic
      0x80,                               // type: search
      0x00, 0x36,                         // length 54, big-endian
      'V', 'E', 'L', 'M', 'O', 'R', 'A',  // tag
      0x00,                               // end of tag
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 42 zero bytes
  };
  // clang-format on
  EXPECT_EQ(BuildSearchRequest(), expected);
  EXPECT_EQ(BuildSearchRequest(), BuildSearchRequest());
}

// A full reply with every byte distinct, so any misplaced field shows.
std::vector<uint8_t> NumberedReply(std::size_t size) {
  std::vector<uint8_t> d(size);
  for (std::size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(i + 1);
  d[0] = 0xDD;
  d[1] = 0x80;
  return d;
}

TEST(SearchReply, EveryTruncationReadsAsItsBytesThenZeros) {
  const std::vector<uint8_t> full = NumberedReply(66);
  for (std::size_t n = 0; n <= full.size(); ++n) {
    const Packet p = PadDatagram(std::span<const uint8_t>(full.data(), n));
    for (std::size_t i = 0; i < PACKET_SIZE; ++i) {
      ASSERT_EQ(p[i], i < n ? full[i] : 0) << "length " << n << " byte " << i;
    }
    EXPECT_EQ(IsSearchReply(p), n >= 2) << n;
  }
}

TEST(SearchReply, FieldsSitAtTheirOffsets) {
  const Packet p = PadDatagram(NumberedReply(54));
  const RouterRecord r = DecodeReplyRecord(p);
  EXPECT_EQ(r.ipAddress, (Ipv4{5, 6, 7, 8}));
  EXPECT_EQ(r.ipMask, (Ipv4{9, 10, 11, 12}));
  EXPECT_EQ(r.macAddress, (MacAddress{13, 14, 15, 16, 17, 18}));
  for (std::size_t i = 0; i < LOCATION_SIZE; ++i) EXPECT_EQ(r.location[i], char(19 + i)) << i;
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(r.password[i], 43 + i) << i;
  for (std::size_t i = 12; i < PASSWORD_SIZE; ++i) EXPECT_EQ(r.password[i], 0) << i;
}

TEST(SearchReply, TwoHeaderBytesAreAReplyWithEveryFieldZero) {
  const Packet p = PadDatagram(std::vector<uint8_t>{0xDD, 0x80});
  ASSERT_TRUE(IsSearchReply(p));
  const RouterRecord r = DecodeReplyRecord(p);
  EXPECT_EQ(MacText(r.macAddress), "000000000000");
  EXPECT_EQ(Ipv4ToText(r.ipAddress), "0.0.0.0");
  EXPECT_EQ(Ipv4ToText(r.ipMask), "0.0.0.0");
  EXPECT_EQ(LocationText(r), "");
}

TEST(SearchReply, OnlyMagicThenSearchTypePasses) {
  const struct {
    std::vector<uint8_t> bytes;
    bool accepted;
  } cases[] = {
      {{0xDD, 0x80}, true},  {{0xDD, 0x80, 0x00, 0x01}, true},  // length not examined
      {{0xDD, 0x82}, false}, {{0xDC, 0x80}, false},
      {{0x80, 0xDD}, false}, {{0xDD}, false},
      {{}, false},           {{0xDD, 0x81}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSearchReply(PadDatagram(c.bytes)), c.accepted) << c.bytes.size();
  }
}

}  // namespace
}  // namespace corvalink
