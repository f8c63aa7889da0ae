#include "upgrade/handshake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/udp_socket.h"
#include "upgrade/upgrade_formats.h"

namespace corvalink {
namespace {

const Ipv4 LOOPBACK{127, 0, 0, 1};
constexpr uint32_t SLACK_MS = 1500;

struct Received {
  std::vector<uint8_t> bytes;
  uint32_t atMs;
};

// The test plays the router: a loopback socket that the handshake sends to.
struct HandshakeRig {
  HandshakeRig() {
    auto s = UdpSocket::Open({LOOPBACK, 0});
    EXPECT_TRUE(s);
    if (s) router = std::move(*s);
    EXPECT_TRUE(socket.Create());
    record.ipAddress = {192, 168, 1, 1};
    record.ipMask = {255, 255, 255, 0};
    record.macAddress = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    record.password.fill(0x5A);
  }

  HandshakeResult Run(HandshakeOptions options) {
    // Reads (and answers, through onRequestSent) each request right after it was sent.
    auto user = options.onRequestSent;
    options.onRequestSent = [this, user](int n) {
      std::array<uint8_t, 100> buf{};
      Endpoint from;
      if (router.WaitReadable(1000)) {
        const int got = router.ReceiveFrom(buf, &from);
        if (got >= 0) received.push_back({{buf.begin(), buf.begin() + got}, clock.NowMs()});
        replyTo = from;
      }
      if (user) user(n);
    };
    return RunUpgradeHandshake(socket, acknowledged, record, {LOOPBACK, router.LocalPort()},
                               clock, options);
  }

  void Answer(std::vector<uint8_t> bytes) { router.SendTo(bytes, replyTo); }

  UdpSocket router;
  bool acknowledged = false;
  CUpgradeSocket socket{acknowledged};
  RouterRecord record;
  MsClock clock;
  std::vector<Received> received;
  Endpoint replyTo;
};

TEST(RunUpgradeHandshake, RepeatsTheSameRequestAtTheIntervalUntilTheTimeRunsOut) {
  HandshakeRig rig;
  HandshakeOptions options;
  options.intervalMs = 100;
  options.timeoutMs = 350;
  const uint32_t start = rig.clock.NowMs();
  const HandshakeResult r = rig.Run(options);
  const uint32_t took = ElapsedMs(start, rig.clock.NowMs());

  EXPECT_EQ(r.end, HandshakeEnd::Timeout);
  ASSERT_EQ(static_cast<int>(rig.received.size()), r.requestsSent);
  // At 0, 100, 200 and 300 ms; a busy machine may squeeze out the last one.
  EXPECT_GE(r.requestsSent, 3);
  EXPECT_LE(r.requestsSent, 4);
  const Packet expected = BuildUpgradeRequest(rig.record);
  for (std::size_t i = 0; i < rig.received.size(); ++i) {
    EXPECT_EQ(rig.received[i].bytes, std::vector<uint8_t>(expected.begin(), expected.end())) << i;
    if (i > 0) EXPECT_GE(ElapsedMs(rig.received[i - 1].atMs, rig.received[i].atMs), 90u) << i;
  }
  EXPECT_GE(took, 350u);
  EXPECT_LT(took, 350u + SLACK_MS);
  EXPECT_FALSE(rig.acknowledged);
}

TEST(RunUpgradeHandshake, StopsSendingOnceTheRouterAcknowledges) {
  HandshakeRig rig;
  HandshakeOptions options;
  options.intervalMs = 100;
  options.timeoutMs = 5000;
  options.onRequestSent = [&](int n) {
    // A search reply is not an acknowledgement; the upgrade reply after the second request is.
    if (n == 1) rig.Answer({0xDD, 0x80});
    if (n == 2) rig.Answer({0xDD, 0x82});
  };
  const HandshakeResult r = rig.Run(options);
  EXPECT_EQ(r.end, HandshakeEnd::Acknowledged);
  EXPECT_EQ(r.requestsSent, 2);
  EXPECT_TRUE(rig.acknowledged);
  EXPECT_FALSE(rig.socket.IsOpen());
  EXPECT_FALSE(rig.router.WaitReadable(300)) << "a request was sent after the acknowledgement";
}

TEST(RunUpgradeHandshake, StopTestEndsItWithoutAnotherRequest) {
  HandshakeRig rig;
  HandshakeOptions options;
  options.intervalMs = 100;
  options.timeoutMs = 5000;
  bool stop = false;
  options.stop = [&] { return stop; };
  options.onRequestSent = [&](int) { stop = true; };
  const uint32_t start = rig.clock.NowMs();
  const HandshakeResult r = rig.Run(options);
  EXPECT_EQ(r.end, HandshakeEnd::Stopped);
  EXPECT_EQ(r.requestsSent, 1);
  EXPECT_LT(ElapsedMs(start, rig.clock.NowMs()), SLACK_MS);
}

// What a window's timer gets from each tick: the request to the field's address, nothing for a
// field that holds no address, and no request at all once the router has answered.
TEST(UpgradeHandshake, EachTickSendsTheRequestToTheFieldsAddressUntilAcknowledged) {
  HandshakeRig rig;
  UpgradeHandshake handshake(rig.socket, rig.acknowledged);
  handshake.Start(rig.record);
  struct Case {
    std::string field;
    bool arrives;
  } cases[] = {{"127.0.0.1", true}, {"", false}, {"127.0.0.300", false}, {"127.0.0.1 x", false}};
  int ticks = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(handshake.Tick(c.field, rig.router.LocalPort()),
              UpgradeHandshake::Step::RequestSent);
    EXPECT_EQ(handshake.RequestsSent(), ++ticks);
    EXPECT_EQ(rig.router.WaitReadable(c.arrives ? 1000 : 50), c.arrives);
    if (c.arrives) {
      std::array<uint8_t, 100> buf{};
      ASSERT_EQ(rig.router.ReceiveFrom(buf, nullptr), static_cast<int>(PACKET_SIZE));
      const Packet expected = BuildUpgradeRequest(rig.record);
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buf.begin()));
    }
  }
  rig.acknowledged = true;
  EXPECT_EQ(handshake.Tick({{LOOPBACK, rig.router.LocalPort()}}),
            UpgradeHandshake::Step::Acknowledged);
  EXPECT_FALSE(rig.router.WaitReadable(50)) << "a request was sent after the acknowledgement";
  handshake.Start(rig.record);
  EXPECT_EQ(handshake.RequestsSent(), 0);
}

// A window's side of the ticks: what it was asked to do, in order, with the socket's and the
// bar's state at each call.
struct FakeWindow : HandshakeWindow {
  FakeWindow(const CUpgradeSocket& s, const ProgressModel& b) : socket(s), bar(b) {}
  std::string RouterAddressField() const override { return field; }
  void EnableSendButton() override { Note("enable Send"); }
  void StopPollTimer() override { Note("stop timer"); }
  void StopWatchingSocket() override { Note("stop watching"); }
  void StartTransfer() override { Note("transfer"); }
  void Note(const std::string& what) {
    calls.push_back(what + (socket.IsOpen() ? " open" : " closed") + " bar " +
                    std::to_string(bar.GetPos()));
  }
  const CUpgradeSocket& socket;
  const ProgressModel& bar;
  std::string field = "127.0.0.1";
  std::vector<std::string> calls;
};

TEST(UpgradeHandshake, WindowTicksStepTheBarThenHandOverToTheTransfer) {
  HandshakeRig rig;
  ProgressModel bar;
  // As an earlier opening's transfer left it: full.
  bar.SetRange(0, 6);
  bar.SetPos(6);
  UpgradeHandshake handshake(rig.socket, rig.acknowledged);
  handshake.Open(rig.record, bar);
  EXPECT_EQ(bar.GetPos(), 0);
  EXPECT_EQ(bar.GetRangeHigh(), HANDSHAKE_BAR_TOP);
  EXPECT_EQ(bar.GetStep(), 1);

  FakeWindow window(rig.socket, bar);
  const uint16_t port = rig.router.LocalPort();
  std::vector<int> positions;
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(handshake.OnPollTimer(window, bar, port), UpgradeHandshake::Step::RequestSent);
    positions.push_back(bar.GetPos());
    std::array<uint8_t, 100> buf{};
    ASSERT_TRUE(rig.router.WaitReadable(1000)) << "tick " << i;
    EXPECT_EQ(rig.router.ReceiveFrom(buf, nullptr), static_cast<int>(PACKET_SIZE));
  }
  EXPECT_EQ(positions, (std::vector<int>{1, 2, 3, 4, 5, 0, 1}));
  EXPECT_TRUE(window.calls.empty());

  rig.acknowledged = true;
  EXPECT_EQ(handshake.OnPollTimer(window, bar, port), UpgradeHandshake::Step::Acknowledged);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"enable Send open bar 1",
                                                    "stop timer open bar 1",
                                                    "stop watching open bar 1",
                                                    "transfer closed bar 0"}));
  EXPECT_FALSE(rig.router.WaitReadable(50)) << "a request was sent after the acknowledgement";
}

}  // namespace
}  // namespace corvalink
