#include "discovery/search_targets.h"
#include "discovery/search_interfaces.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvalink {
namespace {

TEST(ParseSearchTarget, AddressesAndBlocksWithinTheBound) {
  struct Row {
    const char* text;
    Ipv4 first;
    uint32_t count;
    Ipv4 last;
  };
  const Row rows[] = {
      {"198.18.2.10", {198, 18, 2, 10}, 1, {198, 18, 2, 10}},
      {"198.18.2.255", {198, 18, 2, 255}, 1, {198, 18, 2, 255}},  // a directed broadcast
      {"198.18.2.0/24", {198, 18, 2, 1}, 254, {198, 18, 2, 254}},
      {"198.18.2.77/24", {198, 18, 2, 1}, 254, {198, 18, 2, 254}},  // host bits ignored
      {"10.0.0.0/22", {10, 0, 0, 1}, 1022, {10, 0, 3, 254}},
      {"10.0.255.0/23", {10, 0, 254, 1}, 510, {10, 0, 255, 254}},  // crosses a byte
      {"10.1.2.4/30", {10, 1, 2, 5}, 2, {10, 1, 2, 6}},
      {"10.1.2.5/31", {10, 1, 2, 4}, 2, {10, 1, 2, 5}},
      {"10.1.2.5/32", {10, 1, 2, 5}, 1, {10, 1, 2, 5}},
      {"255.255.255.0/24", {255, 255, 255, 1}, 254, {255, 255, 255, 254}},
  };
  for (const Row& r : rows) {
    std::string err;
    const std::optional<SearchTarget> t = ParseSearchTarget(r.text, &err);
    ASSERT_TRUE(t) << r.text << ": " << err;
    EXPECT_EQ(t->first, r.first) << r.text;
    EXPECT_EQ(t->count, r.count) << r.text;
    EXPECT_EQ(TargetAddress(*t, t->count - 1), r.last) << r.text;
  }
}

TEST(ParseSearchTarget, RefusesWhatIsNoAddressAndBlocksOverTheBound) {
  struct Row {
    const char* text;
    const char* says;
  };
  const Row rows[] = {
      {"", "not an IPv4 address"},
      {"router", "not an IPv4 address"},
      {"198.18.2", "not an IPv4 address"},
      {"198.18.2.0/", "prefix length"},
      {"198.18.2.0/x", "prefix length"},
      {"198.18.2.0/24x", "prefix length"},
      {"198.18.2.0/-1", "prefix length"},
      {"198.18.2.0/33", "prefix length"},
      {"198.18.2.0/024", "prefix length"},
      {"198.18.0.0/21", "larger than a /22"},
      {"0.0.0.0/0", "larger than a /22"},
      {"198.18.2.0/24/24", "prefix length"},
  };
  for (const Row& r : rows) {
    std::string err;
    EXPECT_FALSE(ParseSearchTarget(r.text, &err)) << r.text;
    EXPECT_NE(err.find(r.says), std::string::npos) << r.text << ": " << err;
    EXPECT_NE(err.find(std::string("'") + r.text + "'"), std::string::npos) << err;
  }
}

TEST(SearchInterfaces, OneEntryPerUpBroadcastInterfaceWithIpv4) {
  auto entry = [](const char* name, std::optional<Ipv4> address, bool up, bool broadcast,
                  bool loopback = false, bool p2p = false) {
    InterfaceAddress a;
    a.name = name;
    a.address = address;
    a.mask = Ipv4{255, 255, 255, 0};
    a.up = up;
    a.broadcastCapable = broadcast;
    a.loopback = loopback;
    a.pointToPoint = p2p;
    return a;
  };
  const std::vector<InterfaceAddress> all = {
      entry("lo", Ipv4{127, 0, 0, 1}, true, false, true),
      entry("eth0", Ipv4{192, 168, 1, 5}, true, true),
      entry("eth0", Ipv4{192, 168, 7, 5}, true, true),  // a second address: same segment
      entry("wlan0", Ipv4{10, 0, 0, 7}, true, true),
      entry("eth1", Ipv4{172, 16, 0, 1}, false, true),  // down or no carrier
      entry("tun0", Ipv4{10, 8, 0, 2}, true, false, false, true),
      entry("wg0", Ipv4{10, 9, 0, 2}, true, false),  // no broadcast on it
      entry("eth2", std::nullopt, true, true),         // no IPv4 address
      entry("odd0", Ipv4{127, 0, 1, 1}, true, true),    // loopback address, flag not set
      entry("eth3", Ipv4{0, 0, 0, 0}, true, true),
      entry("virbr0", Ipv4{192, 168, 122, 1}, true, true),
  };
  std::vector<std::string> names;
  for (const InterfaceAddress& a : SearchInterfaces(all)) {
    names.push_back(a.name + " " + Ipv4ToText(*a.address));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"eth0 192.168.1.5", "wlan0 10.0.0.7",
                                             "virbr0 192.168.122.1"}));
  ASSERT_NE(InterfaceWithAddress(all, {10, 0, 0, 7}), nullptr);
  EXPECT_EQ(InterfaceWithAddress(all, {10, 0, 0, 7})->name, "wlan0");
  EXPECT_EQ(InterfaceWithAddress(all, {10, 0, 0, 8}), nullptr);
}

}  // namespace
}  // namespace corvalink
