// A week of monitoring: polls the simulated modem with the tick counter driven fast until the
// log holds 300,000 lines (one query every 2 s for seven days), and prints the cost of one poll
// and the resident memory as the log grows.
//
// A real exchange over a pseudo-terminal waits out one empty read request (257 ms) after every
// reply, so a week of real exchanges would take about 40 hours. The soak therefore installs
// serial device calls that answer in-process with the simulated modem's own answering logic:
// the command is answered as soon as it is written, and the read request after the answer
// returns nothing at once. Everything above the device calls is the program's own:
// PollSignal, ExchangeCommand with its drain of pending window messages, ExtractReplyField,
// ConvertSignalQuality, the activity log and the real widgets. After every poll the pending
// window work is processed, so the log view and the displays repaint once per poll.
//
//   soak_bench [lines]    in-process device until the log holds that many lines (300000)
//   soak_bench --pty [n]  n polls (10) over a real pseudo-terminal, for comparison
//
// Runs offscreen unless QT_QPA_PLATFORM names another platform (for example under xvfb-run).
#include <QApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QWindow>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "monitor/poll_signal.h"
#include "platform/port_table.h"
#include "platform/serial_device.h"
#include "platform/tick_counter.h"
#include "serial/link_hooks.h"
#include "serial/serial_port.h"
#include "tools/modem-sim/sim/modem_sim.h"
#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kWeekLines = 300000;
constexpr int32_t kWindowPolls = 500;  // each figure is taken over the polls just before its mark
constexpr int32_t kMarks[] = {1000, 10000, 100000, 200000, 300000};
constexpr int32_t kNotDetectableEvery = 500;  // every so many queries the modem reports 99
constexpr double kFlatTarget = 1.5;
constexpr double kMemoryTargetMb = 300.0;
constexpr int32_t kSimPort = 0;
constexpr int kInProcessFd = 1000;  // any number: no call below reaches the system with it
// One day before the 32-bit counter wraps, so the week crosses the wrap.
constexpr uint32_t kStartTick = 0xFFFFFFFFu - 86400000u;

uint32_t fakeNow = 0;
uint32_t FakeTick() { return fakeNow; }

void AppendNote(const std::string& note) { AppendToTopLine(note); }

double ResidentMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return -1.0;
}

// The simulated modem without its pseudo-terminal: what the program writes is split into
// command lines as the sim does, and each line's answer is ready to read at once.
struct InProcessModem {
  ModemSim* sim = nullptr;
  std::string line;
  std::string answer;  // written by the modem, not yet read
  int64_t csqQueries = 0;
};

InProcessModem modem;

bool Succeed() { return true; }
int OpenInProcess(int32_t) { return kInProcessFd; }
bool ReadSettingsInProcess(int, DCB& settings) {
  settings = DCB{};
  return true;
}
bool ApplySettingsInProcess(int, const DCB&) { return Succeed(); }
bool ApplyTimeoutsInProcess(int, const COMMTIMEOUTS&) { return Succeed(); }
bool SetQueueSizesInProcess(int, int32_t, int32_t) { return Succeed(); }
bool FlushInProcess(int) { return Succeed(); }
bool CloseInProcess(int) { return Succeed(); }
uint32_t LastErrorInProcess() { return 0; }

void AnswerLine(const std::string& command) {
  if (command == "AT+CSQ") {
    SimPortScript script = modem.sim->Script(kSimPort);
    const int64_t n = modem.csqQueries++;
    script.csqValue = n % kNotDetectableEvery == kNotDetectableEvery - 1 ? 99 : SimCsqPatternValue(n);
    modem.sim->SetScript(kSimPort, script);
  }
  std::string reply;
  if (modem.sim->AnswerFor(kSimPort, command, reply)) modem.answer += reply;
}

bool WriteInProcess(int, const char* bytes, int32_t count, int32_t& written) {
  for (int32_t i = 0; i < count; ++i) {
    if (bytes[i] == '\r') {
      if (!modem.line.empty()) AnswerLine(modem.line);
      modem.line.clear();
    } else if (bytes[i] != '\n') {
      modem.line.push_back(bytes[i]);
    }
  }
  written = count;
  return true;
}

bool ReadRequestInProcess(int, char* buffer, int32_t count, int32_t& delivered) {
  delivered = static_cast<int32_t>(std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)),
                                                         modem.answer.size()));
  std::memcpy(buffer, modem.answer.data(), static_cast<std::size_t>(delivered));
  modem.answer.erase(0, static_cast<std::size_t>(delivered));
  return true;
}

SerialDeviceCalls InProcessCalls() {
  SerialDeviceCalls calls = RealSerialDeviceCalls();
  calls.open = OpenInProcess;
  calls.readSettings = ReadSettingsInProcess;
  calls.applySettings = ApplySettingsInProcess;
  calls.applyTimeouts = ApplyTimeoutsInProcess;
  calls.setQueueSizes = SetQueueSizesInProcess;
  calls.readRequest = ReadRequestInProcess;
  calls.write = WriteInProcess;
  calls.flush = FlushInProcess;
  calls.close = CloseInProcess;
  calls.lastError = LastErrorInProcess;
  return calls;
}

// Counts the paints of one widget, to show that the view really was drawn.
class PaintCounter final : public QObject {
 public:
  int64_t paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

void ShowWindow() {
  State() = AppState{};
  CreateMainWindow();
  for (int i = 0; i < 1000 && !MainWindowWidget()->windowHandle()->isExposed(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  SetDefaultPortSettings(State().port);
  TheLinkHooks().appendToTopLine = AppendNote;
  TheLinkHooks().processPendingMessage = ProcessPendingMessage;
}

// As the Monitor button does it: open, start time, the start line, the flag.
bool StartMonitoring() {
  AppState& state = State();
  state.port.portNumber = kSimPort;
  if (OpenPort(state.port) == kNullHandle) return false;
  state.monitorStartTime = fakeNow;
  state.lastQueryTime = fakeNow;
  AddLogLine(NextLinePrefix() + "Start Monitoring Port " + std::to_string(kSimPort) + " ...", true);
  state.monitoringFlag = 1;
  return true;
}

// Wall time, and the processor time of this thread, which other programs on the machine do
// not inflate.
struct Stamp {
  Clock::time_point wall;
  double cpuUs;
};

Stamp Now() {
  timespec cpu{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
  return {Clock::now(), static_cast<double>(cpu.tv_sec) * 1e6 + static_cast<double>(cpu.tv_nsec) / 1e3};
}

// Microseconds of one poll, in the order the table prints them.
enum Figure { kPollWall, kPollCpu, kTotalWall, kTotalCpu, kFigureCount };
using PollTimes = std::array<double, kFigureCount>;

// One monitoring pass on which a query is due (PollSignal), then the window's pending work:
// the repaint of the log view and of the displays the poll changed (total).
PollTimes OnePoll() {
  fakeNow += static_cast<uint32_t>(kQueryGapMs);
  const Stamp start = Now();
  PollSignal();
  const Stamp polled = Now();
  QApplication::processEvents();
  const Stamp painted = Now();
  auto us = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
  };
  return {us(start.wall, polled.wall), polled.cpuUs - start.cpuUs, us(start.wall, painted.wall),
          painted.cpuUs - start.cpuUs};
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

struct Mark {
  int32_t lines;
  PollTimes medianUs;
  double residentMb;
  double elapsedS;
};

void PrintRatio(const char* what, const Mark& first, const Mark& last, Figure wall, Figure cpu) {
  const double wallRatio = last.medianUs[wall] / first.medianUs[wall];
  const double cpuRatio = last.medianUs[cpu] / first.medianUs[cpu];
  std::printf("%-22s %d -> %d lines: wall %.2fx, cpu %.2fx (target at most %.1fx: %s)\n", what, first.lines,
              last.lines, wallRatio, cpuRatio, kFlatTarget,
              wallRatio <= kFlatTarget && cpuRatio <= kFlatTarget ? "met" : "MISSED");
}

int RunWeek(int32_t targetLines) {
  ModemSim sim(1);
  if (!sim.Ok()) {
    std::fprintf(stderr, "soak_bench: %s\n", sim.Error().c_str());
    return 1;
  }
  modem.sim = &sim;
  TheSerialDeviceCalls() = InProcessCalls();
  fakeNow = kStartTick;
  SetTickSource(FakeTick);
  ShowWindow();
  if (!StartMonitoring()) {
    std::fprintf(stderr, "soak_bench: the in-process port did not open\n");
    return 1;
  }
  auto* view = static_cast<QPlainTextEdit*>(ControlWidget(logView));
  PaintCounter logPaints;
  view->viewport()->installEventFilter(&logPaints);

  std::printf("platform %s; in-process modem; one query per poll (tick +%d ms); "
              "QApplication::processEvents() after every poll\n",
              qPrintable(QGuiApplication::platformName()), kQueryGapMs);
  std::printf("start: %.1f MB resident; medians over the %d polls before each mark, in us\n", ResidentMb(),
              kWindowPolls);
  std::printf("%8s %8s | %20s | %20s | %9s %7s\n", "", "", "PollSignal", "PollSignal + repaint", "", "");
  std::printf("%8s %8s | %9s %10s | %9s %10s | %9s %7s\n", "lines", "polls", "wall", "cpu", "wall", "cpu",
              "VmRSS MB", "run s");
  std::fflush(stdout);

  std::array<std::vector<double>, kFigureCount> window;
  std::vector<Mark> marks;
  int64_t polls = 0;
  const Clock::time_point runStart = Clock::now();
  std::vector<int32_t> wanted;
  for (int32_t mark : kMarks) {
    if (mark < targetLines) wanted.push_back(mark);
  }
  wanted.push_back(targetLines);
  for (int32_t mark : wanted) {
    while (LogLineCount() < mark) {
      const PollTimes times = OnePoll();
      ++polls;
      if (LogLineCount() > mark - kWindowPolls) {
        for (int f = 0; f < kFigureCount; ++f) window[f].push_back(times[f]);
      }
    }
    Mark m{mark, {}, ResidentMb(), std::chrono::duration<double>(Clock::now() - runStart).count()};
    for (int f = 0; f < kFigureCount; ++f) {
      m.medianUs[f] = Median(window[f]);
      window[f].clear();
    }
    marks.push_back(m);
    std::printf("%8d %8lld | %9.1f %10.1f | %9.1f %10.1f | %9.1f %7.0f\n", m.lines, static_cast<long long>(polls),
                m.medianUs[kPollWall], m.medianUs[kPollCpu], m.medianUs[kTotalWall], m.medianUs[kTotalCpu],
                m.residentMb, m.elapsedS);
    std::fflush(stdout);
  }
  view->viewport()->removeEventFilter(&logPaints);

  const AppState& state = State();
  std::printf("log view paints per poll: %.2f; pollCounter %d, logLineCounter %d; top line \"%s\"\n",
              static_cast<double>(logPaints.paints) / static_cast<double>(std::max<int64_t>(polls, 1)),
              state.pollCounter, state.logLineCounter, LogLine(0).c_str());
  if (marks.size() >= 2) {
    const Mark& first = marks.front();
    const Mark& last = marks.back();
    PrintRatio("PollSignal + repaint", first, last, kTotalWall, kTotalCpu);
    PrintRatio("PollSignal alone", first, last, kPollWall, kPollCpu);
    std::printf("resident memory at %d lines: %.1f MB (target under %.0f MB: %s)\n", last.lines, last.residentMb,
                kMemoryTargetMb, last.residentMb < kMemoryTargetMb ? "met" : "MISSED");
  }

  ClosePort(State().port);
  DestroyMainWindow();
  TheLinkHooks() = LinkHooks{};
  TheSerialDeviceCalls() = RealSerialDeviceCalls();
  SetTickSource(nullptr);
  modem.sim = nullptr;
  return 0;
}

// The same polls over a real pseudo-terminal, where each exchange waits out its time-outs.
int RunOverPty(int32_t count) {
  ModemSim sim(1);
  if (!sim.Ok()) {
    std::fprintf(stderr, "soak_bench: %s\n", sim.Error().c_str());
    return 1;
  }
  SimPortScript script;
  script.csqPattern = true;
  sim.SetScript(kSimPort, script);
  SetPortTable({sim.SlavePath(kSimPort)});
  fakeNow = kStartTick;
  SetTickSource(FakeTick);
  ShowWindow();
  if (!StartMonitoring()) {
    std::fprintf(stderr, "soak_bench: cannot open %s\n", sim.SlavePath(kSimPort).c_str());
    return 1;
  }
  std::array<std::vector<double>, kFigureCount> times;
  for (int32_t i = 0; i < count; ++i) {
    const PollTimes poll = OnePoll();
    for (int f = 0; f < kFigureCount; ++f) times[f].push_back(poll[f]);
  }
  std::printf("platform %s; modem on %s; %d polls, %d log lines\n", qPrintable(QGuiApplication::platformName()),
              sim.SlavePath(kSimPort).c_str(), count, LogLineCount());
  std::printf("median poll with repaint: wall %.1f ms, cpu %.2f ms; top line \"%s\"\n",
              Median(times[kTotalWall]) / 1000.0, Median(times[kTotalCpu]) / 1000.0, LogLine(0).c_str());
  std::printf("a week of such polls (%d) would take %.1f hours\n", kWeekLines,
              Median(times[kTotalWall]) / 1e6 * kWeekLines / 3600.0);
  ClosePort(State().port);
  DestroyMainWindow();
  TheLinkHooks() = LinkHooks{};
  SetPortTable({});
  SetTickSource(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() > 1 && args[1] == QStringLiteral("--pty")) {
    return RunOverPty(args.size() > 2 ? std::max(1, args[2].toInt()) : 10);
  }
  const int32_t lines = args.size() > 1 ? std::max(1, args[1].toInt()) : kWeekLines;
  return RunWeek(lines);
}
