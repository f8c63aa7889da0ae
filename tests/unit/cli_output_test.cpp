#include "router_output.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "sim_router.h"

namespace corvalink::cli {
namespace {

sim::SimRouter Record(uint8_t n, std::string_view location) {
  sim::SimRouter r;
  r.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, n};
  r.ip = {192, 168, 1, n};
  std::copy_n(location.begin(), std::min(location.size(), LOCATION_SIZE), r.location.begin());
  r.password = "secret";
  return r;
}

// The table after these routers answered, in this order.
RouterTable TableOf(std::initializer_list<sim::SimRouter> routers) {
  RouterTable table;
  for (const sim::SimRouter& r : routers) table.Add(PadDatagram(sim::BuildSimSearchReply(r)));
  return table;
}

TEST(FormatRouterJson, StableKeysNewestFirstAndEveryLocationByteKept) {
  std::string odd;  // 24 bytes without a NUL: control bytes, quote, backslash, high bytes
  for (uint8_t b : {0x01, 0x1B, 0x22, 0x5C, 0x7F, 0x80, 0x9F, 0xA0, 0xE9, 0xFF}) odd += char(b);
  odd.resize(LOCATION_SIZE, 'x');
  const RouterTable table = TableOf({Record(1, "first"), Record(2, odd)});

  const std::string text = FormatRouterJson(table, false);
  const auto parsed = nlohmann::json::parse(text);  // throws, failing the test, on bad JSON
  ASSERT_TRUE(parsed.is_array());
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[0]["mac"], "001A2B3C4D02");
  EXPECT_EQ(parsed[0]["ip"], "192.168.1.2");
  EXPECT_EQ(parsed[0]["mask"], "255.255.255.0");
  EXPECT_EQ(parsed[1]["mac"], "001A2B3C4D01");
  EXPECT_EQ(parsed[1]["location"], "first");
  for (const auto& router : parsed) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : router.items()) keys.push_back(key);
    EXPECT_EQ(keys.size(), 4u);
  }
  // Keys in the documented order, and nothing of the password.
  EXPECT_LT(text.find("\"mac\""), text.find("\"ip\""));
  EXPECT_LT(text.find("\"ip\""), text.find("\"mask\""));
  EXPECT_LT(text.find("\"mask\""), text.find("\"location\""));
  EXPECT_EQ(text.find("password"), std::string::npos);
  EXPECT_EQ(text.find("secret"), std::string::npos);

  // Windows-1252: 0x80 is the euro sign, 0x9F Y with diaeresis.
  EXPECT_EQ(parsed[0]["location"], "\x01\x1B\"\\\x7F\xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xA9\xC3\xBF" +
                                       std::string(LOCATION_SIZE - 10, 'x'));
  EXPECT_EQ(FormatRouterJson(RouterTable{}, false), "[]\n");
}

TEST(FormatRouterTable, ListOrderAlignedColumnsAndSafeLocations) {
  sim::SimRouter pwned = Record(2, "\x1B]0;pwned\x07");
  pwned.ip = {10, 0, 0, 200};
  const RouterTable table = TableOf({Record(1, "Caf\xE9"), pwned});
  std::istringstream text(FormatRouterTable(table));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("MAC ADDRESS", 0), 0u);
  EXPECT_EQ(lines[1].rfind("001A2B3C4D02", 0), 0u);
  EXPECT_EQ(lines[2].rfind("001A2B3C4D01", 0), 0u);
  const std::size_t ipColumn = lines[0].find("IP ADDRESS");
  const std::size_t maskColumn = lines[0].find("IP MASK");
  const std::size_t locationColumn = lines[0].find("Location");
  EXPECT_EQ(lines[1].find("10.0.0.200"), ipColumn);
  EXPECT_EQ(lines[2].find("192.168.1.1"), ipColumn);
  EXPECT_EQ(lines[1].find("255.255.255.0"), maskColumn);
  EXPECT_EQ(lines[1].substr(locationColumn), "\\x1B]0;pwned\\x07");
  EXPECT_EQ(lines[2].substr(locationColumn), "Caf\xC3\xA9");
  EXPECT_EQ(FormatRouterTable(RouterTable{}), "");
}


TEST(FormatRouterOutput, EachRouterShowsTheInterfaceItAnsweredOn) {
  const RouterTable table = TableOf({Record(1, "Office"), Record(2, "Lab"), Record(3, "Remote")});
  std::array<ReplyArrival, MAX_ROUTERS> arrivals{};
  arrivals[0] = {"eth0", {192, 168, 1, 100}, {}};
  arrivals[1] = {"Wi-Fi \x1B[2J", {10, 0, 0, 7}, {}};  // a name shown safely
  // slot 2: where it came in is not known

  std::istringstream text(FormatRouterTable(table, arrivals));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  const std::size_t via = lines[0].find("INTERFACE");
  const std::size_t location = lines[0].find("Location");
  ASSERT_NE(via, std::string::npos);
  ASSERT_LT(via, location) << "the location stays last";
  EXPECT_EQ(lines[1].substr(via, location - via), "-" + std::string(location - via - 1, ' '));
  EXPECT_EQ(lines[2].substr(via), "Wi-Fi \\x1B[2J 10.0.0.7  Lab");
  EXPECT_EQ(lines[3].substr(via, 20), "eth0 192.168.1.100  ");
  EXPECT_EQ(lines[3].substr(location), "Office");

  const auto parsed = nlohmann::json::parse(FormatRouterJson(table, false, arrivals));
  ASSERT_EQ(parsed.size(), 3u);
  EXPECT_TRUE(parsed[0]["interface"].is_null());
  EXPECT_TRUE(parsed[0]["local_ip"].is_null());
  EXPECT_EQ(parsed[1]["interface"], "Wi-Fi \x1B[2J");
  EXPECT_EQ(parsed[2]["interface"], "eth0");
  EXPECT_EQ(parsed[2]["local_ip"], "192.168.1.100");
  // Without arrivals the four keys and columns of before.
  EXPECT_EQ(nlohmann::json::parse(FormatRouterJson(table, false))[0].size(), 4u);
  EXPECT_EQ(FormatRouterTable(table).find("INTERFACE"), std::string::npos);
}

}  // namespace
}  // namespace corvalink::cli
