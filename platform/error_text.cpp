#include "platform/error_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cstring>

namespace {

// strerror_r comes in two shapes (XSI returns a status, GNU a text); each overload takes one.
[[maybe_unused]] std::string Chosen(int status, const char* buffer, int errorCode) {
  return status == 0 ? std::string(buffer) : "Unknown error " + std::to_string(errorCode);
}
[[maybe_unused]] std::string Chosen(const char* text, const char*, int) { return text; }

// A translated text comes in the locale's character set; the system's texts are Windows-1252.
std::string To1252(const std::string& text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return text;
  }
  iconv_t converter = iconv_open("CP1252//TRANSLIT", nl_langinfo(CODESET));
  if (converter == reinterpret_cast<iconv_t>(-1)) return text;
  std::string input = text;
  std::string output(text.size() * 4, '\0');
  char* in = input.data();
  std::size_t inLeft = input.size();
  char* out = output.data();
  std::size_t outLeft = output.size();
  const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) return text;
  output.resize(output.size() - outLeft);
  return output;
}

}  // namespace

std::string ErrorText(int errorCode) {
  char buffer[1000] = {};
  return To1252(Chosen(strerror_r(errorCode, buffer, sizeof buffer), buffer, errorCode));
}
