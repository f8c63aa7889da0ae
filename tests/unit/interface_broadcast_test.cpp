#include "discovery/interface_broadcast.h"

#include <gtest/gtest.h>

#include <string>

namespace corvalink {
namespace {

TEST(DirectedBroadcast, SetsEveryHostBitOfTheMask) {
  struct Row {
    Ipv4 address, mask, broadcast;
  };
  const Row rows[] = {
      {{192, 168, 1, 10}, {255, 255, 255, 0}, {192, 168, 1, 255}},
      {{10, 1, 2, 3}, {255, 0, 0, 0}, {10, 255, 255, 255}},
      {{172, 16, 5, 4}, {255, 255, 240, 0}, {172, 16, 15, 255}},
      {{198, 18, 0, 1}, {255, 255, 255, 255}, {198, 18, 0, 1}},
      {{198, 18, 0, 1}, {255, 255, 255, 252}, {198, 18, 0, 3}},
      {{1, 2, 3, 4}, {0, 0, 0, 0}, {255, 255, 255, 255}},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(DirectedBroadcast(r.address, r.mask), r.broadcast) << Ipv4ToText(r.address) << "/"
                                                                 << Ipv4ToText(r.mask);
  }
}

TEST(SearchBroadcast, AReportedBroadcastThatIsNoneGivesWayToTheNetworks) {
  const Ipv4 address{198, 18, 5, 1}, mask{255, 255, 255, 0};
  struct Row {
    std::optional<Ipv4> reported;
    Ipv4 used;
  };
  const Row rows[] = {
      {Ipv4{198, 18, 5, 127}, {198, 18, 5, 127}},  // configured ("brd 198.18.5.127"): kept
      {std::nullopt, {198, 18, 5, 255}},
      {Ipv4{0, 0, 0, 0}, {198, 18, 5, 255}},
      {address, {198, 18, 5, 255}},  // "ip addr add" without "brd", as glibc reports it
  };
  for (const Row& r : rows) {
    InterfaceAddress entry{"lab0", "", address, mask, r.reported, false, true};
    EXPECT_EQ(SearchBroadcast(entry), r.used) << (r.reported ? Ipv4ToText(*r.reported) : "none");
  }
}

TEST(InterfaceBroadcastAddress, LoopbackHasNoConfiguredBroadcastSoItsNetworkIsUsed) {
  std::string err;
  const auto address = InterfaceBroadcastAddress("lo", &err);
  ASSERT_TRUE(address) << err;
  EXPECT_EQ(*address, (Ipv4{127, 255, 255, 255}));
}

TEST(InterfaceBroadcastAddress, UnknownNameIsRefusedAndNamed) {
  for (const char* name : {"nosuchif0", "", "lo "}) {
    std::string err;
    EXPECT_FALSE(InterfaceBroadcastAddress(name, &err)) << name;
    EXPECT_NE(err.find(std::string("\"") + name + "\""), std::string::npos) << err;
  }
}

}  // namespace
}  // namespace corvalink
