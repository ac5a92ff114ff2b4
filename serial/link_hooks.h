#pragma once
// Window-system services the serial link needs but may not depend on. ui/ installs
// the real ones at start-up; tests install fakes. An unset hook does nothing.
#include <string>

struct LinkHooks {
  // Adds a note to the newest line of the activity log (AppendToTopLine).
  void (*appendToTopLine)(const std::string& note) = nullptr;
  // Lets the window system process one pending message without running any handler of
  // the program; returns false when nothing was pending.
  bool (*processPendingMessage)() = nullptr;
};

LinkHooks& TheLinkHooks();
