#include "ui/activity_log.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <functional>
#include <string>
#include <vector>

#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

class ActivityLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    State() = AppState{};
    CreateMainWindow();
  }
  void TearDown() override { DestroyMainWindow(); }
};

// Every line of the view, top first, with the final unterminated part as the last entry.
std::vector<std::string> Lines() {
  std::vector<std::string> lines;
  for (int32_t i = 0; i <= LogLineCount(); ++i) {
    lines.push_back(LogLine(i));
  }
  return lines;
}

TEST_F(ActivityLogTest, PrefixIsTheNumberRightAlignedToSixAndCut) {
  const struct {
    const char* name;
    int32_t counterBefore;
    const char* prefix;
  } rows[] = {
      {"first line", 0, "     1: "},      {"two digits", 41, "    42: "},
      {"six digits", 123455, "123456: "}, {"seven digits keep the first six", 999999, "100000: "},
      {"1234567", 1234566, "123456: "},   {"past the largest 32-bit number", 2147483647, "-21474: "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    State().logLineCounter = row.counterBefore;
    EXPECT_EQ(NextLinePrefix(), row.prefix);
    EXPECT_EQ(State().logLineCounter, static_cast<int32_t>(static_cast<uint32_t>(row.counterBefore) + 1u));
  }
}

TEST_F(ActivityLogTest, NumbersRunOnAcrossEverything) {
  AddLogLine(NextLinePrefix() + "Enumerating COM ports...", true);
  AddLogLine(NextLinePrefix() + "END Enumeration", true);
  AddLogLine("", false);
  AddLogLine(NextLinePrefix() + "Start Monitoring Port 3 ...", true);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"     3: Start Monitoring Port 3 ...", "", "     2: END Enumeration",
                                               "     1: Enumerating COM ports...", ""}));
  EXPECT_EQ(State().logLineCounter, 3);
}

struct LogRow {
  const char* name;
  std::function<void()> act;
  std::vector<std::string> lines;  // top first, then the empty unterminated end
  std::string status;
};

TEST_F(ActivityLogTest, OperationsPutLinesNotesAndMirrorsWhereTheyBelong) {
  const std::vector<LogRow> rows = {
      {"mirrored line",
       [] { AddLogLine("     1: Enumerating COM ports...", true); },
       {"     1: Enumerating COM ports...", ""},
       "     1: Enumerating COM ports..."},
      {"line without mirror", [] { AddLogLine("     1: result", false); }, {"     1: result", ""}, "lblBar"},
      {"empty text gives an empty line", [] { AddLogLine("", false); }, {"", ""}, "lblBar"},
      {"note on an empty log", [] { AppendToTopLine("Port not available. "); }, {"Port not available. ", ""}, "lblBar"},
      {"note on the separator goes above it",
       [] {
         AddLogLine("     2: END Enumeration", true);
         AddLogLine("", false);
         AppendToTopLine("Port not available. ");
       },
       {"Port not available. ", "", "     2: END Enumeration", ""},
       "     2: END Enumeration"},
      {"notes join directly",
       [] {
         AddLogLine("     1: Checking Port COM3... ", true);
         AppendToTopLine("=> OK. ");
         AppendToTopLine("MODEL X");
       },
       {"     1: Checking Port COM3... => OK. MODEL X", ""},
       "     1: Checking Port COM3... "},
      {"empty note leaves the line",
       [] {
         AddLogLine("     1: x", false);
         AppendToTopLine("");
       },
       {"     1: x", ""},
       "lblBar"},
      {"empty note on an empty log still makes a line", [] { AppendToTopLine(""); }, {"", ""}, "lblBar"},
      {"mirror of an empty top line empties the status line",
       [] {
         AddLogLine("     1: END Enumeration", true);
         AddLogLine("", false);
         MirrorTopLine();
       },
       {"", "     1: END Enumeration", ""},
       ""},
      {"mirror of an empty log", [] { MirrorTopLine(); }, {""}, ""},
      {"note after a mirrored line stays out of the status line",
       [] {
         AddLogLine("     4: Checking Port COM4... ", true);
         AppendToTopLine("=> OK. ");
       },
       {"     4: Checking Port COM4... => OK. ", ""},
       "     4: Checking Port COM4... "},
      {"later mirror carries the note",
       [] {
         AddLogLine("     4: Checking Port COM4... ", true);
         AppendToTopLine("=> OK. ");
         MirrorTopLine();
       },
       {"     4: Checking Port COM4... => OK. ", ""},
       "     4: Checking Port COM4... => OK. "},
      {"tabs and code page bytes stay",
       [] { AddLogLine("a\tb \x80\xA9\xFF", true); },
       {"a\tb \x80\xA9\xFF", ""},
       "a\tb \x80\xA9\xFF"},
      {"markup stays text", [] { AddLogLine("<b>x</b>", true); }, {"<b>x</b>", ""}, "<b>x</b>"},
  };
  for (const LogRow& row : rows) {
    SCOPED_TRACE(row.name);
    DestroyMainWindow();
    State() = AppState{};
    CreateMainWindow();
    row.act();
    EXPECT_EQ(Lines(), row.lines);
    EXPECT_EQ(ControlText(statusLine), row.status);
    EXPECT_EQ(State().logLineCounter, 0);
  }
}

TEST_F(ActivityLogTest, WhatTheUserTypedIsCarriedIntoTheNextNoteAndMirror) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(MainWindowWidget()));
  auto* log = qobject_cast<QPlainTextEdit*>(ControlWidget(logView));
  AddLogLine(NextLinePrefix() + "Checking Port COM1... ", true);
  log->setFocus();
  log->moveCursor(QTextCursor::Start);
  log->moveCursor(QTextCursor::EndOfLine);
  QTest::keyClicks(log, "typed ");
  AppendToTopLine("=> OK. ");
  EXPECT_EQ(LogLine(0), "     1: Checking Port COM1... typed => OK. ");
  MirrorTopLine();
  EXPECT_EQ(ControlText(statusLine), "     1: Checking Port COM1... typed => OK. ");

  // A line the user starts on top of the log takes the next note.
  log->moveCursor(QTextCursor::Start);
  QTest::keyClicks(log, "mine");
  QTest::keyClick(log, Qt::Key_Return);
  AppendToTopLine("Port not available. ");
  EXPECT_EQ(Lines(),
            (std::vector<std::string>{"minePort not available. ", "     1: Checking Port COM1... typed => OK. ", ""}));

  // Characters outside the code page survive a note added behind them.
  log->moveCursor(QTextCursor::Start);
  log->insertPlainText(QStringLiteral("\u4E2D"));  // as an input method delivers it
  AppendToTopLine("!");
  EXPECT_TRUE(log->document()->firstBlock().text().startsWith(QStringLiteral("\u4E2DminePort")));
  EXPECT_TRUE(log->document()->firstBlock().text().endsWith(QStringLiteral("available. !")));
}

TEST_F(ActivityLogTest, ManyLinesKeepTheNewestOnTopAndNothingIsTrimmed) {
  for (int i = 0; i < 5000; ++i) {
    AddLogLine(NextLinePrefix() + "poll", false);
  }
  EXPECT_EQ(LogLineCount(), 5000);
  EXPECT_EQ(LogLine(0), "  5000: poll");
  EXPECT_EQ(LogLine(4999), "     1: poll");
}

}  // namespace
