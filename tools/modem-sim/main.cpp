// modem-sim: a simulated modem on pseudo-terminals, to try the program without hardware.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "tools/modem-sim/sim/modem_sim.h"

namespace {

constexpr const char* kUsage =
    "Usage: modem-sim [options]\n"
    "Creates pseudo-terminals that answer like a modem (V.250 framing, echo off), prints\n"
    "their paths and serves them until interrupted (Ctrl-C).\n"
    "\n"
    "  -n, --ports N          number of pseudo-terminals (default 1)\n"
    "      --model TEXT       model text answered to AT+GMM (default \"QV-2 Cellular Modem\")\n"
    "      --csq V            signal quality answered to AT+CSQ (default 17)\n"
    "      --csq-pattern      let the signal quality walk from 5 to 25 and back, a step per query\n"
    "      --delay MS         wait before every answer\n"
    "      --silent           never answer\n"
    "      --error            answer every command with ERROR\n"
    "      --split N:GAP      send each answer in N pieces, GAP ms apart\n"
    "      --long BYTES       answer every command with BYTES bytes of text\n"
    "      --nul              put a NUL byte in the middle of every answer\n"
    "      --flood            send without pause\n"
    "      --vanish-after N   on the next command send N bytes of the answer, then close\n"
    "  -q, --quiet            do not print the commands received\n"
    "  -h, --help             show this text\n"
    "\n"
    "Answers: ATQ0V1E0, ATE0, ATZ, AT and other settings -> OK; AT+GMM/AT+CGMM -> model;\n"
    "AT+GMI/AT+CGMI -> maker; AT+GMR/AT+CGMR -> revision; AT+GSN/AT+CGSN -> serial number;\n"
    "ATI -> all three; AT+CSQ -> \"+CSQ: <v>,99\"; anything else -> ERROR.\n";

bool ParseInt(const char* text, int32_t low, int32_t& value) {
  char* end = nullptr;
  long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < low || parsed > 1'000'000) return false;
  value = static_cast<int32_t>(parsed);
  return true;
}

int Fail(const char* message, const char* detail) {
  std::fprintf(stderr, "modem-sim: %s%s\n%s", message, detail, "Try 'modem-sim --help'.\n");
  return 2;
}

std::string Printable(const std::string& text) {
  std::string shown;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      shown.push_back(static_cast<char>(c));
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      shown += code;
    }
  }
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  int32_t portCount = 1;
  bool quiet = false;
  SimPortScript script;
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* value = nullptr;
    if (option == "-h" || option == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (option == "-q" || option == "--quiet") {
      quiet = true;
    } else if (option == "-n" || option == "--ports") {
      if (!(value = next()) || !ParseInt(value, 1, portCount)) return Fail("bad port count: ", value ? value : "");
    } else if (option == "--model") {
      if (!(value = next())) return Fail("missing model text", "");
      script.modelText = value;
    } else if (option == "--csq") {
      if (!(value = next()) || !ParseInt(value, 0, script.csqValue)) {
        return Fail("bad signal quality: ", value ? value : "");
      }
    } else if (option == "--csq-pattern") {
      script.csqPattern = true;
    } else if (option == "--delay") {
      if (!(value = next()) || !ParseInt(value, 0, script.replyDelayMs)) return Fail("bad delay: ", value ? value : "");
    } else if (option == "--silent") {
      script.behaviour = SimBehaviour::Silent;
    } else if (option == "--error") {
      script.behaviour = SimBehaviour::Error;
    } else if (option == "--split") {
      if (!(value = next())) return Fail("missing N:GAP", "");
      std::string split = value;
      auto colon = split.find(':');
      std::string pieces = split.substr(0, colon);
      std::string gap = colon == std::string::npos ? "100" : split.substr(colon + 1);
      if (!ParseInt(pieces.c_str(), 1, script.splitPieces) || !ParseInt(gap.c_str(), 0, script.splitGapMs)) {
        return Fail("bad split: ", value);
      }
      script.behaviour = SimBehaviour::Split;
    } else if (option == "--long") {
      if (!(value = next()) || !ParseInt(value, 0, script.longReplyBytes)) return Fail("bad length: ", value ? value : "");
      script.behaviour = SimBehaviour::Long;
    } else if (option == "--nul") {
      script.behaviour = SimBehaviour::Nul;
    } else if (option == "--flood") {
      script.behaviour = SimBehaviour::Flood;
    } else if (option == "--vanish-after") {
      if (!(value = next()) || !ParseInt(value, 0, script.vanishAfterBytes)) {
        return Fail("bad byte count: ", value ? value : "");
      }
      script.behaviour = SimBehaviour::Vanish;
    } else {
      return Fail("unknown option: ", option.c_str());
    }
  }

  // Block the ending signals before the serving thread starts, so that only sigwait sees them.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);

  ModemSim sim(portCount);
  if (!sim.Ok()) return Fail("cannot create the pseudo-terminals: ", sim.Error().c_str());
  for (int32_t p = 0; p < sim.PortCount(); ++p) sim.SetScript(p, script);
  const auto start = std::chrono::steady_clock::now();
  if (!quiet) {
    sim.OnCommand([start](const SimCommand& command) {
      auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(command.arrival - start).count();
      std::printf("%8.3f s  port %d  %s\n", static_cast<double>(ms) / 1000.0, command.port,
                  Printable(command.text).c_str());
      std::fflush(stdout);
    });
  }
  for (int32_t p = 0; p < sim.PortCount(); ++p) std::printf("port %d: %s\n", p, sim.SlavePath(p).c_str());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&ending, &signal);
  return 0;
}
