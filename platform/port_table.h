#pragma once
// The table that maps port numbers to device paths: number i is entry i of the
// port list the latest discovery took.
#include <cstdint>
#include <string>
#include <vector>

void SetPortTable(std::vector<std::string> devicePaths);
const std::vector<std::string>& PortTable();
// The device path of a port number, or nullptr for a negative number or one beyond the table.
const std::string* PortDevicePath(int32_t portNumber);
