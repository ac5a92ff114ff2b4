#include "platform/port_table.h"

namespace {
std::vector<std::string>& Table() {
  static std::vector<std::string> table;
  return table;
}
}  // namespace

void SetPortTable(std::vector<std::string> devicePaths) { Table() = std::move(devicePaths); }

const std::vector<std::string>& PortTable() { return Table(); }

const std::string* PortDevicePath(int32_t portNumber) {
  const auto& table = Table();
  if (portNumber < 0 || static_cast<std::size_t>(portNumber) >= table.size()) {
    return nullptr;
  }
  return &table[static_cast<std::size_t>(portNumber)];
}
