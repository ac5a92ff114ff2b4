#include "monitor/poll_signal.h"

#include <charconv>
#include <string>
#include <string_view>

#include "platform/tick_counter.h"
#include "platform/tone.h"
#include "reply/reply_field.h"
#include "reply/signal_quality.h"
#include "serial/serial_port.h"
#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

constexpr std::string_view kQueryCommand = "AT+CSQ\r";
constexpr std::string_view kFieldPrefix = "+CSQ:";
// Twice the report value 99, which stands for a signal not known or not detectable.
constexpr int32_t kNotDetectableTwice = 2 * 99;
constexpr std::size_t kTimeColumnWidth = 5;
constexpr std::size_t kCounterColumnWidth = 10;
constexpr std::size_t kDbmColumnWidth = 6;

// Pads on the left to width, or keeps only the first width characters.
std::string RightAligned(std::string text, std::size_t width) {
  if (text.size() >= width) return text.substr(0, width);
  return std::string(width - text.size(), ' ') + text;
}

// Seconds with one decimal, as %.1f gives them in any locale.
std::string OneDecimalSeconds(int32_t elapsedMs) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, elapsedMs / 1000.0, std::chars_format::fixed, 1);
  return std::string(buffer, result.ptr);
}

std::string FlattenedReply(std::string reply) {
  for (char& c : reply) {
    if (c == '\r') c = ' ';
  }
  for (char& c : reply) {
    if (c == '\n') c = '\t';
  }
  return reply;
}

// The counter runs on through its whole range instead of overflowing.
void AdvancePollCounter(AppState& state) {
  state.pollCounter = static_cast<int32_t>(static_cast<uint32_t>(state.pollCounter) + 1u);
}

std::string ResultLine(AppState& state, int32_t elapsedMs) {
  if (!state.lastExtractedValue.empty()) {
    AdvancePollCounter(state);
    return RightAligned(OneDecimalSeconds(elapsedMs), kTimeColumnWidth) + ":" +
           RightAligned(std::to_string(state.pollCounter), kCounterColumnWidth) + ": " + state.lastExtractedValue +
           " = \t" + RightAligned(std::to_string(state.reading.dBm), kDbmColumnWidth) + " dBm (= " +
           std::to_string(state.reading.percent) + "%)";
  }
  if (!state.lastReplyText.empty()) {
    AdvancePollCounter(state);
    return std::to_string(state.pollCounter) + ": " + FlattenedReply(state.lastReplyText);
  }
  return RightAligned(std::to_string(elapsedMs / 1000), kTimeColumnWidth) + ": No signal";
}

void Query(AppState& state, int32_t elapsedMs) {
  state.reading.tone = kQuietToneHz;
  state.reading.percent = 0;
  state.lastQueryTime = GetTickCount();
  state.lastReplyText = ExchangeCommand(state.port, kQueryCommand);
  state.lastExtractedValue = ExtractReplyField(state.port, kFieldPrefix, state.lastReplyText);
  if (!state.lastExtractedValue.empty()) {
    const SignalReading reading = ConvertSignalQuality(state.lastExtractedValue);
    // No measurement: reported like a reply without a value, not as 83 dBm and 309 %.
    if (reading.twice == kNotDetectableTwice) {
      state.lastExtractedValue.clear();
    } else {
      state.reading = reading;
    }
  }
  const std::string prefix = NextLinePrefix();
  AddLogLine(prefix + ResultLine(state, elapsedMs), false);
  if (state.soundFlag == 1) PlayTone(state.reading.tone, kBeepMs);
  SetControlText(dbmDisplay, std::to_string(state.reading.dBm));
  SetControlText(percentDisplay, std::to_string(state.reading.percent) + "%");
  state.lastExtractedValue.clear();
  state.lastReplyText.clear();
}

}  // namespace

void PollSignal() {
  AppState& state = State();
  // Differences of the 32-bit counter are taken modulo 2^32 and read as signed.
  const auto elapsedMs = static_cast<int32_t>(GetTickCount() - state.monitorStartTime);
  const auto sinceLastMs = static_cast<int32_t>(GetTickCount() - state.lastQueryTime);
  if (sinceLastMs >= kQueryGapMs) Query(state, elapsedMs);
  SetControlText(timerDisplay, OneDecimalSeconds(elapsedMs) + " sec");
}
