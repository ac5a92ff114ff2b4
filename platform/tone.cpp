#include "platform/tone.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kAmplitude = 0.3 * 32767;
constexpr unsigned int kLatencyUs = 50000;
constexpr std::size_t kChunkSamples = 1024;
// How long past its own length a tone may take before it is cut off (a stalled device).
constexpr auto kToneSlack = std::chrono::milliseconds(500);
constexpr int kWaitStepMs = 5;

// ALSA reports a missing device on stderr; a beep that cannot sound stays silent.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

bool WriteAll(snd_pcm_t* pcm, const int16_t* samples, std::size_t count, Clock::time_point deadline) {
  while (count > 0) {
    if (Clock::now() >= deadline) return false;
    snd_pcm_sframes_t written = snd_pcm_writei(pcm, samples, count);
    if (written == -EAGAIN) {
      snd_pcm_wait(pcm, kWaitStepMs);
      continue;
    }
    if (written < 0) written = snd_pcm_recover(pcm, static_cast<int>(written), 1);
    if (written < 0) return false;
    samples += written;
    count -= static_cast<std::size_t>(written);
  }
  return true;
}

void FillChunk(std::array<int16_t, kChunkSamples>& chunk, std::size_t count, uint64_t first, int32_t hz) {
  for (std::size_t i = 0; i < count; ++i) {
    // The phase is taken modulo one period so that long tones keep their precision.
    const uint64_t n = (first + i) * static_cast<uint64_t>(hz) % kToneSampleRateHz;
    chunk[i] = static_cast<int16_t>(
        std::lround(kAmplitude * std::sin(2.0 * std::numbers::pi * static_cast<double>(n) / kToneSampleRateHz)));
  }
}

// Non-blocking throughout: a device held by another program, or one that stalls, never
// keeps the caller waiting past the tone's length and a little slack.
void PlayOnSoundDevice(int32_t hz, int32_t ms) {
  const uint64_t total = ToneSampleCount(hz, ms);
  if (total == 0) return;
  snd_lib_error_set_handler(QuietAlsaError);
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms) + kToneSlack;
  bool playing = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kToneSampleRateHz,
                                    1, kLatencyUs) == 0;
  std::array<int16_t, kChunkSamples> chunk{};
  for (uint64_t done = 0; playing && done < total;) {
    const auto count = static_cast<std::size_t>(std::min<uint64_t>(kChunkSamples, total - done));
    FillChunk(chunk, count, done, hz);
    playing = WriteAll(pcm, chunk.data(), count, deadline);
    done += count;
  }
  if (playing && snd_pcm_drain(pcm) == -EAGAIN) {
    while (snd_pcm_state(pcm) == SND_PCM_STATE_DRAINING && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
    }
  }
  snd_pcm_close(pcm);
}

ToneFunction toneFunction = PlayOnSoundDevice;

}  // namespace

uint64_t ToneSampleCount(int32_t hz, int32_t ms) {
  if (hz < kToneMinHz || hz > kToneMaxHz || ms <= 0) return 0;
  return static_cast<uint64_t>(ms) * kToneSampleRateHz / 1000;
}

void PlayTone(int32_t hz, int32_t ms) { toneFunction(hz, ms); }

void SetToneFunction(ToneFunction function) { toneFunction = function != nullptr ? function : PlayOnSoundDevice; }
