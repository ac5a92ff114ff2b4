#pragma once
// The serial line settings and time-outs a port record holds. The platform's
// names are kept; on Linux the serial device calls give them their meaning.
#include <cstdint>

struct DCB {
  uint32_t BaudRate = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;    // NOPARITY
  uint8_t StopBits = 0;  // ONESTOPBIT
};

inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ONESTOPBIT = 0;

// All fields in milliseconds.
struct COMMTIMEOUTS {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};
