#include "monitor/discover_ports.h"

#include <string>
#include <string_view>

#include "platform/error_text.h"
#include "platform/port_list.h"
#include "platform/port_table.h"
#include "serial/serial_port.h"
#include "ui/activity_log.h"
#include "ui/app_state.h"
#include "ui/main_window.h"
#include "ui/message_box.h"

namespace {

constexpr std::string_view kModeCommand = "ATQ0V1E0\r";
constexpr std::string_view kModelCommand = "AT+GMM\r";

void Flatten(std::string& reply) {
  for (const char lineBreak : {'\n', '\r', '\t'}) {
    for (char& c : reply) {
      if (c == lineBreak) c = ' ';
    }
  }
}

void Probe(int32_t portNumber, const std::string& devicePath) {
  AppState& state = State();
  AddLogLine(NextLinePrefix() + "Checking Port COM" + std::to_string(portNumber) + "... ", true);
  state.port.portNumber = portNumber;
  if (OpenPort(state.port) == kNullHandle) return;
  ExchangeCommand(state.port, kModeCommand);
  std::string reply = ExchangeCommand(state.port, kModelCommand);
  Flatten(reply);
  AppendToTopLine(reply);
  if (!reply.empty()) {
    DeviceListInsert(0, PortPathText(portNumber) + " " + reply);
    DeviceListSetData(0, state.port.portNumber);
    DeviceListSetToolTip(0, devicePath);
  }
  ClosePort(state.port);
}

}  // namespace

void DiscoverPorts() {
  AddLogLine(NextLinePrefix() + "Enumerating COM ports...", true);
  DeviceListClear();
  const PortList list = ListPorts();
  if (list.ok) {
    SetPortTable(list.devicePaths);
    for (std::size_t i = 0; i < list.devicePaths.size(); ++i) {
      // An entry without a name is not probed, but keeps its number.
      if (list.devicePaths[i].empty()) continue;
      Probe(static_cast<int32_t>(i), list.devicePaths[i]);
    }
    AddLogLine(NextLinePrefix() + "END Enumeration", true);
    AddLogLine("", false);
  } else {
    SetPortTable({});
    ShowErrorBox("ERROR", ErrorText(list.error));
  }
  DeviceListSelect(0);
}
