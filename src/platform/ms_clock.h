#pragma once
// A millisecond clock that wraps like a 32-bit counter. Waits are measured as the unsigned
// difference of two readings, so a wrap between them does not disturb them.

#include <cstdint>

namespace corvalink {

/// Time source for waits; tests replace it with a clock they move by hand.
class Clock {
 public:
  virtual ~Clock() = default;
  /// Milliseconds since an arbitrary origin, modulo 2^32.
  virtual uint32_t NowMs() = 0;
};

/// Milliseconds elapsed from `earlier` to `later`, correct across one wrap of the counter.
inline uint32_t ElapsedMs(uint32_t earlier, uint32_t later) { return later - earlier; }

/// The process's monotonic clock, truncated to 32 bits.
class MsClock : public Clock {
 public:
  uint32_t NowMs() override;
};

}  // namespace corvalink
