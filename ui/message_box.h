#pragma once
// The error message box: modal, with a title, a text, an error icon and a single OK button.
// Texts are Windows-1252 bytes.
#include <string_view>

using MessageBoxFunction = void (*)(std::string_view title, std::string_view text);

// Returns when the user has closed the box.
void ShowErrorBox(std::string_view title, std::string_view text);
// Tests install a recorder so that nothing modal blocks them; nullptr restores the real box.
void SetMessageBoxFunction(MessageBoxFunction function);
