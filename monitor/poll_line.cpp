#include "monitor/poll_line.h"

#include <charconv>
#include <cstddef>

namespace {

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
void AdvancePollCounter(int32_t& pollCounter) {
  pollCounter = static_cast<int32_t>(static_cast<uint32_t>(pollCounter) + 1u);
}

}  // namespace

std::string FormatPollLine(int32_t elapsedMs, int32_t& pollCounter, std::string_view extractedValue,
                           std::string_view replyText, int32_t dBm, int32_t percent) {
  if (!extractedValue.empty()) {
    AdvancePollCounter(pollCounter);
    return RightAligned(OneDecimalSeconds(elapsedMs), kTimeColumnWidth) + ":" +
           RightAligned(std::to_string(pollCounter), kCounterColumnWidth) + ": " + std::string(extractedValue) +
           " = \t" + RightAligned(std::to_string(dBm), kDbmColumnWidth) + " dBm (= " + std::to_string(percent) +
           "%)";
  }
  if (!replyText.empty()) {
    AdvancePollCounter(pollCounter);
    return std::to_string(pollCounter) + ": " + FlattenedReply(std::string(replyText));
  }
  return RightAligned(std::to_string(elapsedMs / 1000), kTimeColumnWidth) + ": No signal";
}

std::string FormatTimerText(int32_t elapsedMs) { return OneDecimalSeconds(elapsedMs) + " sec"; }
