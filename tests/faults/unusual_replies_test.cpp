// Replies with NUL bytes, bytes 0x80 to 0xFF, very long lines, markup-like text and control
// characters: logged and listed as they came (up to a NUL, line breaks flattened), shown as
// plain text, and nothing of the earlier lines is lost.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/faults/fault_fixture.h"

namespace faults {
namespace {

using namespace std::string_literals;

// The modem answers with bytes the test chose: each command takes the next reply queued for it.
std::mutex scriptedMutex;
std::map<std::string, std::deque<std::string>> scriptedReplies;  // by "<port> <command>"

void QueueReply(int32_t port, const std::string& command, const std::string& bytes) {
  std::lock_guard lock(scriptedMutex);
  scriptedReplies[std::to_string(port) + " " + command].push_back(bytes);
}

const std::string kMarkupModel =
    "<b>QV-5</b> &amp; <a href=\"x\">link</a> \xC9"
    "dition \xA0\x80\x81\x8D\xFF \x07\x1B\x0B\x0C\x7F end";
const std::string kNulModel = "QV-9 \0 hidden"s;
// With its framing the model reply is exactly the 1024 bytes of the buffer.
const std::string kLongModel = [] {
  std::string model;
  while (model.size() < 1014) model += "Model \xE9l\xE8ve <i>" + std::to_string(model.size()) + "</i> ";
  return model.substr(0, 1014);
}();
// A reply longer than the buffer without the field in its first 1024 bytes.
const std::string kFiller = [] {
  std::string filler;
  while (filler.size() < 1100) filler += "<p>&#169; \xA9 caf\xE9</p> ";
  return filler.substr(0, 1100);
}();

std::string Flattened(std::string reply) {
  for (char& c : reply) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return reply;
}

class UnusualRepliesTest : public FaultTest {
 protected:
  UnusualRepliesTest() : FaultTest(3) {}

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(FaultTest::SetUp());
    {
      std::lock_guard lock(scriptedMutex);
      scriptedReplies.clear();
    }
    for (int32_t p = 0; p < sim_.PortCount(); ++p) {
      ChangeScript(p, [](SimPortScript& script) { script.behaviour = SimBehaviour::Silent; });
    }
    ModemSim* sim = &sim_;
    sim_.OnCommand([sim](const SimCommand& command) {
      std::string reply;
      {
        std::lock_guard lock(scriptedMutex);
        auto& queue = scriptedReplies[std::to_string(command.port) + " " + command.text];
        if (queue.empty()) return;
        reply = queue.front();
        queue.pop_front();
      }
      sim->Send(command.port, reply);
    });
    // Port 0 is listed under a name that looks like markup.
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    markupPath_ = dir_ + "/<b>modem&amp;<br>";
    std::filesystem::create_symlink(sim_.SlavePath(0), markupPath_);
    portPaths[0] = markupPath_;
  }

  void TearDown() override {
    sim_.OnCommand(nullptr);
    FaultTest::TearDown();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string dir_;
  std::string markupPath_;
};

TEST_F(UnusualRepliesTest, AreLoggedListedAndShownAsPlainText) {
  for (int32_t p = 0; p < 3; ++p) QueueReply(p, "ATQ0V1E0", "\r\nOK\r\n");
  QueueReply(0, "AT+GMM", SimFrame(kMarkupModel));
  QueueReply(1, "AT+GMM", SimFrame(kNulModel));
  QueueReply(2, "AT+GMM", SimFrame(kLongModel));
  ASSERT_EQ(SimFrame(kLongModel).size(), 1024u);

  StartUp();

  const std::string markupNote = "  " + kMarkupModel + "    OK  ";
  const std::string longNote = "  " + kLongModel + "    OK  ";
  std::vector<std::string> expected = {
      "",
      P(5) + "END Enumeration",
      P(4) + "Checking Port COM2... => OK. " + longNote,
      P(3) + "Checking Port COM1... => OK.   QV-9 ",
      P(2) + "Checking Port COM0... => OK. " + markupNote,
      P(1) + "Enumerating COM ports...",
  };
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(Flattened(watch.exchanges[5].reply), longNote);
  EXPECT_EQ(DeviceItems(),
            (std::vector<Item>{
                {"\\\\.\\COM2 " + longNote, 2}, {"\\\\.\\COM1   QV-9 ", 1}, {"\\\\.\\COM0 " + markupNote, 0}}));
  auto* list = qobject_cast<QComboBox*>(ControlWidget(deviceList));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->itemText(2), QStringFrom1252("\\\\.\\COM0 " + markupNote));
  // The tool tip names the device; rendered, it reads exactly as the path, markup and all.
  QTextDocument tip;
  tip.setHtml(list->itemData(2, Qt::ToolTipRole).toString());
  EXPECT_EQ(tip.toPlainText(), QString::fromStdString(markupPath_));

  SelectDevice(0);
  const uint32_t t0 = fakeNow;
  ASSERT_TRUE(Press(monitorButton));
  expected.insert(expected.begin(), {P(6) + "Start Monitoring Port 0 ...", "=> OK. "});
  EXPECT_EQ(LogLines(), expected);

  // Each "AT+CSQ" gets the reply of its step.
  const std::string longReply = kFiller + SimFrame("+CSQ: 21,99");
  struct Step {
    const char* name;
    std::string reply;  // none: the modem says nothing
    std::size_t bytesRead;
    std::string line;  // after the prefix
    std::string dbm;
    std::string percent;
  };
  const Step steps[] = {
      {"markup, high bytes and control characters without the field: a raw-reply line",
       "\r\n<i>busy</i> &lt;\xA0\xE9\x80\xFF\x07\x1B\r\nERROR\r\n", 0,
       "1:  \t<i>busy</i> &lt;\xA0\xE9\x80\xFF\x07\x1B \tERROR \t", "0", "0%"},
      {"markup and high bytes after the value: the field stops at the markup",
       "\r\n+CSQ: 2\xB0\xE9<b>1</b>,99\r\n\r\nOK\r\n", 0, "  4.0:         2: 2\xB0\xE9 = \t  -111 dBm (= 6%)", "-111",
       "6%"},
      {"a NUL inside the value: the reply ends before it",
       "\r\n+CSQ: 1\0"
       "7,99\r\n\r\nOK\r\n"s,
       0, "  6.0:         3: 1 = \t  -113 dBm (= 3%)", "-113", "3%"},
      {"a NUL first: nothing of the reply counts", "\0\r\n+CSQ: 17,99\r\n\r\nOK\r\n"s, 0, "    8: No signal", "-113",
       "0%"},
      {"longer than the buffer: the first 1024 bytes, without the field", longReply, 1024,
       "4: " + kFiller.substr(0, 1024), "-113", "0%"},
      {"the rest of it arrives with the next read", "", longReply.size() - 1024,
       " 12.0:         5: 21,99 = \t   -73 dBm (= 66%)", "-73", "66%"},
  };
  int32_t line = 7;
  uint32_t atMs = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    if (!step.reply.empty()) QueueReply(0, "AT+CSQ", step.reply);
    atMs += 2000;
    fakeNow = t0 + atMs;
    EXPECT_TRUE(Pass());
    EXPECT_EQ(watch.exchanges.back().command, "AT+CSQ\r");
    EXPECT_EQ(watch.exchanges.back().reply.size(), step.bytesRead != 0 ? step.bytesRead : step.reply.size());
    expected.insert(expected.begin(), P(line++) + step.line);
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(ControlText(dbmDisplay), step.dbm);
    EXPECT_EQ(ControlText(percentDisplay), step.percent);
  }
  EXPECT_EQ(State().pollCounter, 5);

  // The view holds every line as plain text: no markup taken as formatting, no character lost
  // or changed on the way to the widget, no line broken by a control character.
  auto* log = qobject_cast<QPlainTextEdit*>(ControlWidget(logView));
  ASSERT_NE(log, nullptr);
  QTextDocument* document = log->document();
  ASSERT_EQ(document->blockCount(), static_cast<int>(expected.size()) + 1);
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const auto index = static_cast<std::size_t>(block.blockNumber());
    SCOPED_TRACE(testing::Message() << "line " << index);
    EXPECT_EQ(block.text(), index < expected.size() ? QStringFrom1252(expected[index]) : QString());
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
      const QTextCharFormat format = fragment.fragment().charFormat();
      EXPECT_FALSE(format.isAnchor());
      EXPECT_EQ(format.fontWeight(), QFont::Normal);
      EXPECT_FALSE(format.fontItalic());
    }
  }
  EXPECT_EQ(ControlText(statusLine), P(6) + "Start Monitoring Port 0 ...");
}

}  // namespace
}  // namespace faults
