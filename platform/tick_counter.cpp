#include "platform/tick_counter.h"

#include <ctime>

namespace {

uint32_t MonotonicTick() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

TickSource tickSource = MonotonicTick;

}  // namespace

uint32_t GetTickCount() { return tickSource(); }

void SetTickSource(TickSource source) { tickSource = source != nullptr ? source : MonotonicTick; }
