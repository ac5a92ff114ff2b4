#pragma once
// Real time in tests: only for bounds from below, or generous bounds from above.
#include <chrono>
#include <cstdint>

namespace testing_time {

using Clock = std::chrono::steady_clock;

inline int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace testing_time
