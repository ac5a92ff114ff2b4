#include "reply/reply_field.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

constexpr PortHandle kOpenHandle = 7;

class ExtractReplyFieldTest : public ::testing::Test {
 protected:
  void SetUp() override { port.handle = kOpenHandle; }

  void Load(const std::string& reply) {
    ASSERT_LE(reply.size(), port.replyBuffer.size());
    std::copy(reply.begin(), reply.end(), port.replyBuffer.begin());
    port.replyLength = static_cast<int32_t>(reply.size());
  }

  std::string Extract(std::string_view prefix = "+CSQ:") { return ExtractReplyField(port, prefix, lastReplyText); }

  SerialPort port;
  std::string lastReplyText = "previous reply";
};

TEST(ReplyCharacterSet, HoldsTheFiftySixBytesInOrder) {
  const std::array<unsigned char, 56> expected = {
      'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u',
      'v', 'z', 'x', 'y', 'k', 'j', 'w', ' ', '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', ',',
      '.', '-', '_', '!', 0xA3, '$', '%', '&', 0xEC, 0xE8, 0xE9, 0xE7, 0xF2, 0xE0, 0xB0, 0xF9, 0xA7, '='};
  ASSERT_EQ(ReplyCharacterSet.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(static_cast<unsigned char>(ReplyCharacterSet[i]), expected[i]);
  }
  const std::set<char> distinct(ReplyCharacterSet.begin(), ReplyCharacterSet.end());
  EXPECT_EQ(distinct.size(), 56u);
}

TEST(LowerCase1252, MapsAsciiCapitalsOnly) {
  for (int c = 0; c < 0x80; ++c) {
    SCOPED_TRACE(c);
    const int want = (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
    EXPECT_EQ(LowerCase1252(static_cast<unsigned char>(c)), want);
  }
}

TEST(LowerCase1252, MapsTheUpperHalfLikeWindows1252) {
  // Lower-case form of 0x80 + i.
  const std::array<unsigned char, 128> expected = {
      0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x9A, 0x8B, 0x9C, 0x8D, 0x9E, 0x8F,
      0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0x9E, 0xFF,
      0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF,
      0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
      0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
      0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xD7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xDF,
      0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
      0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF};
  for (int i = 0; i < 128; ++i) {
    SCOPED_TRACE(0x80 + i);
    EXPECT_EQ(LowerCase1252(static_cast<unsigned char>(0x80 + i)), expected[static_cast<std::size_t>(i)]);
  }
}

// Every byte but NUL, first after the prefix's space and then inside a field: a byte that
// passes is kept as it came (capitals stay capitals), any other is skipped before the field
// starts and ends the field once it has begun.
TEST_F(ExtractReplyFieldTest, EveryByteAgainstTheCharacterSet) {
  std::set<int> passing = {' ', '!', '$', '%', '&', ',', '-', '.', '=', '_'};
  for (int c = '0'; c <= '9'; ++c) passing.insert(c);
  for (int c = 'a'; c <= 'z'; ++c) passing.insert(c);
  for (int c = 'A'; c <= 'Z'; ++c) passing.insert(c);
  for (int c : {0xA3, 0xA7, 0xB0, 0xE0, 0xE7, 0xE8, 0xE9, 0xEC, 0xF2, 0xF9}) passing.insert(c);  // £ § ° à ç è é ì ò ù
  for (int c : {0xC0, 0xC7, 0xC8, 0xC9, 0xCC, 0xD2, 0xD9}) passing.insert(c);                    // À Ç È É Ì Ò Ù

  int upperHalfPassing = 0;
  for (int b = 1; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string byte(1, static_cast<char>(b));
    const bool passes = passing.count(b) != 0;
    upperHalfPassing += (passes && b >= 0x80) ? 1 : 0;

    Load("+CSQ: " + byte + "7,99");
    const std::string leading = b == ' ' ? "7,99" : (passes ? byte + "7,99" : "7,99");
    EXPECT_EQ(Extract(), leading);
    EXPECT_EQ(port.replyLength, 0);

    Load("+CSQ: 1" + byte + "2");
    const std::string inner = passes ? "1" + byte + "2" : "1";
    EXPECT_EQ(Extract(), inner);
  }
  EXPECT_EQ(upperHalfPassing, 17);
}

struct FieldCase {
  const char* name;
  std::string reply;
  std::string prefix;
  std::string field;
};

// Each reply is consumed: replyLength ends at 0 and the whole reply becomes the last reply text.
TEST_F(ExtractReplyFieldTest, FieldsOfConsumedReplies) {
  const FieldCase cases[] = {
      {"usual reply", "\r\n+CSQ: 15,99\r\n\r\nOK\r\n", "+CSQ:", "15,99"},
      {"no space after colon skips a digit", "+CSQ:15,99", "+CSQ:", "5,99"},
      {"second space accepted then trimmed", "+CSQ:  7,99", "+CSQ:", "7,99"},
      {"CR LF before the field are skipped", "+CSQ: \r\n7,99", "+CSQ:", "7,99"},
      {"a field of one space ends at CR", "+CSQ:  \r\n7,99", "+CSQ:", ""},
      {"semicolon ends the field", "+CSQ: 15;99", "+CSQ:", "15"},
      {"hyphen-minus is in the set", "+CSQ: -5,99", "+CSQ:", "-5,99"},
      {"capital passes through its lower-case form", "+CSQ: $1F", "+CSQ:", "$1F"},
      {"upper case kept, inner space kept", "+CSQ: NO SIGNAL", "+CSQ:", "NO SIGNAL"},
      {"trailing spaces trimmed", "+CSQ: 7,99   \r\n", "+CSQ:", "7,99"},
      {"error reply has no prefix", "\r\nERROR\r\n", "+CSQ:", ""},
      {"prefix comparison is exact", "+csq: 15,99", "+CSQ:", ""},
      {"only the first occurrence counts", "+CSQ: 1\r\n+CSQ: 2", "+CSQ:", "1"},
      {"prefix alone", "+CSQ:", "+CSQ:", ""},
      {"prefix and one character", "+CSQ: ", "+CSQ:", ""},
      {"prefix and two characters", "+CSQ: 7", "+CSQ:", "7"},
      {"empty prefix is never found", "+CSQ: 15,99", "", ""},
      {"colon is outside the set", "+CSQ: 15:99", "+CSQ:", "15"},
      {"plus is outside the set", "+CSQ: +15", "+CSQ:", "15"},
      {"tab ends the field", "+CSQ: 15\t99", "+CSQ:", "15"},
      {"nothing accepted", "+CSQ: ;:()\"\r\n", "+CSQ:", ""},
      {"accented capitals kept", "+CSQ: \xC8\xC0\xD9", "+CSQ:", "\xC8\xC0\xD9"},
      {"other prefix", "+CREG: 0,1\r\nOK", "+CREG:", "0,1"},
      {"field at the end of the text", "OK\r\n+CSQ: 31,0", "+CSQ:", "31,0"},
  };
  for (const FieldCase& c : cases) {
    SCOPED_TRACE(c.name);
    Load(c.reply);
    EXPECT_EQ(Extract(c.prefix), c.field);
    EXPECT_EQ(port.replyLength, 0);
    EXPECT_EQ(lastReplyText, c.reply);
  }
}

TEST_F(ExtractReplyFieldTest, NulByteEndsTheReplyText) {
  const std::string reply = "+CSQ: 15\0,99\r\nOK\r\n"s;
  Load(reply);
  EXPECT_EQ(Extract(), "15");
  EXPECT_EQ(lastReplyText, "+CSQ: 15");
  EXPECT_EQ(port.replyLength, 0);
}

TEST_F(ExtractReplyFieldTest, LeadingNulGivesAnEmptyReplyText) {
  Load("\0+CSQ: 15,99\r\nOK\r\n"s);
  port.replyLength = 20;
  EXPECT_EQ(Extract(), "");
  EXPECT_EQ(lastReplyText, "");
  EXPECT_EQ(port.replyLength, 0);
}

TEST_F(ExtractReplyFieldTest, OnlyTheCountedBytesAreRead) {
  Load("+CSQ: 15,99");
  port.replyLength = 7;
  EXPECT_EQ(Extract(), "1");
  EXPECT_EQ(lastReplyText, "+CSQ: 1");
}

TEST_F(ExtractReplyFieldTest, BufferIsNotCleared) {
  const std::string reply = "+CSQ: 15,99\r\n";
  Load(reply);
  Extract();
  EXPECT_EQ(std::string(port.replyBuffer.data(), reply.size()), reply);
}

TEST_F(ExtractReplyFieldTest, FullBufferWithTheFieldInTheLastBytes) {
  std::string reply(kReplyBufferSize - 12, 'x');
  reply += "\r\n+CSQ: 9,99";
  Load(reply);
  EXPECT_EQ(Extract(), "9,99");
  EXPECT_EQ(lastReplyText.size(), static_cast<std::size_t>(kReplyBufferSize));
}

TEST_F(ExtractReplyFieldTest, CountBeyondTheBufferReadsOnlyTheBuffer) {
  Load(std::string(kReplyBufferSize, 'x'));
  port.replyLength = kReplyBufferSize + 500;
  EXPECT_EQ(Extract(), "");
  EXPECT_EQ(lastReplyText, std::string(kReplyBufferSize, 'x'));
  EXPECT_EQ(port.replyLength, 0);
}

TEST_F(ExtractReplyFieldTest, UntouchedWithoutAnOpenPortOrAReply) {
  struct Case {
    const char* name;
    PortHandle handle;
    int32_t replyLength;
  };
  const Case cases[] = {
      {"port not open", kNullHandle, 20},
      {"no reply", kOpenHandle, 0},
      {"negative count", kOpenHandle, -5},
      {"not open and no reply", kNullHandle, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Load("+CSQ: 15,99\r\nOK\r\n");
    port.handle = c.handle;
    port.replyLength = c.replyLength;
    lastReplyText = "previous reply";
    EXPECT_EQ(Extract(), "");
    EXPECT_EQ(port.replyLength, c.replyLength);
    EXPECT_EQ(lastReplyText, "previous reply");
  }
}

TEST_F(ExtractReplyFieldTest, AnyOtherHandleCountsAsOpen) {
  for (const PortHandle handle : {0, 1, 1023, -2}) {
    SCOPED_TRACE(handle);
    port.handle = handle;
    Load("+CSQ: 15,99");
    EXPECT_EQ(Extract(), "15,99");
    EXPECT_EQ(port.replyLength, 0);
  }
}

TEST_F(ExtractReplyFieldTest, SecondCallFindsTheReplyConsumed) {
  Load("+CSQ: 15,99");
  EXPECT_EQ(Extract(), "15,99");
  lastReplyText = "kept";
  EXPECT_EQ(Extract(), "");
  EXPECT_EQ(lastReplyText, "kept");
}

}  // namespace
