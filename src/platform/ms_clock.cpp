#include "platform/ms_clock.h"

#include <chrono>

namespace corvalink {

uint32_t MsClock::NowMs() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

}  // namespace corvalink
