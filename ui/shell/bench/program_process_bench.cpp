// The real program in a real window: starts modem-sim and quelvane pointed at it, finds the
// window, waits idle, clicks Monitor with xdotool, waits monitoring, clicks END. Prints the
// program's processor time in each phase (from /proc/<pid>/stat), the gaps between the
// AT+CSQ commands as modem-sim received them, the time to the window, the resident memory
// and how long END takes to end the process. Needs an X display (run it under xvfb-run).
//
//   program_process_bench --program PATH --modem-sim PATH [--idle-seconds S] [--monitor-seconds S]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv, int stdoutFd) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envText(extraEnv);
  for (char** e = environ; *e != nullptr; ++e) envText.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string Run(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// utime + stime of the process, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14) utime = std::stoull(field);
    if (index == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

void Sleep(int seconds) { std::this_thread::sleep_for(std::chrono::seconds(seconds)); }

double Since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::string program, modemSim;
  int idleSeconds = 60, monitorSeconds = 60;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--program") program = argv[i + 1];
    if (option == "--modem-sim") modemSim = argv[i + 1];
    if (option == "--idle-seconds") idleSeconds = std::atoi(argv[i + 1]);
    if (option == "--monitor-seconds") monitorSeconds = std::atoi(argv[i + 1]);
  }
  if (program.empty() || modemSim.empty() || std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr,
                 "usage (with an X display): %s --program PATH --modem-sim PATH [--idle-seconds S] "
                 "[--monitor-seconds S]\n",
                 argv[0]);
    return 2;
  }

  char simLog[] = "/tmp/quelvane-bench-sim-XXXXXX";
  const int simFd = mkstemp(simLog);
  const pid_t sim = Spawn({modemSim, "--csq-pattern"}, {}, simFd);
  std::string port;
  for (int tries = 0; tries < 100 && port.empty(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream log(simLog);
    std::string line;
    while (std::getline(log, line)) {
      if (line.rfind("port 0: ", 0) == 0) port = line.substr(8);
    }
  }
  if (sim < 0 || port.empty()) {
    std::fprintf(stderr, "modem-sim did not start\n");
    return 1;
  }

  const auto started = Clock::now();
  const pid_t quelvane = Spawn({program}, {"QUELVANE_PORTS=" + port}, -1);
  std::string window;
  while (window.empty() && Since(started) < 20000) {
    window = Run("xdotool search --onlyvisible --name '^Quelvane$' 2>/dev/null | head -1");
  }
  const double windowMs = Since(started);
  if (window.empty()) {
    std::fprintf(stderr, "no window\n");
    kill(quelvane, SIGTERM);
    kill(sim, SIGTERM);
    return 1;
  }
  std::printf("window %s visible %.0f ms after the start (found by polling xdotool; a few ms coarse)\n", window.c_str(),
              windowMs);
  Sleep(3);  // discovery
  std::printf("after start-up: RSS %ld kB\n", RssKb(quelvane));

  if (idleSeconds > 0) {
    const double idle0 = CpuSeconds(quelvane);
    Sleep(idleSeconds);
    const double idleCpu = CpuSeconds(quelvane) - idle0;
    std::printf("idle        %3d s: cpu %.2f s = %.3f %% of one core (clock tick %ld Hz)\n", idleSeconds, idleCpu,
                100.0 * idleCpu / idleSeconds, sysconf(_SC_CLK_TCK));
  }

  Run("xdotool mousemove --window " + window + " 90 562 click 1");
  const auto monitorStart = Clock::now();
  const double monitor0 = CpuSeconds(quelvane);
  const long rssAtMonitor = RssKb(quelvane);
  Sleep(monitorSeconds);
  const double monitorCpu = CpuSeconds(quelvane) - monitor0;
  const double monitorWall = Since(monitorStart) / 1000.0;
  std::printf("monitoring  %3d s: cpu %.2f s = %.3f %% of one core\n", monitorSeconds, monitorCpu,
              100.0 * monitorCpu / monitorWall);
  std::printf("resident memory: %ld kB when monitoring began, %ld kB after %d s of monitoring\n", rssAtMonitor,
              RssKb(quelvane), monitorSeconds);

  // END: the process must end by itself with exit code 0.
  Run("xdotool mousemove --window " + window + " 380 597 click 1");
  const auto endClicked = Clock::now();
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(quelvane, &status, WNOHANG)) == 0 && Since(endClicked) < 5000) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (ended == quelvane) {
    std::printf("END clicked: process ended %.0f ms after xdotool returned, exit code %d\n", Since(endClicked),
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  } else {
    std::printf("END clicked: process still running after 5 s\n");
    kill(quelvane, SIGTERM);
    waitpid(quelvane, &status, 0);
  }
  kill(sim, SIGTERM);
  waitpid(sim, nullptr, 0);

  // modem-sim's lines: "<seconds> s  port 0  AT+CSQ".
  std::vector<double> times;
  std::ifstream log(simLog);
  std::string line;
  while (std::getline(log, line)) {
    double seconds = 0;
    char command[64] = {};
    if (std::sscanf(line.c_str(), "%lf s port %*d %63s", &seconds, command) == 2 &&
        std::strcmp(command, "AT+CSQ") == 0) {
      times.push_back(seconds * 1000.0);
    }
  }
  close(simFd);
  unlink(simLog);
  std::vector<double> gaps;
  for (std::size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
  std::sort(gaps.begin(), gaps.end());
  if (gaps.empty()) {
    std::printf("AT+CSQ gaps: fewer than two queries\n");
    return 1;
  }
  const auto outside = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g < 2000.0 || g > 2100.0; });
  std::printf(
      "AT+CSQ gaps as modem-sim received them (1 ms resolution): %zu gaps, min %.0f ms, median %.0f ms, "
      "max %.0f ms, outside 2000..2100: %ld\n",
      gaps.size(), gaps.front(), gaps[gaps.size() / 2], gaps.back(), static_cast<long>(outside));
  return 0;
}
