#include "ui/text_1252.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Text1252Test, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) {
    all.push_back(static_cast<char>(byte));
  }
  const QString text = QStringFrom1252(all);
  EXPECT_EQ(text.size(), 256);
  EXPECT_EQ(BytesFrom1252(text), all);
  for (int byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    const std::string one(1, static_cast<char>(byte));
    EXPECT_EQ(BytesFrom1252(QStringFrom1252(one)), one);
  }
}

TEST(Text1252Test, BytesMapToTheirCodePoints) {
  const struct {
    const char* name;
    unsigned char byte;
    char16_t codePoint;
  } rows[] = {
      {"NUL", 0x00, 0x0000},
      {"tab", 0x09, 0x0009},
      {"ASCII letter", 'A', 0x0041},
      {"euro sign", 0x80, 0x20AC},
      {"undefined 0x81", 0x81, 0x0081},
      {"low quote", 0x82, 0x201A},
      {"undefined 0x8D", 0x8D, 0x008D},
      {"undefined 0x8F", 0x8F, 0x008F},
      {"undefined 0x90", 0x90, 0x0090},
      {"trade mark", 0x99, 0x2122},
      {"undefined 0x9D", 0x9D, 0x009D},
      {"Y diaeresis", 0x9F, 0x0178},
      {"no-break space", 0xA0, 0x00A0},
      {"copyright", 0xA9, 0x00A9},
      {"y diaeresis", 0xFF, 0x00FF},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const QString text = QStringFrom1252(std::string(1, static_cast<char>(row.byte)));
    ASSERT_EQ(text.size(), 1);
    EXPECT_EQ(text.at(0).unicode(), row.codePoint);
  }
}

TEST(Text1252Test, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  const struct {
    const char* name;
    QString text;
    std::string bytes;
  } rows[] = {
      {"C1 control without a byte", QString(QChar(0x0080)), "?"},
      {"Latin Extended-A outside the page", QString(QChar(0x0100)), "?"},
      {"CJK", QStringLiteral("a\u4E2Db"), "a?b"},
      {"one astral character is one byte", QString::fromUcs4(U"x\U0001F600y"), "x?y"},
      {"lone surrogate", QString(QChar(0xD800)), "?"},
      {"euro and quotes", QStringLiteral("\u20AC\u201C\u201D"), "\x80\x93\x94"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(BytesFrom1252(row.text), row.bytes);
  }
}

}  // namespace
