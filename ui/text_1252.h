#pragma once
// Windows-1252 bytes <-> QString, used only at the widget boundary. The five bytes the code
// page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 code points of the same
// value, so every byte survives a round trip; characters the code page lacks become '?'.
#include <QString>
#include <string>
#include <string_view>

QString QStringFrom1252(std::string_view bytes);
std::string BytesFrom1252(const QString& text);
