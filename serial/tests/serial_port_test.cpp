#include "serial/serial_port.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/port_table.h"
#include "testing/elapsed.h"
#include "platform/serial_device.h"
#include "serial/link_hooks.h"
#include "tools/modem-sim/sim/modem_sim.h"

namespace {

using testing_time::Clock;
using testing_time::MsSince;
using std::chrono::milliseconds;

// Generous: far above any scheduling delay, far below what a missing bound would cost.
constexpr int64_t kLateMs = 5000;
constexpr const char* kOk = "=> OK. ";
constexpr const char* kNotAvailable = "Port not available. ";

std::vector<std::string> notes;
void RecordNote(const std::string& note) { notes.push_back(note); }

std::string ReplyText(const SerialPort& port) {
  return std::string(port.replyBuffer.data(), static_cast<std::size_t>(port.replyLength));
}

// Every test starts with a record holding its start-up values, an empty note list, and the
// real device calls.
class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    notes.clear();
    TheLinkHooks() = LinkHooks{};
    TheLinkHooks().appendToTopLine = RecordNote;
    TheSerialDeviceCalls() = RealSerialDeviceCalls();
    SetDefaultPortSettings(port);
  }

  void TearDown() override {
    ClosePort(port);
    TheSerialDeviceCalls() = RealSerialDeviceCalls();
    TheLinkHooks() = LinkHooks{};
    SetPortTable({});
  }

  SerialPort port;
};

TEST_F(LinkTest, StartUpValues) {
  port.portNumber = 5;
  port.replyLength = 9;
  SetDefaultPortSettings(port);
  EXPECT_EQ(port.portNumber, 0);
  EXPECT_EQ(port.inputQueueSize, 256);
  EXPECT_EQ(port.outputQueueSize, 256);
  EXPECT_EQ(port.handle, kNullHandle);
  EXPECT_EQ(port.timeouts.ReadIntervalTimeout, 200u);
  EXPECT_EQ(port.timeouts.ReadTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(port.timeouts.ReadTotalTimeoutConstant, 1u);
  EXPECT_EQ(port.timeouts.WriteTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(port.timeouts.WriteTotalTimeoutConstant, 10u);
  EXPECT_EQ(port.lineSettings.BaudRate, 9600u);
  EXPECT_EQ(port.lineSettings.ByteSize, 8);
  EXPECT_EQ(port.lineSettings.Parity, NOPARITY);
  EXPECT_EQ(port.lineSettings.StopBits, ONESTOPBIT);
  EXPECT_EQ(port.replyLength, 0);
  EXPECT_EQ(port.lastError, 0u);
  EXPECT_EQ(port.replyBuffer.size(), 1024u);
}

TEST(PortPathTextTest, FormsTheDevicePath) {
  struct Case {
    int32_t portNumber;
    const char* path;
  };
  const Case cases[] = {
      {0, "\\\\.\\COM0"},   {3, "\\\\.\\COM3"},           {12, "\\\\.\\COM12"},
      {-1, "\\\\.\\COM-1"}, {INT32_MIN, "\\\\.\\COM-2147483648"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.portNumber);
    EXPECT_EQ(PortPathText(c.portNumber), c.path);
  }
  EXPECT_EQ(PortPathText(3).size(), 8u);
  EXPECT_EQ(PortPathText(12).size(), 9u);
}

// ---- Against the simulated modem --------------------------------------------------------

class SimLinkTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    ASSERT_TRUE(sim.Ok()) << sim.Error();
    SetPortTable({sim.SlavePath(0), sim.SlavePath(1)});
  }

  std::string Answer(const std::string& command) {
    std::string answer;
    EXPECT_TRUE(sim.AnswerFor(0, command, answer));
    return answer;
  }

  void Open(int32_t portNumber = 0) {
    port.portNumber = portNumber;
    ASSERT_NE(OpenPort(port), kNullHandle) << port.lastError;
  }

  ModemSim sim{2};
};

TEST_F(SimLinkTest, OpenPortConfiguresThePortAndNotesIt) {
  Open();
  EXPECT_GE(port.handle, 0);
  EXPECT_EQ(notes, std::vector<std::string>{kOk});
  EXPECT_EQ(port.lastError, 0u);
  EXPECT_EQ(ClosePort(port), 1);
  EXPECT_EQ(port.handle, kNullHandle);
  EXPECT_EQ(ClosePort(port), 0);
}

TEST_F(SimLinkTest, ExchangeCommandReturnsTheReply) {
  struct Case {
    const char* name;
    SimBehaviour behaviour;
    const char* command;
    std::string reply;
  };
  const std::string model = SimFrame(SimPortScript{}.modelText);
  const Case cases[] = {
      {"model", SimBehaviour::Answer, "AT+GMM\r", model},
      {"verbose results without echo", SimBehaviour::Answer, "ATQ0V1E0\r", "\r\nOK\r\n"},
      {"signal quality", SimBehaviour::Answer, "AT+CSQ\r", "\r\n+CSQ: 17,99\r\n\r\nOK\r\n"},
      {"error reply", SimBehaviour::Error, "AT+GMM\r", "\r\nERROR\r\n"},
      {"three pieces 100 ms apart", SimBehaviour::Split, "AT+GMM\r", model},
      {"no reply", SimBehaviour::Silent, "AT+CSQ\r", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimPortScript script;
    script.behaviour = c.behaviour;
    sim.SetScript(0, script);
    sim.ClearReceived();
    notes.clear();
    Open();
    auto start = Clock::now();
    std::string reply = ExchangeCommand(port, c.command);
    int64_t took = MsSince(start);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(port.replyLength, static_cast<int32_t>(c.reply.size()));
    // The reply's last byte is followed by the interval and one empty request at least.
    EXPECT_GE(took, c.reply.empty() ? 257 : 200 + 257);
    EXPECT_LT(took, kLateMs);
    auto received = sim.Received(0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].text + "\r", c.command);  // sent without a terminating NUL
    EXPECT_EQ(ClosePort(port), 1);
  }
}

std::vector<int32_t> deliveries;
bool CountingReadRequest(int fd, char* buffer, int32_t count, int32_t& delivered) {
  bool ok = RealSerialDeviceCalls().readRequest(fd, buffer, count, delivered);
  deliveries.push_back(delivered);
  return ok;
}

TEST_F(SimLinkTest, AReplyAcrossSeveralRequestsIsStoredContiguously) {
  // The first piece ends its request by the 200 ms interval; the second comes 130 ms into
  // the next request's 257 ms.
  SimPortScript script;
  script.behaviour = SimBehaviour::Split;
  script.splitPieces = 2;
  script.splitGapMs = 330;
  sim.SetScript(0, script);
  SerialDeviceCalls counting = RealSerialDeviceCalls();
  counting.readRequest = CountingReadRequest;
  TheSerialDeviceCalls() = counting;
  deliveries.clear();
  Open();
  std::string reply = ExchangeCommand(port, "AT+GMM\r");
  EXPECT_EQ(reply, Answer("AT+GMM"));
  EXPECT_EQ(port.replyLength, static_cast<int32_t>(reply.size()));
  int32_t sum = 0;
  int32_t withBytes = 0;
  for (int32_t d : deliveries) {
    sum += d;
    withBytes += d > 0 ? 1 : 0;
  }
  EXPECT_EQ(sum, port.replyLength);
  EXPECT_GE(withBytes, 2);
  EXPECT_EQ(deliveries.back(), 0);
}

TEST_F(SimLinkTest, AReplyOverTheBufferStopsAtExactly1024Bytes) {
  SimPortScript script;
  script.behaviour = SimBehaviour::Long;
  script.longReplyBytes = 1500;
  sim.SetScript(0, script);
  const std::string whole = SimLongReply(1500);
  Open();
  std::string reply = ExchangeCommand(port, "AT+GMM\r");
  EXPECT_EQ(port.replyLength, 1024);
  EXPECT_EQ(reply, whole.substr(0, 1024));
  // The rest stayed in the driver and starts the next read.
  EXPECT_EQ(ReadPort(port), 1500 - 1024);
  EXPECT_EQ(ReplyText(port), whole.substr(1024));
}

TEST_F(SimLinkTest, AFloodFillsTheBufferAndEndsTheRead) {
  SimPortScript script;
  script.behaviour = SimBehaviour::Flood;
  sim.SetScript(0, script);
  Open();
  auto start = Clock::now();
  EXPECT_EQ(ReadPort(port), 1024);
  EXPECT_LT(MsSince(start), kLateMs);
}

TEST_F(SimLinkTest, ANulByteEndsTheReplyTextButIsCounted) {
  SimPortScript script;
  script.behaviour = SimBehaviour::Nul;
  sim.SetScript(0, script);
  const std::string answer = Answer("AT+CSQ");
  Open();
  std::string reply = ExchangeCommand(port, "AT+CSQ\r");
  EXPECT_EQ(reply, answer.substr(0, answer.size() / 2));
  EXPECT_EQ(port.replyLength, static_cast<int32_t>(answer.size() + 1));
  EXPECT_EQ(port.replyBuffer[answer.size() / 2], '\0');
}

TEST_F(SimLinkTest, ASecondOpenOfAHeldPortFails) {
  Open();
  SerialPort other;
  SetDefaultPortSettings(other);
  other.portNumber = 0;
  notes.clear();
  EXPECT_EQ(OpenPort(other), kNullHandle);
  EXPECT_EQ(other.handle, kNullHandle);
  EXPECT_EQ(other.lastError, static_cast<uint32_t>(EBUSY));
  EXPECT_EQ(notes, std::vector<std::string>{kNotAvailable});
  // The holder is not disturbed, and once it lets go the port opens again.
  EXPECT_EQ(ExchangeCommand(port, "AT+CSQ\r"), Answer("AT+CSQ"));
  EXPECT_EQ(ClosePort(port), 1);
  EXPECT_NE(OpenPort(other), kNullHandle);
  EXPECT_EQ(ClosePort(other), 1);
}

TEST_F(SimLinkTest, ReopeningARecordThatHoldsAPortGivesTheOldOneBack) {
  Open();
  Open();
  EXPECT_EQ(notes, (std::vector<std::string>{kOk, kOk}));
  EXPECT_EQ(ClosePort(port), 1);
  // Nothing still holds the port.
  SerialPort other;
  SetDefaultPortSettings(other);
  EXPECT_NE(OpenPort(other), kNullHandle);
  EXPECT_EQ(ClosePort(other), 1);
}

TEST_F(SimLinkTest, PortsThatDoNotExistAreNotAvailable) {
  struct Case {
    const char* name;
    int32_t portNumber;
    bool emptyTable;
  };
  const Case cases[] = {
      {"port 0 with no ports", 0, true},
      {"port -1", -1, false},
      {"beyond the port list", 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.emptyTable) {
      SetPortTable({});
    } else {
      SetPortTable({sim.SlavePath(0), sim.SlavePath(1)});
    }
    notes.clear();
    port.portNumber = c.portNumber;
    EXPECT_EQ(OpenPort(port), kNullHandle);
    EXPECT_EQ(port.handle, kNullHandle);
    EXPECT_EQ(port.lastError, static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(notes, std::vector<std::string>{kNotAvailable});
  }
}

std::atomic<int> linkSignals{0};
void CountLinkSignal(int) { ++linkSignals; }

TEST_F(SimLinkTest, TheFarEndVanishingDuringAReadEndsTheExchange) {
  struct sigaction count{};
  struct sigaction oldHangUp{};
  struct sigaction oldPipe{};
  count.sa_handler = CountLinkSignal;
  sigaction(SIGHUP, &count, &oldHangUp);
  sigaction(SIGPIPE, &count, &oldPipe);
  linkSignals = 0;

  SimPortScript script;
  script.behaviour = SimBehaviour::Vanish;
  script.vanishAfterBytes = 7;
  script.vanishGapMs = 100;
  sim.SetScript(0, script);
  const std::string answer = Answer("AT+CSQ");
  Open();
  auto start = Clock::now();
  std::string reply = ExchangeCommand(port, "AT+CSQ\r");
  EXPECT_EQ(reply, answer.substr(0, 7));
  EXPECT_EQ(port.replyLength, 7);
  EXPECT_EQ(port.lastError, static_cast<uint32_t>(EIO));
  EXPECT_TRUE(sim.Vanished(0));
  // What follows fails at once, without a signal.
  EXPECT_EQ(WritePort(port, "AT\r", 3), 0);
  EXPECT_EQ(ReadPort(port), 0);
  EXPECT_EQ(port.replyLength, 0);
  EXPECT_LT(MsSince(start), kLateMs);
  EXPECT_EQ(ClosePort(port), 1);
  sigaction(SIGHUP, &oldHangUp, nullptr);
  sigaction(SIGPIPE, &oldPipe, nullptr);
  EXPECT_EQ(linkSignals.load(), 0);
}

// ---- Through a fake of the device calls ---------------------------------------------------

constexpr int kFakeFd = 42;

struct Delivery {
  int32_t count;
  bool ok;
};

struct FakeDevice {
  std::vector<std::string> calls;
  bool openOk = true;
  bool readSettingsOk = true;
  bool applySettingsOk = true;
  bool timeoutsOk = true;
  bool queueSizesOk = true;
  int32_t openedNumber = -1;
  DCB asRead{115200, 7, 2, 2};
  DCB applied{};
  COMMTIMEOUTS appliedTimeouts{};
  int32_t inputSize = 0;
  int32_t outputSize = 0;
  std::vector<Delivery> deliveries;
  std::size_t nextDelivery = 0;
  std::vector<int32_t> requests;
  int64_t bytesDelivered = 0;
  std::string written;
  int32_t writeAccepts = -1;  // all
  int closedFd = -1;
  uint32_t error = 4242;
};

FakeDevice fake;

char PatternByte(int64_t i) { return static_cast<char>('a' + i % 26); }

const SerialDeviceCalls kFakeCalls{
    [](int32_t portNumber) {
      fake.calls.push_back("open");
      fake.openedNumber = portNumber;
      return fake.openOk ? kFakeFd : -1;
    },
    [](int, DCB& settings) {
      fake.calls.push_back("readSettings");
      settings = fake.asRead;
      return fake.readSettingsOk;
    },
    [](int, const DCB& settings) {
      fake.calls.push_back("applySettings");
      fake.applied = settings;
      return fake.applySettingsOk;
    },
    [](int, const COMMTIMEOUTS& timeouts) {
      fake.calls.push_back("applyTimeouts");
      fake.appliedTimeouts = timeouts;
      return fake.timeoutsOk;
    },
    [](int, int32_t input, int32_t output) {
      fake.calls.push_back("setQueueSizes");
      fake.inputSize = input;
      fake.outputSize = output;
      return fake.queueSizesOk;
    },
    [](int, char* buffer, int32_t count, int32_t& delivered) {
      fake.calls.push_back("readRequest");
      fake.requests.push_back(count);
      Delivery next{0, true};
      if (fake.nextDelivery < fake.deliveries.size()) next = fake.deliveries[fake.nextDelivery++];
      delivered = std::min(next.count, count);
      for (int32_t i = 0; i < delivered; ++i) buffer[i] = PatternByte(fake.bytesDelivered++);
      return next.ok;
    },
    [](int, const char* bytes, int32_t count, int32_t& written) {
      fake.calls.push_back("write");
      written = fake.writeAccepts < 0 ? count : std::min(fake.writeAccepts, count);
      fake.written.append(bytes, static_cast<std::size_t>(written));
      return written == count;
    },
    [](int) {
      fake.calls.push_back("flush");
      return true;
    },
    [](int fd) {
      fake.calls.push_back("close");
      fake.closedFd = fd;
      return true;
    },
    [] {
      fake.calls.push_back("lastError");
      return fake.error;
    },
};

class FakeLinkTest : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    fake = FakeDevice{};
    TheSerialDeviceCalls() = kFakeCalls;
  }

  void TearDown() override {
    port.handle = kNullHandle;  // the fake's descriptor is not a real one
    LinkTest::TearDown();
  }

  void OpenFake() {
    ASSERT_EQ(OpenPort(port), kFakeFd);
    fake.calls.clear();
  }
};

using Calls = std::vector<std::string>;

TEST_F(FakeLinkTest, OpenPortStepsAndNotes) {
  struct Case {
    const char* name;
    bool openOk, readSettingsOk, applySettingsOk, timeoutsOk, queueSizesOk;
    PortHandle handle;
    std::vector<std::string> notes;
    Calls calls;
  };
  const Calls all{"open", "readSettings", "applySettings", "applyTimeouts", "setQueueSizes", "lastError"};
  const Case cases[] = {
      {"everything accepted", true, true, true, true, true, kFakeFd, {kOk}, all},
      {"open refused", false, true, true, true, true, kNullHandle, {kNotAvailable}, {"open", "lastError"}},
      {"settings unreadable", true, false, true, true, true, kFakeFd, {}, {"open", "readSettings", "lastError"}},
      {"line settings refused", true, true, false, true, true, kFakeFd, {kOk}, all},
      {"time-outs refused", true, true, true, false, true, kFakeFd, {},
       {"open", "readSettings", "applySettings", "applyTimeouts", "lastError"}},
      {"queue sizes refused", true, true, true, true, false, kFakeFd, {kOk}, all},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake = FakeDevice{};
    fake.openOk = c.openOk;
    fake.readSettingsOk = c.readSettingsOk;
    fake.applySettingsOk = c.applySettingsOk;
    fake.timeoutsOk = c.timeoutsOk;
    fake.queueSizesOk = c.queueSizesOk;
    fake.error = 1000;
    notes.clear();
    port.handle = kNullHandle;
    port.lastError = 0;
    port.portNumber = 7;
    EXPECT_EQ(OpenPort(port), c.handle);
    EXPECT_EQ(port.handle, c.handle);
    EXPECT_EQ(port.lastError, 1000u);
    EXPECT_EQ(fake.openedNumber, 7);
    EXPECT_EQ(notes, c.notes);
    EXPECT_EQ(fake.calls, c.calls);
  }
}

TEST_F(FakeLinkTest, OpenPortAppliesTheRecordsSettingsOverWhatItRead) {
  port.timeouts = {11, 12, 13, 14, 15};
  port.inputQueueSize = 300;
  port.outputQueueSize = 400;
  OpenFake();
  EXPECT_EQ(fake.applied.BaudRate, 9600u);
  EXPECT_EQ(fake.applied.ByteSize, 8);
  EXPECT_EQ(fake.applied.Parity, NOPARITY);
  EXPECT_EQ(fake.applied.StopBits, ONESTOPBIT);
  EXPECT_EQ(fake.appliedTimeouts.ReadIntervalTimeout, 11u);
  EXPECT_EQ(fake.appliedTimeouts.ReadTotalTimeoutMultiplier, 12u);
  EXPECT_EQ(fake.appliedTimeouts.ReadTotalTimeoutConstant, 13u);
  EXPECT_EQ(fake.appliedTimeouts.WriteTotalTimeoutMultiplier, 14u);
  EXPECT_EQ(fake.appliedTimeouts.WriteTotalTimeoutConstant, 15u);
  EXPECT_EQ(fake.inputSize, 300);
  EXPECT_EQ(fake.outputSize, 400);
}

TEST_F(FakeLinkTest, OpenPortGivesBackAPortTheRecordStillHolds) {
  port.handle = 7;
  OpenPort(port);
  ASSERT_FALSE(fake.calls.empty());
  EXPECT_EQ(fake.calls.front(), "close");
  EXPECT_EQ(fake.closedFd, 7);
  EXPECT_EQ(port.handle, kFakeFd);
}

TEST_F(FakeLinkTest, ReadPortRequestsAtMost256BytesUpTo1024) {
  struct Case {
    const char* name;
    std::vector<Delivery> deliveries;
    std::vector<int32_t> requests;
    int32_t total;
  };
  const Case cases[] = {
      {"nothing", {}, {256}, 0},
      {"a short reply", {{21, true}}, {256, 256}, 21},
      {"over several requests", {{100, true}, {256, true}, {3, true}}, {256, 256, 256, 256}, 359},
      {"full requests", {{256, true}, {256, true}, {256, true}, {256, true}}, {256, 256, 256, 256}, 1024},
      {"the last request only fills the buffer",
       {{200, true}, {200, true}, {200, true}, {200, true}, {200, true}, {24, true}},
       {256, 256, 256, 256, 224, 24},
       1024},
      {"a failed request ends the loop", {{10, true}, {0, false}, {50, true}}, {256, 256}, 10},
      {"a request that fails part-way still counts", {{10, false}, {0, true}}, {256, 256}, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.handle = kFakeFd;
    fake = FakeDevice{};
    fake.deliveries = c.deliveries;
    fake.error = 99;
    EXPECT_EQ(ReadPort(port), c.total);
    EXPECT_EQ(port.replyLength, c.total);
    EXPECT_EQ(port.lastError, 99u);
    EXPECT_EQ(fake.requests, c.requests);
    std::string expected;
    for (int32_t i = 0; i < c.total; ++i) expected.push_back(PatternByte(i));
    EXPECT_EQ(ReplyText(port), expected);
  }
}

TEST_F(FakeLinkTest, WritePortWritesOnceThenFlushes) {
  struct Case {
    const char* name;
    int32_t accepts;
    int32_t result;
  };
  const Case cases[] = {
      {"all written", -1, 9},
      {"part written", 3, 3},
      {"nothing written", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.handle = kFakeFd;
    port.lastError = 5;
    fake = FakeDevice{};
    fake.writeAccepts = c.accepts;
    EXPECT_EQ(WritePort(port, "ATQ0V1E0\r", 9), c.result);
    EXPECT_EQ(fake.calls, (Calls{"write", "flush"}));
    EXPECT_EQ(port.lastError, 5u);
  }
  fake = FakeDevice{};
  EXPECT_EQ(WritePort(port, "AT\r", -3), 0);
  EXPECT_EQ(WritePort(port, nullptr, 3), 0);
  EXPECT_TRUE(fake.calls.empty());
}

bool pendingProcessed = false;
bool OnePendingMessage() {
  fake.calls.push_back("message");
  return !std::exchange(pendingProcessed, true);
}

TEST_F(FakeLinkTest, ExchangeCommandWritesDrainsThenReads) {
  OpenFake();
  pendingProcessed = false;
  TheLinkHooks().processPendingMessage = OnePendingMessage;
  fake.deliveries = {{5, true}};
  std::string reply = ExchangeCommand(port, "AT+CSQ\r");
  EXPECT_EQ(fake.written, "AT+CSQ\r");
  EXPECT_EQ(fake.calls,
            (Calls{"write", "flush", "message", "message", "readRequest", "readRequest", "lastError"}));
  EXPECT_EQ(reply, "abcde");
}

TEST_F(FakeLinkTest, AClosedRecordMakesNoDeviceCall) {
  const std::string previous = "\r\nOK\r\n";
  std::memcpy(port.replyBuffer.data(), previous.data(), previous.size());
  port.replyLength = static_cast<int32_t>(previous.size());
  port.lastError = 3;
  EXPECT_EQ(ReadPort(port), 0);
  EXPECT_EQ(WritePort(port, "AT\r", 3), 0);
  EXPECT_EQ(port.replyLength, static_cast<int32_t>(previous.size()));
  EXPECT_EQ(port.lastError, 3u);
  // An exchange sends nothing and gives the reply the record still holds.
  EXPECT_EQ(ExchangeCommand(port, "AT+CSQ\r"), previous);
  port.replyLength = 0;
  EXPECT_EQ(ExchangeCommand(port, "AT+CSQ\r"), "");
  EXPECT_TRUE(fake.calls.empty());
  // Closing nothing still records the last error.
  fake.error = 31;
  EXPECT_EQ(ClosePort(port), 0);
  EXPECT_EQ(port.lastError, 31u);
  EXPECT_EQ(fake.calls, Calls{"lastError"});
}

TEST_F(FakeLinkTest, ClosePortClosesAndForgetsTheHandle) {
  OpenFake();
  fake.error = 0;
  EXPECT_EQ(ClosePort(port), 1);
  EXPECT_EQ(port.handle, kNullHandle);
  EXPECT_EQ(fake.closedFd, kFakeFd);
  EXPECT_EQ(fake.calls, (Calls{"close", "lastError"}));
}

int pendingMessages = 0;
int messageCalls = 0;
bool CountedMessage() {
  ++messageCalls;
  if (pendingMessages == 0) return false;
  --pendingMessages;
  return true;
}

TEST(DrainEventsTest, ProcessesEveryPendingMessageWithAPauseAfterEach) {
  for (int pending : {0, 1, 3}) {
    SCOPED_TRACE(pending);
    TheLinkHooks() = LinkHooks{};
    TheLinkHooks().processPendingMessage = CountedMessage;
    pendingMessages = pending;
    messageCalls = 0;
    auto start = Clock::now();
    EXPECT_EQ(DrainEvents(), pending);
    int64_t took = MsSince(start);
    EXPECT_EQ(messageCalls, pending + 1);
    EXPECT_GE(took, 5 * pending);
    EXPECT_LT(took, kLateMs);
  }
  TheLinkHooks() = LinkHooks{};
  EXPECT_EQ(DrainEvents(), 0);
}

TEST(DrainEventsTest, AWindowThatNeverRunsOutOfWorkCannotHoldTheExchange) {
  TheLinkHooks() = LinkHooks{};
  TheLinkHooks().processPendingMessage = [] { return true; };
  EXPECT_EQ(DrainEvents(), 200);
  TheLinkHooks() = LinkHooks{};
}

}  // namespace
