#pragma once
// The serial device calls the port record is built on: open a numbered port exclusively,
// read and apply its line settings, apply time-outs, read one request, write, flush, close,
// and the last error. Real ones run over termios, flock and poll; tests install fakes
// through TheSerialDeviceCalls().
#include <cstdint>

#include "platform/comm_types.h"

inline constexpr uint32_t kMaxTimeoutMs = 0xFFFFFFFFu;  // MAXDWORD: "no interval" / "return at once"

// Used for a descriptor whose time-outs were never applied, so that no read or write waits
// without a bound of its own.
inline constexpr COMMTIMEOUTS kDefaultCommTimeouts{200, 1, 1, 1, 10};

// The longest a flush waits for the output queue to drain: this much, plus
// kFlushPerQueuedByteMs for every byte queued when it begins (about twice the time a byte
// takes at 9600 baud). A stalled flow control makes the flush give up, never hang.
inline constexpr int32_t kFlushBaseMs = 20;
inline constexpr int32_t kFlushPerQueuedByteMs = 2;

struct SerialDeviceCalls {
  // A descriptor for port number portNumber, or -1. Exclusive: a port held by this or any
  // other program does not open again.
  int (*open)(int32_t portNumber);
  bool (*readSettings)(int fd, DCB& settings);
  // Applies the four line settings in raw mode; every other setting stays as read.
  bool (*applySettings)(int fd, const DCB& settings);
  // Refuses time-outs that would let a read or a write wait without bound.
  bool (*applyTimeouts)(int fd, const COMMTIMEOUTS& timeouts);
  bool (*setQueueSizes)(int fd, int32_t inputSize, int32_t outputSize);
  // One request of up to count bytes, completing by the applied time-outs. delivered is
  // set also when the request fails part-way.
  bool (*readRequest)(int fd, char* buffer, int32_t count, int32_t& delivered);
  bool (*write)(int fd, const char* bytes, int32_t count, int32_t& written);
  bool (*flush)(int fd);
  bool (*close)(int fd);
  // The error code of this thread's latest call above: 0 after a success, else the errno.
  uint32_t (*lastError)();
};

const SerialDeviceCalls& RealSerialDeviceCalls();
// The calls in use; tests assign a fake and restore RealSerialDeviceCalls() afterwards.
SerialDeviceCalls& TheSerialDeviceCalls();
