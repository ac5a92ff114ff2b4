#include "platform/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/port_table.h"

namespace {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

thread_local uint32_t lastErrorCode = 0;

bool Succeed() {
  lastErrorCode = 0;
  return true;
}

bool Fail(int error) {
  lastErrorCode = static_cast<uint32_t>(error);
  return false;
}

// Linux has no time-outs per handle, so the applied ones are kept here per descriptor.
struct TimeoutTable {
  std::mutex mutex;
  std::unordered_map<int, COMMTIMEOUTS> byFd;
};

TimeoutTable& Timeouts() {
  static TimeoutTable table;
  return table;
}

COMMTIMEOUTS TimeoutsOf(int fd) {
  auto& table = Timeouts();
  std::lock_guard lock(table.mutex);
  auto it = table.byFd.find(fd);
  return it == table.byFd.end() ? kDefaultCommTimeouts : it->second;
}

void ForgetTimeouts(int fd) {
  auto& table = Timeouts();
  std::lock_guard lock(table.mutex);
  table.byFd.erase(fd);
}

// A total limit of multiplier * count + constant milliseconds; 0 means none. Capped at
// MAXDWORD ms (about 49 days) so that deadlines stay within the clock's range.
uint64_t TotalLimitMs(uint32_t multiplier, uint32_t constant, int32_t count) {
  uint64_t total = uint64_t{multiplier} * static_cast<uint64_t>(count) + constant;
  return std::min<uint64_t>(total, kMaxTimeoutMs);
}

// Waits for events on fd until deadline. Returns the poll result (0 at the deadline, -1 with
// errno on failure); an interrupted wait is resumed with the time that is left.
int PollUntil(int fd, short events, Clock::time_point deadline, short& revents) {
  for (;;) {
    auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
    auto secs = std::chrono::duration_cast<std::chrono::seconds>(left);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(secs.count());
    wait.tv_nsec = static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - secs).count());
    pollfd entry{fd, events, 0};
    int result = ppoll(&entry, 1, &wait, nullptr);
    if (result < 0 && errno == EINTR) continue;
    // ppoll may round its wait down by a hair; the deadline is what counts.
    if (result == 0 && Clock::now() < deadline) continue;
    revents = entry.revents;
    return result;
  }
}

struct SpeedEntry {
  uint32_t baud;
  speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

bool SpeedCode(uint32_t baud, speed_t& code) {
  for (const auto& entry : kSpeeds) {
    if (entry.baud == baud) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

uint32_t BaudOf(speed_t code) {
  for (const auto& entry : kSpeeds) {
    if (entry.code == code) return entry.baud;
  }
  return 0;
}

int Open(int32_t portNumber) {
  const std::string* path = PortDevicePath(portNumber);
  if (path == nullptr) {
    Fail(ENOENT);
    return -1;
  }
  // O_NONBLOCK: the open must not wait for a carrier, and a write must not block past its
  // deadline; every wait below is a poll with a deadline instead.
  int fd;
  do {
    fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Fail(errno);
    return -1;
  }
  // Only devices are ports: a regular file named by mistake would have the commands written into it.
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISCHR(status.st_mode)) {
    ::close(fd);
    Fail(ENODEV);
    return -1;
  }
  // TIOCEXCL refuses further opens by other users, but not by root; the lock refuses any
  // second open description, ours or another program's.
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked < 0 && errno == EINTR);
  if (locked < 0) {
    int error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    Fail(error);
    return -1;
  }
  (void)ioctl(fd, TIOCEXCL);  // not a terminal, or a driver that refuses: not fatal
  ForgetTimeouts(fd);
  Succeed();
  return fd;
}

bool ReadSettings(int fd, DCB& settings) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return Fail(errno);
  settings = DCB{};
  settings.BaudRate = BaudOf(cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5: settings.ByteSize = 5; break;
    case CS6: settings.ByteSize = 6; break;
    case CS7: settings.ByteSize = 7; break;
    default: settings.ByteSize = 8; break;
  }
  if ((tio.c_cflag & PARENB) == 0) {
    settings.Parity = NOPARITY;
  } else if ((tio.c_cflag & CMSPAR) != 0) {
    settings.Parity = (tio.c_cflag & PARODD) != 0 ? 3 : 4;  // MARKPARITY, SPACEPARITY
  } else {
    settings.Parity = (tio.c_cflag & PARODD) != 0 ? 1 : 2;  // ODDPARITY, EVENPARITY
  }
  settings.StopBits = (tio.c_cflag & CSTOPB) != 0 ? 2 : ONESTOPBIT;  // TWOSTOPBITS
  return Succeed();
}

bool ApplySettings(int fd, const DCB& settings) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return Fail(errno);
  speed_t speed;
  if (!SpeedCode(settings.BaudRate, speed) || settings.ByteSize < 5 || settings.ByteSize > 8 ||
      settings.Parity > 4 || (settings.StopBits != ONESTOPBIT && settings.StopBits != 2)) {
    return Fail(EINVAL);
  }
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag = (tio.c_cflag & ~CSIZE) | kSizes[settings.ByteSize - 5];
  tio.c_cflag &= ~(PARENB | PARODD | CMSPAR | CSTOPB);
  switch (settings.Parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (settings.StopBits == 2) tio.c_cflag |= CSTOPB;
  tio.c_cflag |= CREAD;
  // Raw bytes both ways: the line discipline would otherwise translate CR and LF, echo the
  // commands back and act on control characters in a reply. Flow control (IXON, IXOFF,
  // CRTSCTS) and the modem-control lines (CLOCAL, HUPCL) stay as read.
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return Fail(errno);
  return Succeed();
}

bool ApplyTimeouts(int fd, const COMMTIMEOUTS& timeouts) {
  if (fcntl(fd, F_GETFD) < 0) return Fail(errno);
  bool readAtOnce = timeouts.ReadIntervalTimeout == kMaxTimeoutMs;
  bool readBounded =
      timeouts.ReadTotalTimeoutMultiplier != 0 || timeouts.ReadTotalTimeoutConstant != 0;
  bool writeBounded =
      timeouts.WriteTotalTimeoutMultiplier != 0 || timeouts.WriteTotalTimeoutConstant != 0;
  if (!(readAtOnce || readBounded) || !writeBounded) return Fail(EINVAL);
  auto& table = Timeouts();
  std::lock_guard lock(table.mutex);
  table.byFd[fd] = timeouts;
  return Succeed();
}

bool SetQueueSizes(int fd, int32_t, int32_t) {
  // Linux takes no recommendation for its driver queues.
  if (fcntl(fd, F_GETFD) < 0) return Fail(errno);
  return Succeed();
}

bool ReadRequest(int fd, char* buffer, int32_t count, int32_t& delivered) {
  delivered = 0;
  if (count <= 0) return Succeed();
  const COMMTIMEOUTS timeouts = TimeoutsOf(fd);
  const auto start = Clock::now();
  uint64_t totalMs = TotalLimitMs(timeouts.ReadTotalTimeoutMultiplier,
                                  timeouts.ReadTotalTimeoutConstant, count);
  const bool atOnce = timeouts.ReadIntervalTimeout == kMaxTimeoutMs && totalMs == 0;
  if (totalMs == 0 && !atOnce) totalMs = TotalLimitMs(kDefaultCommTimeouts.ReadTotalTimeoutMultiplier,
                                                     kDefaultCommTimeouts.ReadTotalTimeoutConstant, count);
  const auto totalDeadline = start + Millis(totalMs);
  // The interval timer starts only with the first byte.
  const bool useInterval =
      timeouts.ReadIntervalTimeout != 0 && timeouts.ReadIntervalTimeout != kMaxTimeoutMs;
  Clock::time_point lastByte{};
  for (;;) {
    auto deadline = totalDeadline;
    if (useInterval && delivered > 0) {
      deadline = std::min(deadline, lastByte + Millis(timeouts.ReadIntervalTimeout));
    }
    short revents = 0;
    int ready = PollUntil(fd, POLLIN, deadline, revents);
    if (ready < 0) return Fail(errno);
    if (ready == 0) return Succeed();
    if ((revents & POLLNVAL) != 0) return Fail(EBADF);
    ssize_t got = ::read(fd, buffer + delivered, static_cast<size_t>(count - delivered));
    if (got > 0) {
      delivered += static_cast<int32_t>(got);
      lastByte = Clock::now();
      if (delivered == count) return Succeed();
      continue;
    }
    // 0 after readiness is a hang-up (or the end of a file that is not a terminal).
    if (got == 0) return Fail(EIO);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if ((revents & (POLLHUP | POLLERR)) != 0) return Fail(EIO);
      continue;
    }
    return Fail(errno);
  }
}

bool Write(int fd, const char* bytes, int32_t count, int32_t& written) {
  written = 0;
  if (count <= 0) return Succeed();
  COMMTIMEOUTS timeouts = TimeoutsOf(fd);
  uint64_t totalMs =
      TotalLimitMs(timeouts.WriteTotalTimeoutMultiplier, timeouts.WriteTotalTimeoutConstant, count);
  if (totalMs == 0) {
    totalMs = TotalLimitMs(kDefaultCommTimeouts.WriteTotalTimeoutMultiplier,
                           kDefaultCommTimeouts.WriteTotalTimeoutConstant, count);
  }
  const auto deadline = Clock::now() + Millis(totalMs);
  short revents = 0;
  while (written < count) {
    ssize_t put = ::write(fd, bytes + written, static_cast<size_t>(count - written));
    if (put > 0) {
      written += static_cast<int32_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail(errno);
    if ((revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Fail(EIO);
    if (Clock::now() >= deadline) return Fail(ETIMEDOUT);
    int ready = PollUntil(fd, POLLOUT, deadline, revents);
    if (ready < 0) return Fail(errno);
    if (ready == 0) return Fail(ETIMEDOUT);
  }
  return Succeed();
}

bool Flush(int fd) {
  // tcdrain could wait forever behind a stalled flow control, so the output queue is
  // watched instead, for a bounded time.
  int queued = 0;
  if (ioctl(fd, TIOCOUTQ, &queued) != 0) return Fail(errno);
  if (queued <= 0) return Succeed();
  const auto deadline =
      Clock::now() + Millis(kFlushBaseMs + int64_t{kFlushPerQueuedByteMs} * queued);
  while (Clock::now() < deadline) {
    timespec pause{0, 1'000'000};
    nanosleep(&pause, nullptr);
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) return Fail(errno);
    if (queued <= 0) return Succeed();
  }
  return Fail(ETIMEDOUT);
}

bool Close(int fd) {
  // The exclusive mode belongs to the terminal, not to this descriptor: it must not outlive
  // our hold when another descriptor keeps the terminal open.
  (void)ioctl(fd, TIOCNXCL);
  ForgetTimeouts(fd);
  // The descriptor is released even when close reports EINTR; it must not be closed again.
  if (::close(fd) != 0 && errno != EINTR) return Fail(errno);
  return Succeed();
}

uint32_t LastError() { return lastErrorCode; }

}  // namespace

const SerialDeviceCalls& RealSerialDeviceCalls() {
  static const SerialDeviceCalls calls{Open,        ReadSettings, ApplySettings, ApplyTimeouts,
                                       SetQueueSizes, ReadRequest, Write,        Flush,
                                       Close,       LastError};
  return calls;
}

SerialDeviceCalls& TheSerialDeviceCalls() {
  static SerialDeviceCalls calls = RealSerialDeviceCalls();
  return calls;
}
