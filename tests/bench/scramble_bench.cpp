// Cost of holding passwords scrambled and of taking in a search reply: Scramble at the
// password size and a few larger sizes, and the reply path from a datagram waiting on a loopback
// socket to a stored router. Times are per operation (ns/op); bounded by the library's own
// minimum run time. "per_op" is the time per operation.

#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "discovery/router_table.h"
#include "discovery/search_socket.h"
#include "password/scrambler.h"

namespace corvalink {
namespace {

// Adds "per_op": seconds per operation, shown with an SI prefix (40n = 40 ns).
void PerOp(benchmark::State& state, int64_t opsPerIteration) {
  state.SetItemsProcessed(state.iterations() * opsPerIteration);
  state.counters["per_op"] =
      benchmark::Counter(static_cast<double>(state.iterations() * opsPerIteration),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_Scramble(benchmark::State& state) {
  const auto length = static_cast<int32_t>(state.range(0));
  const auto direction = static_cast<int32_t>(state.range(1));
  std::vector<uint8_t> buffer(static_cast<std::size_t>(length) + 1, 0x5A);
  uint8_t* unaligned = buffer.data() + 1;  // as a password field inside a record sits
  const std::span<uint8_t> field(unaligned, static_cast<std::size_t>(length));
  for (auto _ : state) {
    if (direction != 0) {
      Scramble(field);
    } else {
      Unscramble(field);
    }
    benchmark::DoNotOptimize(unaligned);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * length);
  PerOp(state, 1);
}
BENCHMARK(BM_Scramble)
    ->ArgNames({"len", "scramble"})
    ->Args({24, 1})
    ->Args({24, 0})
    ->Args({3, 1})
    ->Args({64, 1})
    ->Args({256, 1})
    ->Args({4096, 1});

Packet ReplyFor(int n) {
  Packet p{};
  p[0] = PACKET_MAGIC;
  p[1] = TYPE_SEARCH;
  p[4] = 10;
  p[7] = static_cast<uint8_t>(n);
  p[12] = 0x02;
  p[17] = static_cast<uint8_t>(n);
  const char location[] = "rack 4, shelf 2";
  std::copy(std::begin(location), std::end(location), p.begin() + 18);
  const char password[] = "hunter2";
  std::copy(std::begin(password), std::end(password), p.begin() + 42);
  return p;
}

// One search's worth of replies (MAX_ROUTERS routers) is sent untimed, then each is read from
// the socket, tested and stored. Each batch starts a new search so every reply is a new router.
void BM_ReplyPathLoopback(benchmark::State& state) {
  RouterTable table;
  CSearchSocket search([&table](const Packet& reply) { table.Add(reply); });
  auto opened = UdpSocket::Open({{127, 0, 0, 1}, 0});
  if (!search.Create() || !opened) {
    state.SkipWithError("no loopback socket");
    return;
  }
  UdpSocket router = std::move(*opened);
  const Endpoint to{{127, 0, 0, 1}, search.LocalPort()};
  std::array<Packet, MAX_ROUTERS> replies;
  for (int i = 0; i < MAX_ROUTERS; ++i) replies[static_cast<std::size_t>(i)] = ReplyFor(i);

  for (auto _ : state) {
    state.PauseTiming();
    table.Clear();
    for (const Packet& r : replies) router.SendTo(r, to);
    state.ResumeTiming();
    for (int i = 0; i < MAX_ROUTERS; ++i) search.OnReceive(0);
  }
  if (table.Count() != MAX_ROUTERS) state.SkipWithError("replies were lost");
  PerOp(state, MAX_ROUTERS);
}
BENCHMARK(BM_ReplyPathLoopback);

/// Hands out the same datagram forever: the reply path without the kernel.
class EndlessReply : public DatagramSocket {
 public:
  explicit EndlessReply(const Packet& p) : m_packet(p) {}
  bool IsOpen() const override { return true; }
  int SendTo(std::span<const uint8_t>, const Endpoint&) override { return -1; }
  int ReceiveFrom(std::span<uint8_t> buffer, Endpoint*) override {
    const std::size_t n = std::min(buffer.size(), m_packet.size());
    std::copy_n(m_packet.begin(), n, buffer.begin());
    return static_cast<int>(n);
  }
  bool WaitReadable(int) override { return true; }
  bool SetBroadcast(bool) override { return true; }
  void Close() override {}

 private:
  Packet m_packet;
};

// Same reply every time: after the first it is the duplicate test, the common case while routers
// answer repeated searches. Then the same with the table reset each time, so each is stored.
void BM_ReplyPathInMemory(benchmark::State& state) {
  const bool store = state.range(0) != 0;
  RouterTable table;
  CSearchSocket search([&table](const Packet& reply) { table.Add(reply); });
  search.Adopt(std::make_unique<EndlessReply>(ReplyFor(1)));
  for (auto _ : state) {
    if (store) table.Clear();
    search.OnReceive(0);
    benchmark::DoNotOptimize(table.Count());
  }
  PerOp(state, 1);
}
BENCHMARK(BM_ReplyPathInMemory)->ArgName("stored")->Arg(0)->Arg(1);

}  // namespace
}  // namespace corvalink

BENCHMARK_MAIN();
