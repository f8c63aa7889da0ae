#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "fake_net.h"
#include "password/scrambler.h"
#include "upgrade/progress_bar.h"
#include "upgrade/upgrade_formats.h"
#include "upgrade/upgrade_socket.h"

namespace corvalink {
namespace {

const Ipv4 LOOPBACK{127, 0, 0, 1};

RouterRecord Router() {
  RouterRecord r;
  r.ipAddress = {192, 168, 1, 1};
  r.ipMask = {255, 255, 255, 0};
  r.macAddress = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  const char location[] = "not sent";
  std::copy(std::begin(location), std::end(location), r.location.begin());
  const char plain[] = "secret";
  std::copy(std::begin(plain), std::end(plain), r.password.begin());
  Scramble(r.password);
  return r;
}

TEST(UpgradeRequest, CarriesTheRecordAsHeld) {
  const RouterRecord r = Router();
  std::vector<uint8_t> expected = {
      0xDD,                                // magic
      0x82,                                // type: upgrade
      0x00, 0x36,                          // length 54, big-endian
      0xC0, 0xA8, 0x01, 0x01,              // ipAddress 192.168.1.1
      0xFF, 0xFF, 0xFF, 0x00,              // ipMask 255.255.255.0
      0x02, 0x11, 0x22, 0x33, 0x44, 0x55,  // macAddress
  };
  expected.insert(expected.end(), r.password.begin(), r.password.end());  // 24, scrambled
  expected.insert(expected.end(), 12, 0x00);                              // zero
  ASSERT_EQ(expected.size(), PACKET_SIZE);
  const Packet p = BuildUpgradeRequest(r);
  EXPECT_EQ(std::vector<uint8_t>(p.begin(), p.end()), expected);
}

TEST(CUpgradeSocket, SendsFromItsOwnPortAndStopsAtTheReply) {
  bool acknowledged = false;
  CUpgradeSocket socket(acknowledged);
  ASSERT_TRUE(socket.Create());
  auto opened = UdpSocket::Open({LOOPBACK, 0});
  ASSERT_TRUE(opened);
  UdpSocket router = std::move(*opened);

  const Packet request = BuildUpgradeRequest(Router());
  EXPECT_EQ(socket.SendRequest(request, {LOOPBACK, router.LocalPort()}), int(PACKET_SIZE));
  ASSERT_TRUE(router.WaitReadable(2000));
  Packet got{};
  Endpoint from;
  ASSERT_EQ(router.ReceiveFrom(got, &from), int(PACKET_SIZE));
  EXPECT_EQ(got, request);
  ASSERT_EQ(from.port, socket.LocalPort());

  // A search reply is dropped; the handshake goes on.
  router.SendTo(std::vector<uint8_t>{0xDD, 0x80}, from);
  ASSERT_GE(socket.Descriptor(), 0);
  // Readiness through the socket layer's wait on the handle the owner would watch.
  SocketWait w{socket.Descriptor()};
  ASSERT_EQ(WaitForReadable({&w, 1}, 2000, nullptr), WaitStatus::Ready);
  socket.OnReceive(0);
  EXPECT_FALSE(acknowledged);
  EXPECT_TRUE(socket.IsOpen());

  router.SendTo(std::vector<uint8_t>{0xDD, 0x82}, from);
  ASSERT_EQ(WaitForReadable({&w, 1}, 2000, nullptr), WaitStatus::Ready);
  socket.OnReceive(0);
  EXPECT_TRUE(acknowledged);
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_EQ(socket.SendRequest(request, {LOOPBACK, router.LocalPort()}), -1);
  socket.Close();  // closing again does nothing
}

TEST(CUpgradeSocket, EachDatagramIsJudgedOnItsOwnBytes) {
  const struct {
    std::vector<std::optional<std::vector<uint8_t>>> datagrams;
    bool acknowledged;
  } cases[] = {
      {{std::vector<uint8_t>{0xDD, 0x82}}, true},
      {{std::vector<uint8_t>(66, 0xDD)}, false},
      // A one-byte DD after a datagram whose second byte was 82 must not borrow that byte.
      {{std::vector<uint8_t>{0x00, 0x82}, std::vector<uint8_t>{0xDD}}, false},
      {{std::vector<uint8_t>{0xDD, 0x82, 0x00}, std::nullopt}, true},
      {{std::nullopt, std::vector<uint8_t>{}}, false},
  };
  for (const auto& c : cases) {
    bool acknowledged = false;
    FakeClock clock;
    FakeNet net(clock);
    CUpgradeSocket socket(acknowledged);
    for (const auto& d : c.datagrams) {
      if (d) {
        net.Deliver(*d, {LOOPBACK, DISCOVERY_PORT});
      } else {
        net.DeliverReadError();
      }
    }
    socket.Adopt(net.OpenSocket());
    for (std::size_t i = 0; i < c.datagrams.size(); ++i) socket.OnReceive(0);
    EXPECT_EQ(acknowledged, c.acknowledged) << c.datagrams.size();
    EXPECT_EQ(socket.IsOpen(), !c.acknowledged);
  }
}

TEST(CUpgradeSocket, CreatingAgainClosesTheEarlierSocket) {
  bool acknowledged = false;
  FakeClock clock;
  FakeNet net(clock);
  CUpgradeSocket socket(acknowledged);
  socket.Adopt(net.OpenSocket());
  ASSERT_TRUE(socket.Create());
  EXPECT_EQ(net.socketsClosed, 1);
  EXPECT_GT(socket.LocalPort(), 0);
}

/// Counts the redraws a window's bar would make.
class CountingProgress : public ProgressModel {
 public:
  int changes = 0;

 protected:
  void OnChanged() override { ++changes; }
};

TEST(ProgressModel, StepItWrapsToTheBottomAfterPassingTheTop) {
  CountingProgress bar;
  bar.SetRange(0, 5);
  bar.SetStep(1);
  std::vector<int> seen;
  for (int i = 0; i < 12; ++i) {
    bar.StepIt();
    seen.push_back(bar.GetPos());
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(bar.changes, 14);

  bar.SetRange32(10, 20);  // the position is pulled into the new range
  EXPECT_EQ(bar.GetPos(), 10);
  bar.SetStep(4);
  seen.clear();
  for (int i = 0; i < 4; ++i) {
    bar.StepIt();
    seen.push_back(bar.GetPos());
  }
  EXPECT_EQ(seen, (std::vector<int>{14, 18, 10, 14}));
}

TEST(ProgressModel, RangesAndPositionsAreBounded) {
  ProgressModel bar;
  bar.SetRange(0, 70000);  // the 16-bit form keeps the low 16 bits
  EXPECT_EQ(bar.GetRangeHigh(), 70000 - 65536);
  bar.SetRange(-1, 5);
  EXPECT_EQ(bar.GetRangeLow(), 65535);
  bar.SetRange32(0, 70000);
  EXPECT_EQ(bar.GetRangeHigh(), 70000);
  const struct {
    int set, expect;
  } cases[] = {{-3, 0}, {0, 0}, {69999, 69999}, {70000, 70000}, {70001, 70000}};
  for (const auto& c : cases) {
    bar.SetPos(c.set);
    EXPECT_EQ(bar.GetPos(), c.expect) << c.set;
  }
  bar.SetStep(0x7FFFFFFF);  // a step that would overflow wraps to the bottom
  bar.StepIt();
  EXPECT_EQ(bar.GetPos(), 0);
}

}  // namespace
}  // namespace corvalink
