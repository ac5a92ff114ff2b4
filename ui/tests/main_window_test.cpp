#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <string>
#include <vector>

#include "ui/app_state.h"

namespace {

enum class Kind {
  kTextField,
  kLogEditor,
  kCaption,
  kSunkenCaption,
  kGroupFrame,
  kDropDownList,
  kCheckBox,
  kPushButton,
  kScrollBar
};

struct FontEntry {
  const char* family;
  int pointSize;
  int weight;
};

constexpr FontEntry kDefaultFont{"Arial", 8, 400};  // the window's dialog font
constexpr FontEntry kDisplayFont{"Arial", 140, 700};
constexpr FontEntry kUnitFont{"Arial", 16, 700};
constexpr FontEntry kLogFont{"Courier New", 8, 400};

struct ControlRow {
  const char* name;
  int id;  // -1: optionsCaption, which has no identifier
  Kind kind;
  QRect geometry;
  std::string text;
  FontEntry font;
};

// Creation order.
const std::vector<ControlRow> kControlTable = {
    {"dbmDisplay", 0, Kind::kTextField, {5, 30, 520, 285}, "0", kDisplayFont},
    {"percentDisplay", 1, Kind::kTextField, {530, 30, 490, 285}, "0%", kDisplayFont},
    {"logView", 2, Kind::kLogEditor, {455, 360, 560, 250}, "", kLogFont},
    {"timerDisplay", 3, Kind::kTextField, {345, 475, 90, 20}, "Timer", kDefaultFont},
    {"optionsFrame", 4, Kind::kGroupFrame, {5, 355, 445, 180}, "", kDefaultFont},
    {"deviceCaption", 5, Kind::kCaption, {15, 390, 85, 15}, "Select a Device", kDefaultFont},
    {"deviceList", 6, Kind::kDropDownList, {105, 385, 335, 20}, "", kDefaultFont},
    {"soundCheck", 7, Kind::kCheckBox, {15, 420, 180, 20}, "Sound ON/OFF", kDefaultFont},
    {"monitorButton", 8, Kind::kPushButton, {10, 550, 165, 25}, "Monitor", kDefaultFont},
    {"stopButton", 9, Kind::kPushButton, {10, 585, 165, 25}, "Stop", kDefaultFont},
    {"timerCaption", 10, Kind::kCaption, {295, 475, 50, 15}, "Timer:", kDefaultFont},
    {"volumeBar", 11, Kind::kScrollBar, {15, 445, 420, 15}, "", kDefaultFont},
    {"volumeCaption", 12, Kind::kCaption, {15, 460, 75, 15}, "Volume", kDefaultFont},
    {"endButton", 15, Kind::kPushButton, {310, 585, 140, 25}, "END", kDefaultFont},
    {"logCaption", 16, Kind::kCaption, {460, 345, 140, 15}, "LOG", kDefaultFont},
    {"optionsCaption", -1, Kind::kCaption, {10, 345, 140, 15}, "Options", kDefaultFont},
    {"statusLine", 17, Kind::kSunkenCaption, {5, 515, 445, 20}, "lblBar", kDefaultFont},
    {"enumerateButton", 18, Kind::kPushButton, {300, 405, 140, 20}, "Enumerate Devices", kDefaultFont},
    {"titleCaption", 13, Kind::kCaption, {5, 10, 185, 15}, "Quelvane", kDefaultFont},
    {"creditLink", 14, Kind::kTextField, {530, 10, 480, 15}, kCreditText, kDefaultFont},
    {"dbmUnitCaption", 19, Kind::kCaption, {170, 315, 80, 40}, "dBm", kUnitFont},
    {"percentUnitCaption", 20, Kind::kCaption, {710, 315, 160, 40}, "Percent (%)", kUnitFont},
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    State() = AppState{};
    State().soundFlag = 1;  // CreateMainWindow must clear it
    CreateMainWindow();
    window = MainWindowWidget();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  }
  void TearDown() override { DestroyMainWindow(); }

  QWidget* Named(const ControlRow& row) const {
    return window->findChild<QWidget*>(QString::fromLatin1(row.name), Qt::FindDirectChildrenOnly);
  }

  QWidget* window = nullptr;
};

void ExpectKind(QWidget* widget, Kind kind) {
  switch (kind) {
    case Kind::kTextField: {
      auto* field = qobject_cast<QLineEdit*>(widget);
      ASSERT_NE(field, nullptr);
      EXPECT_FALSE(field->isReadOnly());
      EXPECT_TRUE(field->hasFrame());
      EXPECT_EQ(field->focusPolicy(), Qt::StrongFocus);
      break;
    }
    case Kind::kLogEditor:
      ASSERT_NE(qobject_cast<QPlainTextEdit*>(widget), nullptr);
      break;
    case Kind::kCaption:
    case Kind::kSunkenCaption: {
      auto* caption = qobject_cast<QLabel*>(widget);
      ASSERT_NE(caption, nullptr);
      EXPECT_EQ(caption->focusPolicy(), Qt::NoFocus);
      EXPECT_EQ(caption->textInteractionFlags(), Qt::NoTextInteraction);
      EXPECT_EQ(caption->frameShadow() == QFrame::Sunken && caption->frameShape() != QFrame::NoFrame,
                kind == Kind::kSunkenCaption);
      break;
    }
    case Kind::kGroupFrame:
      ASSERT_NE(qobject_cast<QFrame*>(widget), nullptr);
      EXPECT_EQ(qobject_cast<QLabel*>(widget), nullptr);
      EXPECT_EQ(widget->focusPolicy(), Qt::NoFocus);
      break;
    case Kind::kDropDownList: {
      auto* list = qobject_cast<QComboBox*>(widget);
      ASSERT_NE(list, nullptr);
      EXPECT_FALSE(list->isEditable());
      EXPECT_EQ(list->count(), 0);
      EXPECT_EQ(list->currentIndex(), -1);
      break;
    }
    case Kind::kCheckBox:
      ASSERT_NE(qobject_cast<QCheckBox*>(widget), nullptr);
      break;
    case Kind::kPushButton:
      ASSERT_NE(qobject_cast<QPushButton*>(widget), nullptr);
      break;
    case Kind::kScrollBar: {
      auto* bar = qobject_cast<QScrollBar*>(widget);
      ASSERT_NE(bar, nullptr);
      EXPECT_EQ(bar->orientation(), Qt::Horizontal);
      EXPECT_EQ(bar->focusPolicy(), Qt::NoFocus);
      break;
    }
  }
}

std::string WidgetText(QWidget* widget) {
  QString text;
  if (auto* field = qobject_cast<QLineEdit*>(widget)) {
    text = field->text();
  } else if (auto* caption = qobject_cast<QLabel*>(widget)) {
    text = caption->text();
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    text = button->text();
  } else if (auto* editor = qobject_cast<QPlainTextEdit*>(widget)) {
    text = editor->toPlainText();
  }
  return text.toStdString();
}

TEST_F(MainWindowTest, EveryControlMatchesItsTableRow) {
  std::vector<std::string> createdOrder;
  for (QObject* child : window->children()) {
    if (child->isWidgetType()) {
      createdOrder.push_back(child->objectName().toStdString());
    }
  }
  std::vector<std::string> expectedOrder;
  for (const ControlRow& row : kControlTable) {
    expectedOrder.push_back(row.name);
  }
  EXPECT_EQ(createdOrder, expectedOrder);

  for (const ControlRow& row : kControlTable) {
    SCOPED_TRACE(row.name);
    QWidget* widget = Named(row);
    ASSERT_NE(widget, nullptr);
    if (row.id >= 0) {
      EXPECT_EQ(ControlWidget(row.id), widget);
      if (row.kind != Kind::kGroupFrame && row.kind != Kind::kScrollBar && row.kind != Kind::kDropDownList) {
        EXPECT_EQ(ControlText(row.id), row.text);
      }
    }
    ExpectKind(widget, row.kind);
    EXPECT_EQ(widget->geometry(), row.geometry);
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(WidgetText(widget), row.text);
    EXPECT_FALSE(widget->accessibleName().isEmpty());

    const QFont font = widget->font();
    EXPECT_EQ(font.family().toStdString(), row.font.family);
    EXPECT_EQ(font.pointSize(), row.font.pointSize);
    EXPECT_EQ(font.weight(), row.font.weight);
    // Character height: points times pixels per inch over 72, to the nearest pixel.
    EXPECT_EQ(QFontInfo(font).pixelSize(), qRound(row.font.pointSize * widget->logicalDpiY() / 72.0));
    EXPECT_FALSE(font.italic());
    EXPECT_FALSE(font.underline());
    EXPECT_FALSE(font.strikeOut());
  }
  EXPECT_EQ(ControlWidget(21), nullptr);
  EXPECT_EQ(ControlWidget(-1), nullptr);
}

// The pixel layout only works when the fonts fit it: no caption, label or initial text is cut.
TEST_F(MainWindowTest, EveryInitialTextFitsItsControl) {
  for (const ControlRow& row : kControlTable) {
    if (row.text.empty()) {
      continue;
    }
    SCOPED_TRACE(row.name);
    QWidget* widget = Named(row);
    const QFontMetrics metrics = widget->fontMetrics();
    const int textWidth = metrics.horizontalAdvance(QString::fromStdString(row.text));
    int room = widget->width();
    if (row.kind == Kind::kTextField) {
      room -= 8;  // frame and the field's own margins
    } else if (row.kind == Kind::kCheckBox) {
      room -= 20;  // the box left of the label
    } else if (row.kind == Kind::kPushButton || row.kind == Kind::kSunkenCaption) {
      room -= 4;
    }
    EXPECT_LE(textWidth, room);
    EXPECT_LE(metrics.height(), widget->height());
  }
}

TEST_F(MainWindowTest, ControlsHaveTheirSpokenNames) {
  const struct {
    int id;
    const char* name;
  } rows[] = {
      {dbmDisplay, "Signal in dBm"},
      {percentDisplay, "Signal in percent"},
      {logView, "Activity log"},
      {monitorButton, "Monitor"},
      {stopButton, "Stop"},
      {endButton, "END"},
      {enumerateButton, "Enumerate Devices"},
      {soundCheck, "Sound ON/OFF"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(ControlWidget(row.id)->accessibleName().toStdString(), row.name);
  }
}

TEST_F(MainWindowTest, WindowHasItsTitlePlaceSizeFrameAndFace) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Quelvane"));
  EXPECT_EQ(ControlText(titleCaption), "Quelvane");
  EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(165, 25));
  EXPECT_EQ(window->size(), QSize(1024, 620));
  EXPECT_EQ(window->minimumSize(), QSize(1024, 620));
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowTitleHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowState(), Qt::WindowNoState);
  EXPECT_FALSE(window->windowIcon().isNull());
  EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(window->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Window));
  EXPECT_TRUE(ControlText(creditLink).ends_with(" - Click this label to jump to it"));
  EXPECT_NE(ControlText(creditLink).find('@'), std::string::npos);
  EXPECT_EQ(qobject_cast<QLineEdit*>(ControlWidget(creditLink))->alignment() & Qt::AlignHorizontal_Mask,
            Qt::AlignRight);
}

TEST_F(MainWindowTest, StartsWithSoundOffAndNoControlFocused) {
  EXPECT_EQ(State().soundFlag, 0);
  EXPECT_EQ(SoundCheckState(), 0);
  WindowEvent event;
  EXPECT_FALSE(TakeQueuedEvent(event)) << "creation raised control " << event.id;
  QWidget* focused = QApplication::focusWidget();
  for (int id = 0; id < kControlCount; ++id) {
    EXPECT_NE(focused, ControlWidget(id)) << "control " << id;
  }
}

TEST_F(MainWindowTest, ResizingLeavesEveryControlInPlaceAndOnlyMaximisingEnlarges) {
  std::vector<QRect> before;
  for (const ControlRow& row : kControlTable) {
    before.push_back(Named(row)->geometry());
  }
  window->setWindowState(Qt::WindowMaximized);
  QApplication::processEvents();
  const QSize maximised = window->size();
  QApplication::processEvents();
  EXPECT_EQ(window->size(), maximised);
  EXPECT_TRUE(window->windowState() & Qt::WindowMaximized);
  for (std::size_t i = 0; i < kControlTable.size(); ++i) {
    SCOPED_TRACE(kControlTable[i].name);
    EXPECT_EQ(Named(kControlTable[i])->geometry(), before[i]);
  }

  // Dragging the border of the normal window does not stick.
  window->setWindowState(Qt::WindowNoState);
  window->resize(1200, 700);
  QApplication::processEvents();
  EXPECT_EQ(window->size(), QSize(1024, 620));
  for (std::size_t i = 0; i < kControlTable.size(); ++i) {
    SCOPED_TRACE(kControlTable[i].name);
    EXPECT_EQ(Named(kControlTable[i])->geometry(), before[i]);
  }
}

// Gives the focus by key, as the user does.
QWidget* PressTab(bool backwards) {
  QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : MainWindowWidget();
  if (backwards) {
    QTest::keyClick(target, Qt::Key_Backtab, Qt::ShiftModifier);
  } else {
    QTest::keyClick(target, Qt::Key_Tab);
  }
  return QApplication::focusWidget();
}

TEST_F(MainWindowTest, TabCyclesThroughTheControlsBothWaysAndTypesATabIntoTheLog) {
  // From no focus, Tab reaches the first control of the cycle.
  EXPECT_EQ(PressTab(false), ControlWidget(dbmDisplay));
  EXPECT_EQ(PressTab(false), ControlWidget(percentDisplay));
  EXPECT_EQ(PressTab(false), ControlWidget(logView));
  // Tab in the log is text, not navigation.
  EXPECT_EQ(PressTab(false), ControlWidget(logView));
  EXPECT_EQ(ControlText(logView), "\t");

  QTest::mouseClick(ControlWidget(timerDisplay), Qt::LeftButton);
  ASSERT_EQ(QApplication::focusWidget(), ControlWidget(timerDisplay));
  const int forward[] = {deviceList,      soundCheck, monitorButton, stopButton,     endButton,
                         enumerateButton, creditLink, dbmDisplay,    percentDisplay, logView};
  for (int id : forward) {
    SCOPED_TRACE(id);
    EXPECT_EQ(PressTab(false), ControlWidget(id));
  }

  const int backward[] = {percentDisplay, dbmDisplay, creditLink, enumerateButton, endButton, stopButton,
                          monitorButton,  soundCheck, deviceList, timerDisplay,    logView};
  for (int id : backward) {
    SCOPED_TRACE(id);
    EXPECT_EQ(PressTab(true), ControlWidget(id));
  }
  // Shift+Tab left the log without typing anything.
  EXPECT_EQ(ControlText(logView), "\t");
}

TEST_F(MainWindowTest, ShiftTabFromNoFocusReachesTheLastControl) {
  EXPECT_EQ(PressTab(true), ControlWidget(creditLink));
}

TEST_F(MainWindowTest, LogViewScrollsLongLinesAndKeepsItsSelectionVisible) {
  auto* log = qobject_cast<QPlainTextEdit*>(ControlWidget(logView));
  EXPECT_EQ(log->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_FALSE(log->isReadOnly());
  EXPECT_FALSE(log->document()->isUndoRedoEnabled());
  EXPECT_EQ(log->maximumBlockCount(), 0);
  EXPECT_EQ(log->palette().color(QPalette::Inactive, QPalette::Highlight),
            log->palette().color(QPalette::Active, QPalette::Highlight));

  LogInsertTopLine(std::string(2000, 'x'));
  QApplication::processEvents();
  EXPECT_EQ(LogLineCount(), 1);
  EXPECT_GT(log->horizontalScrollBar()->maximum(), 0);

  // Enter starts a new line.
  log->setFocus();
  log->moveCursor(QTextCursor::Start);
  QTest::keyClicks(log, "ab");
  QTest::keyClick(log, Qt::Key_Return);
  EXPECT_EQ(LogLine(0), "ab");
  EXPECT_EQ(LogLine(1), std::string(2000, 'x'));
}

TEST_F(MainWindowTest, VolumeBarRunsFromZeroToSeventyFive) {
  auto* bar = qobject_cast<QScrollBar*>(ControlWidget(volumeBar));
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum() + bar->pageStep(), 100);
  EXPECT_EQ(bar->pageStep(), 25);
  EXPECT_EQ(bar->singleStep(), 1);
  bar->setValue(100);
  EXPECT_EQ(bar->value(), 75);
}

TEST_F(MainWindowTest, DeviceListKeepsInsertionOrderDataAndNoSelectionUntilOneIsMade) {
  EXPECT_EQ(DeviceListSelected(), -1);
  EXPECT_EQ(DeviceListData(0), -1);
  DeviceListInsert(0, "\\\\.\\COM3 MODEL B");
  DeviceListSetData(0, 3);
  DeviceListInsert(0, "\\\\.\\COM7 MODEL A");
  DeviceListSetData(0, 7);
  DeviceListInsert(-1, "\\\\.\\COM9 MODEL C");  // appended
  DeviceListSetData(2, 9);
  EXPECT_EQ(DeviceListCount(), 3);
  EXPECT_EQ(DeviceListSelected(), -1);
  EXPECT_EQ(ControlText(deviceList), "");

  auto* list = qobject_cast<QComboBox*>(ControlWidget(deviceList));
  EXPECT_EQ(list->itemText(0).toStdString(), "\\\\.\\COM7 MODEL A");
  EXPECT_EQ(list->itemText(1).toStdString(), "\\\\.\\COM3 MODEL B");
  EXPECT_EQ(DeviceListData(0), 7);
  EXPECT_EQ(DeviceListData(1), 3);
  EXPECT_EQ(DeviceListData(2), 9);
  EXPECT_EQ(DeviceListData(3), -1);
  EXPECT_EQ(DeviceListData(-1), -1);

  DeviceListSelect(1);
  EXPECT_EQ(DeviceListSelected(), 1);
  EXPECT_EQ(ControlText(deviceList), "\\\\.\\COM3 MODEL B");
  DeviceListSelect(5);
  EXPECT_EQ(DeviceListSelected(), -1);

  DeviceListSetData(1, -2147483647 - 1);
  EXPECT_EQ(DeviceListData(1), -2147483647 - 1);

  DeviceListSetToolTip(0, "/dev/ttyUSB0");
  EXPECT_EQ(list->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyUSB0"));

  DeviceListClear();
  EXPECT_EQ(DeviceListCount(), 0);
  EXPECT_EQ(DeviceListSelected(), -1);
}

TEST_F(MainWindowTest, OpenDeviceListReachesAtMost350PixelsDownFromTheBox) {
  for (int i = 0; i < 60; ++i) {
    DeviceListInsert(i, "\\\\.\\COM" + std::to_string(i) + " MODEL");
  }
  auto* list = qobject_cast<QComboBox*>(ControlWidget(deviceList));
  list->showPopup();
  QWidget* popup = list->view()->window();
  ASSERT_TRUE(popup->isVisible());
  const int boxTop = list->mapToGlobal(QPoint(0, 0)).y();
  EXPECT_GE(popup->geometry().top(), boxTop + list->height() - 1);
  EXPECT_LE(popup->geometry().bottom() + 1 - boxTop, 350);
  EXPECT_TRUE(list->view()->verticalScrollBar()->isVisible());
  list->hidePopup();
}

// Text from outside is never read as markup.
TEST_F(MainWindowTest, MarkupIsShownAsText) {
  const std::string markup = "<b>x</b>";
  SetControlText(statusLine, "x");
  const int plainWidth = ControlWidget(statusLine)->sizeHint().width();
  SetControlText(statusLine, markup);
  EXPECT_EQ(ControlText(statusLine), markup);
  EXPECT_GT(ControlWidget(statusLine)->sizeHint().width(), plainWidth);

  LogInsertTopLine(markup);
  EXPECT_EQ(LogLine(0), markup);
  EXPECT_EQ(qobject_cast<QPlainTextEdit*>(ControlWidget(logView))->document()->toPlainText().toStdString(),
            markup + "\n");

  SetControlText(dbmDisplay, markup);
  EXPECT_EQ(ControlText(dbmDisplay), markup);

  DeviceListInsert(0, markup);
  DeviceListSetToolTip(0, markup);
  auto* list = qobject_cast<QComboBox*>(ControlWidget(deviceList));
  EXPECT_EQ(list->itemText(0).toStdString(), markup);
  const QString tip = list->itemData(0, Qt::ToolTipRole).toString();
  QTextDocument shown;
  shown.setHtml(tip);
  EXPECT_EQ(shown.toPlainText().toStdString(), markup);
}

TEST_F(MainWindowTest, EveryByteSurvivesTheWidgets) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) {
    all.push_back(static_cast<char>(byte));
  }
  for (int id : {dbmDisplay, percentDisplay, timerDisplay, statusLine, creditLink}) {
    SCOPED_TRACE(id);
    SetControlText(id, all);
    EXPECT_EQ(ControlText(id), all);
  }
  std::string lineText;
  for (char byte : all) {
    if (byte != '\n' && byte != '\r') {
      lineText.push_back(byte);
    }
  }
  LogInsertTopLine(lineText);
  EXPECT_EQ(LogLine(0), lineText);
  LogReplaceLine(0, lineText + "x");
  EXPECT_EQ(LogLine(0), lineText + "x");

  DeviceListInsert(0, all);
  DeviceListSelect(0);
  EXPECT_EQ(ControlText(deviceList), all);
}

TEST_F(MainWindowTest, LogLinesAreAddressedFromTheTop) {
  EXPECT_EQ(LogLineCount(), 0);
  EXPECT_EQ(LogLine(0), "");
  LogInsertTopLine("first");
  LogInsertTopLine("second");
  LogInsertTopLine("");
  EXPECT_EQ(LogLineCount(), 3);
  EXPECT_EQ(LogLine(0), "");
  EXPECT_EQ(LogLine(1), "second");
  EXPECT_EQ(LogLine(2), "first");
  EXPECT_EQ(LogLine(3), "");
  EXPECT_EQ(LogLine(-1), "");

  LogReplaceLine(1, "2nd");
  LogReplaceLine(7, "nowhere");
  LogAppendToLine(2, " and more");
  EXPECT_EQ(ControlText(logView), "\n2nd\nfirst and more\n");
}

}  // namespace
