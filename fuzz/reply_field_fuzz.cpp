// ExtractReplyField followed by ConvertSignalQuality over any reply bytes, any replyLength
// (also out of range) and any prefix. Aborts when a promised property does not hold.
//
// Input: a header of 8 bytes, then the reply bytes.
//   [0]     bit 0: port not open; bits 1-2: how replyLength is chosen (see ReplyLength)
//   [1..4]  a signed 32-bit little-endian number for replyLength
//   [5]     prefix: "+CSQ:" unless bit 7 is set; then bits 0-6 give the length of a prefix
//           taken from the front of the rest of the input (0: the empty prefix)
//   [6]     the byte the rest of replyBuffer holds from an earlier read
//   [7]     reserved
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "reply/reply_field.h"
#include "reply/signal_quality.h"

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::string_view kUsualPrefix = "+CSQ:";
constexpr PortHandle kOpenHandle = 3;
const std::string kUntouched = "untouched \x01 reply";

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "reply_field_fuzz: %s\n", what);
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

// 0: the number of reply bytes (beyond 1024 when the input is longer); 1: that plus the header
// number, saturated; 2: the header number as it stands; 3: the header number made zero or negative.
int32_t ReplyLength(unsigned mode, int32_t number, std::size_t replyBytes) {
  const auto count = static_cast<int64_t>(std::min<std::size_t>(replyBytes, std::numeric_limits<int32_t>::max()));
  switch (mode) {
    case 0: return static_cast<int32_t>(count);
    case 1: {
      const int64_t sum = count + number;
      return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                      std::numeric_limits<int32_t>::max()));
    }
    case 2: return number;
    default: return number > 0 ? -number : number;
  }
}

// Membership after the Windows-1252 lower-case mapping, from the list of what passes: the set
// itself, A to Z, and the capitals of the accented letters in the set.
bool Passes(unsigned char c) {
  static constexpr std::string_view kPassing =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789,.-_!$%&="
      "\xA3\xB0\xA7"
      "\xE0\xE7\xE8\xE9\xEC\xF2\xF9"
      "\xC0\xC7\xC8\xC9\xCC\xD2\xD9";
  return kPassing.find(static_cast<char>(c)) != std::string_view::npos;
}

// The field as the extraction rules describe it, written out step by step.
std::string ExpectedField(std::string_view reply, std::string_view prefix) {
  if (prefix.empty() || reply.empty()) return {};
  const std::size_t p = reply.find(prefix);
  if (p == std::string_view::npos) return {};
  std::string field;
  for (std::size_t i = p + prefix.size() + 1; i < reply.size(); ++i) {
    const auto c = static_cast<unsigned char>(reply[i]);
    if (Passes(c)) {
      field += static_cast<char>(c);
    } else if (!field.empty()) {
      break;
    }
  }
  while (!field.empty() && field.front() == ' ') field.erase(field.begin());
  while (!field.empty() && field.back() == ' ') field.pop_back();
  return field;
}

// The leading number, read as the conversion rules describe it (wrapping modulo 2^64).
uint64_t ExpectedReportValue(std::string_view text) {
  std::size_t i = text.find_first_not_of(" \t");
  if (i == std::string_view::npos) return 0;
  const bool negative = text[i] == '-';
  if (text[i] == '-' || text[i] == '+') ++i;
  std::string_view digits = "0123456789";
  uint64_t base = 10;
  if (i < text.size() && text[i] == '$') {
    digits = "0123456789ABCDEF";
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == '%') {
    digits = "01";
    base = 2;
    ++i;
  }
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (base == 16 && c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    const std::size_t digit = digits.find(c);
    if (digit == std::string_view::npos) break;
    value = value * base + digit;
  }
  return negative ? 0 - value : value;
}

// x * factor + base in double precision, rounded to nearest with ties to even; outside the
// signed 32-bit range the field is INT32_MIN.
int32_t ExpectedRounded(int64_t x, double factor, double base) {
  const double exact = static_cast<double>(x) * factor + base;
  const double rounded = std::nearbyint(exact);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(rounded);
}

void CheckConversion(std::string_view text) {
  const SignalReading reading = ConvertSignalQuality(text);
  const auto twice = static_cast<int32_t>(static_cast<uint32_t>(ExpectedReportValue(text) * 2));
  Check(reading.twice == twice, "twice is not 2 x the leading number in 32 bits");
  Check(reading.twice % 2 == 0, "twice is odd");
  Check(reading.dBm == static_cast<int32_t>(static_cast<uint32_t>(reading.twice) - 115u),
        "dBm is not twice - 115 with wrap");
  Check(reading.tone == ExpectedRounded(reading.twice, 29.6875, 100.0), "tone differs from x * 29.6875 + 100");
  Check(reading.percent == ExpectedRounded(reading.twice, 1.5625, 0.0), "percent differs from x * 1.5625");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, data, std::min(size, kHeaderSize));
  std::string_view rest;
  if (size > kHeaderSize) rest = std::string_view(reinterpret_cast<const char*>(data) + kHeaderSize, size - kHeaderSize);

  std::string_view prefix = kUsualPrefix;
  if ((header[5] & 0x80) != 0) {
    const std::size_t length = std::min<std::size_t>(header[5] & 0x7F, rest.size());
    prefix = rest.substr(0, length);
    rest.remove_prefix(length);
  }

  SerialPort port;
  port.handle = (header[0] & 1) != 0 ? kNullHandle : kOpenHandle;
  port.replyBuffer.fill(static_cast<char>(header[6]));
  std::copy_n(rest.begin(), std::min(rest.size(), port.replyBuffer.size()), port.replyBuffer.begin());
  port.replyLength = ReplyLength((header[0] >> 1) & 3, ReadInt32(header + 1), rest.size());
  const auto bufferBefore = port.replyBuffer;
  const int32_t lengthBefore = port.replyLength;
  std::string lastReplyText = kUntouched;

  const std::string field = ExtractReplyField(port, prefix, lastReplyText);

  Check(port.replyBuffer == bufferBefore, "replyBuffer changed");
  if (port.handle == kNullHandle || lengthBefore <= 0) {
    Check(field.empty(), "a result without an open port and a reply");
    Check(port.replyLength == lengthBefore, "replyLength changed without a reply");
    Check(lastReplyText == kUntouched, "last reply text changed without a reply");
    return 0;
  }
  Check(port.replyLength == 0, "replyLength is not 0 once the reply is read");

  const std::string_view buffer(port.replyBuffer.data(), port.replyBuffer.size());
  const std::string_view valid = buffer.substr(0, std::min<std::size_t>(static_cast<std::size_t>(lengthBefore), buffer.size()));
  Check(lastReplyText.find('\0') == std::string::npos, "last reply text holds a NUL");
  Check(buffer.substr(0, lastReplyText.size()) == lastReplyText, "last reply text is not a prefix of the buffer");
  Check(lastReplyText == valid.substr(0, valid.find('\0')), "last reply text is not the reply cut at NUL");

  for (const char c : field) Check(Passes(static_cast<unsigned char>(c)), "result holds a byte outside the set");
  Check(field.empty() || (field.front() != ' ' && field.back() != ' '), "result has leading or trailing spaces");
  Check(lastReplyText.find(field) != std::string::npos, "result is not a run of the reply");
  Check(field == ExpectedField(lastReplyText, prefix), "result differs from the extraction rules");

  if (!field.empty()) CheckConversion(field);
  // The conversion takes any text, not only extracted fields.
  CheckConversion(lastReplyText);
  return 0;
}
