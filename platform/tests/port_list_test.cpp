#include "platform/port_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A sysfs-like tree: <root>/class/tty/<name>/{device,type} and class/tty/console/active.
class SysfsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quelvane-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(TtyDir());
    fs::create_directories(root_ / "devices" / "serial");
    if (const char* ports = getenv("QUELVANE_PORTS")) savedPorts_ = ports, hadPorts_ = true;
    unsetenv("QUELVANE_PORTS");
  }
  void TearDown() override {
    fs::remove_all(root_);
    if (hadPorts_) setenv("QUELVANE_PORTS", savedPorts_.c_str(), 1);
    else unsetenv("QUELVANE_PORTS");
    SetSysfsRoot("/sys");
    SetPortListSource(nullptr);
  }

  fs::path TtyDir() const { return root_ / "class" / "tty"; }

  // A serial device entry; an empty type writes no type file (USB and ACM devices have none).
  void AddDevice(const std::string& name, const std::string& type = "") {
    AddEntryWithoutDevice(name);
    fs::create_directory_symlink(root_ / "devices" / "serial", TtyDir() / name / "device");
    if (!type.empty()) std::ofstream(TtyDir() / name / "type") << type << "\n";
  }
  void AddEntryWithoutDevice(const std::string& name) { fs::create_directories(TtyDir() / name); }
  void SetConsoles(const std::string& active) {
    fs::create_directories(TtyDir() / "console");
    std::ofstream(TtyDir() / "console" / "active") << active << "\n";
  }

  fs::path root_;
  std::string savedPorts_;
  bool hadPorts_ = false;
};

TEST_F(SysfsTree, ListsSerialDevicesAndLeavesOutTheRest) {
  SetConsoles("tty0 ttyS0");
  for (const char* vt : {"tty", "tty0", "tty12", "console", "ptmx"}) AddEntryWithoutDevice(vt);
  AddDevice("tty1");                // a virtual terminal, even with a device link
  AddDevice("ttyS0", "4");          // the console
  AddDevice("ttyS1", "4");          // a 16550A
  AddDevice("ttyS2", "0");          // a UART slot without hardware
  AddDevice("ttyS3", "unknown");
  AddEntryWithoutDevice("rfcomm0"); // no device link
  AddDevice("ttyUSB0");
  AddDevice("ttyACM0");

  const PortList list = ScanSysfsPorts(root_.string());
  ASSERT_TRUE(list.ok);
  EXPECT_EQ(list.devicePaths, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyUSB0"}));
}

TEST_F(SysfsTree, OrdersNamesNaturally) {
  for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyS10", "ttyS9", "ttyAMA0", "ttyACM0", "ttyUSB1", "ttyS01x"}) {
    AddDevice(name);
  }
  const PortList list = ScanSysfsPorts(root_.string());
  ASSERT_TRUE(list.ok);
  EXPECT_EQ(list.devicePaths, (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyAMA0", "/dev/ttyS01x", "/dev/ttyS9",
                                                         "/dev/ttyS10", "/dev/ttyUSB1", "/dev/ttyUSB2",
                                                         "/dev/ttyUSB10"}));
}

TEST_F(SysfsTree, WithoutConsoleFileNothingIsTakenForTheConsole) {
  AddDevice("ttyS0", "4");
  const PortList list = ScanSysfsPorts(root_.string());
  ASSERT_TRUE(list.ok);
  EXPECT_EQ(list.devicePaths, (std::vector<std::string>{"/dev/ttyS0"}));
}

TEST_F(SysfsTree, UnreadableListIsAFailureWithItsErrno) {
  const PortList list = ScanSysfsPorts((root_ / "missing").string());
  EXPECT_FALSE(list.ok);
  EXPECT_EQ(list.error, ENOENT);
  EXPECT_TRUE(list.devicePaths.empty());
}

TEST_F(SysfsTree, EmptyTreeIsAnEmptyList) {
  const PortList list = ScanSysfsPorts(root_.string());
  EXPECT_TRUE(list.ok);
  EXPECT_TRUE(list.devicePaths.empty());
}

TEST_F(SysfsTree, ListPortsScansTheConfiguredRootUnlessTheEnvironmentNamesPorts) {
  AddDevice("ttyUSB0");
  SetSysfsRoot(root_.string());
  EXPECT_EQ(ListPorts().devicePaths, (std::vector<std::string>{"/dev/ttyUSB0"}));

  struct Case {
    const char* name;
    const char* ports;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"two paths in their given order", "/dev/pts/7:/dev/pts/3", {"/dev/pts/7", "/dev/pts/3"}},
      {"one path", "/dev/rfcomm0", {"/dev/rfcomm0"}},
      {"set but empty: no ports", "", {}},
      {"an empty item keeps its position", "/dev/pts/1::/dev/pts/2", {"/dev/pts/1", "", "/dev/pts/2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setenv("QUELVANE_PORTS", c.ports, 1);
    const PortList list = ListPorts();
    EXPECT_TRUE(list.ok);
    EXPECT_EQ(list.devicePaths, c.expected);
  }
}

PortList FailedList() { return {false, EACCES, {}}; }

TEST_F(SysfsTree, InstalledSourceReplacesTheSystemList) {
  setenv("QUELVANE_PORTS", "/dev/pts/1", 1);
  SetPortListSource(FailedList);
  const PortList list = ListPorts();
  EXPECT_FALSE(list.ok);
  EXPECT_EQ(list.error, EACCES);
  SetPortListSource(nullptr);
  EXPECT_EQ(ListPorts().devicePaths, (std::vector<std::string>{"/dev/pts/1"}));
}

}  // namespace
