// The poll's log line and timer text over any reading: any elapsed time, counter, dBm and
// percent, any value and reply texts. Aborts when a column, the counter or the text is wrong.
//
// Input: elapsedMs, pollCounter, dBm, percent (signed 32-bit little-endian, 16 bytes), one
// byte that says where the rest splits into the extracted value and the reply text, the rest.
// The extracted value never holds a line break in the program (it passes the reply character
// set); here it may, and only its own line breaks may reach the line.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "monitor/poll_line.h"

namespace {

constexpr std::size_t kHeaderSize = 17;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "poll_line_fuzz: %s\n", what);
  std::abort();
}

void Check(bool holds, const char* what) {
  if (!holds) Fail(what);
}

int32_t ReadInt32(const uint8_t* bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[i];
  return static_cast<int32_t>(value);
}

std::string Printed(const char* format, double value) {
  char buffer[512];
  const int length = std::snprintf(buffer, sizeof buffer, format, value);
  Check(length > 0 && static_cast<std::size_t>(length) < sizeof buffer, "snprintf failed");
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string Decimal(int64_t value) {
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
  return std::string(buffer, static_cast<std::size_t>(length));
}

// Exactly width characters: the text padded on the left, or its first width characters.
void CheckColumn(std::string_view column, const std::string& text, std::size_t width, const char* what) {
  Check(column.size() == width, what);
  if (text.size() >= width) {
    Check(column == std::string_view(text).substr(0, width), what);
  } else {
    const std::size_t pad = width - text.size();
    Check(column.substr(0, pad).find_first_not_of(' ') == std::string_view::npos, what);
    Check(column.substr(pad) == text, what);
  }
}

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, data, std::min(size, kHeaderSize));
  const std::string_view rest =
      size > kHeaderSize ? std::string_view(reinterpret_cast<const char*>(data) + kHeaderSize, size - kHeaderSize)
                         : std::string_view{};
  const int32_t elapsedMs = ReadInt32(header);
  const int32_t counterBefore = ReadInt32(header + 4);
  const int32_t dBm = ReadInt32(header + 8);
  const int32_t percent = ReadInt32(header + 12);
  const std::size_t split = std::min<std::size_t>(header[16], rest.size());
  const std::string_view value = rest.substr(0, split);
  const std::string_view reply = rest.substr(split);

  int32_t counter = counterBefore;
  const std::string line = FormatPollLine(elapsedMs, counter, value, reply, dBm, percent);
  const auto advanced = static_cast<int32_t>(static_cast<uint32_t>(counterBefore) + 1u);
  const std::string seconds = Printed("%.1f", elapsedMs / 1000.0);

  if (!value.empty()) {
    Check(counter == advanced, "reading line: the counter did not advance by one");
    const std::string tail = " = \t" + std::string(6, '?') + " dBm (= " + Decimal(percent) + "%)";
    Check(line.size() == 5 + 1 + 10 + 2 + value.size() + tail.size(), "reading line: wrong length");
    const std::string_view text = line;
    CheckColumn(text.substr(0, 5), seconds, 5, "reading line: time column");
    Check(text[5] == ':', "reading line: no colon after the time column");
    CheckColumn(text.substr(6, 10), Decimal(counter), 10, "reading line: counter column");
    Check(text.substr(16, 2) == ": ", "reading line: no colon and space after the counter");
    Check(text.substr(18, value.size()) == value, "reading line: the value is not kept unchanged");
    const std::string_view after = text.substr(18 + value.size());
    Check(after.substr(0, 4) == " = \t", "reading line: no separator after the value");
    CheckColumn(after.substr(4, 6), Decimal(dBm), 6, "reading line: dBm column");
    Check(after.substr(10) == " dBm (= " + Decimal(percent) + "%)", "reading line: percent part");
    Check(!HasLineBreak(text.substr(0, 18)) && !HasLineBreak(after), "reading line: a line break of its own");
  } else if (!reply.empty()) {
    Check(counter == advanced, "raw-reply line: the counter did not advance by one");
    const std::string number = Decimal(counter) + ": ";
    Check(line.size() == number.size() + reply.size(), "raw-reply line: wrong length");
    Check(line.compare(0, number.size(), number) == 0, "raw-reply line: counter part");
    Check(!HasLineBreak(line), "raw-reply line: a line break");
    for (std::size_t i = 0; i < reply.size(); ++i) {
      const char want = reply[i] == '\r' ? ' ' : reply[i] == '\n' ? '\t' : reply[i];
      Check(line[number.size() + i] == want, "raw-reply line: reply not flattened byte for byte");
    }
  } else {
    Check(counter == counterBefore, "no-signal line: the counter moved");
    Check(line.size() == 16, "no-signal line: wrong length");
    CheckColumn(std::string_view(line).substr(0, 5), Decimal(elapsedMs / 1000), 5, "no-signal line: seconds column");
    Check(line.compare(5, std::string::npos, ": No signal") == 0, "no-signal line: text");
  }

  const std::string timer = FormatTimerText(elapsedMs);
  Check(timer == seconds + " sec", "timer text differs from %.1f and \" sec\"");
  Check(!HasLineBreak(timer), "timer text: a line break");
  return 0;
}
