#pragma once
// A 32-bit millisecond tick counter that wraps: the monotonic clock, truncated.
// Differences are taken modulo 2^32 and read as signed.
#include <cstdint>

using TickSource = uint32_t (*)();

uint32_t GetTickCount();
// Tests install a hand-moved counter; nullptr restores the monotonic clock.
void SetTickSource(TickSource source);
