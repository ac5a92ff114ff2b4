#pragma once
// The main window and the toolkit adapter the rest of the program uses. Every control is
// addressed by its identifier; texts cross this boundary as Windows-1252 bytes.
#include <cstdint>
#include <string>
#include <string_view>

class QWidget;

enum ControlId : int32_t {
  dbmDisplay = 0,
  percentDisplay = 1,
  logView = 2,
  timerDisplay = 3,
  optionsFrame = 4,
  deviceCaption = 5,
  deviceList = 6,
  soundCheck = 7,
  monitorButton = 8,
  stopButton = 9,
  timerCaption = 10,
  volumeBar = 11,
  volumeCaption = 12,
  titleCaption = 13,
  creditLink = 14,
  endButton = 15,
  logCaption = 16,
  statusLine = 17,
  enumerateButton = 18,
  dbmUnitCaption = 19,
  percentUnitCaption = 20,
};

inline constexpr int32_t kMainWindowId = 0;
inline constexpr int32_t kControlCount = 21;  // identifiers 0 to 20

// The maker's web site that the credit line names and that a click on it opens.
inline constexpr char kMakerWebAddress[] = "https://quelvane.example.org";
inline constexpr char kCreditText[] =
    "Quelvane project - quelvane@example.org - quelvane.example.org - Click this label to jump to it";

// Builds and shows the window with all its controls; sets soundFlag to 0 and unchecks soundCheck.
void CreateMainWindow();
// Closes and deletes the window (shutdown, and between tests).
void DestroyMainWindow();
QWidget* MainWindowWidget();          // nullptr when there is none
QWidget* ControlWidget(int32_t id);   // nullptr for an identifier that names no control

// Text fields and captions.
void SetControlText(int32_t id, std::string_view text);
std::string ControlText(int32_t id);

// logView: line 0 is the top line.
void LogInsertTopLine(std::string_view text);
std::string LogLine(int32_t index);  // empty for an index past the end
void LogReplaceLine(int32_t index, std::string_view text);
// Adds text to the end of line i, leaving what is already there untouched (also characters the
// code page cannot hold, which a read and replace would turn into '?').
void LogAppendToLine(int32_t index, std::string_view text);
int32_t LogLineCount();              // lines ended by a line break

// deviceList.
void DeviceListClear();
void DeviceListInsert(int32_t index, std::string_view text);
void DeviceListSetData(int32_t index, int32_t data);
int32_t DeviceListData(int32_t index);  // -1 for an index that names no item
void DeviceListSetToolTip(int32_t index, std::string_view text);
void DeviceListSelect(int32_t index);
int32_t DeviceListSelected();           // -1 when none
int32_t DeviceListCount();

// soundCheck: 1 checked, 0 not.
int32_t SoundCheckState();
void SetSoundCheckState(int32_t state);

struct WindowEvent {
  enum Kind { kControl, kClose, kOther };
  // What happened to the control; the dispatch never looks at it.
  enum SubKind {
    kNoSubKind,
    kFocusGained,
    kFocusLost,
    kTextChanged,
    kToggled,
    kClicked,
    kMoved,
    kSelectionChanged,
    kListOpened,
    kListClosed,
  };
  Kind kind = kOther;
  int32_t id = -1;  // the control for kControl, the window for kClose
  SubKind subKind = kNoSubKind;
};

// Blocks until the next event: a control event, a close request of the main window,
// or any other message the window system delivers. Uses no processor time while idle.
WindowEvent WaitForEvent();
// Takes the oldest control event or close request already raised, without waiting;
// false when none is queued.
bool TakeQueuedEvent(WindowEvent& event);
// Processes one round of pending window-system work without running any handler of the
// program; false when nothing was pending. Control events raised meanwhile are kept for WaitForEvent.
bool ProcessPendingMessage();
// While non-zero, the event wait also returns at least this often (a precise timer); 0 stops it.
void SetWakeInterval(int32_t ms);
