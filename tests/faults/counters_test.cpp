// The counters at their edges while monitoring: the 32-bit tick counter wrapping between two
// queries, and the log's line numbers and the poll counter past six digits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/faults/fault_fixture.h"

namespace faults {
namespace {

class CountersTest : public FaultTest {
 protected:
  CountersTest() : FaultTest(1) {}
};

TEST_F(CountersTest, TickWrapAndNumbersPastSixDigits) {
  const uint32_t t0 = 4294966296u;  // 1000 ms before the counter wraps to 0
  fakeNow = t0 - 5000;
  StartUp();
  ASSERT_EQ(DeviceListCount(), 1);
  State().logLineCounter = 999997;
  State().pollCounter = 999998;

  fakeNow = t0;
  EXPECT_TRUE(Press(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{"999998: Start Monitoring Port 0 ...", "=> OK. ", ""}));
  EXPECT_EQ(State().monitorStartTime, t0);

  struct Step {
    const char* name;
    uint32_t atMs;  // after the press of Monitor
    SimBehaviour behaviour;
    std::string topLine;  // empty: no query in this pass
    int32_t pollCounter;
    std::string timer;
  };
  const Step steps[] = {
      {"the last tick before the wrap", 999, SimBehaviour::Answer, "", 999998, "1.0 sec"},
      {"the counter at 0", 1000, SimBehaviour::Answer, "", 999998, "1.0 sec"},
      {"1999 ms across the wrap: no query yet", 1999, SimBehaviour::Answer, "", 999998, "2.0 sec"},
      {"2000 ms across the wrap: the first query, line 999999", 2000, SimBehaviour::Answer,
       "999999:   2.0:    999999: 17,99 = \t   -81 dBm (= 53%)", 999999, "2.0 sec"},
      {"1999 ms after it: no query", 3999, SimBehaviour::Answer, "", 999999, "4.0 sec"},
      {"line 1000000 keeps its first six digits; the counter column holds seven", 4000, SimBehaviour::Answer,
       "100000:   4.0:   1000000: 17,99 = \t   -81 dBm (= 53%)", 1000000, "4.0 sec"},
      {"a raw-reply line past six digits", 6000, SimBehaviour::Error, "100000: 1000001:  \tERROR \t", 1000001,
       "6.0 sec"},
      {"a no-signal line past six digits", 8000, SimBehaviour::Silent, "100000:     8: No signal", 1000001, "8.0 sec"},
  };
  std::vector<std::string> expected = LogLines();
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    ChangeScript(0, [&step](SimPortScript& script) { script.behaviour = step.behaviour; });
    fakeNow = t0 + step.atMs;
    const uint32_t lastQueryBefore = State().lastQueryTime;
    EXPECT_TRUE(Pass());
    if (!step.topLine.empty()) {
      expected.insert(expected.begin(), step.topLine);
      EXPECT_EQ(State().lastQueryTime, fakeNow);
    } else {
      EXPECT_EQ(State().lastQueryTime, lastQueryBefore);
    }
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(State().pollCounter, step.pollCounter);
    EXPECT_EQ(ControlText(timerDisplay), step.timer);
  }
  EXPECT_EQ(State().lastQueryTime, 7000u) << "the tick of the last query, after the wrap";
  EXPECT_EQ(State().logLineCounter, 1000002);

  fakeNow = t0 + 8500;
  EXPECT_TRUE(Press(stopButton));
  EXPECT_EQ(LogLine(0), "100000: Stop Monitoring Port 0 ...");
  EXPECT_EQ(ControlText(statusLine), "100000: Stop Monitoring Port 0 ...");
  EXPECT_EQ(State().logLineCounter, 1000003);
}

}  // namespace
}  // namespace faults
