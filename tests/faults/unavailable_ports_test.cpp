// Ports the program cannot have: held by another program, closed to the user, or not a
// terminal at all.
#include <fcntl.h>
#include <iterator>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/faults/fault_fixture.h"

namespace faults {
namespace {

const std::string kAnswered = "=> OK.   QV-2 Cellular Modem    OK  ";
constexpr uid_t kNobody = 65534;

// Waits for one byte from fd, at most kGenerousMs; false when none came.
bool ReadByte(int fd, char& byte) {
  pollfd entry{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&entry, 1, static_cast<int>(kGenerousMs));
  } while (ready < 0 && errno == EINTR);
  return ready == 1 && read(fd, &byte, 1) == 1;
}

// Another program holding the device with an exclusive lock.
class LockHolder {
 public:
  explicit LockHolder(const std::string& path) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0) return;
    if (pipe(release) != 0) {
      close(ready[0]);
      close(ready[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      const char locked = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
      (void)!write(ready[1], &locked, 1);
      char byte;
      while (read(release[0], &byte, 1) < 0 && errno == EINTR) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char locked = 0;
    locked_ = pid_ > 0 && ReadByte(ready[0], locked) && locked == 1;
    close(ready[0]);
  }
  ~LockHolder() { Release(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

  bool Locked() const { return locked_; }
  void Release() {
    if (release_ >= 0) close(release_);
    release_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

class HeldPortTest : public FaultTest {
 protected:
  HeldPortTest() : FaultTest(1) {}
};

TEST_F(HeldPortTest, IsNotAvailableUntilTheOtherProgramLetsGo) {
  const std::string device = sim_.SlavePath(0);
  StartUp();
  ASSERT_EQ(DeviceItems(), (std::vector<Item>{{"\\\\.\\COM0   QV-2 Cellular Modem    OK  ", 0}}));
  sim_.ClearReceived();

  LockHolder holder(device);
  ASSERT_TRUE(holder.Locked());
  EXPECT_TRUE(Press(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{P(4) + "Unable to open port 0!", "Port not available. ", ""}));
  EXPECT_EQ(State().port.lastError, static_cast<uint32_t>(EBUSY));
  EXPECT_EQ(State().monitoringFlag, 0);
  EXPECT_TRUE(Press(enumerateButton));
  EXPECT_EQ(TopLines(5),
            (std::vector<std::string>{"", P(7) + "END Enumeration", P(6) + "Checking Port COM0... Port not available. ",
                                      P(5) + "Enumerating COM ports...", P(4) + "Unable to open port 0!"}));
  EXPECT_EQ(DeviceListCount(), 0);
  EXPECT_TRUE(sim_.Received().empty()) << "nothing was sent to the held port";
  EXPECT_EQ(OpenDescriptors(device), 1) << "only the simulated modem's own";

  holder.Release();
  EXPECT_TRUE(Press(enumerateButton));
  EXPECT_EQ(TopLines(4),
            (std::vector<std::string>{"", P(10) + "END Enumeration", P(9) + "Checking Port COM0... " + kAnswered,
                                      P(8) + "Enumerating COM ports..."}));
  EXPECT_TRUE(Press(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{P(11) + "Start Monitoring Port 0 ...", "=> OK. ", ""}));
  EXPECT_EQ(State().monitoringFlag, 1);
}

// The open of a port as a user without the right to it: when the test runs as root, a child
// process drops to nobody, opens there, and hands the descriptor (or the error) back.
struct UnprivilegedOpen {
  int32_t portNumber;
  uint32_t error;
};
std::vector<UnprivilegedOpen> unprivilegedOpens;
uint32_t pendingOpenError = 0;

bool DropPrivileges() {
  if (geteuid() != 0) return true;
  return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

// In the child: the open's error (0, or a negative one when privileges could not be dropped),
// and the descriptor along with it when it opened.
void SendOpenResult(int socket, int32_t error, int fd) {
  msghdr message{};
  iovec data{&error, sizeof error};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (fd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
  }
  (void)!sendmsg(socket, &message, 0);
}

bool ReceiveOpenResult(int socket, int32_t& error, int& fd) {
  fd = -1;
  msghdr message{};
  iovec data{&error, sizeof error};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  pollfd entry{socket, POLLIN, 0};
  if (poll(&entry, 1, static_cast<int>(kGenerousMs)) != 1) return false;
  if (recvmsg(socket, &message, MSG_CMSG_CLOEXEC) != static_cast<ssize_t>(sizeof error)) return false;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr; header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS)
      std::memcpy(&fd, CMSG_DATA(header), sizeof fd);
  }
  return true;
}

// -1 for an error of the child itself (privileges not dropped, no answer).
int32_t OpenInUnprivilegedChild(int32_t portNumber, int& fd) {
  int pair[2];
  fd = -1;
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(pair[0]);
    if (!DropPrivileges()) {
      SendOpenResult(pair[1], -1, -1);
      _exit(0);
    }
    const int opened = RealSerialDeviceCalls().open(portNumber);
    SendOpenResult(pair[1], opened >= 0 ? 0 : static_cast<int32_t>(RealSerialDeviceCalls().lastError()), opened);
    _exit(0);
  }
  close(pair[1]);
  int32_t error = -1;
  if (pid < 0 || !ReceiveOpenResult(pair[0], error, fd)) error = -1;
  close(pair[0]);
  if (pid > 0) waitpid(pid, nullptr, 0);
  return error;
}

int OpenAsUnprivilegedUser(int32_t portNumber) {
  int fd = -1;
  const int32_t error = OpenInUnprivilegedChild(portNumber, fd);
  unprivilegedOpens.push_back({portNumber, static_cast<uint32_t>(error)});
  pendingOpenError = fd >= 0 ? 0 : static_cast<uint32_t>(error);
  return fd;
}

// The error of a failed unprivileged open is the child's; every other call is this process's own.
uint32_t LastErrorAfterUnprivilegedOpen() {
  const uint32_t error = pendingOpenError;
  pendingOpenError = 0;
  return error != 0 ? error : RealSerialDeviceCalls().lastError();
}

class UserMayNotOpenTest : public FaultTest {
 protected:
  UserMayNotOpenTest() : FaultTest(2) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    unprivilegedOpens.clear();
    pendingOpenError = 0;
    // Port 0 is closed to the user who opens it (nobody, or this user when not root); port 1
    // is open to everybody.
    const bool root = geteuid() == 0;
    if (chmod(sim_.SlavePath(0).c_str(), root ? 0600 : 0000) != 0 || chmod(sim_.SlavePath(1).c_str(), 0666) != 0) {
      GTEST_SKIP() << "cannot set the permissions of the simulated modem's terminals: " << std::strerror(errno);
    }
    int fd = -1;
    const int32_t error = OpenInUnprivilegedChild(0, fd);
    if (fd >= 0) close(fd);
    if (error < 0) GTEST_SKIP() << "cannot open as an unprivileged user here";
    if (fd >= 0) GTEST_SKIP() << "this user opens a device closed to it (a capability overrides its permissions)";
    TheSerialDeviceCalls().open = OpenAsUnprivilegedUser;
    TheSerialDeviceCalls().lastError = LastErrorAfterUnprivilegedOpen;
  }
};

TEST_F(UserMayNotOpenTest, IsNotAvailableAndTheOtherPortServes) {
  StartUp();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "", P(4) + "END Enumeration", P(3) + "Checking Port COM1... " + kAnswered,
                            P(2) + "Checking Port COM0... Port not available. ", P(1) + "Enumerating COM ports..."}));
  ASSERT_EQ(unprivilegedOpens.size(), 2u);
  EXPECT_EQ(unprivilegedOpens[0].portNumber, 0);
  EXPECT_EQ(unprivilegedOpens[0].error, static_cast<uint32_t>(EACCES));
  EXPECT_EQ(unprivilegedOpens[1].error, 0u);
  EXPECT_EQ(DeviceItems(), (std::vector<Item>{{"\\\\.\\COM1   QV-2 Cellular Modem    OK  ", 1}}));
  EXPECT_TRUE(sim_.Received(0).empty());

  // The port the user may open is monitored through the descriptor the user's open gave.
  const uint32_t t0 = fakeNow;
  EXPECT_TRUE(Press(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{P(5) + "Start Monitoring Port 1 ...", "=> OK. ", ""}));
  fakeNow = t0 + 2000;
  EXPECT_TRUE(Pass());
  EXPECT_EQ(LogLine(0), P(6) + "  2.0:         1: 17,99 = \t   -81 dBm (= 53%)");
}

// Paths in QUELVANE_PORTS that name no terminal: a regular file or a directory is no port and
// does not open (nothing may be written into a file named by mistake); a character device that
// is not a terminal opens but has no line settings, so nothing is applied and no note is written.
class NotATerminalTest : public FaultTest {
 protected:
  NotATerminalTest() : FaultTest(1) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    if (const char* ports = getenv("QUELVANE_PORTS")) {
      savedPorts_ = ports;
      hadPorts_ = true;
    }
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    file_ = dir_ + "/modem.log";
    std::ofstream(file_) << kFileText;
    std::filesystem::create_directory(dir_ + "/ports");
    setenv("QUELVANE_PORTS", (file_ + ":" + dir_ + "/ports:/dev/null:" + sim_.SlavePath(0)).c_str(), 1);
    SetPortListSource(nullptr);
  }

  void TearDown() override {
    FaultTest::TearDown();
    if (hadPorts_) {
      setenv("QUELVANE_PORTS", savedPorts_.c_str(), 1);
    } else {
      unsetenv("QUELVANE_PORTS");
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  static constexpr const char* kFileText = "a log the user keeps\n";
  std::string dir_;
  std::string file_;
  std::string savedPorts_;
  bool hadPorts_ = false;
};

TEST_F(NotATerminalTest, OpensWithoutSettingsOrIsNotAvailable) {
  const auto start = Clock::now();
  StartUp();
  EXPECT_LT(MsSince(start), kGenerousMs);

  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"", P(6) + "END Enumeration", P(5) + "Checking Port COM3... " + kAnswered,
                                      P(4) + "Checking Port COM2... ",
                                      P(3) + "Checking Port COM1... Port not available. ",
                                      P(2) + "Checking Port COM0... Port not available. ",
                                      P(1) + "Enumerating COM ports..."}));
  EXPECT_EQ(DeviceItems(), (std::vector<Item>{{"\\\\.\\COM3   QV-2 Cellular Modem    OK  ", 3}}));
  EXPECT_EQ(CallsOf(0), (std::vector<std::string>{"open 0 failed"}));
  EXPECT_EQ(CallsOf(1), (std::vector<std::string>{"open 1 failed"}));
  EXPECT_EQ(CallsOf(2), (std::vector<std::string>{"open 2", "readSettings 2 failed", "close 2"}));
  EXPECT_EQ(CallsOf(3), (std::vector<std::string>{"open 3", "readSettings 3", "applySettings 3", "applyTimeouts 3",
                                                  "setQueueSizes 3", "close 3"}));
  // The file is as the user left it.
  std::ifstream in(file_);
  const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, kFileText);
  // Both commands went to the device that is no terminal, and their exchanges ended with nothing read.
  ASSERT_GE(watch.exchanges.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(watch.exchanges[i].portNumber, 2);
    EXPECT_EQ(watch.exchanges[i].reply, "");
  }
  EXPECT_EQ(watch.exchanges[0].command, "ATQ0V1E0\r");
  EXPECT_EQ(watch.exchanges[1].command, "AT+GMM\r");
  EXPECT_EQ(State().port.handle, kNullHandle);
}

}  // namespace
}  // namespace faults
