#pragma once
// The program-wide state: one instance for the life of the process. Tests reset it with State() = AppState{}.
#include <cstdint>
#include <string>

#include "reply/signal_reading.h"
#include "serial/serial_port.h"

struct AppState {
  uint8_t monitoringFlag = 0;
  uint8_t quitFlag = 0;
  int32_t soundFlag = 0;
  uint32_t monitorStartTime = 0;  // 32-bit millisecond ticks
  uint32_t lastQueryTime = 0;
  SignalReading reading{};
  int32_t pollCounter = 0;
  int32_t logLineCounter = 0;
  std::string lastReplyText;       // Windows-1252 bytes
  std::string lastExtractedValue;
  SerialPort port{};
};

AppState& State();
