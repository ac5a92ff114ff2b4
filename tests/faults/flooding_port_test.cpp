// A port that never stops sending: every exchange ends at the 1024-byte buffer, the window
// goes on handling its events between the write and the read of every exchange, and END
// still ends the program.
#include <gtest/gtest.h>

#include <QMetaObject>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <string>
#include <vector>

#include "tests/faults/fault_fixture.h"

namespace faults {
namespace {

// What the simulated modem sends without pause.
const std::string kFloodFrame = SimFrame("+CSQ: 17,99");

// Whether the bytes are a piece of the endless repetition of the frame.
bool IsPieceOfTheFlood(const std::string& bytes) {
  for (std::size_t phase = 0; phase < kFloodFrame.size(); ++phase) {
    bool match = true;
    for (std::size_t i = 0; i < bytes.size() && match; ++i) {
      match = bytes[i] == kFloodFrame[(phase + i) % kFloodFrame.size()];
    }
    if (match) return true;
  }
  return false;
}

std::string ModelNote(std::string reply) {
  for (char& c : reply) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return reply;
}

class PaintCounter final : public QWidget {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

class FloodingPortTest : public FaultTest {
 protected:
  FloodingPortTest() : FaultTest(1) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    ChangeScript(0, [](SimPortScript& script) { script.behaviour = SimBehaviour::Flood; });
  }
};

TEST_F(FloodingPortTest, EveryExchangeEndsAtTheBufferAndTheWindowKeepsUp) {
  PaintCounter probe;
  probe.resize(40, 40);
  probe.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));

  // Before each command goes out a queued call is posted and a repaint asked for; both must
  // have been handled by the time the reply is read.
  struct Seen {
    bool queuedCallHandled = false;
    int paintsAtWrite = 0;
    bool handledBeforeRead = false;
    bool paintedBeforeRead = false;
  };
  std::vector<Seen> seen;
  watch.beforeWrite = [&seen, &probe](const DeviceExchange&) {
    seen.push_back(Seen{false, probe.paints, false, false});
    const std::size_t index = seen.size() - 1;
    QMetaObject::invokeMethod(
        &probe, [&seen, index] { seen[index].queuedCallHandled = true; }, Qt::QueuedConnection);
    probe.update();
  };
  watch.afterRead = [&seen, &probe](const DeviceExchange& exchange) {
    if (exchange.readRequests != 1 || seen.empty()) return;
    seen.back().handledBeforeRead = seen.back().queuedCallHandled;
    seen.back().paintedBeforeRead = probe.paints > seen.back().paintsAtWrite;
  };

  const auto start = Clock::now();
  StartUp();
  EXPECT_LT(MsSince(start), kGenerousMs);
  ASSERT_EQ(watch.exchanges.size(), 2u);
  for (const DeviceExchange& exchange : watch.exchanges) {
    SCOPED_TRACE(exchange.command);
    EXPECT_EQ(exchange.reply.size(), 1024u);
    EXPECT_TRUE(IsPieceOfTheFlood(exchange.reply));
  }
  // The model "reply" is whatever 1024 bytes the flood gave: logged and listed, line breaks
  // turned into spaces.
  const std::string model = ModelNote(watch.exchanges[1].reply);
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"", P(3) + "END Enumeration", P(2) + "Checking Port COM0... => OK. " + model,
                                      P(1) + "Enumerating COM ports..."}));
  EXPECT_EQ(DeviceItems(), (std::vector<Item>{{"\\\\.\\COM0 " + model, 0}}));
  EXPECT_EQ(State().port.replyLength, 1024);

  const uint32_t t0 = fakeNow;
  EXPECT_TRUE(Press(monitorButton));
  EXPECT_EQ(LogLine(0), P(4) + "Start Monitoring Port 0 ...");
  for (uint32_t atMs : {2000u, 4000u}) {
    SCOPED_TRACE(atMs);
    fakeNow = t0 + atMs;
    const auto passStart = Clock::now();
    EXPECT_TRUE(Pass());
    EXPECT_LT(MsSince(passStart), kGenerousMs);
    EXPECT_EQ(watch.exchanges.back().command, "AT+CSQ\r");
    EXPECT_EQ(watch.exchanges.back().reply.size(), 1024u);
    EXPECT_TRUE(IsPieceOfTheFlood(watch.exchanges.back().reply));
  }
  EXPECT_EQ(TopLines(2), (std::vector<std::string>{P(6) + "  4.0:         2: 17,99 = \t   -81 dBm (= 53%)",
                                                   P(5) + "  2.0:         1: 17,99 = \t   -81 dBm (= 53%)"}));
  EXPECT_EQ(ControlText(dbmDisplay), "-81");
  EXPECT_EQ(ControlText(percentDisplay), "53%");

  ASSERT_EQ(seen.size(), 4u);
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "exchange " << i);
    EXPECT_TRUE(seen[i].handledBeforeRead);
    EXPECT_TRUE(seen[i].paintedBeforeRead);
  }
  watch.beforeWrite = nullptr;
  watch.afterRead = nullptr;
}

// END through a real click and the real event wait, while every pass finds a query due: the
// pass of the click still polls, the next one ends the loop and polls nothing.
TEST_F(FloodingPortTest, EndStillEndsTheProgram) {
  StartUp();
  const uint32_t t0 = fakeNow;
  ASSERT_TRUE(Press(monitorButton));
  ASSERT_EQ(State().monitoringFlag, 1);
  fakeNow = t0 + 2000;
  fakeStep = 1000;  // each pass reads the counter twice, so 2000 ms pass between its reads
  const std::size_t exchangesBefore = watch.exchanges.size();
  const int32_t linesBefore = LogLineCount();

  ForgetQueuedEvents();
  QTest::mouseClick(ControlWidget(endButton), Qt::LeftButton);
  bool watchdogFired = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&watchdogFired] {
    watchdogFired = true;
    State().quitFlag = 1;  // so that a failing program still lets the test end
  });
  watchdog.start(static_cast<int>(kGenerousMs));
  RunEventLoop();
  fakeStep = 0;

  EXPECT_FALSE(watchdogFired);
  EXPECT_EQ(State().quitFlag, 1);
  EXPECT_EQ(watch.exchanges.size(), exchangesBefore + 1);
  EXPECT_EQ(watch.exchanges.back().reply.size(), 1024u);
  EXPECT_EQ(LogLineCount(), linesBefore + 1);
  EXPECT_EQ(LogLine(0), P(5) + "  2.0:         1: 17,99 = \t   -81 dBm (= 53%)");
  EXPECT_EQ(ControlText(statusLine), P(4) + "Start Monitoring Port 0 ...");
}

}  // namespace
}  // namespace faults
