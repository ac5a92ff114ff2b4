// Times ExchangeCommand against the simulated modem on a pseudo-terminal and prints each case
// beside the bound that the read time-outs give it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/port_table.h"
#include "serial/serial_port.h"
#include "tools/modem-sim/sim/modem_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
  const char* name;
  SimPortScript script;
  const char* command;
  double boundMs;
  const char* why;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  ModemSim sim(1);
  if (!sim.Ok()) {
    std::fprintf(stderr, "exchange_bench: %s\n", sim.Error().c_str());
    return 1;
  }
  SetPortTable({sim.SlavePath(0)});
  SerialPort port;
  SetDefaultPortSettings(port);
  if (OpenPort(port) == kNullHandle) {
    std::fprintf(stderr, "exchange_bench: cannot open %s (error %u)\n", sim.SlavePath(0).c_str(), port.lastError);
    return 1;
  }

  SimPortScript silent;
  silent.behaviour = SimBehaviour::Silent;
  SimPortScript atOnce;
  SimPortScript pieces;
  pieces.behaviour = SimBehaviour::Split;
  pieces.splitPieces = 3;
  pieces.splitGapMs = 100;
  const Case cases[] = {
      {"no reply", silent, "AT+CSQ\r", 257.0, "one empty request of 256 bytes: 256 + 1 ms"},
      {"short reply at once", atOnce, "AT+CSQ\r", 200.0 + 257.0,
       "200 ms after the last byte, then one empty request of 257 ms"},
      {"three pieces 100 ms apart", pieces, "AT+CSQ\r", 257.0 + 257.0,
       "first request ends by its 257 ms total (last piece at 200 ms), then one empty request"},
  };

  std::printf("ExchangeCommand against the simulated modem on %s, %d runs per case\n",
              sim.SlavePath(0).c_str(), runs);
  std::printf("%-28s %9s %9s %9s %9s %8s  %s\n", "case", "bound ms", "median", "min", "max", "over %",
              "bound from");
  int wrong = 0;
  for (const auto& c : cases) {
    sim.SetScript(0, c.script);
    std::string expected;
    if (c.script.behaviour != SimBehaviour::Silent) sim.AnswerFor(0, "AT+CSQ", expected);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
      auto start = Clock::now();
      std::string reply = ExchangeCommand(port, c.command);
      auto stop = Clock::now();
      times.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
      if (reply != expected) ++wrong;
    }
    double median = Median(times);
    std::printf("%-28s %9.1f %9.2f %9.2f %9.2f %+8.2f  %s\n", c.name, c.boundMs, median,
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()),
                (median - c.boundMs) / c.boundMs * 100.0, c.why);
  }
  ClosePort(port);
  if (wrong > 0) std::printf("%d exchanges gave an unexpected reply\n", wrong);
  return wrong > 0 ? 1 : 0;
}
