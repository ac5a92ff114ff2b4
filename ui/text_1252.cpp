#include "ui/text_1252.h"

#include <array>
#include <cstdint>

namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHighControlRange = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char ByteFor(char32_t codePoint) {
  for (std::size_t i = 0; i < kHighControlRange.size(); ++i) {
    if (kHighControlRange[i] == codePoint) {
      return static_cast<char>(0x80 + i);
    }
  }
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    return static_cast<char>(codePoint);
  }
  return '?';
}

}  // namespace

QString QStringFrom1252(std::string_view bytes) {
  QString text;
  text.resize(static_cast<qsizetype>(bytes.size()));
  QChar* out = text.data();
  for (char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    *out++ = (byte >= 0x80 && byte < 0xA0) ? QChar(kHighControlRange[byte - 0x80]) : QChar(byte);
  }
  return text;
}

std::string BytesFrom1252(const QString& text) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(text.size()));
  const qsizetype length = text.size();
  for (qsizetype i = 0; i < length; ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < length && text.at(i + 1).isLowSurrogate()) {
      ++i;  // one character outside the basic plane: one '?'
      bytes.push_back('?');
      continue;
    }
    bytes.push_back(ByteFor(c.unicode()));
  }
  return bytes;
}
