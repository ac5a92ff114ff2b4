#include "ui/shell/shell.h"

#include <QApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <QWindow>
#include <chrono>
#include <thread>

#include "monitor/discover_ports.h"
#include "monitor/poll_signal.h"
#include "platform/tick_counter.h"
#include "serial/link_hooks.h"
#include "serial/serial_port.h"
#include "ui/activity_log.h"
#include "ui/app_state.h"

namespace {

void StartDesktopOpener(const std::string& url) {
  QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{QString::fromLatin1(url.c_str())});
}

void AppendNote(const std::string& note) { AppendToTopLine(note); }

// The window system maps and paints a shown window only when it gets to it; discovery may
// hold the loop for seconds, so the window is put on the screen before any port is touched.
void LetWindowAppear() {
  constexpr auto kAppearLimit = std::chrono::milliseconds(1000);
  constexpr auto kAppearPause = std::chrono::milliseconds(5);
  QWidget* window = MainWindowWidget();
  if (window == nullptr || window->windowHandle() == nullptr) {
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + kAppearLimit;
  while (std::chrono::steady_clock::now() < deadline) {
    const bool pending = ProcessPendingMessage();
    if (!pending && window->windowHandle()->isExposed()) {
      return;
    }
    if (!pending) {
      std::this_thread::sleep_for(kAppearPause);
    }
  }
}

void StopMonitoring() {
  AddLogLine(NextLinePrefix() + "Stop Monitoring Port " + std::to_string(State().port.portNumber) + " ...", true);
  ClosePort(State().port);
  State().monitoringFlag = 0;
  SetWakeInterval(0);
}

}  // namespace

void (*gStartBrowser)(const std::string& url) = StartDesktopOpener;

void StartUp() {
  State() = AppState{};
  CreateMainWindow();
  LetWindowAppear();
  SetDefaultPortSettings(State().port);
  TheLinkHooks().appendToTopLine = AppendNote;
  TheLinkHooks().processPendingMessage = ProcessPendingMessage;
  DiscoverPorts();
}

void HandleMonitor() {
  AppState& state = State();
  if (state.monitoringFlag != 0) {
    return;
  }
  const int32_t selected = DeviceListSelected();
  state.port.portNumber = DeviceListData(selected);
  std::string message;
  if (OpenPort(state.port) != kNullHandle) {
    const uint32_t now = GetTickCount();
    state.monitorStartTime = now;
    state.lastQueryTime = now;
    message = "Start Monitoring Port " + std::to_string(state.port.portNumber) + " ...";
    state.monitoringFlag = 1;
    SetWakeInterval(kMonitorWakeMs);
  } else {
    message = "Unable to open port " + std::to_string(state.port.portNumber) + "!";
    state.monitoringFlag = 0;
  }
  AddLogLine(NextLinePrefix() + message, true);
}

void HandleStop() { StopMonitoring(); }

void DispatchControlEvent(int32_t id) {
  AppState& state = State();
  switch (id) {
    case enumerateButton:
      // Discovery needs the one port record: a port held for monitoring is released first.
      if (state.monitoringFlag != 0) {
        StopMonitoring();
      }
      DiscoverPorts();
      break;
    case creditLink:
      gStartBrowser(kMakerWebAddress);
      break;
    case soundCheck:
      state.soundFlag = SoundCheckState();
      break;
    case monitorButton:
      HandleMonitor();
      break;
    case stopButton:
      HandleStop();
      break;
    case endButton:
      state.quitFlag = 1;
      // Wake the wait at once so the loop ends without waiting for the user.
      SetWakeInterval(1);
      break;
    default:
      break;
  }
}

bool RunLoopPass(const WindowEvent& event) {
  AppState& state = State();
  if (state.quitFlag == 1) {
    return false;
  }
  if (state.monitoringFlag != 0) {
    PollSignal();
  }
  if (event.kind == WindowEvent::kControl) {
    DispatchControlEvent(event.id);
  } else if (event.kind == WindowEvent::kClose && event.id == kMainWindowId) {
    return false;
  }
  return true;
}

void RunEventLoop() {
  while (RunLoopPass(WaitForEvent())) {
  }
}

void ShutDown() {
  SetWakeInterval(0);
  DestroyMainWindow();
}

int RunApplication(int argc, char** argv) {
  // The program takes nothing from its command line: the toolkit sees the program name only,
  // so that its own options (-reverse, -style, -geometry ...) cannot change the window either.
  char fallbackName[] = "quelvane";
  char* toolkitArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  int toolkitArgc = 1;
  QApplication app(toolkitArgc, toolkitArgv);
  StartUp();
  RunEventLoop();
  ShutDown();
  return 0;
}
