#include "monitor/poll_signal.h"

#include <string>
#include <string_view>

#include "monitor/poll_line.h"
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
  AddLogLine(prefix + FormatPollLine(elapsedMs, state.pollCounter, state.lastExtractedValue, state.lastReplyText,
                                      state.reading.dBm, state.reading.percent),
             false);
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
  SetControlText(timerDisplay, FormatTimerText(elapsedMs));
}
