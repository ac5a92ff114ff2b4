#include "ui/window_events.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"

namespace {

using Sub = WindowEvent::SubKind;

struct Seen {
  int id;
  Sub subKind;
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& seen, std::ostream* out) { *out << "{" << seen.id << ", " << seen.subKind << "}"; }

std::vector<Seen> TakeAll() {
  std::vector<Seen> seen;
  WindowEvent event;
  while (TakeQueuedEvent(event)) {
    EXPECT_EQ(event.kind, WindowEvent::kControl);
    seen.push_back({event.id, event.subKind});
  }
  return seen;
}

class WindowEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    State() = AppState{};
    CreateMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(MainWindowWidget()));
    QApplication::processEvents();
    TakeAll();
  }
  void TearDown() override {
    SetWakeInterval(0);
    DestroyMainWindow();
  }
};

QPoint ScrollBarPart(QScrollBar* bar, QStyle::SubControl part) {
  QStyleOptionSlider option;
  option.initFrom(bar);
  option.subControls = QStyle::SC_All;
  option.orientation = Qt::Horizontal;
  option.state |= QStyle::State_Horizontal;
  option.minimum = bar->minimum();
  option.maximum = bar->maximum();
  option.sliderPosition = bar->sliderPosition();
  option.sliderValue = bar->value();
  option.singleStep = bar->singleStep();
  option.pageStep = bar->pageStep();
  return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar).center();
}

QScrollBar* Volume() { return qobject_cast<QScrollBar*>(ControlWidget(volumeBar)); }
QComboBox* Devices() { return qobject_cast<QComboBox*>(ControlWidget(deviceList)); }

void Click(int id) { QTest::mouseClick(ControlWidget(id), Qt::LeftButton); }
void Focus(int id) {
  ControlWidget(id)->setFocus(Qt::OtherFocusReason);
  TakeAll();
}

struct EventRow {
  const char* name;
  std::function<void()> prepare;  // its events are discarded
  std::function<void()> act;
  std::vector<Seen> expected;
};

TEST_F(WindowEventsTest, EachKindOfControlRaisesItsEvents) {
  const auto nothing = [] {};
  const std::vector<EventRow> rows = {
      {"click into a text field", nothing, [] { Click(dbmDisplay); }, {{dbmDisplay, Sub::kFocusGained}}},
      {"type into a text field",
       [] { Focus(percentDisplay); },
       [] { QTest::keyClicks(ControlWidget(percentDisplay), "5"); },
       {{percentDisplay, Sub::kTextChanged}}},
      {"program sets a text field",
       nothing,
       [] { SetControlText(timerDisplay, "1.0 sec"); },
       {{timerDisplay, Sub::kTextChanged}}},
      {"program sets the same text", nothing, [] { SetControlText(dbmDisplay, "0"); }, {}},
      {"Tab between text fields",
       [] { Focus(dbmDisplay); },
       [] { QTest::keyClick(ControlWidget(dbmDisplay), Qt::Key_Tab); },
       {{dbmDisplay, Sub::kFocusLost}, {percentDisplay, Sub::kFocusGained}}},
      {"click into the credit line", nothing, [] { Click(creditLink); }, {{creditLink, Sub::kFocusGained}}},
      {"type into the credit line",
       [] { Focus(creditLink); },
       [] { QTest::keyClick(ControlWidget(creditLink), Qt::Key_A); },
       {{creditLink, Sub::kTextChanged}}},
      {"leave the credit line",
       [] { Focus(creditLink); },
       [] { Click(timerDisplay); },
       {{creditLink, Sub::kFocusLost}, {timerDisplay, Sub::kFocusGained}}},
      {"click the check box", nothing, [] { Click(soundCheck); }, {{soundCheck, Sub::kToggled}}},
      {"Space on the check box",
       [] { Focus(soundCheck); },
       [] { QTest::keyClick(ControlWidget(soundCheck), Qt::Key_Space); },
       {{soundCheck, Sub::kToggled}}},
      {"program sets the check box", nothing, [] { SetSoundCheckState(1); }, {}},
      {"click a push button", nothing, [] { Click(monitorButton); }, {{monitorButton, Sub::kClicked}}},
      {"Space on a push button",
       [] { Focus(endButton); },
       [] { QTest::keyClick(ControlWidget(endButton), Qt::Key_Space); },
       {{endButton, Sub::kClicked}}},
      {"click each button once",
       nothing,
       [] {
         Click(stopButton);
         Click(enumerateButton);
       },
       {{stopButton, Sub::kClicked}, {enumerateButton, Sub::kClicked}}},
      {"scroll bar arrow",
       nothing,
       [] { QTest::mouseClick(Volume(), Qt::LeftButton, {}, ScrollBarPart(Volume(), QStyle::SC_ScrollBarAddLine)); },
       {{volumeBar, Sub::kMoved}}},
      {"scroll bar trough",
       nothing,
       [] { QTest::mouseClick(Volume(), Qt::LeftButton, {}, ScrollBarPart(Volume(), QStyle::SC_ScrollBarAddPage)); },
       {{volumeBar, Sub::kMoved}}},
      {"scroll bar arrow at the end",
       [] { Volume()->setValue(75); },
       [] { QTest::mouseClick(Volume(), Qt::LeftButton, {}, ScrollBarPart(Volume(), QStyle::SC_ScrollBarAddLine)); },
       {}},
      {"list opened and closed",
       nothing,
       [] {
         Devices()->showPopup();
         Devices()->hidePopup();
       },
       {{deviceList, Sub::kListOpened}, {deviceList, Sub::kListClosed}}},
      {"list item picked by key",
       [] { Focus(deviceList); },
       [] { QTest::keyClick(ControlWidget(deviceList), Qt::Key_Down); },
       {{deviceList, Sub::kSelectionChanged}}},
      {"program fills and selects the list",
       nothing,
       [] {
         DeviceListClear();
         DeviceListInsert(0, "x");
         DeviceListSelect(0);
       },
       {}},
      {"click into the list",
       nothing,
       [] { Click(deviceList); },
       {{deviceList, Sub::kFocusGained}, {deviceList, Sub::kListOpened}}},
      {"click and type into the log",
       nothing,
       [] {
         Click(logView);
         QTest::keyClicks(ControlWidget(logView), "typed");
         QTest::keyClick(ControlWidget(logView), Qt::Key_Tab);
       },
       {}},
      {"program writes the log and status line", nothing, [] { AddLogLine(NextLinePrefix() + "line", true); }, {}},
      {"click the captions and the frame",
       nothing,
       [] {
         for (int id : {statusLine, deviceCaption, titleCaption, optionsFrame, dbmUnitCaption}) {
           Click(id);
         }
       },
       {}},
  };
  for (const EventRow& row : rows) {
    SCOPED_TRACE(row.name);
    DestroyMainWindow();
    CreateMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(MainWindowWidget()));
    DeviceListInsert(0, "\\\\.\\COM1 A");
    DeviceListInsert(1, "\\\\.\\COM2 B");
    QApplication::processEvents();
    row.prepare();
    TakeAll();
    row.act();
    EXPECT_EQ(TakeAll(), row.expected);
    Devices()->hidePopup();
    TakeAll();
  }
}

TEST_F(WindowEventsTest, ScrollBarFollowsArrowsTroughAndDragging) {
  QScrollBar* bar = Volume();
  QTest::mouseClick(bar, Qt::LeftButton, {}, ScrollBarPart(bar, QStyle::SC_ScrollBarAddLine));
  EXPECT_EQ(bar->value(), 1);
  QTest::mouseClick(bar, Qt::LeftButton, {}, ScrollBarPart(bar, QStyle::SC_ScrollBarAddPage));
  EXPECT_EQ(bar->value(), 26);
  QTest::mouseClick(bar, Qt::LeftButton, {}, ScrollBarPart(bar, QStyle::SC_ScrollBarSubLine));
  EXPECT_EQ(bar->value(), 25);
  TakeAll();

  const QPoint thumb = ScrollBarPart(bar, QStyle::SC_ScrollBarSlider);
  QTest::mousePress(bar, Qt::LeftButton, {}, thumb);
  QTest::mouseMove(bar, thumb + QPoint(400, 0));
  QTest::mouseRelease(bar, Qt::LeftButton, {}, thumb + QPoint(400, 0));
  EXPECT_EQ(bar->value(), 75);
  const std::vector<Seen> moves = TakeAll();
  ASSERT_FALSE(moves.empty());
  for (const Seen& move : moves) {
    EXPECT_EQ(move, (Seen{volumeBar, Sub::kMoved}));
  }
}

TEST_F(WindowEventsTest, WaitReturnsQueuedControlEventsInOrderThenOtherMessages) {
  Click(monitorButton);
  Click(stopButton);
  WindowEvent first = WaitForEvent();
  WindowEvent second = WaitForEvent();
  EXPECT_EQ(first.kind, WindowEvent::kControl);
  EXPECT_EQ(first.id, monitorButton);
  EXPECT_EQ(second.kind, WindowEvent::kControl);
  EXPECT_EQ(second.id, stopButton);

  QCoreApplication::postEvent(MainWindowWidget(), new QEvent(QEvent::User));
  const WindowEvent other = WaitForEvent();
  EXPECT_EQ(other.kind, WindowEvent::kOther);
}

TEST_F(WindowEventsTest, CloseRequestIsReportedAndTheWindowStaysUntilDestroyed) {
  QWidget* window = MainWindowWidget();
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  const WindowEvent event = WaitForEvent();
  EXPECT_EQ(event.kind, WindowEvent::kClose);
  EXPECT_EQ(event.id, kMainWindowId);
  DestroyMainWindow();
  EXPECT_EQ(MainWindowWidget(), nullptr);
  EXPECT_EQ(ControlWidget(logView), nullptr);
  // The adapter stays harmless without a window.
  SetControlText(statusLine, "x");
  LogInsertTopLine("x");
  EXPECT_EQ(LogLine(0), "");
  EXPECT_EQ(DeviceListSelected(), -1);
  CreateMainWindow();
}

// The serial link drains the window while it waits for the modem; what the user does
// meanwhile is only kept, and the loop handles it afterwards.
TEST_F(WindowEventsTest, PendingMessagesAreProcessedAndTheirControlEventsKeptForTheWait) {
  while (ProcessPendingMessage()) {
  }
  QMetaObject::invokeMethod(ControlWidget(enumerateButton), "click", Qt::QueuedConnection);
  QMetaObject::invokeMethod(MainWindowWidget(), "close", Qt::QueuedConnection);
  WindowEvent queued;
  EXPECT_FALSE(TakeQueuedEvent(queued));  // nothing has happened yet

  EXPECT_TRUE(ProcessPendingMessage());
  EXPECT_TRUE(MainWindowWidget()->isVisible());
  int rounds = 0;
  while (ProcessPendingMessage() && rounds < 100) {
    ++rounds;
  }
  EXPECT_LT(rounds, 100);
  EXPECT_FALSE(ProcessPendingMessage());

  const WindowEvent click = WaitForEvent();
  EXPECT_EQ(click.kind, WindowEvent::kControl);
  EXPECT_EQ(click.id, enumerateButton);
  EXPECT_EQ(click.subKind, Sub::kClicked);
  const WindowEvent close = WaitForEvent();
  EXPECT_EQ(close.kind, WindowEvent::kClose);
  EXPECT_EQ(close.id, kMainWindowId);
}

TEST_F(WindowEventsTest, RepaintAfterAProgramChangeEndsTheWait) {
  while (ProcessPendingMessage()) {
  }
  SetControlText(timerDisplay, "2.0 sec");
  EXPECT_EQ(WaitForEvent().id, timerDisplay);
  // The repaint of the new text is still pending, so this wait returns too.
  EXPECT_EQ(WaitForEvent().kind, WindowEvent::kOther);
}

TEST_F(WindowEventsTest, WakeIntervalEndsAnOtherwiseIdleWait) {
  while (ProcessPendingMessage()) {
  }
  SetWakeInterval(2);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(WaitForEvent().kind, WindowEvent::kOther);
  }
  SetWakeInterval(0);
}

TEST_F(WindowEventsTest, QueueKeepsCloseRequestsWhenFull) {
  for (int i = 0; i < 5000; ++i) {
    SetControlText(timerDisplay, std::to_string(i));
  }
  MainWindowWidget()->close();
  int controlEvents = 0;
  WindowEvent event;
  bool closeSeen = false;
  while (TakeQueuedEvent(event)) {
    if (event.kind == WindowEvent::kControl) {
      ++controlEvents;
    } else if (event.kind == WindowEvent::kClose) {
      closeSeen = true;
    }
  }
  EXPECT_EQ(controlEvents, kMaxQueuedEvents);
  EXPECT_TRUE(closeSeen);
}

}  // namespace
