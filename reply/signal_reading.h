#pragma once
#include <cstdint>

struct SignalReading {
  int32_t twice = 0;    // 2 x report value
  int32_t dBm = 0;      // twice - 115
  int32_t tone = 0;     // beep pitch, Hz
  int32_t percent = 0;
};
