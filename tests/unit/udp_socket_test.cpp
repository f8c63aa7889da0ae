#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/socket_layer.h"
#include "test_system.h"

namespace corvalink {
namespace {

// Everything here stays on loopback with ports the system chooses.
constexpr Ipv4 LOOPBACK{127, 0, 0, 1};

std::vector<uint8_t> Pattern(std::size_t n) {
  std::vector<uint8_t> bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

struct Pair {
  UdpSocket a, b;
  Endpoint AtB() const { return {LOOPBACK, b.LocalPort()}; }
};

Pair OpenPair() {
  std::optional<UdpSocket> a = UdpSocket::Open({LOOPBACK, 0});
  std::optional<UdpSocket> b = UdpSocket::Open({LOOPBACK, 0});
  EXPECT_TRUE(a && b);
  return {a ? std::move(*a) : UdpSocket(), b ? std::move(*b) : UdpSocket()};
}

TEST(SocketLayer, InitializesOnThisSystem) { EXPECT_TRUE(InitializeSocketLayer()); }

TEST(UdpSocket, SendsAndReceivesOnLoopbackWithTheSendersAddress) {
  Pair p = OpenPair();
  ASSERT_NE(p.a.LocalPort(), 0);
  std::vector<uint8_t> sent = Pattern(54);
  ASSERT_EQ(p.a.SendTo(sent, p.AtB()), 54);
  ASSERT_TRUE(p.b.WaitReadable(2000));
  std::vector<uint8_t> got(54);
  Endpoint from;
  ASSERT_EQ(p.b.ReceiveFrom(got, &from), 54);
  EXPECT_EQ(got, sent);
  EXPECT_EQ(from, (Endpoint{LOOPBACK, p.a.LocalPort()}));
  // Nothing more is waiting, and a read without data fails at once instead of blocking.
  EXPECT_FALSE(p.b.WaitReadable(0));
  EXPECT_EQ(p.b.ReceiveFrom(got, nullptr), -1);
}

TEST(UdpSocket, LongDatagramIsCutToTheBufferAndItsRestIsLost) {
  Pair p = OpenPair();
  std::vector<uint8_t> sent = Pattern(66);
  ASSERT_EQ(p.a.SendTo(sent, p.AtB()), 66);
  ASSERT_EQ(p.a.SendTo(std::span(sent).first(3), p.AtB()), 3);
  ASSERT_TRUE(p.b.WaitReadable(2000));
  std::vector<uint8_t> got(54, 0xEE);
  ASSERT_EQ(p.b.ReceiveFrom(got, nullptr), 54);
  EXPECT_EQ(got, std::vector<uint8_t>(sent.begin(), sent.begin() + 54));
  // The next read is the next datagram, not the 12 bytes cut from the first.
  ASSERT_TRUE(p.b.WaitReadable(2000));
  ASSERT_EQ(p.b.ReceiveFrom(got, nullptr), 3);
  EXPECT_EQ(got[0], sent[0]);
}

TEST(UdpSocket, WaitReadableTimesOut) {
  Pair p = OpenPair();
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(p.b.WaitReadable(50));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(45));
  EXPECT_LT(waited, std::chrono::milliseconds(2000));
}

// The one-call read with a timeout: a queued datagram comes at once whatever the timeout, an
// empty socket times out after about the time asked (also when the timeout changes between
// calls), and 0 does not wait at all.
TEST(UdpSocket, ReceiveWithinReadsQueuedDatagramsAndTimesOutAsAsked) {
  Pair p = OpenPair();
  std::vector<uint8_t> got(8);
  Endpoint from;
  for (int timeoutMs : {0, 30, 2000}) {
    ASSERT_EQ(p.a.SendTo(Pattern(5), p.AtB()), 5);
    ASSERT_TRUE(p.b.WaitReadable(2000));
    EXPECT_EQ(p.b.ReceiveWithin(got, &from, timeoutMs), 5) << timeoutMs;
    EXPECT_EQ(from, (Endpoint{LOOPBACK, p.a.LocalPort()}));
  }
  for (int timeoutMs : {0, 40, 80, 40}) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.b.ReceiveWithin(got, nullptr, timeoutMs), RECEIVE_TIMED_OUT) << timeoutMs;
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(timeoutMs * 9 / 10)) << timeoutMs;
    EXPECT_LT(waited, std::chrono::milliseconds(timeoutMs + 500)) << timeoutMs;
  }
  // After reads that timed out the socket reads on, and a long datagram is cut here too.
  ASSERT_EQ(p.a.SendTo(Pattern(12), p.AtB()), 12);
  EXPECT_EQ(p.b.ReceiveWithin(got, &from, 2000), 8);
  EXPECT_EQ(got, Pattern(8));
  p.b.Close();
  EXPECT_EQ(p.b.ReceiveWithin(got, nullptr, 10), -1);
}

TEST(UdpSocket, BindingAPortInUseFails) {
  Pair p = OpenPair();
  EXPECT_FALSE(UdpSocket::Open({LOOPBACK, p.b.LocalPort()}).has_value());
}

TEST(UdpSocket, ClosedSocketFailsQuietlyAndClosesOnce) {
  Pair p = OpenPair();
  SocketHandle fd = p.b.Descriptor();
  p.b.Close();
  p.b.Close();
  EXPECT_FALSE(p.b.IsOpen());
  EXPECT_FALSE(test::SocketIsOpen(fd));  // the handle really was released
  std::vector<uint8_t> buf(8);
  EXPECT_EQ(p.b.SendTo(buf, {LOOPBACK, 9}), -1);
  EXPECT_EQ(p.b.ReceiveFrom(buf, nullptr), -1);
  EXPECT_FALSE(p.b.WaitReadable(0));
  EXPECT_FALSE(p.b.SetBroadcast(true));
  EXPECT_EQ(p.b.LocalPort(), 0);
  EXPECT_TRUE(p.a.SetBroadcast(true));
}

TEST(UdpSocket, MoveHandsOverTheDescriptorAndAssignmentClosesTheOldOne) {
  Pair p = OpenPair();
  Endpoint target = p.AtB();
  UdpSocket moved(std::move(p.b));
  EXPECT_FALSE(p.b.IsOpen());
  EXPECT_EQ(moved.LocalPort(), target.port);

  SocketHandle replacedFd = p.a.Descriptor();
  std::optional<UdpSocket> sender = UdpSocket::Open({LOOPBACK, 0});
  ASSERT_TRUE(sender.has_value());
  p.a = std::move(*sender);
  EXPECT_FALSE(test::SocketIsOpen(replacedFd));
  EXPECT_FALSE(sender->IsOpen());

  std::vector<uint8_t> sent = Pattern(10);
  ASSERT_EQ(p.a.SendTo(sent, target), 10);
  ASSERT_TRUE(moved.WaitReadable(2000));
  std::vector<uint8_t> got(10);
  EXPECT_EQ(moved.ReceiveFrom(got, nullptr), 10);
}

}  // namespace
}  // namespace corvalink
