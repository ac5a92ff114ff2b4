#pragma once
// A tone of a given frequency and duration on the default sound device.
#include <cstdint>

inline constexpr int32_t kToneMinHz = 37;
inline constexpr int32_t kToneMaxHz = 32767;
inline constexpr uint32_t kToneSampleRateHz = 48000;

using ToneFunction = void (*)(int32_t hz, int32_t ms);

// Returns once the tone has played. A frequency outside 37 to 32767 Hz, a duration of 0 ms or
// less, or no usable sound device plays nothing and returns at once, without printing anything.
void PlayTone(int32_t hz, int32_t ms);
// Tests install a recorder; nullptr restores the sound device.
void SetToneFunction(ToneFunction function);

// How many samples at kToneSampleRateHz a tone lasts; 0 when nothing is to be played.
uint64_t ToneSampleCount(int32_t hz, int32_t ms);
