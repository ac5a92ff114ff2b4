#pragma once
#include <string>
#include <string_view>

std::string NextLinePrefix();
void AddLogLine(std::string_view text, bool mirror);
void AppendToTopLine(std::string_view note);
void MirrorTopLine();
