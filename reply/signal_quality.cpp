#include "reply/signal_quality.h"

#include <cstddef>
#include <limits>

namespace {

constexpr int32_t kDbmOffset = -115;
constexpr int32_t kFieldOverflow = std::numeric_limits<int32_t>::min();

int DigitValue(char c, unsigned base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  }
  return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

// The leading number, "$" hexadecimal, "%" binary, else decimal; wraps modulo 2^64.
uint64_t ReadReportValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    base = 2;
    ++i;
  }
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) {
      break;
    }
    value = value * base + static_cast<uint64_t>(digit);
  }
  return negative ? 0 - value : value;
}

int32_t WrapToInt32(uint64_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(value));  // keeps the low 32 bits
}

// numerator / 16 to the nearest integer, halves to the even neighbour; outside the
// signed 32-bit range the result is kFieldOverflow.
int32_t RoundSixteenths(int64_t numerator) {
  int64_t quotient = numerator / 16;
  int64_t remainder = numerator % 16;
  if (remainder < 0) {  // make it a floor division
    remainder += 16;
    quotient -= 1;
  }
  if (remainder > 8 || (remainder == 8 && quotient % 2 != 0)) {
    quotient += 1;
  }
  if (quotient < std::numeric_limits<int32_t>::min() || quotient > std::numeric_limits<int32_t>::max()) {
    return kFieldOverflow;
  }
  return static_cast<int32_t>(quotient);
}

}  // namespace

SignalReading ConvertSignalQuality(std::string_view valueText) {
  const uint64_t reportValue = ReadReportValue(valueText);
  SignalReading reading;
  reading.twice = WrapToInt32(reportValue * 2);
  reading.dBm = WrapToInt32(static_cast<uint32_t>(reading.twice) + static_cast<uint32_t>(kDbmOffset));
  const int64_t x = WrapToInt32(static_cast<uint32_t>(reading.dBm) - static_cast<uint32_t>(kDbmOffset));
  // tone = x * 29.6875 + 100 and percent = x * 1.5625, both exact in sixteenths.
  reading.tone = RoundSixteenths(475 * x + 1600);
  reading.percent = RoundSixteenths(25 * x);
  return reading;
}
