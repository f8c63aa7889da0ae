#include "cli_args.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim_router.h"

namespace corvalink::cli {
namespace {

const MacAddress MAC{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

TEST(ParseRouterSelector, AcceptsTheUsualMacSpellingsAndDottedAddresses) {
  for (const char* text : {"001A2B3C4D5E", "001a2b3c4d5e", "00:1A:2B:3C:4D:5E",
                           "00-1a-2b-3c-4d-5e"}) {
    std::string err;
    const auto s = ParseRouterSelector(text, &err);
    ASSERT_TRUE(s) << text << ": " << err;
    EXPECT_EQ(s->kind, RouterSelector::Kind::Mac) << text;
    EXPECT_EQ(s->mac, MAC) << text;
  }
  const auto ip = ParseRouterSelector("198.18.0.10", nullptr);
  ASSERT_TRUE(ip);
  EXPECT_EQ(ip->kind, RouterSelector::Kind::Ip);
  EXPECT_EQ(ip->ip, (Ipv4{198, 18, 0, 10}));
  // Twelve decimal digits are a MAC, not a number of some other kind.
  const auto digits = ParseRouterSelector("123456789012", nullptr);
  ASSERT_TRUE(digits);
  EXPECT_EQ(digits->mac, (MacAddress{0x12, 0x34, 0x56, 0x78, 0x90, 0x12}));
}

TEST(ParseRouterSelector, RefusesAnythingElseWithAMessageNamingTheText) {
  for (const char* text :
       {"", "001A2B3C4D5", "001A2B3C4D5EF", "001A2B3C4D5G", "00:1A-2B:3C:4D:5E",
        "00:1A:2B:3C:4D:5E:", "001A:2B3C:4D5E", "00.1A.2B.3C.4D.5E", " 001A2B3C4D5E",
        "001A2B3C4D5E ", "192.168.1", "192.168.1.256", "192.168.01.1x", "router1"}) {
    std::string err;
    EXPECT_FALSE(ParseRouterSelector(text, &err)) << text;
    EXPECT_NE(err.find(std::string("\"") + text + "\""), std::string::npos) << err;
  }
}

TEST(ParseEndpoint, TakesAnAddressAndANonZeroPort) {
  const auto e = ParseEndpoint("127.0.0.1:56415", nullptr);
  ASSERT_TRUE(e);
  EXPECT_EQ(*e, (Endpoint{{127, 0, 0, 1}, 56415}));
  for (const char* text : {"127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536",
                           "127.0.0.1:5x", "127.0.0.1:+5", "127.0.0.1:-5", ":5", "host:5",
                           "127.0.0.1:5:6"}) {
    std::string err;
    EXPECT_FALSE(ParseEndpoint(text, &err)) << text;
    EXPECT_FALSE(err.empty()) << text;
  }
}

TEST(ParseSeconds, FiniteDecimalsInTheRangeOnly) {
  const std::pair<const char*, double> good[] = {
      {"2", 2.0}, {"0.5", 0.5}, {"1e1", 10.0}, {"0.01", 0.01}, {"3600", 3600.0}, {"007", 7.0}};
  for (const auto& [text, value] : good) {
    const auto v = ParseSeconds(text, 0.01, 3600.0, nullptr);
    ASSERT_TRUE(v) << text;
    EXPECT_DOUBLE_EQ(*v, value) << text;
  }
  for (const char* text : {"", "nan", "NaN", "-nan", "inf", "-inf", "infinity", "1e999",
                           "0", "0.009", "3600.5", "-1", "+2", " 2", "2 ", "2s", "0x10", "."}) {
    std::string err;
    EXPECT_FALSE(ParseSeconds(text, 0.01, 3600.0, &err)) << text;
    EXPECT_NE(err.find("from 0.01 to 3600"), std::string::npos) << err;
  }
}

Packet Reply(uint8_t n, Ipv4 ip) {
  sim::SimRouter r;
  r.mac = {0x02, 0, 0, 0, 0, n};
  r.ip = ip;
  return PadDatagram(sim::BuildSimSearchReply(r));
}

TEST(FindRouters, ByMacOrByIpNewestFirst) {
  const Ipv4 shared{10, 0, 0, 1};
  RouterTable table;
  for (const Packet& reply : {Reply(1, shared), Reply(2, {10, 0, 0, 2}), Reply(3, shared)}) {
    table.Add(reply);
  }

  auto byIp = [](Ipv4 ip) {
    RouterSelector s;
    s.kind = RouterSelector::Kind::Ip;
    s.ip = ip;
    return s;
  };
  auto byMac = [](uint8_t n) {
    RouterSelector s;
    s.mac = {0x02, 0, 0, 0, 0, n};
    return s;
  };
  EXPECT_EQ(FindRouters(table, byIp(shared)), (std::vector<int>{2, 0}));
  EXPECT_EQ(FindRouters(table, byIp({10, 0, 0, 2})), (std::vector<int>{1}));
  EXPECT_EQ(FindRouters(table, byMac(2)), (std::vector<int>{1}));
  EXPECT_TRUE(FindRouters(table, byMac(4)).empty());
  EXPECT_TRUE(FindRouters(table, byIp({10, 0, 0, 9})).empty());
}

}  // namespace
}  // namespace corvalink::cli
