#include "platform/serial_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/port_table.h"
#include "testing/elapsed.h"

namespace {

using testing_time::Clock;
using testing_time::MsSince;
using std::chrono::milliseconds;

// Generous: far above any scheduling delay, far below what a missing bound would cost.
constexpr int64_t kLateMs = 5000;

const SerialDeviceCalls& Real() { return RealSerialDeviceCalls(); }

std::atomic<int> hangUpSignals{0};
std::atomic<int> pipeSignals{0};
std::atomic<int> interruptions{0};

void CountHangUp(int) { ++hangUpSignals; }
void CountPipe(int) { ++pipeSignals; }
void CountInterruption(int) { ++interruptions; }

// A pseudo-terminal standing in for a serial device: port 0 of the port table. The test holds
// the master and one slave descriptor of its own, as the simulated modem does.
class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    path = name;
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    SetPortTable({path});
  }

  void TearDown() override {
    if (fd >= 0) Real().close(fd);
    if (master >= 0) close(master);
    close(slave);
    SetPortTable({});
  }

  void OpenPort0() {
    fd = Real().open(0);
    ASSERT_GE(fd, 0) << Real().lastError();
  }

  void FromModem(const std::string& bytes) const {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::string ToModem(std::size_t count) const {
    std::string bytes(count, '\0');
    std::size_t got = 0;
    auto start = Clock::now();
    while (got < count && MsSince(start) < kLateMs) {
      ssize_t r = read(master, bytes.data() + got, count - got);
      if (r > 0) got += static_cast<std::size_t>(r);
    }
    bytes.resize(got);
    return bytes;
  }

  int master = -1;
  int slave = -1;
  int fd = -1;
  std::string path;
};

TEST_F(SerialDeviceTest, OpenFailsLikeAMissingDevice) {
  struct Case {
    const char* name;
    std::vector<std::string> table;
    int32_t portNumber;
  };
  const Case cases[] = {
      {"negative number", {"/dev/null"}, -1},
      {"lowest number", {"/dev/null"}, INT32_MIN},
      {"beyond the table", {"/dev/null"}, 1},
      {"empty table", {}, 0},
      {"missing device", {"/nonexistent-quelvane/ttyS9"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetPortTable(c.table);
    EXPECT_EQ(Real().open(c.portNumber), -1);
    EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(ENOENT));
  }
}

TEST_F(SerialDeviceTest, OpenNeverCreatesTheDevice) {
  std::string missing = ::testing::TempDir() + "quelvane-no-such-port";
  unlink(missing.c_str());
  SetPortTable({missing});
  EXPECT_EQ(Real().open(0), -1);
  EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(ENOENT));
  EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

TEST_F(SerialDeviceTest, OnlyDevicesOpen) {
  const std::string file = ::testing::TempDir() + "quelvane-not-a-port.txt";
  {
    std::FILE* out = std::fopen(file.c_str(), "w");
    ASSERT_NE(out, nullptr);
    std::fputs("kept\n", out);
    std::fclose(out);
  }
  SetPortTable({file, ::testing::TempDir()});
  for (int32_t number : {0, 1}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(Real().open(number), -1);
    EXPECT_NE(Real().lastError(), 0u);
  }
  char text[16] = {};
  std::FILE* in = std::fopen(file.c_str(), "r");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(std::fread(text, 1, sizeof text - 1, in), 5u);
  std::fclose(in);
  EXPECT_STREQ(text, "kept\n");
  unlink(file.c_str());
}

TEST_F(SerialDeviceTest, SecondOpenOfAHeldPortFailsUntilItIsClosed) {
  OpenPort0();
  EXPECT_EQ(Real().lastError(), 0u);
  EXPECT_EQ(Real().open(0), -1);
  EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(EBUSY));

  // Another program's open description: the same refusal.
  int other = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
  close(other);

  ASSERT_TRUE(Real().close(fd));
  fd = -1;
  OpenPort0();
}

TEST_F(SerialDeviceTest, ExclusiveModeLastsAsLongAsTheHold) {
  int exclusive = -1;
  OpenPort0();
  ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  ASSERT_TRUE(Real().close(fd));
  fd = -1;
  // The terminal outlives our descriptor (the test holds another); it must not stay exclusive.
  ASSERT_EQ(ioctl(slave, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);
}

TEST_F(SerialDeviceTest, ADeviceThatIsNotATerminalOpensButHasNoSettings) {
  // /dev/zero rather than /dev/null: the fault tests hold /dev/null, and the open is exclusive.
  SetPortTable({"/dev/zero"});
  fd = Real().open(0);
  ASSERT_GE(fd, 0);
  DCB settings{};
  EXPECT_FALSE(Real().readSettings(fd, settings));
  EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(ENOTTY));
  EXPECT_FALSE(Real().flush(fd));
  char buffer[16];
  int32_t delivered = -1;
  auto start = Clock::now();
  EXPECT_TRUE(Real().readRequest(fd, buffer, 16, delivered));
  EXPECT_EQ(delivered, 16);
  EXPECT_EQ(std::string(buffer, 16), std::string(16, '\0'));
  EXPECT_LT(MsSince(start), kLateMs);
}

TEST_F(SerialDeviceTest, ReadSettingsReportsTheLine) {
  struct Case {
    const char* name;
    speed_t speed;
    bool twoStopBits;
    uint32_t baud;
    uint8_t stopBits;
  };
  const Case cases[] = {
      {"9600 one stop bit", B9600, false, 9600, ONESTOPBIT},
      {"19200 two stop bits", B19200, true, 19200, 2},
      {"115200", B115200, false, 115200, ONESTOPBIT},
  };
  OpenPort0();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    termios tio{};
    tcgetattr(slave, &tio);
    cfsetispeed(&tio, c.speed);
    cfsetospeed(&tio, c.speed);
    tio.c_cflag = c.twoStopBits ? (tio.c_cflag | CSTOPB) : (tio.c_cflag & ~CSTOPB);
    tcsetattr(slave, TCSANOW, &tio);
    DCB settings{};
    ASSERT_TRUE(Real().readSettings(fd, settings));
    EXPECT_EQ(settings.BaudRate, c.baud);
    EXPECT_EQ(settings.ByteSize, 8);
    EXPECT_EQ(settings.Parity, NOPARITY);
    EXPECT_EQ(settings.StopBits, c.stopBits);
  }
}

TEST_F(SerialDeviceTest, ApplySettingsGivesARawLineAndKeepsFlowControlAsRead) {
  termios before{};
  tcgetattr(slave, &before);
  before.c_iflag |= ICRNL | IXON | IXOFF;
  before.c_oflag |= OPOST | ONLCR;
  before.c_lflag |= ECHO | ICANON | ISIG | IEXTEN;
  before.c_cflag |= CRTSCTS | HUPCL;
  before.c_cflag &= ~CLOCAL;
  cfsetispeed(&before, B115200);
  cfsetospeed(&before, B115200);
  before.c_cflag |= CSTOPB;
  tcsetattr(slave, TCSANOW, &before);
  OpenPort0();

  DCB settings{};
  ASSERT_TRUE(Real().readSettings(fd, settings));
  settings.BaudRate = 9600;
  settings.ByteSize = 8;
  settings.Parity = NOPARITY;
  settings.StopBits = ONESTOPBIT;
  ASSERT_TRUE(Real().applySettings(fd, settings));

  termios after{};
  tcgetattr(slave, &after);
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B9600));
  EXPECT_EQ(after.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(after.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(after.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
  EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(after.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(after.c_cflag & (CRTSCTS | HUPCL | CLOCAL), static_cast<tcflag_t>(CRTSCTS | HUPCL));

  // Bytes pass untouched both ways: no CR/LF translation, no echo.
  ASSERT_TRUE(Real().applyTimeouts(fd, kDefaultCommTimeouts));
  int32_t written = 0;
  ASSERT_TRUE(Real().write(fd, "AT\r", 3, written));
  EXPECT_EQ(ToModem(3), "AT\r");
  FromModem("\r\nOK\r\n\x03");
  char buffer[7] = {};
  int32_t delivered = 0;
  ASSERT_TRUE(Real().readRequest(fd, buffer, 7, delivered));
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(delivered)), "\r\nOK\r\n\x03");
}

TEST_F(SerialDeviceTest, ApplySettingsRefusesALineItCannotGive) {
  struct Case {
    const char* name;
    DCB settings;
  };
  const Case cases[] = {
      {"unknown baud rate", {12345, 8, NOPARITY, ONESTOPBIT}},
      {"nine data bits", {9600, 9, NOPARITY, ONESTOPBIT}},
      {"unknown parity", {9600, 8, 5, ONESTOPBIT}},
      {"one and a half stop bits", {9600, 8, NOPARITY, 1}},
  };
  OpenPort0();
  termios before{};
  tcgetattr(slave, &before);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Real().applySettings(fd, c.settings));
    EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(EINVAL));
    termios after{};
    tcgetattr(slave, &after);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_lflag, before.c_lflag);
  }
}

TEST_F(SerialDeviceTest, ApplyTimeoutsRefusesWaitsWithoutBound) {
  struct Case {
    const char* name;
    COMMTIMEOUTS timeouts;
    bool accepted;
  };
  const Case cases[] = {
      {"the record's time-outs", kDefaultCommTimeouts, true},
      {"read at once", {kMaxTimeoutMs, 0, 0, 0, 10}, true},
      {"read total by constant only", {0, 0, 50, 0, 10}, true},
      {"all zero", {0, 0, 0, 0, 0}, false},
      {"interval only", {200, 0, 0, 1, 10}, false},
      {"unbounded write", {200, 1, 1, 0, 0}, false},
  };
  OpenPort0();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Real().applyTimeouts(fd, c.timeouts), c.accepted);
    EXPECT_EQ(Real().lastError(), c.accepted ? 0u : static_cast<uint32_t>(EINVAL));
  }
  EXPECT_FALSE(Real().applyTimeouts(-1, kDefaultCommTimeouts));
  EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(EBADF));
}

TEST_F(SerialDeviceTest, ARequestWithNothingToReadWaitsOutItsTotalLimit) {
  OpenPort0();
  char buffer[256];
  // Once with no time-outs applied (the record's values stand in), once with them applied.
  for (bool applied : {false, true}) {
    SCOPED_TRACE(applied ? "applied" : "never applied");
    if (applied) {
      ASSERT_TRUE(Real().applyTimeouts(fd, kDefaultCommTimeouts));
    }
    int32_t delivered = -1;
    auto start = Clock::now();
    EXPECT_TRUE(Real().readRequest(fd, buffer, 256, delivered));
    int64_t took = MsSince(start);
    EXPECT_EQ(delivered, 0);
    EXPECT_GE(took, 257);
    EXPECT_LT(took, kLateMs);
  }
  int32_t delivered = -1;
  auto start = Clock::now();
  EXPECT_TRUE(Real().readRequest(fd, buffer, 0, delivered));
  EXPECT_EQ(delivered, 0);
  EXPECT_LT(MsSince(start), kLateMs);
}

TEST_F(SerialDeviceTest, ARequestCompletesWhenItsCountHasArrived) {
  OpenPort0();
  // Limits that a wrong completion would make plain, as large as they go.
  ASSERT_TRUE(Real().applyTimeouts(fd, {60'000, kMaxTimeoutMs, kMaxTimeoutMs, 0, 10}));
  FromModem("+CSQ: 17,99");
  char buffer[16] = {};
  int32_t delivered = 0;
  auto start = Clock::now();
  ASSERT_TRUE(Real().readRequest(fd, buffer, 5, delivered));
  EXPECT_LT(MsSince(start), kLateMs);
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(delivered)), "+CSQ:");
  ASSERT_TRUE(Real().readRequest(fd, buffer, 6, delivered));
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(delivered)), " 17,99");
}

TEST_F(SerialDeviceTest, ARequestEndsTheIntervalAfterItsLastByte) {
  OpenPort0();
  ASSERT_TRUE(Real().applyTimeouts(fd, {200, 0, 60'000, 0, 10}));
  FromModem("OK\r");
  char buffer[256];
  int32_t delivered = 0;
  auto start = Clock::now();
  ASSERT_TRUE(Real().readRequest(fd, buffer, 256, delivered));
  int64_t took = MsSince(start);
  EXPECT_EQ(delivered, 3);
  EXPECT_GE(took, 200);
  EXPECT_LT(took, kLateMs);
}

TEST_F(SerialDeviceTest, TheIntervalTimerWaitsForTheFirstByte) {
  OpenPort0();
  ASSERT_TRUE(Real().applyTimeouts(fd, {50, 0, 60'000, 0, 10}));
  std::thread modem([this] {
    std::this_thread::sleep_for(milliseconds(300));
    FromModem("K");
  });
  char buffer[256];
  int32_t delivered = 0;
  auto start = Clock::now();
  EXPECT_TRUE(Real().readRequest(fd, buffer, 256, delivered));
  int64_t took = MsSince(start);
  modem.join();
  EXPECT_EQ(delivered, 1);
  EXPECT_GE(took, 300 + 50);
  EXPECT_LT(took, kLateMs);
}

TEST_F(SerialDeviceTest, TheTotalLimitEndsARequestWhileBytesKeepComing) {
  OpenPort0();
  std::atomic<bool> stop{false};
  std::thread modem([&] {
    while (!stop) {
      FromModem("x");
      std::this_thread::sleep_for(milliseconds(20));
    }
  });
  char buffer[256];
  int32_t delivered = 0;
  auto start = Clock::now();
  EXPECT_TRUE(Real().readRequest(fd, buffer, 256, delivered));
  int64_t took = MsSince(start);
  stop = true;
  modem.join();
  EXPECT_GE(took, 257);
  EXPECT_LT(took, kLateMs);
  EXPECT_GT(delivered, 0);
  EXPECT_LT(delivered, 256);
}

TEST_F(SerialDeviceTest, AnInterruptedRequestIsResumed) {
  struct sigaction action{};
  struct sigaction previous{};
  action.sa_handler = CountInterruption;  // no SA_RESTART: the waits see EINTR
  sigemptyset(&action.sa_mask);
  sigaction(SIGUSR1, &action, &previous);
  OpenPort0();
  ASSERT_TRUE(Real().applyTimeouts(fd, kDefaultCommTimeouts));
  interruptions = 0;
  pthread_t reader = pthread_self();
  std::atomic<bool> done{false};
  std::thread interrupter([&] {
    while (!done) {
      pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(milliseconds(10));
    }
  });
  char buffer[256];
  int32_t delivered = -1;
  auto start = Clock::now();
  bool ok = Real().readRequest(fd, buffer, 256, delivered);
  int64_t took = MsSince(start);
  done = true;
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(ok);
  EXPECT_EQ(delivered, 0);
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_GE(took, 257);
  EXPECT_LT(took, kLateMs);
}

TEST_F(SerialDeviceTest, AVanishedFarEndIsAnOrdinaryFailure) {
  struct sigaction hangUp{};
  struct sigaction pipe{};
  struct sigaction oldHangUp{};
  struct sigaction oldPipe{};
  hangUp.sa_handler = CountHangUp;
  pipe.sa_handler = CountPipe;
  sigaction(SIGHUP, &hangUp, &oldHangUp);
  sigaction(SIGPIPE, &pipe, &oldPipe);
  hangUpSignals = 0;
  pipeSignals = 0;

  OpenPort0();
  ASSERT_TRUE(Real().applyTimeouts(fd, {60'000, 0, 60'000, 0, 60'000}));
  std::thread modem([this] {
    FromModem("\r\n+CS");
    std::this_thread::sleep_for(milliseconds(100));
    close(master);
  });
  char buffer[256];
  int32_t delivered = 0;
  auto start = Clock::now();
  EXPECT_FALSE(Real().readRequest(fd, buffer, 256, delivered));
  modem.join();
  master = -1;
  EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(EIO));
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(delivered)), "\r\n+CS");
  // Every later call fails at once, again and again.
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(Real().readRequest(fd, buffer, 256, delivered));
    EXPECT_EQ(delivered, 0);
    int32_t written = -1;
    EXPECT_FALSE(Real().write(fd, "AT\r", 3, written));
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(EIO));
  }
  EXPECT_LT(MsSince(start), kLateMs);
  EXPECT_TRUE(Real().close(fd));
  fd = -1;
  sigaction(SIGHUP, &oldHangUp, nullptr);
  sigaction(SIGPIPE, &oldPipe, nullptr);
  EXPECT_EQ(hangUpSignals.load(), 0);
  EXPECT_EQ(pipeSignals.load(), 0);
}

TEST_F(SerialDeviceTest, AWriteSendsEverythingAndFlushes) {
  OpenPort0();
  ASSERT_TRUE(Real().applyTimeouts(fd, kDefaultCommTimeouts));
  int32_t written = 0;
  ASSERT_TRUE(Real().write(fd, "AT+CSQ\r", 7, written));
  EXPECT_EQ(written, 7);
  EXPECT_TRUE(Real().flush(fd));
  EXPECT_EQ(ToModem(7), "AT+CSQ\r");
  EXPECT_TRUE(Real().write(fd, "", 0, written));
  EXPECT_EQ(written, 0);
}

TEST_F(SerialDeviceTest, AWriteThatCannotGoOutGivesUpAtItsLimit) {
  OpenPort0();
  ASSERT_TRUE(Real().applyTimeouts(fd, {200, 1, 1, 0, 300}));
  // Nobody takes the bytes at the far end, so the terminal's buffer fills.
  std::string bytes(1 << 20, 'x');
  int32_t written = -1;
  auto start = Clock::now();
  EXPECT_FALSE(Real().write(fd, bytes.data(), static_cast<int32_t>(bytes.size()), written));
  int64_t took = MsSince(start);
  EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(ETIMEDOUT));
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int32_t>(bytes.size()));
  EXPECT_GE(took, 300);
  EXPECT_LT(took, kLateMs);
}

TEST_F(SerialDeviceTest, TimeoutsAreForgottenWithTheDescriptor) {
  OpenPort0();
  ASSERT_TRUE(Real().applyTimeouts(fd, {60'000, 0, 60'000, 0, 10}));
  ASSERT_TRUE(Real().close(fd));
  EXPECT_FALSE(Real().close(fd));
  EXPECT_EQ(Real().lastError(), static_cast<uint32_t>(EBADF));
  OpenPort0();  // very likely the same descriptor number
  char buffer[256];
  int32_t delivered = -1;
  auto start = Clock::now();
  EXPECT_TRUE(Real().readRequest(fd, buffer, 256, delivered));
  EXPECT_LT(MsSince(start), kLateMs);
}

}  // namespace
