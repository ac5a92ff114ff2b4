// The modem goes away in the middle of the program's work: between the two commands of a
// discovery probe, and in the middle of a reply while it is monitored.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/faults/fault_fixture.h"

namespace faults {
namespace {

const std::string kAnswered = "=> OK.   QV-2 Cellular Modem    OK  ";

// The ports are listed through links, like the by-id names the device manager keeps; a modem
// that goes away takes its link with it, as an unplugged USB modem does.
class VanishingModemTest : public FaultTest {
 protected:
  VanishingModemTest() : FaultTest(2) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    linkDir_ = MakeTempDir();
    ASSERT_FALSE(linkDir_.empty());
    portPaths.clear();
    for (int32_t p = 0; p < sim_.PortCount(); ++p) {
      const std::string link = linkDir_ + "/modem" + std::to_string(p);
      std::filesystem::create_symlink(sim_.SlavePath(p), link);
      portPaths.push_back(link);
    }
  }

  void TearDown() override {
    FaultTest::TearDown();
    std::error_code ignored;
    std::filesystem::remove_all(linkDir_, ignored);
  }

  void Unplug(int32_t port) {
    sim_.Vanish(port);
    std::filesystem::remove(portPaths[static_cast<std::size_t>(port)]);
  }

  std::string linkDir_;
};

TEST_F(VanishingModemTest, BetweenTheTwoCommandsOfAProbe) {
  watch.beforeWrite = [this](const DeviceExchange& exchange) {
    if (exchange.portNumber == 0 && exchange.command == "AT+GMM\r") Unplug(0);
  };
  const auto start = Clock::now();
  StartUp();
  EXPECT_LT(MsSince(start), kGenerousMs);
  watch.beforeWrite = nullptr;

  ASSERT_TRUE(sim_.Vanished(0));
  EXPECT_EQ(CommandsOf(sim_, 0), std::vector<std::string>{"ATQ0V1E0"});
  ASSERT_GE(watch.exchanges.size(), 2u);
  EXPECT_EQ(watch.exchanges[1].command, "AT+GMM\r");
  EXPECT_EQ(watch.exchanges[1].reply, "");
  // The probe line keeps the open note and nothing after it; the modem is not listed.
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"", P(4) + "END Enumeration", P(3) + "Checking Port COM1... " + kAnswered,
                                      P(2) + "Checking Port COM0... => OK. ", P(1) + "Enumerating COM ports..."}));
  EXPECT_EQ(ControlText(statusLine), P(4) + "END Enumeration");
  EXPECT_EQ(DeviceItems(), (std::vector<Item>{{"\\\\.\\COM1   QV-2 Cellular Modem    OK  ", 1}}));
  EXPECT_EQ(DeviceListSelected(), 0);
  EXPECT_EQ(State().port.handle, kNullHandle);
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), 0);

  // Stop and a new discovery still work; the modem that went away is no longer available.
  EXPECT_TRUE(Press(stopButton));
  EXPECT_EQ(TopLines(2), (std::vector<std::string>{P(5) + "Stop Monitoring Port 1 ...", ""}));
  EXPECT_EQ(State().monitoringFlag, 0);
  EXPECT_TRUE(Press(enumerateButton));
  EXPECT_EQ(TopLines(6),
            (std::vector<std::string>{"", P(9) + "END Enumeration", P(8) + "Checking Port COM1... " + kAnswered,
                                      P(7) + "Checking Port COM0... Port not available. ",
                                      P(6) + "Enumerating COM ports...", P(5) + "Stop Monitoring Port 1 ..."}));
  EXPECT_EQ(DeviceItems(), (std::vector<Item>{{"\\\\.\\COM1   QV-2 Cellular Modem    OK  ", 1}}));

  // The modem that stayed is monitored as usual.
  const uint32_t t0 = fakeNow;
  EXPECT_TRUE(Press(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{P(10) + "Start Monitoring Port 1 ...", "=> OK. ", ""}));
  fakeNow = t0 + 2000;
  EXPECT_TRUE(Pass());
  EXPECT_EQ(LogLine(0), P(11) + "  2.0:         1: 17,99 = \t   -81 dBm (= 53%)");
  EXPECT_TRUE(boxes.empty());
}

// The modem sends the first bytes of its answer to "AT+CSQ" and goes away before the rest.
// The poll logs what arrived, the polls after it log no signal, and Stop and discovery work.
TEST_F(VanishingModemTest, InTheMiddleOfAReplyWhileMonitored) {
  StartUp();
  ASSERT_EQ(DeviceListCount(), 2);

  struct Case {
    const char* name;
    int32_t port;
    std::size_t keptBytes;  // of "\r\n+CSQ: 21,99\r\n\r\nOK\r\n"
    std::string noteLine;   // the top line once Monitor's open note is on it
    std::string cutLine;    // after the prefix
    int32_t pollCounter;
    std::string dbm;
    std::string percent;
  };
  const Case cases[] = {
      {"cut right after the prefix: a raw-reply line", 0, 7, "=> OK. ", "1:  \t+CSQ:", 1, "0", "0%"},
      {"cut inside the value: a reading of what arrived", 1, 9, P(8) + "Stop Monitoring Port 0 ...=> OK. ",
       "  2.0:         2: 2 = \t  -111 dBm (= 6%)", 2, "-111", "6%"},
  };
  const std::string answer = SimFrame("+CSQ: 21,99");
  int32_t line = State().logLineCounter;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string device = sim_.SlavePath(c.port);
    ChangeScript(c.port, [&c](SimPortScript& script) {
      script.behaviour = SimBehaviour::Vanish;
      script.csqValue = 21;
      script.vanishAfterBytes = static_cast<int32_t>(c.keptBytes);
      script.vanishGapMs = 600000;  // the test decides when it goes
    });
    watch.afterRead = [this, &c](const DeviceExchange& exchange) {
      if (exchange.command == "AT+CSQ\r" && exchange.reply.size() >= c.keptBytes && !sim_.Vanished(c.port)) {
        Unplug(c.port);
      }
    };
    SelectDevice(c.port);
    const uint32_t t0 = fakeNow;
    EXPECT_TRUE(Press(monitorButton));
    EXPECT_EQ(TopLines(2), (std::vector<std::string>{
                               P(line + 1) + "Start Monitoring Port " + std::to_string(c.port) + " ...", c.noteLine}));
    EXPECT_EQ(State().monitoringFlag, 1);

    fakeNow = t0 + 2000;
    auto start = Clock::now();
    EXPECT_TRUE(Pass());
    EXPECT_LT(MsSince(start), kGenerousMs);
    EXPECT_TRUE(sim_.Vanished(c.port));
    EXPECT_EQ(watch.exchanges.back().reply, answer.substr(0, c.keptBytes));
    EXPECT_EQ(LogLine(0), P(line + 2) + c.cutLine);
    EXPECT_EQ(State().pollCounter, c.pollCounter);
    EXPECT_EQ(ControlText(dbmDisplay), c.dbm);
    EXPECT_EQ(ControlText(percentDisplay), c.percent);

    fakeNow = t0 + 4000;
    start = Clock::now();
    EXPECT_TRUE(Pass());
    EXPECT_LT(MsSince(start), kGenerousMs);
    EXPECT_EQ(watch.exchanges.back().command, "AT+CSQ\r");
    EXPECT_EQ(watch.exchanges.back().reply, "");
    EXPECT_EQ(LogLine(0), P(line + 3) + "    4: No signal");
    EXPECT_EQ(State().pollCounter, c.pollCounter);
    EXPECT_EQ(ControlText(dbmDisplay), c.dbm);
    EXPECT_EQ(ControlText(percentDisplay), "0%");
    EXPECT_EQ(ControlText(timerDisplay), "4.0 sec");

    fakeNow = t0 + 4500;
    EXPECT_TRUE(Press(stopButton));
    EXPECT_EQ(TopLines(4),
              (std::vector<std::string>{P(line + 4) + "Stop Monitoring Port " + std::to_string(c.port) + " ...",
                                        P(line + 3) + "    4: No signal", P(line + 2) + c.cutLine,
                                        P(line + 1) + "Start Monitoring Port " + std::to_string(c.port) + " ..."}));
    EXPECT_EQ(ControlText(statusLine), P(line + 4) + "Stop Monitoring Port " + std::to_string(c.port) + " ...");
    EXPECT_EQ(ControlText(timerDisplay), "4.5 sec");
    EXPECT_EQ(State().monitoringFlag, 0);
    EXPECT_EQ(State().port.handle, kNullHandle);
    EXPECT_EQ(OpenDescriptors(device), 0);
    line += 4;
  }
  watch.afterRead = nullptr;

  // Discovery runs to its end with both modems gone, and Monitor on the empty list is refused.
  EXPECT_TRUE(Press(enumerateButton));
  EXPECT_EQ(TopLines(6), (std::vector<std::string>{
                             "", P(16) + "END Enumeration", P(15) + "Checking Port COM1... Port not available. ",
                             P(14) + "Checking Port COM0... Port not available. ", P(13) + "Enumerating COM ports...",
                             P(12) + "Stop Monitoring Port 1 ..."}));
  EXPECT_EQ(DeviceListCount(), 0);
  EXPECT_TRUE(Press(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{P(17) + "Unable to open port -1!", "Port not available. ", ""}));
  EXPECT_EQ(State().monitoringFlag, 0);
}

}  // namespace
}  // namespace faults
