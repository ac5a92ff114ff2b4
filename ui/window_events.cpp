#include "ui/window_events.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <deque>

namespace {

std::deque<WindowEvent>& Queue() {
  static std::deque<WindowEvent> queue;
  return queue;
}

class EventWatcher final : public QObject {
 public:
  explicit EventWatcher(QObject* parent) : QObject(parent) {}

  uint64_t eventsSeen = 0;
  int32_t (*focusReportingControl)(const QObject*) = nullptr;

  bool eventFilter(QObject* watched, QEvent* event) override {
    ++eventsSeen;
    const QEvent::Type type = event->type();
    if ((type == QEvent::FocusIn || type == QEvent::FocusOut) && focusReportingControl != nullptr) {
      // A drop-down list keeps the focus while its list is open, as far as the program sees.
      if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason &&
          QApplication::activePopupWidget() == nullptr) {
        const int32_t id = focusReportingControl(watched);
        if (id >= 0) {
          QueueControlEvent(id, type == QEvent::FocusIn ? WindowEvent::kFocusGained : WindowEvent::kFocusLost);
        }
      }
    }
    return false;
  }
};

QPointer<EventWatcher>& Watcher() {
  static QPointer<EventWatcher> watcher;
  return watcher;
}

EventWatcher* EnsureWatcher() {
  QPointer<EventWatcher>& watcher = Watcher();
  if (watcher.isNull() && QCoreApplication::instance() != nullptr) {
    watcher = new EventWatcher(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(watcher);
  }
  return watcher.data();
}

QPointer<QTimer>& WakeTimer() {
  static QPointer<QTimer> timer;
  return timer;
}

bool TakeFront(WindowEvent& event) {
  std::deque<WindowEvent>& queue = Queue();
  if (queue.empty()) {
    return false;
  }
  event = queue.front();
  queue.pop_front();
  return true;
}

}  // namespace

void QueueControlEvent(int32_t id, WindowEvent::SubKind subKind) {
  std::deque<WindowEvent>& queue = Queue();
  if (queue.size() >= static_cast<std::size_t>(kMaxQueuedEvents)) {
    return;
  }
  queue.push_back(WindowEvent{WindowEvent::kControl, id, subKind});
}

void QueueCloseRequest() {
  Queue().push_back(WindowEvent{WindowEvent::kClose, kMainWindowId, WindowEvent::kNoSubKind});
}

void WatchApplicationEvents(int32_t (*focusReportingControl)(const QObject*)) {
  if (EventWatcher* watcher = EnsureWatcher()) {
    watcher->focusReportingControl = focusReportingControl;
  }
}

void ResetWindowEvents() {
  Queue().clear();
  SetWakeInterval(0);
  if (EventWatcher* watcher = Watcher().data()) {
    watcher->focusReportingControl = nullptr;
  }
}

bool TakeQueuedEvent(WindowEvent& event) { return TakeFront(event); }

WindowEvent WaitForEvent() {
  WindowEvent event;
  if (TakeFront(event)) {
    return event;
  }
  if (EnsureWatcher() == nullptr) {
    return event;
  }
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  // Without a running exec() nothing else would ever carry out deleteLater().
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  TakeFront(event);
  return event;
}

bool ProcessPendingMessage() {
  EventWatcher* watcher = EnsureWatcher();
  if (watcher == nullptr) {
    return false;
  }
  const uint64_t before = watcher->eventsSeen;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return watcher->eventsSeen != before;
}

void SetWakeInterval(int32_t ms) {
  QPointer<QTimer>& timer = WakeTimer();
  if (ms <= 0) {
    if (!timer.isNull()) {
      timer->stop();
    }
    return;
  }
  if (timer.isNull()) {
    if (QCoreApplication::instance() == nullptr) {
      return;
    }
    timer = new QTimer(QCoreApplication::instance());
    timer->setTimerType(Qt::PreciseTimer);
  }
  timer->start(ms);
}
