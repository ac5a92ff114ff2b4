#include "platform/error_text.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(ErrorText, SystemTextForTheCode) {
  struct Case {
    int code;
    const char* text;
  };
  const Case cases[] = {
      {ENOENT, "No such file or directory"},
      {EACCES, "Permission denied"},
      {EBUSY, "Device or resource busy"},
      {123456, "Unknown error 123456"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(ErrorText(c.code), c.text);
  }
}

}  // namespace
