#include "reply/reply_field.h"

#include <algorithm>
#include <cstddef>

using namespace std::string_view_literals;

// Stored in this order; only membership matters. Bytes 43 to 56 are
// £ $ % & ì è é ç ò à ° ù § = in Windows-1252.
extern constexpr std::string_view ReplyCharacterSet =
    "abcdefghilmnopqrstuvzxykjw 1234567890,.-_!"
    "\xA3$%&\xEC\xE8\xE9\xE7\xF2\xE0\xB0\xF9\xA7="sv;
static_assert(ReplyCharacterSet.size() == 56);

unsigned char LowerCase1252(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
    return static_cast<unsigned char>(c + 0x20);
  }
  switch (c) {
    case 0x8A: return 0x9A;  // Š
    case 0x8C: return 0x9C;  // Œ
    case 0x8E: return 0x9E;  // Ž
    case 0x9F: return 0xFF;  // Ÿ
    default: return c;
  }
}

namespace {

bool PassesReplyCharacterSet(char c) {
  const char lower = static_cast<char>(LowerCase1252(static_cast<unsigned char>(c)));
  return ReplyCharacterSet.find(lower) != std::string_view::npos;
}

}  // namespace

std::string ExtractReplyField(SerialPort& port, std::string_view prefix, std::string& lastReplyText) {
  if (port.handle == kNullHandle || port.replyLength <= 0) {
    return {};
  }
  // Never read past the buffer, whatever the count says.
  const auto valid = std::min<std::size_t>(static_cast<std::size_t>(port.replyLength), port.replyBuffer.size());
  std::string_view reply(port.replyBuffer.data(), valid);
  reply = reply.substr(0, reply.find('\0'));
  lastReplyText.assign(reply);

  const std::size_t found = prefix.empty() ? std::string_view::npos : reply.find(prefix);
  if (found == std::string_view::npos) {
    port.replyLength = 0;
    return {};
  }
  // The one character after the prefix is skipped whatever it is.
  const std::size_t restStart = found + prefix.size() + 1;
  const std::string_view rest = restStart < reply.size() ? reply.substr(restStart) : std::string_view{};

  std::string field;
  for (const char c : rest) {
    if (PassesReplyCharacterSet(c)) {
      field.push_back(c);
    } else if (!field.empty()) {
      break;  // a field of spaces only still ends here
    }
  }

  const std::size_t first = field.find_first_not_of(' ');
  if (first == std::string::npos) {
    field.clear();
  } else {
    field.erase(field.find_last_not_of(' ') + 1);
    field.erase(0, first);
  }
  port.replyLength = 0;
  return field;
}
