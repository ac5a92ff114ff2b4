#pragma once
// The texts a monitoring pass writes: the log line of a query and the elapsed time. No Qt.
#include <cstdint>
#include <string>
#include <string_view>

// The log line of one query, after the line prefix: a reading line when extractedValue is not
// empty, else a raw-reply line when replyText is not empty (both advance pollCounter first,
// wrapping at the end of its range), else a no-signal line (pollCounter unchanged).
std::string FormatPollLine(int32_t elapsedMs, int32_t& pollCounter, std::string_view extractedValue,
                           std::string_view replyText, int32_t dBm, int32_t percent);

// elapsedMs / 1000.0 with one decimal, as %.1f gives it in any locale, followed by " sec".
std::string FormatTimerText(int32_t elapsedMs);
