#include "discovery/router_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "password/scrambler.h"
#include "sim_router.h"

namespace corvalink {
namespace {

struct Router {
  MacAddress mac;
  Ipv4 ip;
  std::string location;
  std::string password;  // at most 12 characters reach the table
};

// The reply such a router sends (mask 255.255.255.0).
Packet Reply(const Router& r) {
  sim::SimRouter s;
  s.mac = r.mac;
  s.ip = r.ip;
  std::copy_n(r.location.begin(), std::min(r.location.size(), LOCATION_SIZE), s.location.begin());
  s.password = r.password;
  return PadDatagram(sim::BuildSimSearchReply(s));
}

std::array<uint8_t, PASSWORD_SIZE> HeldPassword(const std::string& plain) {
  std::array<uint8_t, PASSWORD_SIZE> f{};
  std::copy_n(plain.begin(), std::min<std::size_t>(plain.size(), 12), f.begin());
  Scramble(f);
  return f;
}

Router Numbered(int n) {
  return {{0x02, 0, 0, 0, 0, static_cast<uint8_t>(n)},
          {10, 0, 0, static_cast<uint8_t>(n)},
          "room " + std::to_string(n),
          "pw" + std::to_string(n)};
}

TEST(RouterTable, StoresRoutersInArrivalOrderWithPasswordsScrambled) {
  RouterTable table;
  const Router a = Numbered(1), b = Numbered(2), c = Numbered(3);
  for (const Router& r : {a, b, c})
    EXPECT_EQ(table.Add(Reply(r)), AddResult::Added);
  ASSERT_EQ(table.Count(), 3);
  const Router order[] = {a, b, c};
  for (int i = 0; i < 3; ++i) {
    const RouterRecord& slot = table.Slot(i);
    EXPECT_EQ(slot.macAddress, order[i].mac) << i;
    EXPECT_EQ(slot.ipAddress, order[i].ip) << i;
    EXPECT_EQ(slot.ipMask, (Ipv4{255, 255, 255, 0})) << i;
    EXPECT_EQ(LocationText(slot), order[i].location) << i;
    EXPECT_EQ(slot.password, HeldPassword(order[i].password)) << i;
  }
}

TEST(RouterTable, SecondReplyFromAListedRouterChangesNothing) {
  RouterTable table;
  const Router first = Numbered(7);
  ASSERT_EQ(table.Add(Reply(first)), AddResult::Added);
  const RouterTable before = table;
  Router again = first;
  again.ip = {10, 9, 9, 9};
  again.location = "moved";
  again.password = "other";
  EXPECT_EQ(table.Add(Reply(again)), AddResult::Duplicate);
  EXPECT_EQ(table.Count(), 1);
  EXPECT_EQ(table.Slot(0), before.Slot(0));
}

TEST(RouterTable, ThirtyFirstRouterIsNeitherStoredNorListed) {
  RouterTable table;
  for (int i = 0; i < MAX_ROUTERS; ++i) {
    ASSERT_EQ(table.Add(Reply(Numbered(i))), AddResult::Added) << i;
  }
  const RouterTable full = table;
  EXPECT_EQ(table.Add(Reply(Numbered(99))), AddResult::TableFull);
  EXPECT_EQ(table.Add(Reply(Numbered(5))), AddResult::Duplicate);
  EXPECT_EQ(table.Count(), MAX_ROUTERS);
  EXPECT_EQ(table, full);
  // A new search makes room again.
  table.Clear();
  EXPECT_EQ(table.Add(Reply(Numbered(99))), AddResult::Added);
}

TEST(RouterTable, ReusedSlotHoldsTheSamePasswordAsAFreshOne) {
  RouterTable reused;
  // A 12-character password fills the reply's half of the field, so its scrambled form
  // reaches into bytes 12..23 of the slot.
  ASSERT_EQ(
      reused.Add(Reply({{2, 0, 0, 0, 0, 1}, {10, 0, 0, 1}, "", "abcdefghijkl"})),
      AddResult::Added);
  reused.Clear();
  const Router next{{2, 0, 0, 0, 0, 2}, {10, 0, 0, 2}, "", "pw"};
  ASSERT_EQ(reused.Add(Reply(next)), AddResult::Added);
  RouterTable fresh;
  ASSERT_EQ(fresh.Add(Reply(next)), AddResult::Added);
  EXPECT_EQ(reused.Slot(0).password, fresh.Slot(0).password);
  EXPECT_EQ(reused.Slot(0).password, HeldPassword("pw"));
}

TEST(MacText, UpperCaseDigitsWithoutSeparators) {
  EXPECT_EQ(MacText({0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}), "001A2B3C4D5E");
  EXPECT_EQ(MacText({0xFF, 0xA0, 0x09, 0x90, 0x0F, 0xF0}), "FFA009900FF0");
  std::array<char, 14> out;
  out.fill('#');
  MacToText(MacAddress{0, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, std::span<char, 12>(out.data() + 1, 12));
  EXPECT_EQ(std::string(out.data(), out.size()), "#001A2B3C4D5E#");
}

TEST(RouterTable, ListsNewestFirstAndFindsOnlyRoutersOfTheCurrentSearch) {
  RouterTable table;
  for (int i = 1; i <= 3; ++i) table.Add(Reply(Numbered(i)));
  EXPECT_EQ(table.NewestFirst(), (std::vector<int>{2, 1, 0}));
  EXPECT_EQ(table.FindByMac(Numbered(3).mac), 2);
  EXPECT_EQ(table.FindByMac(Numbered(4).mac), std::nullopt);

  // A second, smaller search: one router, in slot 0; slots 1 and 2 keep their old bytes but are
  // no longer reachable.
  table.Clear();
  EXPECT_TRUE(table.NewestFirst().empty());
  table.Add(Reply(Numbered(9)));
  ASSERT_EQ(table.Count(), 1);
  EXPECT_EQ(table.NewestFirst(), (std::vector<int>{0}));
  EXPECT_EQ(table.FindByMac(Numbered(2).mac), std::nullopt);
  EXPECT_EQ(table.FindByMac(Numbered(9).mac), 0);
}

TEST(RowCells, MacIpMaskAndLocationAsEveryListShowsThem) {
  RouterRecord r;
  r.macAddress = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0xFE};
  r.ipAddress = {10, 0, 0, 200};
  r.ipMask = {255, 255, 252, 0};
  std::copy_n("Caf\xE9\0junk", 10, r.location.begin());
  const RouterRowCells cells = RowCells(r);
  EXPECT_EQ(cells.mac, "001A2B3C4DFE");
  EXPECT_EQ(cells.ip, "10.0.0.200");
  EXPECT_EQ(cells.mask, "255.255.252.0");
  EXPECT_EQ(cells.location, "Caf\xE9");  // the router's own bytes, up to the NUL
}

TEST(LocationText, EndsAtTheNulOrTheField) {
  RouterRecord r;
  const std::string l23(23, 'L');
  std::copy(l23.begin(), l23.end(), r.location.begin());
  EXPECT_EQ(LocationText(r), l23);
  r.location[23] = 'X';  // no NUL in the field at all
  EXPECT_EQ(LocationText(r), l23 + "X");
  r.location[4] = '\0';
  EXPECT_EQ(LocationText(r), "LLLL");
}

}  // namespace
}  // namespace corvalink
