#pragma once
// The system's list of serial ports. Port number i is entry i of the list.
#include <string>
#include <vector>

struct PortList {
  bool ok = false;
  int error = 0;                         // errno when !ok
  std::vector<std::string> devicePaths;  // an empty path is an entry without a name
};

using PortListSource = PortList (*)();

// QUELVANE_PORTS (colon-separated device paths) when set, otherwise the sysfs scan.
PortList ListPorts();
// Tests install their own list; nullptr restores the system's.
void SetPortListSource(PortListSource source);

// The serial devices under <sysfsRoot>/class/tty: entries with a device link, without virtual
// terminals, absent UARTs and the console, in natural order; paths are "/dev/" + name.
PortList ScanSysfsPorts(const std::string& sysfsRoot);
// The root the system's list scans; "/sys" unless a test points it at a tree of its own.
void SetSysfsRoot(std::string sysfsRoot);
