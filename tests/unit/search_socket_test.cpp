#include "discovery/search_socket.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
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
    m_table.Add(reply);
  }};
  UdpSocket m_router;
};

TEST_F(SearchSocketTest, SearchSendsTheRequestFromAPortTheSystemChose) {
  ASSERT_EQ(test::SocketBroadcast(m_search.Descriptor()), false) << "broadcast is allowed only per search";
  m_table.Add(Packet{0xDD, 0x80});  // a router of an earlier search
  EXPECT_EQ(StartSearch(m_table, m_search, RouterEndpoint()), int(PACKET_SIZE));
  EXPECT_EQ(m_table.Count(), 0);
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
  EXPECT_EQ(m_table.Count(), 2);
  // The 12 bytes past 54 are lost, not left for the next read.
  EXPECT_FALSE(Readable(m_search.Descriptor(), 0));
}

TEST_F(SearchSocketTest, LateReplyToAnEarlierSearchJoinsTheCurrentList) {
  StartSearch(m_table, m_search, RouterEndpoint());
  Deliver({0xDD, 0x80, 0, 0x36, 10, 0, 0, 1, 255, 0, 0, 0, 2, 0, 0, 0, 0, 1});
  StartSearch(m_table, m_search, RouterEndpoint());
  ASSERT_EQ(m_table.Count(), 0);
  Deliver({0xDD, 0x80, 0, 0x36, 10, 0, 0, 2, 255, 0, 0, 0, 2, 0, 0, 0, 0, 2});
  ASSERT_EQ(m_table.Count(), 1);
  EXPECT_EQ(m_table.Slot(0).ipAddress, (Ipv4{10, 0, 0, 2}));
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


// A socket on one interface of a scripted host: it logs what it sends under the interface's
// name and reads what the test queued for it.
class InterfaceSocket : public DatagramSocket {
 public:
  struct Sent {
    std::string via;
    std::vector<uint8_t> bytes;
    Endpoint to;
    bool broadcastAllowed;
  };
  InterfaceSocket(std::string via, std::vector<Sent>& log, std::vector<std::string>* closed = nullptr)
      : m_via(std::move(via)), m_log(log), m_closed(closed) {}
  ~InterfaceSocket() override { Close(); }
  bool IsOpen() const override { return m_open; }
  int SendTo(std::span<const uint8_t> data, const Endpoint& to) override {
    if (!m_open) return -1;
    m_log.push_back({m_via, {data.begin(), data.end()}, to, m_broadcast});
    return static_cast<int>(data.size());
  }
  int ReceiveFrom(std::span<uint8_t> buffer, Endpoint* from) override {
    if (!m_open || incoming.empty()) return -1;
    const std::vector<uint8_t> d = incoming.front();
    incoming.pop_front();
    const std::size_t n = std::min(d.size(), buffer.size());
    std::copy_n(d.begin(), n, buffer.begin());
    if (from != nullptr) *from = {{198, 18, 0, 10}, DISCOVERY_PORT};
    return static_cast<int>(n);
  }
  bool WaitReadable(int) override { return !incoming.empty(); }
  bool SetBroadcast(bool on) override {
    m_broadcast = on;
    return true;
  }
  void Close() override {
    if (m_open && m_closed != nullptr) m_closed->push_back(m_via);
    m_open = false;
  }

  std::deque<std::vector<uint8_t>> incoming;

 private:
  std::string m_via;
  std::vector<Sent>& m_log;
  std::vector<std::string>* m_closed;
  bool m_open = true;
  bool m_broadcast = false;
};

// A host whose interfaces a test sets, with every socket opened on them kept for inspection.
struct ScriptedHost {
  std::vector<InterfaceAddress> interfaces;
  std::vector<InterfaceSocket::Sent> sent;
  std::map<std::string, InterfaceSocket*> open;  // by interface name, the latest socket
  std::vector<std::string> closed;                // interfaces whose socket was closed, in turn
  int opened = 0;
  std::string refuse;  // an interface on which no socket can be opened

  void Add(const std::string& name, Ipv4 address) {
    InterfaceAddress a;
    a.name = name;
    a.address = address;
    a.mask = Ipv4{255, 255, 255, 0};
    a.up = true;
    a.broadcastCapable = true;
    interfaces.push_back(a);
  }
  InterfaceAccess Access() {
    return {[this](std::vector<InterfaceAddress>* out, std::string*) {
              *out = interfaces;
              return true;
            },
            [this](const InterfaceAddress& a, std::string* err) -> std::unique_ptr<DatagramSocket> {
              if (a.name == refuse) {
                *err = "address not available";
                return nullptr;
              }
              ++opened;
              auto s = std::make_unique<InterfaceSocket>(a.name, sent, &closed);
              open[a.name] = s.get();
              return s;
            }};
  }
};

std::vector<uint8_t> ReplyFromMac(uint8_t mac) {
  std::vector<uint8_t> r(PACKET_SIZE, 0);
  r[0] = 0xDD;
  r[1] = 0x80;
  r[17] = mac;
  return r;
}

TEST(SearchSocket, LimitedBroadcastLeavesByEveryInterfaceOnceAndRepliesNameTheirInterface) {
  ScriptedHost host;
  host.Add("eth0", {198, 18, 0, 1});
  host.Add("wlan0", {198, 18, 1, 1});
  std::vector<InterfaceSocket::Sent> mainSent;
  std::vector<std::pair<uint8_t, std::string>> arrivals;
  CSearchSocket search(nullptr);
  search.SetArrivalHandler([&](const Packet& p, const ReplyArrival& a) {
    arrivals.emplace_back(p[17], a.interfaceName + " " + Ipv4ToText(a.localAddress));
  });
  search.Adopt(std::make_unique<InterfaceSocket>("any", mainSent));
  search.SetInterfaceAccess(host.Access());
  RouterTable table;
  const Endpoint limited{{255, 255, 255, 255}, DISCOVERY_PORT};

  ASSERT_EQ(StartSearch(table, search, limited), int(PACKET_SIZE));
  ASSERT_EQ(host.sent.size(), 2u);
  const Packet request = BuildSearchRequest();
  for (const auto& s : host.sent) {
    EXPECT_EQ(s.bytes, std::vector<uint8_t>(request.begin(), request.end())) << s.via;
    EXPECT_EQ(s.to, limited);
    EXPECT_TRUE(s.broadcastAllowed) << s.via;
  }
  EXPECT_EQ(host.sent[0].via, "eth0");
  EXPECT_EQ(host.sent[1].via, "wlan0");
  EXPECT_TRUE(mainSent.empty()) << "nothing leaves by whatever way the routes pick";
  EXPECT_EQ(search.LastSearchDatagrams(), 2);

  host.open["wlan0"]->incoming.push_back(ReplyFromMac(2));
  host.open["eth0"]->incoming.push_back(ReplyFromMac(1));
  host.open["eth0"]->incoming.push_back({0xDD, 0x82});  // not a search reply
  EXPECT_EQ(search.ReceiveBurst(10), 3);
  EXPECT_EQ(arrivals, (std::vector<std::pair<uint8_t, std::string>>{
                          {1, "eth0 198.18.0.1"}, {2, "wlan0 198.18.1.1"}}));

  // The next search keeps the sockets of interfaces that stay (a late reply still reaches
  // one), closes the one of an interface that went, and opens one for a new interface.
  InterfaceSocket* eth0 = host.open["eth0"];
  host.interfaces.erase(host.interfaces.begin() + 1);
  host.Add("usb0", {198, 18, 9, 1});
  host.sent.clear();
  ASSERT_EQ(StartSearch(table, search, limited), int(PACKET_SIZE));
  EXPECT_EQ(host.opened, 3);
  EXPECT_EQ(host.open["eth0"], eth0);
  EXPECT_EQ(host.closed, std::vector<std::string>{"wlan0"});
  ASSERT_EQ(host.sent.size(), 2u);
  EXPECT_EQ(host.sent[1].via, "usb0");

  // One interface that cannot be used does not keep the request from the others.
  host.refuse = "usb0";
  host.open.erase("usb0");
  host.interfaces.back().address = Ipv4{198, 18, 9, 2};  // a new address: a new socket
  host.sent.clear();
  ASSERT_EQ(StartSearch(table, search, limited), int(PACKET_SIZE));
  ASSERT_EQ(search.LegCount(), 2u);
  EXPECT_EQ(search.Leg(1).sent, -1);
  EXPECT_EQ(search.Leg(1).error, "address not available");
  EXPECT_EQ(host.sent.size(), 1u);

  // Any other destination is one datagram from the socket on any address.
  host.sent.clear();
  ASSERT_EQ(StartSearch(table, search, {{198, 18, 2, 255}, DISCOVERY_PORT}), int(PACKET_SIZE));
  EXPECT_TRUE(host.sent.empty());
  EXPECT_EQ(mainSent.size(), 1u);

  search.Close();
  EXPECT_EQ(host.closed, (std::vector<std::string>{"wlan0", "usb0", "eth0"}));
  EXPECT_EQ(search.LegCount(), 0u);
}

TEST(SearchSocket, WithoutAnyUsableInterfaceTheOneRequestGoesAsBefore) {
  ScriptedHost host;
  host.Add("eth0", {198, 18, 0, 1});
  host.interfaces[0].up = false;
  std::vector<InterfaceSocket::Sent> mainSent;
  CSearchSocket search(nullptr);
  search.Adopt(std::make_unique<InterfaceSocket>("any", mainSent));
  search.SetInterfaceAccess(host.Access());
  RouterTable table;
  EXPECT_EQ(StartSearch(table, search, {{255, 255, 255, 255}, DISCOVERY_PORT}), int(PACKET_SIZE));
  EXPECT_EQ(host.opened, 0);
  ASSERT_EQ(mainSent.size(), 1u);
  EXPECT_TRUE(mainSent[0].broadcastAllowed);

  // A fake socket on any address without interfaces given never reaches the real ones.
  CSearchSocket fake(nullptr);
  fake.Adopt(std::make_unique<InterfaceSocket>("any", mainSent));
  EXPECT_EQ(StartSearch(table, fake, {{255, 255, 255, 255}, DISCOVERY_PORT}), int(PACKET_SIZE));
  EXPECT_EQ(fake.LegCount(), 0u);
  EXPECT_EQ(mainSent.size(), 2u);
}

}  // namespace
}  // namespace corvalink
