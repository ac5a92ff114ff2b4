#include "reply/signal_quality.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int32_t kOverflow = std::numeric_limits<int32_t>::min();

struct ReadingCase {
  const char* name;
  std::string valueText;
  int32_t twice;
  int32_t dBm;
  int32_t tone;
  int32_t percent;
};

void ExpectReadings(const std::vector<ReadingCase>& cases) {
  for (const ReadingCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": \"" + c.valueText + "\"");
    const SignalReading r = ConvertSignalQuality(c.valueText);
    EXPECT_EQ(r.twice, c.twice);
    EXPECT_EQ(r.dBm, c.dBm);
    EXPECT_EQ(r.tone, c.tone);
    EXPECT_EQ(r.percent, c.percent);
  }
}

TEST(ConvertSignalQuality, ReportValuesOfTheModem) {
  ExpectReadings({
      {"value 0", "0", 0, -115, 100, 0},
      {"value 1", "1", 2, -113, 159, 3},
      {"value 17", "17", 34, -81, 1109, 53},
      {"value 31", "31", 62, -53, 1941, 97},
      {"usual field", "15,99", 30, -85, 991, 47},
      {"no measurement is not capped", "99", 198, 83, 5978, 309},
      {"negative value", "-5,99", -10, -125, -197, -16},
  });
}

TEST(ConvertSignalQuality, HalvesRoundToEven) {
  ExpectReadings({
      {"12.5 % and 337.5 Hz", "4", 8, -107, 338, 12},
      {"37.5 % and 812.5 Hz", "12", 24, -91, 812, 38},
      {"62.5 % and 1287.5 Hz", "20", 40, -75, 1288, 62},
      {"87.5 % and 1762.5 Hz", "28", 56, -59, 1762, 88},
      {"-12.5 % and -137.5 Hz", "-4", -8, -123, -138, -12},
      {"-37.5 % and -612.5 Hz", "-12", -24, -139, -612, -38},
  });
}

// Every row gives the reading of the report value in its name.
TEST(ConvertSignalQuality, ReadsTheLeadingNumber) {
  struct Case {
    const char* name;
    std::string valueText;
    int32_t reportValue;
  };
  const Case cases[] = {
      {"words", "NO SIGNAL", 0},
      {"lone dollar", "$", 0},
      {"lone percent", "%", 0},
      {"lone minus", "-", 0},
      {"lone plus", "+", 0},
      {"hexadecimal upper case", "$1F", 31},
      {"hexadecimal lower case", "$1f,99", 31},
      {"negative hexadecimal", "-$1F", -31},
      {"sign after dollar", "$-1F", 0},
      {"binary", "%101", 5},
      {"binary stops at 2", "%1021", 2},
      {"negative binary", "-%11", -3},
      {"leading space", " 7", 7},
      {"leading spaces and tabs", "\t \t 7", 7},
      {"plus sign", "+7", 7},
      {"space after sign", "- 7", 0},
      {"space after plus", "+ 7", 0},
      {"two signs", "+-7", 0},
      {"space after dollar", "$ 1F", 0},
      {"exponent is not read", "1e3", 1},
      {"decimal stops at a hex letter", "12abc", 12},
      {"hex digit beyond F", "$1G", 1},
      {"no digit after dollar", "$G", 0},
      {"leading zeros", "00031", 31},
      {"fraction is not read", "17.9", 17},
      {"line feed is not skipped", "\n7", 0},
      {"carriage return is not skipped", "\r7", 0},
      {"trailing text", "7 OK", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": \"" + c.valueText + "\"");
    const SignalReading got = ConvertSignalQuality(c.valueText);
    const SignalReading want = ConvertSignalQuality(std::to_string(c.reportValue));
    EXPECT_EQ(got.twice, 2 * c.reportValue);
    EXPECT_EQ(got.dBm, want.dBm);
    EXPECT_EQ(got.tone, want.tone);
    EXPECT_EQ(got.percent, want.percent);
  }
}

TEST(ConvertSignalQuality, HugeValuesWrapWithoutFault) {
  ExpectReadings({
      {"2^31 doubles to 2^32, low bits 0", "2147483648", 0, -115, 100, 0},
      {"2^32 + 17 reads as 17", "4294967313", 34, -81, 1109, 53},
      {"2^30 doubles to INT32_MIN, dBm wraps", "1073741824", kOverflow, 2147483533, kOverflow, kOverflow},
      {"2^30 - 1 gives the largest even twice", "1073741823", 2147483646, 2147483531, kOverflow, kOverflow},
      {"-2^30 doubles to INT32_MIN", "-1073741824", kOverflow, 2147483533, kOverflow, kOverflow},
      {"2^63 is INT64_MIN", "9223372036854775808", 0, -115, 100, 0},
      {"-2^63 negates to itself", "-9223372036854775808", 0, -115, 100, 0},
      {"2^64 wraps to 0", "18446744073709551616", 0, -115, 100, 0},
      {"2^64 + 1 wraps to 1", "18446744073709551617", 2, -113, 159, 3},
      {"2^64 - 1 is -1", "18446744073709551615", -2, -117, 41, -3},
      {"twenty nines", "99999999999999999999", -970981378, -970981493, kOverflow, -1517158403},
      {"minus twenty nines", "-99999999999999999999", 970981378, 970981263, kOverflow, 1517158403},
      {"thirty digits", "123456789012345678901234567890", -1669458524, -1669458639, kOverflow, kOverflow},
      {"a hundred nines is -1", std::string(100, '9'), -2, -117, 41, -3},
      {"seventeen hex digits", "$10000000000000001", 2, -113, 159, 3},
      {"sixteen hex F is -1", "$FFFFFFFFFFFFFFFF", -2, -117, 41, -3},
      {"nineteen hex digits", "$123456789ABCDEF0123", -1679949242, -1679949357, kOverflow, kOverflow},
      {"seventy binary ones is -1", "%" + std::string(70, '1'), -2, -117, 41, -3},
  });
}

TEST(ConvertSignalQuality, FieldsOutsideInt32BecomeMinimum) {
  ExpectReadings({
      {"largest tone that fits", "36168143", 72336286, 72336171, 2147483591, 113025447},
      {"tone 2147483650 overflows", "36168144", 72336288, 72336173, kOverflow, 113025450},
      {"most negative tone that fits", "-36168147", -72336294, -72336409, -2147483628, -113025459},
      {"tone -2147483688 overflows", "-36168148", -72336296, -72336411, kOverflow, -113025462},
      {"percent 2147483646.875 fits", "687194767", 1374389534, 1374389419, kOverflow, 2147483647},
      {"percent 2147483648.75 overflows", "687194768", 1374389536, 1374389421, kOverflow, kOverflow},
      {"percent -2147483646.875 fits", "-687194767", -1374389534, -1374389649, kOverflow, -2147483647},
      {"percent -2147483650 overflows", "-687194768", -1374389536, -1374389651, kOverflow, kOverflow},
  });
}

// The conversion done in double precision, rounded in the default rounding mode.
int32_t RoundedOrMinimum(double value) {
  const double rounded = std::nearbyint(value);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) {
    return kOverflow;
  }
  return static_cast<int32_t>(rounded);
}

TEST(ConvertSignalQuality, AgreesWithDoublePrecisionOverTheWholeRange) {
  ASSERT_EQ(std::fegetround(), FE_TONEAREST);
  std::vector<int64_t> reportValues;
  for (int64_t v = -2000; v <= 2000; ++v) {
    reportValues.push_back(v);
  }
  for (int64_t v = -(int64_t{1} << 31); v <= (int64_t{1} << 31); v += 65537) {
    reportValues.push_back(v);
  }
  for (int64_t edge : {int64_t{36168143}, int64_t{-36168147}, int64_t{687194767}, int64_t{-687194767},
                       int64_t{1} << 30, -(int64_t{1} << 30)}) {
    for (int64_t d = -40; d <= 40; ++d) {
      reportValues.push_back(edge + d);
    }
  }
  for (const int64_t v : reportValues) {
    SCOPED_TRACE(v);
    const SignalReading r = ConvertSignalQuality(std::to_string(v));
    const double x = static_cast<double>(r.twice);
    EXPECT_EQ(r.twice, static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v) * 2)));
    EXPECT_EQ(static_cast<uint32_t>(r.dBm), static_cast<uint32_t>(r.twice) - 115u);
    EXPECT_EQ(r.tone, RoundedOrMinimum(x * 29.6875 + 100.0));
    EXPECT_EQ(r.percent, RoundedOrMinimum(x * 1.5625 + 0.0));
  }
}

}  // namespace
