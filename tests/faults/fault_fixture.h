#pragma once
// What the fault tests share: the whole program against the simulated modem, with the tick
// counter, the tone, the browser, the message box and the port list replaced, and every serial
// device call watched on its way to the real one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QComboBox>
#include <QVariant>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/port_list.h"
#include "testing/elapsed.h"
#include "platform/serial_device.h"
#include "platform/tick_counter.h"
#include "platform/tone.h"
#include "serial/serial_port.h"
#include "tools/modem-sim/sim/modem_sim.h"
#include "ui/app_state.h"
#include "ui/main_window.h"
#include "ui/message_box.h"
#include "ui/shell/shell.h"
#include "ui/text_1252.h"

namespace faults {

using testing_time::Clock;

// A bound on real time that only a hang exceeds; the exchanges themselves take well under a second.
inline constexpr int64_t kGenerousMs = 10000;

using testing_time::MsSince;

// Ends the program with a message when a test is still running after its limit: a hang inside
// the program (an exchange or a drain that never ends) fails at once instead of at ctest's
// time-out.
class HangGuard {
 public:
  HangGuard(std::string name, std::chrono::milliseconds limit)
      : thread_([this, name, limit] {
          std::unique_lock lock(mutex_);
          if (!released_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "%s is still running after %lld ms: the program hangs\n", name.c_str(),
                         static_cast<long long>(limit.count()));
            std::abort();
          }
        }) {}
  ~HangGuard() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    released_.notify_all();
    thread_.join();
  }
  HangGuard(const HangGuard&) = delete;
  HangGuard& operator=(const HangGuard&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool done_ = false;
  std::thread thread_;
};

inline constexpr std::chrono::milliseconds kTestLimit{60000};

inline uint32_t fakeNow = 0;
inline uint32_t fakeStep = 0;  // added after every read of the counter
inline uint32_t FakeTick() {
  const uint32_t now = fakeNow;
  fakeNow += fakeStep;
  return now;
}

using Tone = std::pair<int32_t, int32_t>;
inline std::vector<Tone> tones;
inline void RecordTone(int32_t hz, int32_t ms) { tones.emplace_back(hz, ms); }

inline std::vector<std::string> boxes;
inline void RecordBox(std::string_view, std::string_view text) { boxes.emplace_back(text); }

inline std::vector<std::string> browsed;
inline void RecordBrowser(const std::string& url) { browsed.push_back(url); }

inline std::vector<std::string> portPaths;
inline PortList ListedPorts() { return {true, 0, portPaths}; }

// One command and its reply as the device saw them.
struct DeviceExchange {
  int32_t portNumber = -1;
  std::string command;  // the bytes written
  std::string reply;    // every byte the read requests delivered, NULs included
  int32_t readRequests = 0;
};

struct DeviceWatch {
  std::map<int, int32_t> portOfFd;
  // The opening and configuring calls, each as "<call> <port>", with " failed" when it failed.
  std::vector<std::string> calls;
  std::vector<DeviceExchange> exchanges;
  // Test actions at exact points of an exchange: before its command is written, after each
  // read request.
  std::function<void(const DeviceExchange&)> beforeWrite;
  std::function<void(const DeviceExchange&)> afterRead;
};
inline DeviceWatch watch;

inline int32_t PortOfFd(int fd) {
  const auto it = watch.portOfFd.find(fd);
  return it == watch.portOfFd.end() ? -1 : it->second;
}

inline void NoteCall(const char* call, int32_t portNumber, bool ok) {
  watch.calls.push_back(std::string(call) + " " + std::to_string(portNumber) + (ok ? "" : " failed"));
}

inline int WatchedOpen(int32_t portNumber) {
  const int fd = RealSerialDeviceCalls().open(portNumber);
  NoteCall("open", portNumber, fd >= 0);
  if (fd >= 0) watch.portOfFd[fd] = portNumber;
  return fd;
}
inline bool WatchedReadSettings(int fd, DCB& settings) {
  const bool ok = RealSerialDeviceCalls().readSettings(fd, settings);
  NoteCall("readSettings", PortOfFd(fd), ok);
  return ok;
}
inline bool WatchedApplySettings(int fd, const DCB& settings) {
  const bool ok = RealSerialDeviceCalls().applySettings(fd, settings);
  NoteCall("applySettings", PortOfFd(fd), ok);
  return ok;
}
inline bool WatchedApplyTimeouts(int fd, const COMMTIMEOUTS& timeouts) {
  const bool ok = RealSerialDeviceCalls().applyTimeouts(fd, timeouts);
  NoteCall("applyTimeouts", PortOfFd(fd), ok);
  return ok;
}
inline bool WatchedSetQueueSizes(int fd, int32_t inputSize, int32_t outputSize) {
  const bool ok = RealSerialDeviceCalls().setQueueSizes(fd, inputSize, outputSize);
  NoteCall("setQueueSizes", PortOfFd(fd), ok);
  return ok;
}
inline bool WatchedWrite(int fd, const char* bytes, int32_t count, int32_t& written) {
  DeviceExchange exchange;
  exchange.portNumber = PortOfFd(fd);
  exchange.command.assign(bytes, static_cast<std::size_t>(count));
  watch.exchanges.push_back(exchange);
  if (watch.beforeWrite) watch.beforeWrite(watch.exchanges.back());
  return RealSerialDeviceCalls().write(fd, bytes, count, written);
}
inline bool WatchedReadRequest(int fd, char* buffer, int32_t count, int32_t& delivered) {
  const bool ok = RealSerialDeviceCalls().readRequest(fd, buffer, count, delivered);
  if (watch.exchanges.empty()) watch.exchanges.emplace_back();
  DeviceExchange& exchange = watch.exchanges.back();
  if (delivered > 0) exchange.reply.append(buffer, static_cast<std::size_t>(delivered));
  ++exchange.readRequests;
  if (watch.afterRead) watch.afterRead(exchange);
  return ok;
}
inline bool WatchedClose(int fd) {
  const bool ok = RealSerialDeviceCalls().close(fd);
  NoteCall("close", PortOfFd(fd), ok);
  watch.portOfFd.erase(fd);
  return ok;
}

inline void WatchDeviceCalls() {
  SerialDeviceCalls& calls = TheSerialDeviceCalls();
  calls = RealSerialDeviceCalls();
  calls.open = WatchedOpen;
  calls.readSettings = WatchedReadSettings;
  calls.applySettings = WatchedApplySettings;
  calls.applyTimeouts = WatchedApplyTimeouts;
  calls.setQueueSizes = WatchedSetQueueSizes;
  calls.write = WatchedWrite;
  calls.readRequest = WatchedReadRequest;
  calls.close = WatchedClose;
}

// The calls of one port, in order.
inline std::vector<std::string> CallsOf(int32_t portNumber) {
  const std::string suffix = " " + std::to_string(portNumber);
  std::vector<std::string> mine;
  for (const std::string& call : watch.calls) {
    const std::size_t space = call.find(' ');
    if (call.compare(space, std::string::npos, suffix) == 0 ||
        call.compare(space, std::string::npos, suffix + " failed") == 0) {
      mine.push_back(call);
    }
  }
  return mine;
}

// A log line prefix: the number right-aligned to six, then ": ".
inline std::string P(int32_t number) {
  std::string text = std::to_string(number);
  return std::string(text.size() < 6 ? 6 - text.size() : 0, ' ') + text + ": ";
}

// The log from the top line down.
inline std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  for (int32_t i = 0; i < LogLineCount(); ++i) lines.push_back(LogLine(i));
  return lines;
}

inline std::vector<std::string> TopLines(std::size_t count) {
  std::vector<std::string> lines = LogLines();
  lines.resize(std::min(lines.size(), count));
  return lines;
}

struct Item {
  std::string text;
  int32_t data;
  bool operator==(const Item&) const = default;
};

inline void PrintTo(const Item& item, std::ostream* out) { *out << "{\"" << item.text << "\", " << item.data << "}"; }

inline std::vector<Item> DeviceItems() {
  std::vector<Item> items;
  auto* list = qobject_cast<QComboBox*>(ControlWidget(deviceList));
  for (int i = 0; list != nullptr && i < list->count(); ++i) {
    items.push_back({BytesFrom1252(list->itemText(i)), DeviceListData(i)});
  }
  return items;
}

inline std::vector<std::string> CommandsOf(const ModemSim& sim, int32_t port) {
  std::vector<std::string> texts;
  for (const SimCommand& command : sim.Received(port)) texts.push_back(command.text);
  return texts;
}

// Descriptors of this process open on the device.
inline int OpenDescriptors(const std::string& path) {
  int count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) == path) ++count;
  }
  return count;
}

inline void ForgetQueuedEvents() {
  WindowEvent event;
  while (TakeQueuedEvent(event)) {
  }
}

// One pass of the event loop over an event of no control, or over a control's event.
inline bool Pass() { return RunLoopPass(WindowEvent{}); }
inline bool Press(int32_t id) { return RunLoopPass(WindowEvent{WindowEvent::kControl, id, WindowEvent::kClicked}); }

// A fresh directory under the system's temporary directory.
inline std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quelvane-faults-XXXXXX").string();
  const char* made = mkdtemp(pattern.data());
  return made != nullptr ? std::string(made) : std::string();
}

class FaultTest : public ::testing::Test {
 protected:
  explicit FaultTest(int32_t ports)
      : guard_(::testing::UnitTest::GetInstance()->current_test_info()->name(), kTestLimit), sim_(ports) {}

  void SetUp() override {
    ASSERT_TRUE(sim_.Ok()) << sim_.Error();
    portPaths.clear();
    for (int32_t p = 0; p < sim_.PortCount(); ++p) portPaths.push_back(sim_.SlavePath(p));
    SetPortListSource(ListedPorts);
    fakeNow = 100000;
    fakeStep = 0;
    SetTickSource(FakeTick);
    tones.clear();
    SetToneFunction(RecordTone);
    browsed.clear();
    savedBrowser_ = gStartBrowser;
    gStartBrowser = RecordBrowser;
    boxes.clear();
    SetMessageBoxFunction(RecordBox);
    watch = DeviceWatch{};
    WatchDeviceCalls();
  }

  void TearDown() override {
    ShutDown();
    ClosePort(State().port);
    TheSerialDeviceCalls() = RealSerialDeviceCalls();
    watch = DeviceWatch{};
    SetPortListSource(nullptr);
    SetTickSource(nullptr);
    SetToneFunction(nullptr);
    SetMessageBoxFunction(nullptr);
    gStartBrowser = savedBrowser_;
    EXPECT_TRUE(boxes.empty());
  }

  template <typename Change>
  void ChangeScript(int32_t port, Change change) {
    SimPortScript script = sim_.Script(port);
    change(script);
    sim_.SetScript(port, script);
  }

  // Selects the deviceList item of a port, as the user picks it.
  static void SelectDevice(int32_t portNumber) {
    for (int32_t i = 0; i < DeviceListCount(); ++i) {
      if (DeviceListData(i) == portNumber) {
        DeviceListSelect(i);
        return;
      }
    }
    ADD_FAILURE() << "port " << portNumber << " is not listed";
  }

  HangGuard guard_;
  ModemSim sim_;

 private:
  void (*savedBrowser_)(const std::string&) = nullptr;
};

}  // namespace faults
