#include "ui/activity_log.h"

#include <cstdint>

#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

constexpr std::size_t kPrefixNumberWidth = 6;

}  // namespace

std::string NextLinePrefix() {
  int32_t& counter = State().logLineCounter;
  // Wraps instead of overflowing after 2^31 - 1 lines.
  counter = static_cast<int32_t>(static_cast<uint32_t>(counter) + 1u);
  std::string number = std::to_string(counter);
  if (number.size() < kPrefixNumberWidth) {
    number.insert(0, kPrefixNumberWidth - number.size(), ' ');
  } else {
    number.resize(kPrefixNumberWidth);
  }
  return number + ": ";
}

void AddLogLine(std::string_view text, bool mirror) {
  LogInsertTopLine(text);
  if (mirror) {
    MirrorTopLine();
  }
}

void AppendToTopLine(std::string_view note) {
  if (LogLine(0).empty()) {
    LogInsertTopLine(note);
    return;
  }
  LogAppendToLine(0, note);
}

void MirrorTopLine() { SetControlText(statusLine, LogLine(0)); }
