#pragma once
#include <cstdint>

inline constexpr int32_t kQueryGapMs = 2000;
inline constexpr int32_t kBeepMs = 100;
inline constexpr int32_t kQuietToneHz = 100;

// One pass of monitoring: a signal query when 2000 ms have passed since the last one, and the
// elapsed time in timerDisplay on every pass.
void PollSignal();
