#include "platform/tone.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::pair<int32_t, int32_t>> played;
void RecordTone(int32_t hz, int32_t ms) { played.emplace_back(hz, ms); }

TEST(Tone, InstalledFunctionReceivesEveryCall) {
  played.clear();
  SetToneFunction(RecordTone);
  PlayTone(1109, 100);
  PlayTone(-197, 100);
  SetToneFunction(nullptr);
  EXPECT_EQ(played, (std::vector<std::pair<int32_t, int32_t>>{{1109, 100}, {-197, 100}}));
}

TEST(Tone, LengthAndAudibleRange) {
  struct Case {
    const char* name;
    int32_t hz;
    int32_t ms;
    uint64_t samples;
  };
  const Case cases[] = {
      {"lowest tone", 37, 100, 4800},        {"below the range", 36, 100, 0},
      {"highest tone", 32767, 100, 4800},    {"above the range", 32768, 100, 0},
      {"negative frequency", -197, 100, 0},  {"zero duration", 440, 0, 0},
      {"negative duration", 440, -1, 0},     {"longest duration", 440, 2147483647, 103079215056ull},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ToneSampleCount(c.hz, c.ms), c.samples);
  }
}

// Whether or not this machine has a sound device, the real tone returns and prints nothing.
TEST(Tone, SoundDeviceTonePrintsNothing) {
  SetToneFunction(nullptr);
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  PlayTone(36, 100);
  PlayTone(440, 20);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// The null device takes every sample, so the whole path runs: open, settings, writes, drain.
TEST(Tone, NullDeviceTonePlaysThroughAndPrintsNothing) {
  char path[] = "/tmp/quelvane-asound-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "pcm.!default { type null }\n";
  const char* saved = getenv("ALSA_CONFIG_PATH");
  const std::string savedPath = saved != nullptr ? saved : "";
  setenv("ALSA_CONFIG_PATH", path, 1);
  SetToneFunction(nullptr);
  ::testing::internal::CaptureStderr();
  PlayTone(1109, 100);
  PlayTone(32767, 1000);
  PlayTone(37, 1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  if (saved != nullptr) setenv("ALSA_CONFIG_PATH", savedPath.c_str(), 1);
  else unsetenv("ALSA_CONFIG_PATH");
  unlink(path);
}

}  // namespace
