// The real event loop in this process against the simulated modem: processor time while idle
// and while monitoring, the gaps between the queries as the modem receives them, the loop's
// passes per second and the resident memory. Offscreen unless QT_QPA_PLATFORM says otherwise.
//
//   shell_loop_bench [--idle-seconds S] [--monitor-seconds S]     (60 and 60 by default)
#include <sys/resource.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_device.h"
#include "platform/tick_counter.h"
#include "tools/modem-sim/sim/modem_sim.h"
#include "ui/app_state.h"
#include "ui/main_window.h"
#include "ui/shell/shell.h"

namespace {

using Clock = std::chrono::steady_clock;

uint64_t tickReads = 0;
uint32_t CountedTick() {
  ++tickReads;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

// When the program wrote each query, to tell its own pacing from the delivery to the modem.
std::vector<Clock::time_point> queryWrites;
bool WriteNoted(int fd, const char* bytes, int32_t count, int32_t& written) {
  if (std::string_view(bytes, static_cast<std::size_t>(count)) == "AT+CSQ\r") queryWrites.push_back(Clock::now());
  return RealSerialDeviceCalls().write(fd, bytes, count, written);
}

void PrintGaps(const char* name, const std::vector<Clock::time_point>& times) {
  std::vector<double> gaps;
  for (std::size_t i = 1; i < times.size(); ++i) {
    gaps.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
  }
  if (gaps.empty()) {
    std::printf("AT+CSQ gaps %s fewer than two queries\n", name);
    return;
  }
  std::sort(gaps.begin(), gaps.end());
  const auto outside = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g < 2000.0 || g > 2100.0; });
  std::printf("AT+CSQ gaps %-28s %zu gaps, min %.1f ms, median %.1f ms, max %.1f ms, outside 2000..2100: %ld\n", name,
              gaps.size(), gaps.front(), gaps[gaps.size() / 2], gaps.back(), static_cast<long>(outside));
}

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::strtol(line.c_str() + length + 1, nullptr, 10);
  }
  return -1;
}

void Click(int32_t id) { static_cast<QPushButton*>(ControlWidget(id))->click(); }

struct Span {
  double wallSeconds;
  double processCpu;
  double threadCpu;
};

// Runs the loop until END is pressed after the given seconds.
Span RunLoopFor(int seconds) {
  State().quitFlag = 0;
  QTimer::singleShot(std::chrono::seconds(seconds), Qt::PreciseTimer, [] { Click(endButton); });
  const double process0 = CpuSeconds(RUSAGE_SELF);
  const double thread0 = CpuSeconds(RUSAGE_THREAD);
  const auto wall0 = Clock::now();
  RunEventLoop();
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  SetWakeInterval(0);
  return {wall, CpuSeconds(RUSAGE_SELF) - process0, CpuSeconds(RUSAGE_THREAD) - thread0};
}

void PrintSpan(const char* name, const Span& span) {
  std::printf("%-11s wall %7.2f s   cpu: main thread %7.3f s = %6.3f %%   whole process %7.3f s = %6.3f %%\n", name,
              span.wallSeconds, span.threadCpu, 100.0 * span.threadCpu / span.wallSeconds, span.processCpu,
              100.0 * span.processCpu / span.wallSeconds);
}

}  // namespace

int main(int argc, char** argv) {
  int idleSeconds = 60;
  int monitorSeconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--idle-seconds") == 0) idleSeconds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--monitor-seconds") == 0) monitorSeconds = std::atoi(argv[i + 1]);
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);

  ModemSim sim(1);
  if (!sim.Ok()) {
    std::fprintf(stderr, "simulated modem: %s\n", sim.Error().c_str());
    return 1;
  }
  SimPortScript script;
  script.csqPattern = true;
  sim.SetScript(0, script);
  setenv("QUELVANE_PORTS", sim.SlavePath(0).c_str(), 1);
  SetTickSource(CountedTick);
  TheSerialDeviceCalls().write = WriteNoted;

  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  std::printf("platform %s, simulated modem on %s\n", qPrintable(QApplication::platformName()),
              sim.SlavePath(0).c_str());
  StartUp();
  std::printf("after start-up: RSS %ld kB\n", StatusKb("VmRSS"));

  if (idleSeconds > 0) PrintSpan("idle", RunLoopFor(idleSeconds));

  sim.ClearReceived();
  Click(monitorButton);
  const long rssAtMonitor = StatusKb("VmRSS");
  tickReads = 0;
  queryWrites.clear();
  const Span monitoring = RunLoopFor(monitorSeconds);
  PrintSpan("monitoring", monitoring);
  std::printf("passes while monitoring: about %.1f per second (tick reads / 2 / s)\n",
              static_cast<double>(tickReads) / 2.0 / monitoring.wallSeconds);

  std::vector<Clock::time_point> arrivals;
  for (const SimCommand& command : sim.Received(0)) {
    if (command.text == "AT+CSQ") arrivals.push_back(command.arrival);
  }
  PrintGaps("as the program wrote them:", queryWrites);
  PrintGaps("as the modem received them:", arrivals);
  std::printf(
      "resident memory: %ld kB when monitoring began, %ld kB after %d s of monitoring (peak %ld kB), "
      "%d log lines\n",
      rssAtMonitor, StatusKb("VmRSS"), monitorSeconds, StatusKb("VmHWM"), LogLineCount());
  ShutDown();
  SetTickSource(nullptr);
  TheSerialDeviceCalls() = RealSerialDeviceCalls();
  return 0;
}
