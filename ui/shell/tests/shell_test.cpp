#include "ui/shell/shell.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/port_list.h"
#include "platform/serial_device.h"
#include "platform/tick_counter.h"
#include "platform/tone.h"
#include "serial/serial_port.h"
#include "tools/modem-sim/sim/modem_sim.h"
#include "ui/app_state.h"
#include "ui/main_window.h"
#include "ui/message_box.h"

namespace {

constexpr uint32_t kStartTick = 4294960000u;  // the counter wraps a few seconds into monitoring

uint32_t fakeNow = kStartTick;
uint32_t FakeTick() { return fakeNow; }

using Tone = std::pair<int32_t, int32_t>;
std::vector<Tone> tones;
void RecordTone(int32_t hz, int32_t ms) { tones.emplace_back(hz, ms); }

std::vector<std::string> browsed;
void RecordBrowser(const std::string& url) { browsed.push_back(url); }

std::vector<std::string> boxes;
void RecordBox(std::string_view, std::string_view text) { boxes.emplace_back(text); }

std::vector<std::string> portPaths;
PortList TestPorts() { return {true, 0, portPaths}; }

// Whether the window was on the screen at each open of a port.
std::vector<bool> exposedAtOpen;
int OpenNoting(int32_t portNumber) {
  QWidget* window = MainWindowWidget();
  exposedAtOpen.push_back(window != nullptr && window->windowHandle() != nullptr &&
                          window->windowHandle()->isExposed());
  return RealSerialDeviceCalls().open(portNumber);
}

std::string P(int32_t number) {
  std::string text = std::to_string(number);
  return std::string(6 - text.size(), ' ') + text + ": ";
}

const std::string kProbeLine = "Checking Port COM0... => OK.   QV-2 Cellular Modem    OK  ";

// The log from the top line down.
std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < LogLineCount(); ++i) lines.push_back(LogLine(i));
  return lines;
}

// The log's top lines, as many as expected has.
std::vector<std::string> TopLines(std::size_t count) {
  std::vector<std::string> lines = LogLines();
  lines.resize(std::min(lines.size(), count));
  return lines;
}

// Descriptors of this process open on the device; the simulated modem holds one itself.
int OpenDescriptors(const std::string& path) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) == path) ++count;
  }
  return count;
}

std::vector<std::string> CommandsOf(const ModemSim& sim, int32_t port) {
  std::vector<std::string> texts;
  for (const SimCommand& command : sim.Received(port)) texts.push_back(command.text);
  return texts;
}

void ForgetQueuedEvents() {
  WindowEvent event;
  while (TakeQueuedEvent(event)) {
  }
}

bool Other() { return RunLoopPass(WindowEvent{}); }
bool Control(int32_t id, WindowEvent::SubKind subKind = WindowEvent::kClicked) {
  return RunLoopPass(WindowEvent{WindowEvent::kControl, id, subKind});
}
bool CloseRequest() { return RunLoopPass(WindowEvent{WindowEvent::kClose, kMainWindowId}); }

class ShellTest : public ::testing::Test {
 protected:
  explicit ShellTest(int32_t ports = 1) : sim_(ports) {}

  void SetUp() override {
    ASSERT_TRUE(sim_.Ok()) << sim_.Error();
    portPaths.clear();
    for (int32_t p = 0; p < sim_.PortCount(); ++p) portPaths.push_back(sim_.SlavePath(p));
    SetPortListSource(TestPorts);
    fakeNow = kStartTick;
    SetTickSource(FakeTick);
    tones.clear();
    SetToneFunction(RecordTone);
    browsed.clear();
    gStartBrowser = RecordBrowser;
    boxes.clear();
    SetMessageBoxFunction(RecordBox);
  }

  void TearDown() override {
    ShutDown();
    ClosePort(State().port);
    TheSerialDeviceCalls() = RealSerialDeviceCalls();
    SetPortListSource(nullptr);
    SetTickSource(nullptr);
    SetToneFunction(nullptr);
    SetMessageBoxFunction(nullptr);
    EXPECT_TRUE(boxes.empty());
  }

  void SetCsq(int32_t port, int32_t value) {
    SimPortScript script = sim_.Script(port);
    script.csqValue = value;
    sim_.SetScript(port, script);
  }

  // Starts up and presses Monitor on the selected device at the current tick.
  void StartMonitoring() {
    StartUp();
    ASSERT_TRUE(Control(monitorButton));
    ASSERT_EQ(State().monitoringFlag, 1);
    sim_.ClearReceived();
  }

  ModemSim sim_;
};

class ShellTwoPortsTest : public ShellTest {
 protected:
  ShellTwoPortsTest() : ShellTest(2) {}
};

// The program from start to end against the simulated modem, pass by pass.
TEST_F(ShellTest, WholeProgramLoop) {
  const std::string device = sim_.SlavePath(0);
  exposedAtOpen.clear();
  TheSerialDeviceCalls().open = OpenNoting;

  StartUp();

  ASSERT_FALSE(exposedAtOpen.empty());
  EXPECT_TRUE(exposedAtOpen.front()) << "the window is on the screen before the first port is opened";
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"", P(3) + "END Enumeration", P(2) + kProbeLine,
                                                  P(1) + "Enumerating COM ports..."}));
  EXPECT_EQ(ControlText(statusLine), P(3) + "END Enumeration");
  EXPECT_EQ(CommandsOf(sim_, 0), (std::vector<std::string>{"ATQ0V1E0", "AT+GMM"}));
  ASSERT_EQ(DeviceListCount(), 1);
  EXPECT_EQ(DeviceListSelected(), 0);
  EXPECT_EQ(DeviceListData(0), 0);
  EXPECT_EQ(OpenDescriptors(device), 1);
  EXPECT_EQ(State().port.inputQueueSize, 256);
  EXPECT_EQ(State().port.lineSettings.BaudRate, 9600u);
  sim_.ClearReceived();

  // Monitor: the open note stands on its own line above the separator.
  const uint32_t t0 = fakeNow;
  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{P(4) + "Start Monitoring Port 0 ...", "=> OK. ", ""}));
  EXPECT_EQ(ControlText(statusLine), P(4) + "Start Monitoring Port 0 ...");
  EXPECT_EQ(State().monitoringFlag, 1);
  EXPECT_EQ(State().monitorStartTime, t0);
  EXPECT_EQ(State().lastQueryTime, t0);
  EXPECT_EQ(OpenDescriptors(device), 2);

  struct Step {
    const char* name;
    uint32_t atMs;  // after the press of Monitor
    int32_t csq;
    std::string topLine;  // empty: no query in this pass
    std::string dbm;
    std::string percent;
    std::string timer;
  };
  const Step polls[] = {
      {"1999 ms: no query yet", 1999, 17, "", "0", "0%", "2.0 sec"},
      {"2000 ms: the first query", 2000, 17, P(5) + "  2.0:         1: 17,99 = \t   -81 dBm (= 53%)", "-81", "53%",
       "2.0 sec"},
      {"between queries", 2500, 31, "", "-81", "53%", "2.5 sec"},
      {"2010 ms after the last", 4010, 31, P(6) + "  4.0:         2: 31,99 = \t   -53 dBm (= 97%)", "-53", "97%",
       "4.0 sec"},
      {"a late pass, across the counter's wrap, makes one query", 9000, 15,
       P(7) + "  9.0:         3: 15,99 = \t   -85 dBm (= 47%)", "-85", "47%", "9.0 sec"},
  };
  std::vector<std::string> expectedCommands;
  for (const Step& step : polls) {
    SCOPED_TRACE(step.name);
    SetCsq(0, step.csq);
    fakeNow = t0 + step.atMs;
    const std::vector<std::string> before = LogLines();
    EXPECT_TRUE(Other());
    std::vector<std::string> expected = before;
    if (!step.topLine.empty()) {
      expected.insert(expected.begin(), step.topLine);
      expectedCommands.push_back("AT+CSQ");
      EXPECT_EQ(State().lastQueryTime, fakeNow);
    }
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(CommandsOf(sim_, 0), expectedCommands);
    EXPECT_EQ(ControlText(dbmDisplay), step.dbm);
    EXPECT_EQ(ControlText(percentDisplay), step.percent);
    EXPECT_EQ(ControlText(timerDisplay), step.timer);
    EXPECT_EQ(ControlText(statusLine), P(4) + "Start Monitoring Port 0 ...");
  }
  EXPECT_TRUE(tones.empty());

  // Stop in a pass whose query is due: the poll runs first, then the stop line.
  SetCsq(0, 21);
  fakeNow = t0 + 11000;
  EXPECT_TRUE(Control(stopButton));
  EXPECT_EQ(TopLines(2), (std::vector<std::string>{P(9) + "Stop Monitoring Port 0 ...",
                                                   P(8) + " 11.0:         4: 21,99 = \t   -73 dBm (= 66%)"}));
  EXPECT_EQ(ControlText(statusLine), P(9) + "Stop Monitoring Port 0 ...");
  EXPECT_EQ(State().monitoringFlag, 0);
  EXPECT_EQ(State().port.handle, kNullHandle);
  EXPECT_EQ(OpenDescriptors(device), 1);

  // Idle: passes poll nothing; the displays keep their texts.
  fakeNow = t0 + 20000;
  const std::vector<std::string> idle = LogLines();
  EXPECT_TRUE(Other());
  EXPECT_EQ(LogLines(), idle);
  EXPECT_EQ(ControlText(timerDisplay), "11.0 sec");
  EXPECT_EQ(ControlText(dbmDisplay), "-73");
  sim_.ClearReceived();

  // Monitor again: the open note joins the stop line on top; the poll counter runs on.
  const uint32_t t1 = fakeNow;
  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(TopLines(2), (std::vector<std::string>{P(10) + "Start Monitoring Port 0 ...",
                                                   P(9) + "Stop Monitoring Port 0 ...=> OK. "}));
  EXPECT_EQ(State().monitorStartTime, t1);
  fakeNow = t1 + 2000;
  SetCsq(0, 17);
  EXPECT_TRUE(Other());
  EXPECT_EQ(LogLine(0), P(11) + "  2.0:         5: 17,99 = \t   -81 dBm (= 53%)");

  // Enumerate while monitoring: monitoring stops as with Stop, then discovery runs.
  sim_.ClearReceived();
  fakeNow = t1 + 2500;
  EXPECT_TRUE(Control(enumerateButton));
  EXPECT_EQ(TopLines(7),
            (std::vector<std::string>{"", P(15) + "END Enumeration", P(14) + kProbeLine,
                                      P(13) + "Enumerating COM ports...", P(12) + "Stop Monitoring Port 0 ...",
                                      P(11) + "  2.0:         5: 17,99 = \t   -81 dBm (= 53%)",
                                      P(10) + "Start Monitoring Port 0 ..."}));
  EXPECT_EQ(ControlText(statusLine), P(15) + "END Enumeration");
  EXPECT_EQ(ControlText(timerDisplay), "2.5 sec");
  EXPECT_EQ(State().monitoringFlag, 0);
  EXPECT_EQ(State().port.handle, kNullHandle);
  EXPECT_EQ(OpenDescriptors(device), 1);
  EXPECT_EQ(CommandsOf(sim_, 0), (std::vector<std::string>{"ATQ0V1E0", "AT+GMM"}));
  EXPECT_EQ(DeviceListCount(), 1);
  EXPECT_EQ(DeviceListSelected(), 0);
  fakeNow = t1 + 6000;
  const std::vector<std::string> afterDiscovery = LogLines();
  EXPECT_TRUE(Other());
  EXPECT_EQ(LogLines(), afterDiscovery);

  // Monitor, then END: the next pass ends the loop and does nothing else, though a query is
  // due and the event is Stop.
  sim_.ClearReceived();
  const uint32_t t2 = fakeNow;
  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(LogLine(0), P(16) + "Start Monitoring Port 0 ...");
  fakeNow = t2 + 100;
  EXPECT_TRUE(Control(endButton));
  EXPECT_EQ(State().quitFlag, 1);
  EXPECT_EQ(LogLine(0), P(16) + "Start Monitoring Port 0 ...");
  EXPECT_EQ(ControlText(timerDisplay), "0.1 sec");
  const std::vector<std::string> ending = LogLines();
  fakeNow = t2 + 5000;
  EXPECT_FALSE(Control(stopButton));
  EXPECT_EQ(LogLines(), ending);
  EXPECT_EQ(ControlText(timerDisplay), "0.1 sec");
  EXPECT_EQ(ControlText(statusLine), P(16) + "Start Monitoring Port 0 ...");
  EXPECT_TRUE(CommandsOf(sim_, 0).empty());
  EXPECT_EQ(State().monitoringFlag, 1);
  EXPECT_EQ(OpenDescriptors(device), 2) << "the port stays open until the process ends";
  EXPECT_TRUE(browsed.empty());
  EXPECT_TRUE(tones.empty());
}

// The close box while monitoring: the poll has run for that pass, then the loop ends.
TEST_F(ShellTest, CloseBoxEndsTheLoopAfterThePoll) {
  ASSERT_NO_FATAL_FAILURE(StartMonitoring());
  fakeNow += 2000;
  EXPECT_FALSE(CloseRequest());
  EXPECT_EQ(LogLine(0), P(5) + "  2.0:         1: 17,99 = \t   -81 dBm (= 53%)");
  EXPECT_EQ(CommandsOf(sim_, 0), std::vector<std::string>{"AT+CSQ"});
  EXPECT_EQ(State().monitoringFlag, 1);
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), 2);
}

TEST_F(ShellTest, CloseRequestOfAnotherWindowDoesNothing) {
  StartUp();
  const std::vector<std::string> before = LogLines();
  EXPECT_TRUE(RunLoopPass(WindowEvent{WindowEvent::kClose, 1}));
  EXPECT_EQ(LogLines(), before);
}

// The real wait and real clicks: RunEventLoop ends by itself once END or the close box was used.
TEST_F(ShellTest, EventLoopEndsPromptlyByEndOrCloseBox) {
  struct Case {
    const char* name;
    bool monitor;
    std::function<void()> end;
  };
  const Case cases[] = {
      {"END while idle", false, [] { QTest::mouseClick(ControlWidget(endButton), Qt::LeftButton); }},
      {"END while monitoring", true, [] { QTest::mouseClick(ControlWidget(endButton), Qt::LeftButton); }},
      {"close box while idle", false, [] { MainWindowWidget()->close(); }},
      {"close box while monitoring", true, [] { MainWindowWidget()->close(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartUp();
    ForgetQueuedEvents();
    if (c.monitor) {
      QTest::mouseClick(ControlWidget(monitorButton), Qt::LeftButton);
      ASSERT_TRUE(RunLoopPass(WaitForEvent()));
      ASSERT_EQ(State().monitoringFlag, 1);
    }
    const std::string top = LogLine(0);
    ForgetQueuedEvents();
    c.end();
    // Nothing the click left behind (repaints) may end a wait: only the program's own wake-up.
    for (int round = 0; round < 100 && ProcessPendingMessage(); ++round) {
    }
    // Would the loop wait for the user, the watchdog's own event would end it, too late.
    bool watchdogFired = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&watchdogFired] { watchdogFired = true; });
    watchdog.start(10000);
    RunEventLoop();
    EXPECT_FALSE(watchdogFired);
    EXPECT_EQ(LogLine(0), top) << "no stop line, no poll line";
    EXPECT_EQ(State().monitoringFlag, c.monitor ? 1 : 0);
    EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), c.monitor ? 2 : 1);
    ShutDown();
    ClosePort(State().port);
  }
}

// While monitoring, the wait returns without any input from the user.
TEST_F(ShellTest, MonitoringKeepsTheLoopPassing) {
  ASSERT_NO_FATAL_FAILURE(StartMonitoring());
  ForgetQueuedEvents();
  bool watchdogFired = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&watchdogFired] { watchdogFired = true; });
  watchdog.start(10000);
  for (int pass = 0; pass < 5 && !watchdogFired; ++pass) {
    // Nothing queued and nothing pending: only the program's own wake-up can end the wait.
    ForgetQueuedEvents();
    for (int round = 0; round < 100 && ProcessPendingMessage(); ++round) {
    }
    ForgetQueuedEvents();
    ASSERT_TRUE(RunLoopPass(WaitForEvent()));
  }
  EXPECT_FALSE(watchdogFired);
}

// The modem goes away while monitored: no-signal lines, Stop still works, the program goes on.
TEST_F(ShellTest, ModemVanishingWhileMonitoring) {
  ASSERT_NO_FATAL_FAILURE(StartMonitoring());
  const uint32_t t0 = fakeNow;
  fakeNow = t0 + 2000;
  EXPECT_TRUE(Other());
  EXPECT_EQ(LogLine(0), P(5) + "  2.0:         1: 17,99 = \t   -81 dBm (= 53%)");

  sim_.Vanish(0);
  ASSERT_TRUE(sim_.Vanished(0));
  tones.clear();
  State().soundFlag = 1;
  fakeNow = t0 + 4000;
  EXPECT_TRUE(Other());
  fakeNow = t0 + 6500;
  EXPECT_TRUE(Control(dbmDisplay, WindowEvent::kTextChanged));
  EXPECT_EQ(TopLines(2), (std::vector<std::string>{P(7) + "    6: No signal", P(6) + "    4: No signal"}));
  EXPECT_EQ(State().pollCounter, 1);
  EXPECT_EQ(ControlText(dbmDisplay), "-81");
  EXPECT_EQ(ControlText(percentDisplay), "0%");
  EXPECT_EQ(ControlText(timerDisplay), "6.5 sec");
  EXPECT_EQ(tones, (std::vector<Tone>{{100, 100}, {100, 100}}));

  fakeNow = t0 + 7000;
  EXPECT_TRUE(Control(stopButton));
  EXPECT_EQ(LogLine(0), P(8) + "Stop Monitoring Port 0 ...");
  EXPECT_EQ(State().monitoringFlag, 0);
  EXPECT_EQ(State().port.handle, kNullHandle);
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), 0);

  // The device is gone: Monitor reports it and stays idle.
  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(TopLines(2), (std::vector<std::string>{P(9) + "Unable to open port 0!",
                                                   P(8) + "Stop Monitoring Port 0 ...Port not available. "}));
  EXPECT_EQ(State().monitoringFlag, 0);
  fakeNow = t0 + 20000;
  EXPECT_TRUE(Other());
  EXPECT_EQ(LogLine(0), P(9) + "Unable to open port 0!");
}

TEST_F(ShellTest, MonitorWhileMonitoringDoesNothing) {
  ASSERT_NO_FATAL_FAILURE(StartMonitoring());
  const uint32_t start = State().monitorStartTime;
  const std::vector<std::string> before = LogLines();
  const std::string status = ControlText(statusLine);
  fakeNow += 500;
  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(LogLines(), before);
  EXPECT_EQ(ControlText(statusLine), status);
  EXPECT_EQ(State().monitorStartTime, start);
  EXPECT_EQ(State().lastQueryTime, start);
  EXPECT_EQ(State().monitoringFlag, 1);
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), 2);
  EXPECT_TRUE(sim_.Received().empty());
}

TEST_F(ShellTest, MonitorWithAnEmptyDeviceList) {
  portPaths.clear();
  StartUp();
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"", P(2) + "END Enumeration", P(1) + "Enumerating COM ports..."}));
  EXPECT_EQ(DeviceListSelected(), -1);

  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{P(3) + "Unable to open port -1!", "Port not available. ", "",
                                                  P(2) + "END Enumeration", P(1) + "Enumerating COM ports..."}));
  EXPECT_EQ(ControlText(statusLine), P(3) + "Unable to open port -1!");
  EXPECT_EQ(State().port.portNumber, -1);
  EXPECT_EQ(State().monitoringFlag, 0);
  EXPECT_EQ(State().monitorStartTime, 0u);
  EXPECT_EQ(State().lastQueryTime, 0u);

  fakeNow += 5000;
  const std::vector<std::string> before = LogLines();
  EXPECT_TRUE(Other());
  EXPECT_EQ(LogLines(), before);
}

// A listed device that no longer opens; the user picks the other one and monitors it.
TEST_F(ShellTwoPortsTest, MonitorOpensTheSelectedDevice) {
  StartUp();
  ASSERT_EQ(DeviceListCount(), 2);
  EXPECT_EQ(DeviceListData(0), 1);
  EXPECT_EQ(DeviceListData(1), 0);
  sim_.Vanish(1);

  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(TopLines(3), (std::vector<std::string>{P(5) + "Unable to open port 1!", "Port not available. ", ""}));
  EXPECT_EQ(State().monitoringFlag, 0);

  DeviceListSelect(1);
  EXPECT_TRUE(Control(monitorButton));
  EXPECT_EQ(TopLines(2),
            (std::vector<std::string>{P(6) + "Start Monitoring Port 0 ...", P(5) + "Unable to open port 1!=> OK. "}));
  EXPECT_EQ(State().port.portNumber, 0);
  EXPECT_EQ(State().monitoringFlag, 1);
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), 2);
}

// Stop while idle names the last port discovery probed and closes nothing; Enumerate while
// idle only runs discovery.
TEST_F(ShellTwoPortsTest, StopAndEnumerateWhileIdle) {
  StartUp();
  EXPECT_EQ(State().port.portNumber, 1);
  EXPECT_TRUE(Control(stopButton));
  EXPECT_EQ(TopLines(2), (std::vector<std::string>{P(5) + "Stop Monitoring Port 1 ...", ""}));
  EXPECT_EQ(ControlText(statusLine), P(5) + "Stop Monitoring Port 1 ...");
  EXPECT_EQ(State().monitoringFlag, 0);
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), 1);
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(1)), 1);

  EXPECT_TRUE(Control(enumerateButton));
  EXPECT_EQ(TopLines(6),
            (std::vector<std::string>{"", P(9) + "END Enumeration",
                                      P(8) + "Checking Port COM1... => OK.   QV-2 Cellular Modem    OK  ",
                                      P(7) + "Checking Port COM0... => OK.   QV-2 Cellular Modem    OK  ",
                                      P(6) + "Enumerating COM ports...", P(5) + "Stop Monitoring Port 1 ..."}));
  EXPECT_EQ(State().monitoringFlag, 0);
}

// The sound box, clicked for real: soundFlag follows it, and the next query beeps or not.
TEST_F(ShellTest, SoundBoxSwitchesTheBeep) {
  ASSERT_NO_FATAL_FAILURE(StartMonitoring());
  struct Step {
    const char* name;
    int32_t soundFlag;
    std::vector<Tone> tones;
  };
  const Step steps[] = {
      {"checked", 1, {{1109, 100}}},
      {"unchecked", 0, {}},
      {"checked again", 1, {{1109, 100}}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    ForgetQueuedEvents();
    QTest::mouseClick(ControlWidget(soundCheck), Qt::LeftButton);
    EXPECT_TRUE(RunLoopPass(WaitForEvent()));
    EXPECT_EQ(State().soundFlag, step.soundFlag);
    EXPECT_EQ(SoundCheckState(), step.soundFlag);
    tones.clear();
    fakeNow += 2000;
    EXPECT_TRUE(Other());
    EXPECT_EQ(tones, step.tones);
  }
}

// Every event of the credit line starts the browser on the maker's site, whatever raised it.
TEST_F(ShellTest, CreditLineEventsStartTheBrowser) {
  StartUp();
  ASSERT_TRUE(QTest::qWaitForWindowActive(MainWindowWidget()));
  QWidget* credit = ControlWidget(creditLink);
  struct Case {
    const char* name;
    std::function<void()> act;
  };
  const Case cases[] = {
      {"click into it", [credit] { QTest::mouseClick(credit, Qt::LeftButton); }},
      {"type into it", [credit] { QTest::keyClick(credit, Qt::Key_X); }},
      {"leave it", [] { ControlWidget(monitorButton)->setFocus(Qt::TabFocusReason); }},
      {"reach it with Tab",
       [] {
         ControlWidget(enumerateButton)->setFocus(Qt::TabFocusReason);
         QTest::keyClick(ControlWidget(enumerateButton), Qt::Key_Tab);
       }},
  };
  const std::vector<std::string> log = LogLines();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ForgetQueuedEvents();
    browsed.clear();
    c.act();
    QApplication::processEvents();
    int creditEvents = 0;
    WindowEvent event;
    while (TakeQueuedEvent(event)) {
      if (event.kind == WindowEvent::kControl && event.id == creditLink) ++creditEvents;
      EXPECT_TRUE(RunLoopPass(event));
    }
    EXPECT_GE(creditEvents, 1);
    EXPECT_EQ(browsed, std::vector<std::string>(static_cast<std::size_t>(creditEvents), kMakerWebAddress));
  }
  for (auto subKind :
       {WindowEvent::kFocusGained, WindowEvent::kFocusLost, WindowEvent::kTextChanged, WindowEvent::kNoSubKind}) {
    SCOPED_TRACE(subKind);
    browsed.clear();
    EXPECT_TRUE(Control(creditLink, subKind));
    EXPECT_EQ(browsed, std::vector<std::string>{kMakerWebAddress});
  }
  EXPECT_EQ(LogLines(), log);
  EXPECT_EQ(State().monitoringFlag, 0);
}

// The events of every other control, and identifiers that name none, only let the poll run.
TEST_F(ShellTest, OtherControlsDoNothing) {
  ASSERT_NO_FATAL_FAILURE(StartMonitoring());
  const int32_t ids[] = {dbmDisplay,
                         percentDisplay,
                         logView,
                         timerDisplay,
                         optionsFrame,
                         deviceCaption,
                         deviceList,
                         timerCaption,
                         volumeBar,
                         volumeCaption,
                         titleCaption,
                         logCaption,
                         statusLine,
                         dbmUnitCaption,
                         percentUnitCaption,
                         -1,
                         21,
                         1000};
  const uint32_t start = State().monitorStartTime;
  const std::vector<std::string> log = LogLines();
  const std::string status = ControlText(statusLine);
  const int32_t items = DeviceListCount();
  uint32_t atMs = 0;
  for (int32_t id : ids) {
    for (auto subKind : {WindowEvent::kClicked, WindowEvent::kTextChanged, WindowEvent::kFocusGained}) {
      SCOPED_TRACE(testing::Message() << "control " << id << ", sub-kind " << subKind);
      atMs += 30;
      fakeNow = start + atMs;
      EXPECT_TRUE(Control(id, subKind));
      char timer[32];
      std::snprintf(timer, sizeof timer, "%.1f sec", atMs / 1000.0);
      EXPECT_EQ(ControlText(timerDisplay), timer);
      EXPECT_EQ(LogLines(), log);
      EXPECT_EQ(ControlText(statusLine), status);
      EXPECT_EQ(State().monitoringFlag, 1);
      EXPECT_EQ(State().quitFlag, 0);
      EXPECT_EQ(State().soundFlag, 0);
      EXPECT_EQ(DeviceListCount(), items);
    }
  }
  EXPECT_LT(atMs, 2000u);
  EXPECT_TRUE(browsed.empty());
  EXPECT_TRUE(sim_.Received().empty());
  EXPECT_EQ(OpenDescriptors(sim_.SlavePath(0)), 2);
}

}  // namespace
