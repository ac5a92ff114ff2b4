#pragma once
#include <string>

// The system's message text for an errno value, as Windows-1252 bytes.
std::string ErrorText(int errorCode);
