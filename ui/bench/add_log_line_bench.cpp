// Cost of one AddLogLine with the log view shown and repainted after every line, at two log sizes.
// Runs offscreen unless QT_QPA_PLATFORM names another platform (for example under xvfb-run).
#include <QApplication>
#include <QPlainTextEdit>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMeasuredLines = 2000;
constexpr int kRounds = 5;

std::string PollLine(int i) {
  return NextLinePrefix() + "   " + std::to_string(i * 2) + ".0:" + std::to_string(i % 100000) +
         ": 18,99 = \t  -77 dBm (= 58%)";
}

void FillTo(int lines) {
  while (LogLineCount() < lines) {
    AddLogLine(PollLine(LogLineCount()), false);
  }
  QApplication::processEvents();
}

struct Figures {
  double addUs;    // AddLogLine alone
  double totalUs;  // AddLogLine and the repaint it causes
  double paintsPerLine;
};

// Counts the paints of the log's viewport, to show that every line was drawn.
class PaintCounter final : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++paints;
    }
    return false;
  }
};

// The median round of kMeasuredLines lines, each followed by the repaint.
Figures Measure(int startLines) {
  std::vector<Figures> rounds;
  for (int round = 0; round < kRounds; ++round) {
    DestroyMainWindow();
    State() = AppState{};
    CreateMainWindow();
    for (int i = 0; i < 1000 && !MainWindowWidget()->windowHandle()->isExposed(); ++i) {
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    FillTo(startLines);
    PaintCounter counter;
    static_cast<QPlainTextEdit*>(ControlWidget(logView))->viewport()->installEventFilter(&counter);
    Clock::duration adding{};
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < kMeasuredLines; ++i) {
      const std::string line = PollLine(i);
      const Clock::time_point before = Clock::now();
      AddLogLine(line, false);
      adding += Clock::now() - before;
      QApplication::processEvents();
    }
    const Clock::duration total = Clock::now() - start;
    rounds.push_back({std::chrono::duration<double, std::micro>(adding).count() / kMeasuredLines,
                      std::chrono::duration<double, std::micro>(total).count() / kMeasuredLines,
                      static_cast<double>(counter.paints) / kMeasuredLines});
    static_cast<QPlainTextEdit*>(ControlWidget(logView))->viewport()->removeEventFilter(&counter);
  }
  std::sort(rounds.begin(), rounds.end(), [](const Figures& a, const Figures& b) { return a.totalUs < b.totalUs; });
  return rounds[rounds.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  QApplication app(argc, argv);
  std::printf("platform %s, %d lines measured per round, median of %d rounds\n",
              qPrintable(QGuiApplication::platformName()), kMeasuredLines, kRounds);
  const int sizes[] = {1000, 100000};
  std::vector<Figures> results;
  for (int size : sizes) {
    const Figures figures = Measure(size);
    results.push_back(figures);
    std::printf("%7d lines: AddLogLine %8.1f us, with repaint %8.1f us per line (%.2f paints per line)\n", size,
                figures.addUs, figures.totalUs, figures.paintsPerLine);
  }
  std::printf("ratio 100000/1000: AddLogLine %.2f, with repaint %.2f (target at most 1.5)\n",
              results[1].addUs / results[0].addUs, results[1].totalUs / results[0].totalUs);
  DestroyMainWindow();
  return 0;
}
