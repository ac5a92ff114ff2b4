#include "monitor/poll_signal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/port_table.h"
#include "platform/tick_counter.h"
#include "platform/tone.h"
#include "serial/link_hooks.h"
#include "serial/serial_port.h"
#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

uint32_t fakeNow = 0;
uint32_t fakeStep = 0;  // added after every read
uint32_t FakeTick() {
  const uint32_t now = fakeNow;
  fakeNow += fakeStep;
  return now;
}

std::vector<std::pair<int32_t, int32_t>> tones;
void RecordTone(int32_t hz, int32_t ms) { tones.emplace_back(hz, ms); }

void AppendNote(const std::string& note) { AppendToTopLine(note); }

std::string Prefix(int32_t number) {
  std::string text = std::to_string(number);
  return std::string(6 - text.size(), ' ') + text + ": ";
}

// The far end of a pseudo-terminal: answers are written before the poll asks, and what
// the poll sent is read back afterwards.
class PtyModem {
 public:
  PtyModem() {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
      path_ = name;
      fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    }
  }
  ~PtyModem() {
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  PtyModem(const PtyModem&) = delete;
  PtyModem& operator=(const PtyModem&) = delete;

  const std::string& Path() const { return path_; }
  void Answer(const std::string& reply) const {
    if (reply.empty()) return;
    ASSERT_EQ(write(master_, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  }
  std::string Received() const {
    std::string received;
    char buffer[256];
    ssize_t n;
    while ((n = read(master_, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
    return received;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

class PollSignalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(modem_.Path().empty());
    State() = AppState{};
    CreateMainWindow();
    SetDefaultPortSettings(State().port);
    TheLinkHooks().appendToTopLine = AppendNote;
    fakeNow = 0;
    fakeStep = 0;
    SetTickSource(FakeTick);
    tones.clear();
    SetToneFunction(RecordTone);
    SetPortTable({modem_.Path()});
    State().port.portNumber = 0;
    ASSERT_NE(OpenPort(State().port), kNullHandle);
    modem_.Received();
    State().monitoringFlag = 1;
    State().soundFlag = 1;
  }
  void TearDown() override {
    ClosePort(State().port);
    DestroyMainWindow();
    SetTickSource(nullptr);
    SetToneFunction(nullptr);
    SetPortTable({});
  }

  // Monitoring began elapsedMs ago and the last query was sinceLastMs ago.
  static void SetTimes(uint32_t now, uint32_t elapsedMs, uint32_t sinceLastMs) {
    fakeNow = now;
    State().monitorStartTime = now - elapsedMs;
    State().lastQueryTime = now - sinceLastMs;
  }

  PtyModem modem_;
};

TEST_F(PollSignalTest, ResultLinesAndDisplays) {
  struct Case {
    const char* name;
    std::string reply;
    uint32_t elapsedMs;
    int32_t pollCounterBefore;
    int32_t dBmBefore;
    std::string line;  // after the prefix
    int32_t pollCounterAfter;
    std::string dbmText;
    std::string percentText;
    std::string timerText;
    int32_t toneHz;
  };
  const Case cases[] = {
      {"worked example", "\r\n+CSQ: 17,99\r\n\r\nOK\r\n", 4012, 0, 0,
       "  4.0:         1: 17,99 = \t   -81 dBm (= 53%)", 1, "-81", "53%", "4.0 sec", 1109},
      {"error reply", "\r\nERROR\r\n", 2000, 7, -81, "8:  \tERROR \t", 8, "-81", "0%", "2.0 sec", 100},
      {"no answer", "", 6500, 3, 0, "    6: No signal", 3, "0", "0%", "6.5 sec", 100},
      {"no answer keeps the last dBm", "", 2000, 3, -53, "    2: No signal", 3, "-53", "0%", "2.0 sec", 100},
      {"report value 99 is no reading", "\r\n+CSQ: 99,99\r\n\r\nOK\r\n", 2000, 1, -53,
       "2:  \t+CSQ: 99,99 \t \tOK \t", 2, "-53", "0%", "2.0 sec", 100},
      {"negative value", "+CSQ: -5,99\r\n", 2100, 0, 0, "  2.1:         1: -5,99 = \t  -125 dBm (= -16%)", 1,
       "-125", "-16%", "2.1 sec", -197},
      {"dBm column cut to six", "+CSQ: 1000000\r\n", 2000, 0, 0,
       "  2.0:         1: 1000000 = \t199988 dBm (= 3125000%)", 1, "1999885", "3125000%", "2.0 sec", 59375100},
      {"time just below 999.95 s", "+CSQ: 15,99\r\n", 999949, 0, 0,
       "999.9:         1: 15,99 = \t   -85 dBm (= 47%)", 1, "-85", "47%", "999.9 sec", 991},
      {"time from 999.95 s loses its decimal", "+CSQ: 15,99\r\n", 999950, 0, 0,
       "1000.:         1: 15,99 = \t   -85 dBm (= 47%)", 1, "-85", "47%", "1000.0 sec", 991},
      {"time from 9999.95 s loses its point", "+CSQ: 15,99\r\n", 9999950, 0, 0,
       "10000:         1: 15,99 = \t   -85 dBm (= 47%)", 1, "-85", "47%", "10000.0 sec", 991},
      {"whole seconds cut to five", "", 123456789, 0, 0, "12345: No signal", 0, "0", "0%", "123456.8 sec", 100},
      {"counter of ten digits", "+CSQ: 31,99\r\n", 2000, 999999999, 0,
       "  2.0:1000000000: 31,99 = \t   -53 dBm (= 97%)", 1000000000, "-53", "97%", "2.0 sec", 1941},
      {"counter runs over its range", "\r\nERROR\r\n", 2000, 2147483647, 0, "-2147483648:  \tERROR \t",
       -2147483647 - 1, "0", "0%", "2.0 sec", 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    State().pollCounter = c.pollCounterBefore;
    State().reading.dBm = c.dBmBefore;
    SetTimes(500000, c.elapsedMs, 2000);
    tones.clear();
    const std::string status = ControlText(statusLine);
    const int32_t lines = LogLineCount();
    const int32_t number = State().logLineCounter + 1;
    modem_.Answer(c.reply);

    PollSignal();

    EXPECT_EQ(modem_.Received(), "AT+CSQ\r");
    EXPECT_EQ(LogLineCount(), lines + 1);
    EXPECT_EQ(LogLine(0), Prefix(number) + c.line);
    EXPECT_EQ(State().pollCounter, c.pollCounterAfter);
    EXPECT_EQ(ControlText(dbmDisplay), c.dbmText);
    EXPECT_EQ(ControlText(percentDisplay), c.percentText);
    EXPECT_EQ(ControlText(timerDisplay), c.timerText);
    EXPECT_EQ(ControlText(statusLine), status);
    EXPECT_EQ(tones, (std::vector<std::pair<int32_t, int32_t>>{{c.toneHz, 100}}));
    EXPECT_EQ(State().lastQueryTime, 500000u);
    EXPECT_EQ(State().lastReplyText, "");
    EXPECT_EQ(State().lastExtractedValue, "");
  }
}

TEST_F(PollSignalTest, QueryIsDueFrom2000MsSinceTheLast) {
  struct Case {
    const char* name;
    uint32_t monitorStartTime;
    uint32_t lastQueryTime;
    uint32_t now;
    bool query;
    std::string timerText;
  };
  const Case cases[] = {
      {"1999 ms", 10000, 10000, 11999, false, "2.0 sec"},
      {"2000 ms", 10000, 10000, 12000, true, "2.0 sec"},
      {"far behind: one query only", 10000, 20000, 40000, true, "30.0 sec"},
      {"last query ahead of the counter", 10000, 20005, 20000, false, "10.0 sec"},
      {"1999 ms across the wrap", 4294966296u, 4294966296u, 999, false, "2.0 sec"},
      {"2000 ms across the wrap", 4294966296u, 4294966296u, 1000, true, "2.0 sec"},
      {"elapsed across the wrap", 4294967000u, 4294967295u, 3000, true, "3.3 sec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    State().monitorStartTime = c.monitorStartTime;
    State().lastQueryTime = c.lastQueryTime;
    fakeNow = c.now;
    const int32_t lines = LogLineCount();
    const int32_t counter = State().logLineCounter;
    SetControlText(dbmDisplay, "dbm");
    SetControlText(percentDisplay, "percent");
    tones.clear();
    if (c.query) modem_.Answer("+CSQ: 17,99\r\n");

    PollSignal();

    EXPECT_EQ(ControlText(timerDisplay), c.timerText);
    if (c.query) {
      EXPECT_EQ(modem_.Received(), "AT+CSQ\r");
      EXPECT_EQ(LogLineCount(), lines + 1);
      EXPECT_EQ(State().lastQueryTime, c.now);
      EXPECT_EQ(ControlText(dbmDisplay), "-81");
      EXPECT_EQ(tones.size(), 1u);
      // The next pass at the same tick finds no query due.
      PollSignal();
      EXPECT_EQ(LogLineCount(), lines + 1);
    } else {
      EXPECT_EQ(modem_.Received(), "");
      EXPECT_EQ(LogLineCount(), lines);
      EXPECT_EQ(State().logLineCounter, counter);
      EXPECT_EQ(State().lastQueryTime, c.lastQueryTime);
      EXPECT_EQ(ControlText(dbmDisplay), "dbm");
      EXPECT_EQ(ControlText(percentDisplay), "percent");
      EXPECT_TRUE(tones.empty());
    }
  }
}

// Elapsed comes from the first read, since-last from the second, the new query time from the third;
// the log line and the timer both show the time the pass began.
TEST_F(PollSignalTest, EachTimeComesFromItsOwnTickRead) {
  SetTimes(100000, 0, 0);
  fakeNow = 101950;
  fakeStep = 50;
  modem_.Answer("+CSQ: 17,99\r\n");

  PollSignal();

  EXPECT_EQ(LogLine(0), Prefix(1) + "  1.9:         1: 17,99 = \t   -81 dBm (= 53%)");
  EXPECT_EQ(ControlText(timerDisplay), "1.9 sec");
  EXPECT_EQ(State().lastQueryTime, 102050u);
}

TEST_F(PollSignalTest, BeepsOnlyWhenSoundIsExactlyOne) {
  for (const int32_t soundFlag : {0, 2, -1, 1}) {
    SCOPED_TRACE(soundFlag);
    State().soundFlag = soundFlag;
    SetTimes(500000, 2000, 2000);
    tones.clear();
    modem_.Answer("+CSQ: 17,99\r\n");
    PollSignal();
    EXPECT_EQ(modem_.Received(), "AT+CSQ\r");
    EXPECT_EQ(tones.empty(), soundFlag != 1);
  }
}

TEST_F(PollSignalTest, CounterAndDbmCarryOverARestart) {
  SetTimes(500000, 2000, 2000);
  modem_.Answer("+CSQ: 17,99\r\n");
  PollSignal();
  ASSERT_EQ(State().pollCounter, 1);

  // Stopped and started again: only the times begin anew.
  SetTimes(900000, 2000, 2000);
  modem_.Answer("");
  PollSignal();
  EXPECT_EQ(LogLine(0), Prefix(2) + "    2: No signal");
  EXPECT_EQ(ControlText(dbmDisplay), "-81");

  SetTimes(950000, 2000, 2000);
  modem_.Answer("+CSQ: 31,99\r\n");
  PollSignal();
  EXPECT_EQ(LogLine(0), Prefix(3) + "  2.0:         2: 31,99 = \t   -53 dBm (= 97%)");
}

}  // namespace
