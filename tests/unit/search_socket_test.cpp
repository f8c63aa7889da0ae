#include "discovery/search_socket.h"

#include <gtest/gtest.h>

#include <vector>

#include "fake_net.h"
#include "platform/socket_layer.h"
#include "test_system.h"

namespace corvalink {
namespace {

const Ipv4 LOOPBACK{127, 0, 0, 1};

// Readiness as the owner's event loop sees it: a wait on the handle it watches.
bool Readable(SocketHandle fd, int timeoutMs = 2000) {
  SocketWait w{fd};
  return WaitForReadable({&w, 1}, timeoutMs, nullptr) == WaitStatus::Ready && w.readable;
}

/// A search socket on a real loopback socket, whose accepted replies go to a router table.
class SearchSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_search.Create());
    auto peer = UdpSocket::Open({LOOPBACK, 0});
    ASSERT_TRUE(peer);
    m_router = std::move(*peer);
  }

  Endpoint RouterEndpoint() const { return {LOOPBACK, m_router.LocalPort()}; }

  /// Sends `bytes` from the "router" to the search socket and runs one notification.
  void Deliver(const std::vector<uint8_t>& bytes) {
    ASSERT_EQ(m_router.SendTo(bytes, {LOOPBACK, m_search.LocalPort()}), int(bytes.size()));
    ASSERT_TRUE(Readable(m_search.Descriptor()));
    m_search.OnReceive(0);
  }

  RouterTable m_table;
  std::vector<Packet> m_replies;
  CSearchSocket m_search{[this](const Packet& reply) {
    m_replies.push_back(reply);
    AddRouterFromReply(m_table, reply);
  }};
  UdpSocket m_router;
};

TEST_F(SearchSocketTest, SearchSendsTheRequestFromAPortTheSystemChose) {
  ASSERT_EQ(test::SocketBroadcast(m_search.Descriptor()), false) << "broadcast is allowed only per search";
  m_table.routerCount = 4;
  EXPECT_EQ(StartSearch(m_table, m_search, RouterEndpoint()), int(PACKET_SIZE));
  EXPECT_EQ(m_table.routerCount, 0);
  EXPECT_EQ(test::SocketBroadcast(m_search.Descriptor()), true);

  ASSERT_TRUE(m_router.WaitReadable(2000));
  std::array<uint8_t, 100> got{};
  Endpoint from;
  ASSERT_EQ(m_router.ReceiveFrom(got, &from), int(PACKET_SIZE));
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + PACKET_SIZE, BuildSearchRequest().begin()));
  EXPECT_NE(from.port, 0);
  EXPECT_NE(from.port, DISCOVERY_PORT);
  EXPECT_EQ(from.port, m_search.LocalPort());
}

TEST_F(SearchSocketTest, RepliesAreTestedAndPaddedOnePerNotification) {
  // Before any search: listed all the same.
  Deliver({0xDD, 0x80});
  ASSERT_EQ(m_replies.size(), 1u);
  EXPECT_EQ(m_replies[0], (Packet{0xDD, 0x80}));
  Deliver({0xDD, 0x82, 0x00, 0x36});  // an upgrade reply is not a search reply
  Deliver({0x00});
  Deliver({});
  EXPECT_EQ(m_replies.size(), 1u);

  std::vector<uint8_t> longReply(66, 0x11);
  longReply[0] = 0xDD;
  longReply[1] = 0x80;
  longReply[17] = 0x01;  // last MAC byte: a router other than the all-zero one
  Deliver(longReply);
  ASSERT_EQ(m_replies.size(), 2u);
  EXPECT_EQ(m_replies[1], PadDatagram(longReply));
  EXPECT_EQ(m_table.routerCount, 2);
  // The 12 bytes past 54 are lost, not left for the next read.
  EXPECT_FALSE(Readable(m_search.Descriptor(), 0));
}

TEST_F(SearchSocketTest, LateReplyToAnEarlierSearchJoinsTheCurrentList) {
  StartSearch(m_table, m_search, RouterEndpoint());
  Deliver({0xDD, 0x80, 0, 0x36, 10, 0, 0, 1, 255, 0, 0, 0, 2, 0, 0, 0, 0, 1});
  StartSearch(m_table, m_search, RouterEndpoint());
  ASSERT_EQ(m_table.routerCount, 0);
  Deliver({0xDD, 0x80, 0, 0x36, 10, 0, 0, 2, 255, 0, 0, 0, 2, 0, 0, 0, 0, 2});
  ASSERT_EQ(m_table.routerCount, 1);
  EXPECT_EQ(m_table.slots[0].ipAddress, (Ipv4{10, 0, 0, 2}));
}

TEST(SearchSocket, EveryLengthOfAReplyIsReadAsItsFirst54BytesThenZeros) {
  FakeClock clock;
  FakeNet net(clock);
  const Endpoint router{LOOPBACK, DISCOVERY_PORT};
  std::vector<Packet> replies;
  CSearchSocket search([&](const Packet& p) { replies.push_back(p); });
  search.Adopt(net.OpenSocket());
  std::vector<uint8_t> full(70);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(0xA0 + i);
  full[0] = 0xDD;
  full[1] = 0x80;
  for (std::size_t n = 0; n <= full.size(); ++n) {
    // A full reply first, so stale bytes from it would show in the shorter one.
    net.Deliver(full, router);
    net.Deliver(std::vector<uint8_t>(full.begin(), full.begin() + n), router);
    search.OnReceive(0);
    search.OnReceive(0);
    ASSERT_EQ(replies.size(), n >= 2 ? 2u : 1u) << n;
    if (n >= 2) {
      EXPECT_EQ(replies.back(), PadDatagram(std::span(full).first(n))) << n;
    }
    replies.clear();
  }
  // A failed read hands nothing on, whatever the buffer held before.
  net.Deliver(full, router);
  net.DeliverReadError();
  search.OnReceive(0);
  search.OnReceive(0);
  EXPECT_EQ(replies.size(), 1u);
}

TEST(SearchSocket, BurstReadsWhatIsWaitingUpToItsBoundAndStopsAtAFailedRead) {
  FakeClock clock;
  FakeNet net(clock);
  std::vector<uint8_t> macs;
  CSearchSocket search([&](const Packet& p) { macs.push_back(p[17]); });  // last MAC byte
  search.Adopt(net.OpenSocket());
  for (uint8_t mac : {1, 0, 2, 3, 4}) {
    if (mac == 4) net.DeliverReadError();
    // MAC 0 goes as junk: read, counted, not handed on.
    net.Deliver({0xDD, uint8_t(mac ? 0x80 : 0x81), 0, 0x36, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, mac},
                {LOOPBACK, DISCOVERY_PORT});
  }
  EXPECT_EQ(search.ReceiveBurst(3), 3);
  EXPECT_EQ(search.ReceiveBurst(9), 1) << "the failed read ends the burst";
  EXPECT_EQ(search.ReceiveBurst(9), 1);
  EXPECT_EQ(search.ReceiveBurst(9), 0) << "nothing waiting";
  EXPECT_EQ(macs, (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(SearchSocket, ClosedSocketSendsNothingAndClosesTwiceQuietly) {
  CSearchSocket search(nullptr);
  RouterTable table;
  EXPECT_EQ(StartSearch(table, search, {LOOPBACK, 9}), -1);
  ASSERT_TRUE(search.Create());
  EXPECT_NE(search.Descriptor(), -1);
  search.Close();
  search.Close();
  EXPECT_FALSE(search.IsOpen());
  EXPECT_EQ(search.Descriptor(), -1);
  EXPECT_EQ(search.SendSearch({LOOPBACK, 9}), -1);
  search.OnReceive(0);  // a stray notification after closing reads nothing
}

}  // namespace
}  // namespace corvalink
