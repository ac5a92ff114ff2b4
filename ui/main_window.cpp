#include "ui/main_window.h"

#include <qdrawutil.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QWidget>
#include <array>

#include "ui/app_state.h"
#include "ui/text_1252.h"
#include "ui/window_events.h"

namespace {

constexpr QPoint kWindowOuterTopLeft(165, 25);
constexpr QSize kWindowInnerSize(1024, 620);
constexpr int kListReachPx = 350;  // closed box and open list together, from the box's top
constexpr int kVolumeRange = 100;
constexpr int kVolumePage = 25;
constexpr int kDialogFontPt = 8;

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

struct ControlEntry {
  const char* name;
  int32_t id;  // -1: addressed by nobody
  Kind kind;
  QRect geometry;
  const char* text;  // Windows-1252
  const char* accessibleName;
};

// Creation order.
const std::array<ControlEntry, 22> kControls = {{
    {"dbmDisplay", dbmDisplay, Kind::kTextField, {5, 30, 520, 285}, "0", "Signal in dBm"},
    {"percentDisplay", percentDisplay, Kind::kTextField, {530, 30, 490, 285}, "0%", "Signal in percent"},
    {"logView", logView, Kind::kLogEditor, {455, 360, 560, 250}, "", "Activity log"},
    {"timerDisplay", timerDisplay, Kind::kTextField, {345, 475, 90, 20}, "Timer", "Monitoring time"},
    {"optionsFrame", optionsFrame, Kind::kGroupFrame, {5, 355, 445, 180}, "", "Options"},
    {"deviceCaption", deviceCaption, Kind::kCaption, {15, 390, 85, 15}, "Select a Device", "Select a Device"},
    {"deviceList", deviceList, Kind::kDropDownList, {105, 385, 335, 20}, "", "Select a Device"},
    {"soundCheck", soundCheck, Kind::kCheckBox, {15, 420, 180, 20}, "Sound ON/OFF", "Sound ON/OFF"},
    {"monitorButton", monitorButton, Kind::kPushButton, {10, 550, 165, 25}, "Monitor", "Monitor"},
    {"stopButton", stopButton, Kind::kPushButton, {10, 585, 165, 25}, "Stop", "Stop"},
    {"timerCaption", timerCaption, Kind::kCaption, {295, 475, 50, 15}, "Timer:", "Timer:"},
    {"volumeBar", volumeBar, Kind::kScrollBar, {15, 445, 420, 15}, "", "Volume"},
    {"volumeCaption", volumeCaption, Kind::kCaption, {15, 460, 75, 15}, "Volume", "Volume"},
    {"endButton", endButton, Kind::kPushButton, {310, 585, 140, 25}, "END", "END"},
    {"logCaption", logCaption, Kind::kCaption, {460, 345, 140, 15}, "LOG", "LOG"},
    {"optionsCaption", -1, Kind::kCaption, {10, 345, 140, 15}, "Options", "Options"},
    {"statusLine", statusLine, Kind::kSunkenCaption, {5, 515, 445, 20}, "lblBar", "Status line"},
    {"enumerateButton",
     enumerateButton,
     Kind::kPushButton,
     {300, 405, 140, 20},
     "Enumerate Devices",
     "Enumerate Devices"},
    {"titleCaption", titleCaption, Kind::kCaption, {5, 10, 185, 15}, "Quelvane", "Quelvane"},
    {"creditLink", creditLink, Kind::kTextField, {530, 10, 480, 15}, kCreditText, "Credit line"},
    {"dbmUnitCaption", dbmUnitCaption, Kind::kCaption, {170, 315, 80, 40}, "dBm", "dBm"},
    {"percentUnitCaption", percentUnitCaption, Kind::kCaption, {710, 315, 160, 40}, "Percent (%)", "Percent (%)"},
}};

class MainWindow final : public QWidget {
 public:
  MainWindow()
      : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                             Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint) {}

 protected:
  // The close box only asks; the program decides and then destroys the window.
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    QueueCloseRequest();
  }

  // A fixed border: maximising may enlarge the window, dragging the border may not (the
  // minimum size stops it shrinking; growing is taken back). A size the window manager
  // imposes below the minimum, on a small screen, is left alone.
  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    QTimer::singleShot(0, this, [this] {
      const bool normal = (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) == 0;
      if (normal && (width() > kWindowInnerSize.width() || height() > kWindowInnerSize.height())) {
        resize(kWindowInnerSize);
      }
    });
  }
};

// An etched rectangle whose top edge sits half a text line down, where a title would be.
class GroupFrame final : public QFrame {
 public:
  using QFrame::QFrame;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QRect box = rect().adjusted(0, fontMetrics().height() / 2, 0, 0);
    qDrawShadeRect(&painter, box, palette(), true, 1, 0);
  }
};

// Tab is typed into the log; Shift+Tab still moves the focus back.
class LogEditor final : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  bool focusNextPrevChild(bool next) override {
    if (!next) {
      return QWidget::focusNextPrevChild(false);
    }
    return QPlainTextEdit::focusNextPrevChild(next);
  }
};

class DeviceListBox final : public QComboBox {
 public:
  explicit DeviceListBox(QWidget* parent) : QComboBox(parent) {}

  void showPopup() override {
    const int rowPx = count() > 0 ? qMax(1, view()->sizeHintForRow(0)) : fontMetrics().height();
    setMaxVisibleItems(qMax(1, (kListReachPx - height() - 4) / rowPx));  // 4: the list's frame
    QComboBox::showPopup();
    QWidget* popup = view()->window();
    const int reachBottom = mapToGlobal(QPoint(0, 0)).y() + kListReachPx;
    const QRect shown = popup->geometry();
    if (shown.top() < reachBottom && shown.bottom() + 1 > reachBottom) {
      popup->resize(shown.width(), reachBottom - shown.top());
    }
    QueueControlEvent(deviceList, WindowEvent::kListOpened);
  }

  void hidePopup() override {
    QComboBox::hidePopup();
    QueueControlEvent(deviceList, WindowEvent::kListClosed);
  }
};

struct Window {
  MainWindow* window = nullptr;
  std::array<QWidget*, kControlCount> controls{};
};

Window& TheWindow() {
  static Window window;
  return window;
}

QWidget* Control(int32_t id) {
  if (id < 0 || id >= kControlCount) {
    return nullptr;
  }
  return TheWindow().controls[static_cast<std::size_t>(id)];
}

QPlainTextEdit* Log() { return static_cast<QPlainTextEdit*>(Control(logView)); }
QComboBox* List() { return static_cast<QComboBox*>(Control(deviceList)); }
QCheckBox* Check() { return static_cast<QCheckBox*>(Control(soundCheck)); }

int32_t FocusReportingControl(const QObject* object) {
  for (int32_t id : {dbmDisplay, percentDisplay, timerDisplay, creditLink, deviceList}) {
    if (Control(id) == object && object != nullptr) {
      return id;
    }
  }
  return -1;
}

// Signal bars in a rounded square.
QIcon ProgramIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = side / 16.0;
    QPainterPath tile;
    tile.addRoundedRect(QRectF(0.5, 0.5, side - 1.0, side - 1.0), 3 * unit, 3 * unit);
    painter.fillPath(tile, QColor(0x1F, 0x4E, 0x79));
    for (int bar = 0; bar < 4; ++bar) {
      const qreal height = (bar + 1) * 2.75 * unit;
      painter.fillRect(QRectF((2.5 + bar * 3) * unit, (13.5 * unit) - height, 2 * unit, height),
                       bar < 3 ? QColor(0x7F, 0xE0, 0x8A) : QColor(0xE0, 0xE6, 0xEE));
    }
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QWidget* CreateControl(const ControlEntry& entry, QWidget* parent) {
  const QString text = QStringFrom1252(entry.text);
  QWidget* widget = nullptr;
  switch (entry.kind) {
    case Kind::kTextField: {
      auto* field = new QLineEdit(text, parent);
      field->setFocusPolicy(Qt::StrongFocus);
      if (entry.id == creditLink) {
        field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        field->setCursorPosition(0);
      }
      widget = field;
      break;
    }
    case Kind::kLogEditor: {
      auto* log = new LogEditor(parent);
      log->setLineWrapMode(QPlainTextEdit::NoWrap);
      log->setWordWrapMode(QTextOption::NoWrap);
      log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      log->setUndoRedoEnabled(false);
      log->setTabChangesFocus(false);
      log->setFocusPolicy(Qt::StrongFocus);
      // The selection stays as visible as with the focus.
      QPalette palette = log->palette();
      for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
      }
      log->setPalette(palette);
      widget = log;
      break;
    }
    case Kind::kCaption:
    case Kind::kSunkenCaption: {
      auto* caption = new QLabel(parent);
      caption->setTextFormat(Qt::PlainText);
      caption->setText(text);
      caption->setFocusPolicy(Qt::NoFocus);
      caption->setTextInteractionFlags(Qt::NoTextInteraction);
      caption->setAutoFillBackground(true);
      const bool centred = entry.id == dbmUnitCaption || entry.id == percentUnitCaption;
      caption->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
      if (entry.kind == Kind::kSunkenCaption) {
        caption->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        caption->setLineWidth(1);
        caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      }
      widget = caption;
      break;
    }
    case Kind::kGroupFrame: {
      auto* frame = new GroupFrame(parent);
      frame->setFocusPolicy(Qt::NoFocus);
      widget = frame;
      break;
    }
    case Kind::kDropDownList: {
      auto* list = new DeviceListBox(parent);
      list->setEditable(false);
      list->setInsertPolicy(QComboBox::NoInsert);
      list->setFocusPolicy(Qt::StrongFocus);
      // The list opens below the box, as many rows as fit, instead of over it.
      list->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
      widget = list;
      break;
    }
    case Kind::kCheckBox:
      widget = new QCheckBox(text, parent);
      widget->setFocusPolicy(Qt::StrongFocus);
      break;
    case Kind::kPushButton:
      widget = new QPushButton(text, parent);
      widget->setFocusPolicy(Qt::StrongFocus);
      static_cast<QPushButton*>(widget)->setAutoDefault(false);
      break;
    case Kind::kScrollBar: {
      auto* bar = new QScrollBar(Qt::Horizontal, parent);
      bar->setRange(0, kVolumeRange - kVolumePage);
      bar->setPageStep(kVolumePage);
      bar->setSingleStep(1);
      bar->setValue(0);
      bar->setFocusPolicy(Qt::NoFocus);
      widget = bar;
      break;
    }
  }
  widget->setObjectName(QString::fromLatin1(entry.name));
  widget->setAccessibleName(QString::fromLatin1(entry.accessibleName));
  widget->setGeometry(entry.geometry);
  return widget;
}

// Control events are reported from here on; the initial texts raise none.
void ConnectControlEvents() {
  for (int32_t id : {dbmDisplay, percentDisplay, timerDisplay, creditLink}) {
    QObject::connect(static_cast<QLineEdit*>(Control(id)), &QLineEdit::textChanged,
                     [id] { QueueControlEvent(id, WindowEvent::kTextChanged); });
  }
  QObject::connect(Check(), &QCheckBox::clicked, [] { QueueControlEvent(soundCheck, WindowEvent::kToggled); });
  for (int32_t id : {monitorButton, stopButton, endButton, enumerateButton}) {
    QObject::connect(static_cast<QPushButton*>(Control(id)), &QPushButton::clicked,
                     [id] { QueueControlEvent(id, WindowEvent::kClicked); });
  }
  QObject::connect(static_cast<QScrollBar*>(Control(volumeBar)), &QScrollBar::valueChanged,
                   [] { QueueControlEvent(volumeBar, WindowEvent::kMoved); });
  QObject::connect(List(), &QComboBox::activated,
                   [] { QueueControlEvent(deviceList, WindowEvent::kSelectionChanged); });
}

QTextBlock LogBlock(int32_t index) {
  QPlainTextEdit* log = Log();
  if (log == nullptr || index < 0) {
    return {};
  }
  return log->document()->findBlockByNumber(index);
}

QString ToolTipText(std::string_view bytes) {
  const QString text = QStringFrom1252(bytes);
  // Tool tips have no plain-text switch; escape anything that could pass for markup.
  if (Qt::mightBeRichText(text)) {
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
  }
  return text;
}

}  // namespace

void CreateMainWindow() {
  DestroyMainWindow();
  Window& built = TheWindow();

  auto* window = new MainWindow();
  window->setObjectName(QStringLiteral("MainWindow"));
  window->setWindowTitle(QStringLiteral("Quelvane"));
  window->setWindowIcon(ProgramIcon());
  window->setCursor(Qt::ArrowCursor);
  window->setMinimumSize(kWindowInnerSize);
  window->resize(kWindowInnerSize);
  window->move(kWindowOuterTopLeft);
  window->setFocusPolicy(Qt::NoFocus);
  window->setAccessibleName(QStringLiteral("Quelvane"));
  // The pixel layout is drawn for an 8-point dialog face of these metrics; every control
  // without a font of its own inherits it (a larger desktop default would cut its captions).
  window->setFont(QFont(QStringLiteral("Arial"), kDialogFontPt, QFont::Normal));
  built.window = window;

  for (const ControlEntry& entry : kControls) {
    QWidget* widget = CreateControl(entry, window);
    if (entry.id >= 0) {
      built.controls[static_cast<std::size_t>(entry.id)] = widget;
    }
  }

  State().soundFlag = 0;
  SetSoundCheckState(0);

  const QFont displayFont(QStringLiteral("Arial"), 140, QFont::Bold);
  const QFont unitFont(QStringLiteral("Arial"), 16, QFont::Bold);
  const QFont logFont(QStringLiteral("Courier New"), 8, QFont::Normal);
  Control(dbmDisplay)->setFont(displayFont);
  Control(percentDisplay)->setFont(displayFont);
  Control(dbmUnitCaption)->setFont(unitFont);
  Control(percentUnitCaption)->setFont(unitFont);
  Control(logView)->setFont(logFont);

  const std::array<int32_t, 11> tabOrder = {dbmDisplay, percentDisplay,  logView,       timerDisplay,
                                            deviceList, soundCheck,      monitorButton, stopButton,
                                            endButton,  enumerateButton, creditLink};
  for (std::size_t i = 0; i + 1 < tabOrder.size(); ++i) {
    QWidget::setTabOrder(Control(tabOrder[i]), Control(tabOrder[i + 1]));
  }

  ConnectControlEvents();
  WatchApplicationEvents(FocusReportingControl);

  window->show();
  // The window itself holds the focus, so no control has it until the user gives it one.
  window->setFocus(Qt::OtherFocusReason);
}

void DestroyMainWindow() {
  Window& built = TheWindow();
  MainWindow* window = built.window;
  built = Window{};
  ResetWindowEvents();
  delete window;
}

QWidget* MainWindowWidget() { return TheWindow().window; }

QWidget* ControlWidget(int32_t id) { return Control(id); }

void SetControlText(int32_t id, std::string_view text) {
  QWidget* widget = Control(id);
  const QString value = QStringFrom1252(text);
  if (auto* field = qobject_cast<QLineEdit*>(widget)) {
    field->setText(value);
  } else if (auto* caption = qobject_cast<QLabel*>(widget)) {
    caption->setText(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* editor = qobject_cast<QPlainTextEdit*>(widget)) {
    editor->setPlainText(value);
  }
}

std::string ControlText(int32_t id) {
  QWidget* widget = Control(id);
  if (auto* field = qobject_cast<QLineEdit*>(widget)) {
    return BytesFrom1252(field->text());
  }
  if (auto* caption = qobject_cast<QLabel*>(widget)) {
    return BytesFrom1252(caption->text());
  }
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    return BytesFrom1252(button->text());
  }
  if (auto* editor = qobject_cast<QPlainTextEdit*>(widget)) {
    return BytesFrom1252(editor->toPlainText());
  }
  if (auto* list = qobject_cast<QComboBox*>(widget)) {
    return BytesFrom1252(list->currentText());
  }
  return {};
}

void LogInsertTopLine(std::string_view text) {
  QPlainTextEdit* log = Log();
  if (log == nullptr) {
    return;
  }
  // One edit block: the layout is updated once, not once per character run.
  QTextCursor cursor(log->document());
  cursor.beginEditBlock();
  cursor.insertText(QStringFrom1252(text) + QLatin1Char('\n'));
  cursor.endEditBlock();
}

std::string LogLine(int32_t index) {
  const QTextBlock block = LogBlock(index);
  return block.isValid() ? BytesFrom1252(block.text()) : std::string();
}

void LogReplaceLine(int32_t index, std::string_view text) {
  const QTextBlock block = LogBlock(index);
  if (!block.isValid()) {
    return;
  }
  QTextCursor cursor(block);
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(QStringFrom1252(text));
  cursor.endEditBlock();
}

void LogAppendToLine(int32_t index, std::string_view text) {
  const QTextBlock block = LogBlock(index);
  if (!block.isValid() || text.empty()) {
    return;
  }
  QTextCursor cursor(block);
  cursor.beginEditBlock();
  cursor.movePosition(QTextCursor::EndOfBlock);
  cursor.insertText(QStringFrom1252(text));
  cursor.endEditBlock();
}

int32_t LogLineCount() {
  QPlainTextEdit* log = Log();
  return log == nullptr ? 0 : log->document()->blockCount() - 1;
}

void DeviceListClear() {
  if (QComboBox* list = List()) {
    list->clear();
  }
}

void DeviceListInsert(int32_t index, std::string_view text) {
  QComboBox* list = List();
  if (list == nullptr) {
    return;
  }
  if (index < 0 || index > list->count()) {
    index = list->count();
  }
  // Inserting never selects: an empty list stays without a selection until one is made.
  const int selected = list->currentIndex();
  list->insertItem(index, QStringFrom1252(text));
  if (selected < 0 && list->currentIndex() >= 0) {
    list->setCurrentIndex(-1);
  }
}

void DeviceListSetData(int32_t index, int32_t data) {
  QComboBox* list = List();
  if (list != nullptr && index >= 0 && index < list->count()) {
    list->setItemData(index, QVariant::fromValue<int32_t>(data));
  }
}

int32_t DeviceListData(int32_t index) {
  QComboBox* list = List();
  if (list == nullptr || index < 0 || index >= list->count()) {
    return -1;
  }
  const QVariant data = list->itemData(index);
  return data.isValid() ? data.value<int32_t>() : 0;
}

void DeviceListSetToolTip(int32_t index, std::string_view text) {
  QComboBox* list = List();
  if (list != nullptr && index >= 0 && index < list->count()) {
    list->setItemData(index, ToolTipText(text), Qt::ToolTipRole);
  }
}

void DeviceListSelect(int32_t index) {
  QComboBox* list = List();
  if (list != nullptr) {
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
  }
}

int32_t DeviceListSelected() {
  QComboBox* list = List();
  return list == nullptr ? -1 : list->currentIndex();
}

int32_t DeviceListCount() {
  QComboBox* list = List();
  return list == nullptr ? 0 : list->count();
}

int32_t SoundCheckState() {
  QCheckBox* check = Check();
  return (check != nullptr && check->isChecked()) ? 1 : 0;
}

void SetSoundCheckState(int32_t state) {
  if (QCheckBox* check = Check()) {
    check->setChecked(state != 0);
  }
}
