// Time from the start of the program to its window on the screen. The bench starts itself
// again as a child a number of times; each child runs the program's start-up with an empty
// port list and reports, on the system's monotonic clock, when it reached main(), when the
// window was exposed, when it was first painted and when start-up had returned.
//
//   startup_bench [--runs N]        (10 by default; offscreen when there is no X display)
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/port_list.h"
#include "ui/main_window.h"
#include "ui/shell/shell.h"

extern char** environ;

namespace {

double NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

PortList NoPorts() { return {true, 0, {}}; }

class FirstSight final : public QObject {
 public:
  double exposedMs = 0;
  double paintedMs = 0;
  bool eventFilter(QObject* watched, QEvent* event) override {
    QWidget* window = MainWindowWidget();
    if (window == nullptr) return false;
    if (exposedMs == 0 && event->type() == QEvent::Expose && watched == window->windowHandle()) exposedMs = NowMs();
    if (paintedMs == 0 && event->type() == QEvent::Paint && watched == window) paintedMs = NowMs();
    return false;
  }
};

int Child(char* name) {
  const double mainMs = NowMs();
  SetPortListSource(NoPorts);
  int qtArgc = 1;
  char* qtArgv[] = {name, nullptr};
  QApplication app(qtArgc, qtArgv);
  FirstSight sight;
  app.installEventFilter(&sight);
  StartUp();
  const double startedMs = NowMs();
  std::printf("%.3f %.3f %.3f %.3f\n", mainMs, sight.exposedMs, sight.paintedMs, startedMs);
  ShutDown();
  return 0;
}

struct Figures {
  std::vector<double> main, exposed, painted, started;
};

void Print(const char* name, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  std::printf("  %-34s min %7.1f ms   median %7.1f ms   max %7.1f ms\n", name, values.front(),
              values[values.size() / 2], values.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--child") == 0) return Child(argv[0]);
  if (std::getenv("DISPLAY") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int runs = 10;
  if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));

  Figures figures;
  for (int run = 0; run < runs; ++run) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char child[] = "--child";
    char unused[] = "1";
    char* childArgv[] = {argv[0], child, unused, nullptr};
    pid_t pid = 0;
    const double spawnMs = NowMs();
    const int failed = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, childArgv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (failed != 0) return 1;
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    double mainMs = 0, exposedMs = 0, paintedMs = 0, startedMs = 0;
    if (std::sscanf(out.c_str(), "%lf %lf %lf %lf", &mainMs, &exposedMs, &paintedMs, &startedMs) != 4) {
      std::fprintf(stderr, "child gave no figures: %s\n", out.c_str());
      return 1;
    }
    figures.main.push_back(mainMs - spawnMs);
    figures.exposed.push_back(exposedMs - spawnMs);
    figures.painted.push_back(paintedMs - spawnMs);
    figures.started.push_back(startedMs - spawnMs);
  }
  std::printf("start-up, %d runs, platform %s, from the start of the process:\n", runs,
              std::getenv("QT_QPA_PLATFORM") != nullptr ? std::getenv("QT_QPA_PLATFORM") : "xcb");
  Print("main() reached", figures.main);
  Print("window exposed", figures.exposed);
  Print("window first painted", figures.painted);
  Print("start-up done (empty port list)", figures.started);
  return 0;
}
