// The activity log's operations over any text, on the real log view and status line
// (offscreen). The input is a list of operations; a model of the lines and the status line
// says what the window must hold after each one.
//
// Each operation is one byte, op % 8:
//   0  numbered line: NextLinePrefix, then AddLogLine(prefix + text, bit 3 of the byte)
//   1  AddLogLine(text, false)       2  AddLogLine(text, true)
//   3  AppendToTopLine(text)         4  MirrorTopLine()
//   5  logLineCounter = the next four bytes (signed, little-endian)
//   6  AddLogLine(raw, bit 3)        7  AppendToTopLine(raw)
// A text is a length byte and that many bytes; CR and LF in it become spaces, since no producer
// passes line breaks. A raw text keeps them, to pin down what the log does with them: the view
// breaks the line at LF, at CR and at CR LF.
// Qt's caches grow from input to input, so a leak check after every input costs more than the
// input: run with -detect_leaks=0 (scripts/fuzz.sh does); leaks are still checked at exit.
#include <QApplication>
#include <QCoreApplication>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

constexpr int kMaxOperations = 64;
// The window is built anew after this many inputs, so that nothing it keeps grows for long.
constexpr int kInputsPerWindow = 5000;
constexpr std::string_view kInitialStatus = "lblBar";

[[noreturn]] void Fail(const char* what, int operation) {
  std::fprintf(stderr, "activity_log_fuzz: operation %d: %s\n", operation, what);
  std::abort();
}

class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool AtEnd() const { return position_ >= size_; }
  uint8_t Byte() { return AtEnd() ? 0 : data_[position_++]; }
  std::string Text() {
    const std::size_t length = std::min<std::size_t>(Byte(), size_ - position_);
    std::string text(reinterpret_cast<const char*>(data_) + position_, length);
    position_ += length;
    return text;
  }
  int32_t Int32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int32_t>(value);
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

std::string WithoutLineBreaks(std::string text) {
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// The lines a text makes in the view: broken at CR LF, CR and LF.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += text[i];
    }
  }
  return lines;
}

std::string ExpectedPrefix(int32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), ' ');
  return digits.substr(0, 6) + ": ";
}

// What the log view and the status line must hold; lines[0] is the top line.
struct Model {
  std::vector<std::string> lines;
  std::string status{kInitialStatus};

  std::string Top() const { return lines.empty() ? std::string() : lines.front(); }
  // AddLogLine's insert: the text and a line break before the first character.
  void Insert(std::string_view text) {
    const std::vector<std::string> made = SplitLines(std::string(text) + "\n");
    lines.insert(lines.begin(), made.begin(), made.end() - 1);
  }
  void Append(std::string_view note) {
    if (Top().empty()) {
      Insert(note);
      return;
    }
    const std::vector<std::string> made = SplitLines(note);
    lines.front() += made.front();
    lines.insert(lines.begin() + 1, made.begin() + 1, made.end());
  }
};

// After each operation: the top line, the number of lines and the status line.
void CheckTop(const Model& model, int operation) {
  if (LogLine(0) != model.Top()) Fail("line 0 differs", operation);
  if (LogLineCount() != static_cast<int32_t>(model.lines.size())) Fail("line count differs", operation);
  if (ControlText(statusLine) != model.status) Fail("status line differs", operation);
}

// After the last operation: every line, so that no earlier line changed, and nothing after
// the last line break.
void CheckAllLines(const Model& model, int operation) {
  for (std::size_t i = 0; i < model.lines.size(); ++i) {
    if (LogLine(static_cast<int32_t>(i)) != model.lines[i]) Fail("a line differs from what was logged", operation);
  }
  if (!LogLine(static_cast<int32_t>(model.lines.size())).empty()) Fail("text after the last line break", operation);
}

int inputsOnThisWindow = 0;

void FreshLog() {
  if (++inputsOnThisWindow > kInputsPerWindow || MainWindowWidget() == nullptr) {
    inputsOnThisWindow = 1;
    CreateMainWindow();
    QCoreApplication::processEvents();
  }
  State() = AppState{};
  SetControlText(logView, "");
  SetControlText(statusLine, kInitialStatus);
}

}  // namespace

// Memory fontconfig allocates and the leak checker cannot see as reachable: the patterns Qt
// keeps for fallback fonts in its font engine cache, and the configuration loaded once. By
// module, since the quick unwinder stops inside fontconfig.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "activity_log_fuzz";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives as long as the process
  // Loads the font database and the fonts every byte needs once, before the leak checks.
  CreateMainWindow();
  std::string everyByte;
  for (int c = 1; c < 256; ++c) {
    if (c != '\r' && c != '\n') everyByte += static_cast<char>(c);
  }
  AddLogLine(everyByte, true);
  QCoreApplication::processEvents();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  FreshLog();
  Model model;
  Reader in(data, size);
  int operation = 0;
  for (; operation < kMaxOperations && !in.AtEnd(); ++operation) {
    const uint8_t op = in.Byte();
    const bool mirror = (op & 8) != 0;
    switch (op % 8) {
      case 0: {
        const int32_t number = static_cast<int32_t>(static_cast<uint32_t>(State().logLineCounter) + 1u);
        const std::string prefix = NextLinePrefix();
        if (State().logLineCounter != number) Fail("logLineCounter did not advance by one", operation);
        if (prefix != ExpectedPrefix(number)) Fail("prefix is not the number in six columns and \": \"", operation);
        const std::string line = prefix + WithoutLineBreaks(in.Text());
        AddLogLine(line, mirror);
        model.Insert(line);
        if (mirror) model.status = line;
        break;
      }
      case 1:
      case 2: {
        const std::string text = WithoutLineBreaks(in.Text());
        AddLogLine(text, op % 8 == 2);
        model.Insert(text);
        if (op % 8 == 2) model.status = text;
        break;
      }
      case 3: {
        const std::string note = WithoutLineBreaks(in.Text());
        const std::string top = model.Top();
        const std::size_t linesBefore = model.lines.size();
        AppendToTopLine(note);
        model.Append(note);
        // Joined to a non-empty top line; on a line of its own above an empty one.
        const std::size_t added = top.empty() ? 1 : 0;
        if (model.Top() != (top.empty() ? note : top + note) || model.lines.size() != linesBefore + added) {
          Fail("AppendToTopLine neither joined the note to line 0 nor put it on a new line", operation);
        }
        break;
      }
      case 4:
        MirrorTopLine();
        model.status = model.Top();
        break;
      case 5:
        State().logLineCounter = in.Int32();
        break;
      case 6: {
        const std::string raw = in.Text();
        AddLogLine(raw, mirror);
        model.Insert(raw);
        if (mirror) model.status = model.Top();
        break;
      }
      default: {
        const std::string raw = in.Text();
        AppendToTopLine(raw);
        model.Append(raw);
        break;
      }
    }
    CheckTop(model, operation);
  }
  CheckAllLines(model, operation);
  return 0;
}
