#pragma once
#include <string_view>

#include "reply/signal_reading.h"

SignalReading ConvertSignalQuality(std::string_view valueText);
