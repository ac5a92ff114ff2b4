#pragma once
// The one serial port record and its operations.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/comm_types.h"

inline constexpr int32_t kReplyBufferSize = 1024;
inline constexpr int32_t kReadRequestMax = 256;

using PortHandle = int;                     // an open file descriptor
inline constexpr PortHandle kNullHandle = -1;  // no port open

struct SerialPort {
  int32_t portNumber = 0;
  int32_t inputQueueSize = 0;
  int32_t outputQueueSize = 0;
  PortHandle handle = kNullHandle;
  COMMTIMEOUTS timeouts{};
  DCB lineSettings{};
  std::array<char, kReplyBufferSize> replyBuffer{};  // lives as long as the record; never cleared
  int32_t replyLength = 0;                           // 0 to 1024
  uint32_t lastError = 0;                            // errno of the last recorded call; read by nothing
};

// The start-up values: 9600 8N1, 256-byte queues, the time-outs, an empty reply.
void SetDefaultPortSettings(SerialPort& port);
// "\\.\COM" followed by the number: the path text the user sees.
std::string PortPathText(int32_t portNumber);

PortHandle OpenPort(SerialPort& port);                            // kNullHandle on failure
int32_t ClosePort(SerialPort& port);                              // non-zero on success, 0 when none was open
int32_t WritePort(SerialPort& port, const char* bytes, int32_t count);
int32_t ReadPort(SerialPort& port);
int32_t DrainEvents();
std::string ExchangeCommand(SerialPort& port, std::string_view command);
