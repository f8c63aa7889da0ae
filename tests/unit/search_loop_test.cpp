#include "discovery/search_loop.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "platform/udp_socket.h"
#include "sim_router.h"
#include "test_system.h"

namespace corvalink {
namespace {

const Ipv4 LOOPBACK{127, 0, 0, 1};
// Deadlines are checked loosely: the machine running the tests may be busy.
constexpr uint32_t SLACK_MS = 1500;

sim::SimRouter Router(uint8_t n) {
  sim::SimRouter r;
  r.mac = {0x02, 0xC0, 0x4C, 0x00, 0x00, n};
  r.ip = {198, 18, 0, static_cast<uint8_t>(10 + n)};
  return r;
}

// A router on loopback that waits for one search request and answers with `answers`, in order,
// to the port the request came from.
class Responder {
 public:
  explicit Responder(std::vector<std::vector<uint8_t>> answers) : m_answers(std::move(answers)) {
    auto s = UdpSocket::Open({LOOPBACK, 0});
    EXPECT_TRUE(s);
    if (s) m_socket = std::move(*s);
  }
  ~Responder() {
    if (m_thread.joinable()) m_thread.join();
  }
  Endpoint Where() const { return {LOOPBACK, m_socket.LocalPort()}; }
  void Start() {
    m_thread = std::thread([this] {
      if (!m_socket.WaitReadable(5000)) return;
      std::array<uint8_t, 100> request{};
      Endpoint from;
      m_requestSize = m_socket.ReceiveFrom(request, &from);
      for (const auto& a : m_answers) m_socket.SendTo(a, from);
    });
  }
  int RequestSize() {
    if (m_thread.joinable()) m_thread.join();
    return m_requestSize;
  }

 private:
  UdpSocket m_socket;
  std::vector<std::vector<uint8_t>> m_answers;
  std::thread m_thread;
  int m_requestSize = -1;
};

std::vector<uint8_t> ReplyOf(uint8_t n) {
  const sim::ReplyBytes r = sim::BuildSimSearchReply(Router(n));
  return {r.begin(), r.end()};
}

struct Search {
  RouterTable table;
  CSearchSocket socket{[this](const Packet& reply) { table.Add(reply); }};
  MsClock clock;
};

TEST(RunSearch, ReadsEveryDatagramOnceUntilTheDeadline) {
  std::vector<std::vector<uint8_t>> answers = {ReplyOf(1)};
  for (int i = 0; i < 40; ++i) answers.push_back({0xDD, 0x81, 0, 4});  // not a search reply
  answers.push_back(ReplyOf(2));
  answers.push_back(ReplyOf(1));  // duplicate
  answers.push_back({});          // empty datagram
  answers.push_back(ReplyOf(3));
  Responder router(answers);
  router.Start();

  Search s;
  ASSERT_TRUE(s.socket.Create());
  s.table.Add(PadDatagram(ReplyOf(9)));  // left over from an earlier search
  const uint32_t start = s.clock.NowMs();
  const PollResult r = RunSearch(s.socket, s.table, s.clock, 400, router.Where());
  const uint32_t took = ElapsedMs(start, s.clock.NowMs());

  EXPECT_EQ(router.RequestSize(), 54);
  EXPECT_EQ(r.end, PollEnd::Deadline);
  EXPECT_EQ(r.datagrams, static_cast<int>(answers.size()));
  ASSERT_EQ(s.table.Count(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(s.table.Slot(i).macAddress, Router(static_cast<uint8_t>(i + 1)).mac);
  EXPECT_GE(took, 400u);
  EXPECT_LT(took, 400u + SLACK_MS);
}

TEST(RunSearch, StopTestEndsTheSearchEarly) {
  Responder router({ReplyOf(1), ReplyOf(2)});
  router.Start();
  Search s;
  ASSERT_TRUE(s.socket.Create());
  const uint32_t start = s.clock.NowMs();
  const PollResult r = RunSearch(s.socket, s.table, s.clock, 10000, router.Where(),
                                 [&] { return s.table.Count() >= 1; });
  EXPECT_EQ(r.end, PollEnd::Stopped);
  EXPECT_EQ(s.table.Count(), 1);
  EXPECT_LT(ElapsedMs(start, s.clock.NowMs()), SLACK_MS);
}

TEST(RunSearch, UnsendableRequestFailsAtOnceNamingTheDestination) {
  Search s;  // never created: nothing can be sent
  const uint32_t start = s.clock.NowMs();
  const PollResult r = RunSearch(s.socket, s.table, s.clock, 5000, {LOOPBACK, 4321});
  EXPECT_EQ(r.end, PollEnd::Failed);
  EXPECT_NE(r.error.find("127.0.0.1:4321"), std::string::npos) << r.error;
  EXPECT_LT(ElapsedMs(start, s.clock.NowMs()), SLACK_MS);
}

TEST(RunSearch, SignalsDuringTheWaitNeitherFailNorShortenIt) {
  Responder router({});
  router.Start();
  Search s;
  ASSERT_TRUE(s.socket.Create());
  const uint32_t start = s.clock.NowMs();
  PollResult r;
  {
    test::PeriodicSignal every50ms(50);
    if (!every50ms.Active()) GTEST_SKIP() << every50ms.Why();
    r = RunSearch(s.socket, s.table, s.clock, 300, router.Where());
  }
  const uint32_t took = ElapsedMs(start, s.clock.NowMs());

  EXPECT_EQ(r.end, PollEnd::Deadline) << r.error;
  EXPECT_GE(took, 300u);
}

TEST(RunSearch, SweepIsPacedAndRepliesAreCollectedAfterItsLastRequest) {
  Responder router({ReplyOf(1), ReplyOf(2)});
  router.Start();
  Search s;
  ASSERT_TRUE(s.socket.Create());
  SearchPlan plan;
  plan.toDestination = false;
  plan.destination = router.Where();  // its port; the addresses come from the block
  const std::optional<SearchTarget> block = ParseSearchTarget("127.0.0.0/24", nullptr);
  ASSERT_TRUE(block);
  plan.targets = {*block};
  plan.timeoutMs = 300;
  const uint32_t start = s.clock.NowMs();
  const PollResult r = RunSearch(s.socket, s.table, s.clock, plan);
  const uint32_t took = ElapsedMs(start, s.clock.NowMs());

  EXPECT_EQ(r.end, PollEnd::Deadline) << r.error;
  EXPECT_EQ(router.RequestSize(), 54) << "127.0.0.1, the block's first address, was asked";
  EXPECT_EQ(s.table.Count(), 2) << "replies are read while the sweep goes on";
  // 254 requests 4 ms apart: the last leaves after about a second, never sooner.
  const uint32_t sweepMs = (block->count - 1) * SWEEP_INTERVAL_MS;
  EXPECT_GE(took, sweepMs + plan.timeoutMs);
  EXPECT_LT(took, sweepMs + plan.timeoutMs + SLACK_MS);
}

TEST(PollReadable, EndsWhenTheSocketClosesItself) {
  auto a = UdpSocket::Open({LOOPBACK, 0});
  auto b = UdpSocket::Open({LOOPBACK, 0});
  ASSERT_TRUE(a && b);
  const uint8_t byte = 1;
  b->SendTo({&byte, 1}, {LOOPBACK, a->LocalPort()});
  b->SendTo({&byte, 1}, {LOOPBACK, a->LocalPort()});
  MsClock clock;
  int reads = 0;
  // Like the upgrade socket: the first datagram read closes it, so the second is never read.
  const PollResult r = PollReadable([&] { return a->Descriptor(); },
                                    [&] {
                                      std::array<uint8_t, 8> buf{};
                                      a->ReceiveFrom(buf, nullptr);
                                      ++reads;
                                      a->Close();
                                    },
                                    clock, 5000);
  EXPECT_EQ(r.end, PollEnd::Closed);
  EXPECT_EQ(r.datagrams, 1);
  EXPECT_EQ(reads, 1);
}

}  // namespace
}  // namespace corvalink
