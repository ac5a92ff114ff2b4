#pragma once
// The application shell: start-up, the event loop and the dispatch of user actions.
#include <cstdint>
#include <string>

#include "ui/main_window.h"

// Runs the whole program; the exit code is 0 on every path.
int RunApplication(int argc, char** argv);

// Pieces of RunApplication, for tests; a QApplication must exist.
void StartUp();                          // window, port defaults, hooks, one discovery
bool RunLoopPass(const WindowEvent& event);  // one pass over an event; false when the loop ends
void RunEventLoop();
void ShutDown();

void DispatchControlEvent(int32_t id);
void HandleMonitor();
void HandleStop();

// How often the loop passes at least while monitoring, so the elapsed time shows each tenth
// of a second and the query gap is met on time.
inline constexpr int32_t kMonitorWakeMs = 50;

// Starts the desktop's URL opener on the address; not waited for, not examined. Tests replace it.
extern void (*gStartBrowser)(const std::string& url);
