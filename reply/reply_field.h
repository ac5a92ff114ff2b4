#pragma once
#include <string>
#include <string_view>

#include "serial/serial_port.h"

// The 56 bytes a field may consist of (Windows-1252).
extern const std::string_view ReplyCharacterSet;

// Windows-1252 single-byte lower-case mapping.
unsigned char LowerCase1252(unsigned char c);

// Takes the field after `prefix` (and the one character after it) out of the reply the last read
// left in `port`, and consumes the reply. The reply text is stored in `lastReplyText`.
std::string ExtractReplyField(SerialPort& port, std::string_view prefix, std::string& lastReplyText);
