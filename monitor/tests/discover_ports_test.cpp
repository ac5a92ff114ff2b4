#include "monitor/discover_ports.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/port_list.h"
#include "platform/port_table.h"
#include "serial/link_hooks.h"
#include "serial/serial_port.h"
#include "tools/modem-sim/sim/modem_sim.h"
#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/text_1252.h"

namespace {

void AppendNote(const std::string& note) { AppendToTopLine(note); }

struct BoxCall {
  std::string title;
  std::string text;
};
std::vector<BoxCall> boxes;
void RecordBox(std::string_view title, std::string_view text) { boxes.push_back({std::string(title), std::string(text)}); }

PortList DeniedList() { return {false, EACCES, {}}; }

struct Item {
  std::string text;
  int32_t data;
  std::string toolTip;
  bool operator==(const Item&) const = default;
};

void PrintTo(const Item& item, std::ostream* out) {
  *out << "{\"" << item.text << "\", " << item.data << ", \"" << item.toolTip << "\"}";
}

std::vector<Item> DeviceItems() {
  std::vector<Item> items;
  auto* list = qobject_cast<QComboBox*>(ControlWidget(deviceList));
  if (list == nullptr) return items;
  for (int i = 0; i < list->count(); ++i) {
    items.push_back({BytesFrom1252(list->itemText(i)), DeviceListData(i),
                     BytesFrom1252(list->itemData(i, Qt::ToolTipRole).toString())});
  }
  return items;
}

// The log from the top line down.
std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < LogLineCount(); ++i) lines.push_back(LogLine(i));
  return lines;
}

class DiscoverPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* ports = getenv("QUELVANE_PORTS")) savedPorts_ = ports, hadPorts_ = true;
    unsetenv("QUELVANE_PORTS");
    State() = AppState{};
    CreateMainWindow();
    SetDefaultPortSettings(State().port);
    TheLinkHooks().appendToTopLine = AppendNote;
    TheLinkHooks().processPendingMessage = ProcessPendingMessage;
    boxes.clear();
    SetMessageBoxFunction(RecordBox);
  }
  void TearDown() override {
    ClosePort(State().port);
    DestroyMainWindow();
    TheLinkHooks() = LinkHooks{};
    SetMessageBoxFunction(nullptr);
    SetPortListSource(nullptr);
    SetSysfsRoot("/sys");
    SetPortTable({});
    if (hadPorts_) setenv("QUELVANE_PORTS", savedPorts_.c_str(), 1);
    else unsetenv("QUELVANE_PORTS");
  }

  static void SetPorts(const std::vector<std::string>& paths) {
    std::string joined;
    for (std::size_t i = 0; i < paths.size(); ++i) joined += (i == 0 ? "" : ":") + paths[i];
    setenv("QUELVANE_PORTS", joined.c_str(), 1);
  }

  std::string savedPorts_;
  bool hadPorts_ = false;
};

// Five ports: an answering modem, a device that does not exist, a silent modem, a modem that
// answers everything with an error, and a second answering modem.
class FivePorts : public DiscoverPortsTest {
 protected:
  void SetUp() override {
    DiscoverPortsTest::SetUp();
    ASSERT_TRUE(sim_.Ok()) << sim_.Error();
    SimPortScript silent;
    silent.behaviour = SimBehaviour::Silent;
    sim_.SetScript(1, silent);
    SimPortScript error;
    error.behaviour = SimBehaviour::Error;
    sim_.SetScript(2, error);
    SimPortScript second;
    second.modelText = "QV-7 LTE \xC9" "dition";
    sim_.SetScript(3, second);
    paths_ = {sim_.SlavePath(0), "/dev/quelvane-no-such-port", sim_.SlavePath(1), sim_.SlavePath(2),
              sim_.SlavePath(3)};
    SetPorts(paths_);
  }

  // The lines of one run whose first line is numbered first, top line first.
  static std::vector<std::string> RunLines(int32_t first) {
    auto prefix = [first](int32_t offset) {
      const std::string number = std::to_string(first + offset);
      return std::string(6 - number.size(), ' ') + number + ": ";
    };
    return {
        "",
        prefix(6) + "END Enumeration",
        prefix(5) + "Checking Port COM4... => OK.   QV-7 LTE \xC9" "dition    OK  ",
        prefix(4) + "Checking Port COM3... => OK.   ERROR  ",
        prefix(3) + "Checking Port COM2... => OK. ",
        prefix(2) + "Checking Port COM1... Port not available. ",
        prefix(1) + "Checking Port COM0... => OK.   QV-2 Cellular Modem    OK  ",
        prefix(0) + "Enumerating COM ports...",
    };
  }

  std::vector<Item> ExpectedItems() const {
    return {
        {"\\\\.\\COM4   QV-7 LTE \xC9" "dition    OK  ", 4, paths_[4]},
        {"\\\\.\\COM3   ERROR  ", 3, paths_[3]},
        {"\\\\.\\COM0   QV-2 Cellular Modem    OK  ", 0, paths_[0]},
    };
  }

  ModemSim sim_{4};
  std::vector<std::string> paths_;
};

TEST_F(FivePorts, ProbesEveryPortAndListsThoseThatAnswer) {
  DiscoverPorts();

  EXPECT_EQ(LogLines(), RunLines(1));
  EXPECT_EQ(ControlText(statusLine), "     7: END Enumeration");
  EXPECT_EQ(DeviceItems(), ExpectedItems());
  EXPECT_EQ(DeviceListSelected(), 0);
  EXPECT_EQ(State().port.handle, kNullHandle);
  EXPECT_EQ(State().port.portNumber, 4);
  EXPECT_EQ(PortTable(), paths_);
  EXPECT_TRUE(boxes.empty());
  for (int32_t port = 0; port < 4; ++port) {
    SCOPED_TRACE(port);
    std::vector<std::string> commands;
    for (const SimCommand& command : sim_.Received(port)) commands.push_back(command.text);
    EXPECT_EQ(commands, (std::vector<std::string>{"ATQ0V1E0", "AT+GMM"}));
  }
}

TEST_F(FivePorts, SecondRunReplacesTheListAndKeepsTheLog) {
  DiscoverPorts();
  DiscoverPorts();

  std::vector<std::string> expected = RunLines(8);
  const std::vector<std::string> firstRun = RunLines(1);
  expected.insert(expected.end(), firstRun.begin(), firstRun.end());
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(ControlText(statusLine), "    14: END Enumeration");
  EXPECT_EQ(DeviceItems(), ExpectedItems());
  EXPECT_EQ(DeviceListSelected(), 0);
}

TEST_F(DiscoverPortsTest, EmptyListProbesNothing) {
  setenv("QUELVANE_PORTS", "", 1);
  State().port.portNumber = 7;
  DeviceListInsert(0, "stale");

  DiscoverPorts();

  EXPECT_EQ(LogLines(), (std::vector<std::string>{"", "     2: END Enumeration", "     1: Enumerating COM ports..."}));
  EXPECT_EQ(ControlText(statusLine), "     2: END Enumeration");
  EXPECT_EQ(DeviceListCount(), 0);
  EXPECT_EQ(DeviceListSelected(), -1);
  EXPECT_EQ(State().port.portNumber, 7);
  EXPECT_TRUE(PortTable().empty());
}

TEST_F(DiscoverPortsTest, EntryWithoutANameIsSkippedButKeepsItsNumber) {
  ModemSim sim(1);
  ASSERT_TRUE(sim.Ok()) << sim.Error();
  SetPorts({"", sim.SlavePath(0)});

  DiscoverPorts();

  EXPECT_EQ(LogLines(), (std::vector<std::string>{"", "     3: END Enumeration",
                                                  "     2: Checking Port COM1... => OK.   QV-2 Cellular Modem    OK  ",
                                                  "     1: Enumerating COM ports..."}));
  EXPECT_EQ(DeviceItems(), (std::vector<Item>{{"\\\\.\\COM1   QV-2 Cellular Modem    OK  ", 1, sim.SlavePath(0)}}));
  EXPECT_EQ(State().port.portNumber, 1);
}

TEST_F(DiscoverPortsTest, FailedEnumerationShowsTheErrorAndWritesNoEnd) {
  SetPortListSource(DeniedList);
  State().port.portNumber = 7;
  SetPortTable({"/dev/ttyUSB0"});
  DeviceListInsert(0, "stale");

  DiscoverPorts();

  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].title, "ERROR");
  EXPECT_EQ(boxes[0].text, "Permission denied");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"     1: Enumerating COM ports..."}));
  EXPECT_EQ(ControlText(statusLine), "     1: Enumerating COM ports...");
  EXPECT_EQ(DeviceListCount(), 0);
  EXPECT_EQ(DeviceListSelected(), -1);
  EXPECT_EQ(State().port.portNumber, 7);
  EXPECT_TRUE(PortTable().empty());
}

// The real box: modal, titled ERROR, with the error icon, the system's text and one OK button.
TEST_F(DiscoverPortsTest, UnreadableSysfsShowsTheModalErrorBox) {
  SetMessageBoxFunction(nullptr);
  SetSysfsRoot("/nonexistent-quelvane-sysfs");
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QList<QAbstractButton*> buttons;
  bool modal = false;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->buttons();
    modal = box->isModal();
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    else box->reject();
  });
  closer.start(10);

  DiscoverPorts();
  closer.stop();

  EXPECT_EQ(title, "ERROR");
  EXPECT_EQ(text, "No such file or directory");
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons.size(), 1);
  EXPECT_TRUE(modal);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"     1: Enumerating COM ports..."}));
}

}  // namespace
