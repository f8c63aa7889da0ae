#include "upgrade/flash_wait.h"

#include <gtest/gtest.h>

#include <optional>

namespace corvalink {
namespace {

// The stepper on its own: a step only once more than PROGRESS_FILL_STEP_MS passed since the
// last one, done at the top; the time left at the least pace until enough steps were made to
// measure a slower one.
TEST(FlashWait, StepsOnTheClockUpToTheTopAndCountsDownAtTheMeasuredPace) {
  const struct {
    const char* name;
    int high, pos;
    uint32_t tickEveryMs;  // the caller's ticks; a step needs more than 10 ms
    int ticksPerStep;
    uint32_t msLeftAt30Steps;  // 0: the bar is full before
  } rows[] = {
      {"a tick per ms", 40, 3, 1, 11, 7 * FILL_STEP_LEAST_MS},
      {"a busy caller ticks every 50 ms", 40, 3, 50, 1, 7 * 50},
      {"short fill", 5, 2, 1, 11, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ProgressModel bar;
    bar.SetRange32(0, row.high);
    bar.SetStep(1);
    bar.SetPos(row.pos);
    FlashWait wait;
    EXPECT_FALSE(wait.Started());
    EXPECT_EQ(wait.MsLeft(0), 0u);
    uint32_t now = 0xFFFFFF00u;  // the millisecond clock wraps during the wait
    wait.Start(bar, now);
    EXPECT_TRUE(wait.Started());
    EXPECT_EQ(wait.MsLeft(now), static_cast<uint32_t>(row.high - row.pos) * FILL_STEP_LEAST_MS);
    int ticks = 0;
    bool done = false;
    while (!done && ticks < 10000) {
      now += row.tickEveryMs;
      done = wait.Tick(now);
      ++ticks;
      if (bar.GetPos() - row.pos == 30) EXPECT_EQ(wait.MsLeft(now), row.msLeftAt30Steps);
    }
    EXPECT_TRUE(done);
    EXPECT_EQ(bar.GetPos(), row.high);
    EXPECT_EQ(ticks, (row.high - row.pos) * row.ticksPerStep);
    EXPECT_EQ(wait.MsLeft(now), 0u);
    EXPECT_TRUE(wait.Tick(now + 100));  // stays done; no step past the top
    EXPECT_EQ(bar.GetPos(), row.high);
  }
}

// The announcement before a transfer: where the data phase leaves the bar up to its top.
TEST(FlashWait, FinalFillFollowsTheFileSize) {
  const std::pair<uint64_t, uint64_t> rows[] = {
      {0, 1}, {511, 1}, {512, 2}, {2560, 5}, {5220, 9}, {32u << 20, 65537 - 13107}};
  for (const auto& [size, steps] : rows) {
    EXPECT_EQ(FinalFillSteps(size), steps) << size;
    EXPECT_EQ(FinalFillMs(size), steps * FILL_STEP_LEAST_MS) << size;
  }
}

// What a window does when a transfer ends: a close during the flash wait shows nothing, a close
// asked for during the transfer ends the dialog with its code, success always ends it with 0.
TEST(EndOfTransfer, ShowsAndClosesAsTheUserAsked) {
  struct Case {
    TftpOutcome outcome;
    std::optional<int64_t> closeAfter;
    bool show;
    std::optional<int64_t> closeWith;
  };
  const Case cases[] = {
      {TftpOutcome::Ok, std::nullopt, true, 0},
      {TftpOutcome::Ok, 2, true, 0},
      {TftpOutcome::FlashWaitStopped, 2, false, 2},
      {TftpOutcome::FlashWaitStopped, std::nullopt, true, std::nullopt},
      {TftpOutcome::FileError, std::nullopt, true, std::nullopt},
      {TftpOutcome::FileError, 2, true, 2},
  };
  for (const Case& c : cases) {
    TftpResult result;
    result.outcome = c.outcome;
    const TransferEnding ending = EndOfTransfer(result, c.closeAfter);
    EXPECT_EQ(ending.showResult, c.show) << static_cast<int>(c.outcome);
    EXPECT_EQ(ending.closeWith, c.closeWith) << static_cast<int>(c.outcome);
  }
}

}  // namespace
}  // namespace corvalink
