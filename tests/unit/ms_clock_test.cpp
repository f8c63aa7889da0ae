#include "platform/ms_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace corvalink {
namespace {

TEST(ElapsedMs, CountsAcrossTheWrapOfTheCounter) {
  struct Case {
    uint32_t earlier, later, elapsed;
  };
  for (Case c : {Case{0, 0, 0}, Case{1000, 3000, 2000}, Case{0xFFFFFFF0u, 0x10u, 0x20u},
                 Case{0xFFFFFFFFu, 0u, 1u}, Case{0xFFFFF830u, 1200u, 3200u},
                 Case{5u, 4u, 0xFFFFFFFFu}}) {
    EXPECT_EQ(ElapsedMs(c.earlier, c.later), c.elapsed) << c.earlier << " -> " << c.later;
  }
}

TEST(MsClock, AdvancesInMilliseconds) {
  MsClock clock;
  uint32_t start = clock.NowMs();
  auto wallStart = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  uint32_t elapsed = ElapsedMs(start, clock.NowMs());
  auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - wallStart)
                  .count();
  EXPECT_GE(elapsed, 29u);  // a reading may sit just before a millisecond boundary
  EXPECT_LE(elapsed, static_cast<uint32_t>(wall) + 1);
}

}  // namespace
}  // namespace corvalink
