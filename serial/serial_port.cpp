#include "serial/serial_port.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/serial_device.h"
#include "serial/link_hooks.h"

namespace {

constexpr int32_t kQueueSizeBytes = 256;
constexpr uint32_t kBaudRate = 9600;
constexpr uint8_t kByteSize = 8;
constexpr auto kDrainPause = std::chrono::milliseconds(5);
// A window system that never runs out of work (a timer faster than the pause, a stream of
// input) must not hold an exchange for ever: at most this many messages, about 1 s of pauses.
constexpr int32_t kDrainMaxMessages = 200;

void AppendNote(const std::string& note) {
  if (auto append = TheLinkHooks().appendToTopLine) append(note);
}

}  // namespace

void SetDefaultPortSettings(SerialPort& port) {
  port = SerialPort{};
  port.inputQueueSize = kQueueSizeBytes;
  port.outputQueueSize = kQueueSizeBytes;
  port.timeouts = kDefaultCommTimeouts;
  port.lineSettings.BaudRate = kBaudRate;
  port.lineSettings.ByteSize = kByteSize;
  port.lineSettings.Parity = NOPARITY;
  port.lineSettings.StopBits = ONESTOPBIT;
}

std::string PortPathText(int32_t portNumber) { return "\\\\.\\COM" + std::to_string(portNumber); }

PortHandle OpenPort(SerialPort& port) {
  auto& calls = TheSerialDeviceCalls();
  // A record that still holds a port gives it back first: forgetting it would keep the port
  // claimed, and so unavailable, until the process ends.
  if (port.handle != kNullHandle) calls.close(port.handle);
  port.handle = kNullHandle;

  PortHandle fd = calls.open(port.portNumber);
  if (fd < 0) {
    port.lastError = calls.lastError();
    AppendNote("Port not available. ");
    return kNullHandle;
  }
  port.handle = fd;

  DCB working{};
  if (calls.readSettings(fd, working)) {
    working.BaudRate = port.lineSettings.BaudRate;
    working.ByteSize = port.lineSettings.ByteSize;
    working.Parity = port.lineSettings.Parity;
    working.StopBits = port.lineSettings.StopBits;
    calls.applySettings(fd, working);
    if (calls.applyTimeouts(fd, port.timeouts)) {
      calls.setQueueSizes(fd, port.inputQueueSize, port.outputQueueSize);
      AppendNote("=> OK. ");
    }
  }
  port.lastError = calls.lastError();
  return port.handle;
}

int32_t ReadPort(SerialPort& port) {
  if (port.handle == kNullHandle) return 0;
  auto& calls = TheSerialDeviceCalls();
  int32_t total = 0;
  while (total < kReplyBufferSize) {
    int32_t request = std::min(kReadRequestMax, kReplyBufferSize - total);
    int32_t delivered = 0;
    calls.readRequest(port.handle, port.replyBuffer.data() + total, request, delivered);
    delivered = std::clamp(delivered, 0, request);
    if (delivered == 0) break;
    total += delivered;
  }
  port.replyLength = total;
  port.lastError = calls.lastError();
  return total;
}

int32_t WritePort(SerialPort& port, const char* bytes, int32_t count) {
  if (port.handle == kNullHandle || bytes == nullptr || count <= 0) return 0;
  auto& calls = TheSerialDeviceCalls();
  int32_t written = 0;
  calls.write(port.handle, bytes, count, written);
  calls.flush(port.handle);
  return std::clamp(written, 0, count);
}

int32_t ClosePort(SerialPort& port) {
  auto& calls = TheSerialDeviceCalls();
  int32_t result = 0;
  if (port.handle != kNullHandle) {
    result = calls.close(port.handle) ? 1 : 0;
    port.handle = kNullHandle;
  }
  port.lastError = calls.lastError();
  return result;
}

int32_t DrainEvents() {
  int32_t count = 0;
  auto processPending = TheLinkHooks().processPendingMessage;
  if (processPending == nullptr) return 0;
  while (count < kDrainMaxMessages && processPending()) {
    ++count;
    std::this_thread::sleep_for(kDrainPause);
  }
  return count;
}

std::string ExchangeCommand(SerialPort& port, std::string_view command) {
  auto count = static_cast<int32_t>(std::min<std::size_t>(command.size(), INT32_MAX));
  WritePort(port, command.data(), count);
  DrainEvents();
  ReadPort(port);
  auto length = static_cast<std::size_t>(std::clamp(port.replyLength, 0, kReplyBufferSize));
  const char* reply = port.replyBuffer.data();
  return std::string(reply, strnlen(reply, length));
}
