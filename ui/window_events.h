#pragma once
// Inside ui/: how the window's widgets hand their control events to the event wait.
#include <cstdint>

#include "ui/main_window.h"

class QObject;

inline constexpr int32_t kMaxQueuedEvents = 4096;

// Keeps a control event for WaitForEvent. Beyond kMaxQueuedEvents control events are dropped;
// a close request is always kept.
void QueueControlEvent(int32_t id, WindowEvent::SubKind subKind);
void QueueCloseRequest();
// Installs the application-wide watcher that notices every event and the focus changes of
// the controls that report them; reports them for the controls FocusReportingControl names.
void WatchApplicationEvents(int32_t (*focusReportingControl)(const QObject*));
// Forgets queued events and stops the wake timer (the window is gone).
void ResetWindowEvents();
