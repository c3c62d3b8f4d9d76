// The effects' tuning numbers in one place: the hit's window shake and flash, and how often
// a bleeding target drops blood. Constants only.
#pragma once

#include <cstdint>

// A hit shakes the window for kShakeSeconds, jumping every kShakeIntervalSeconds by up to
// kShakeAmplitude pixels, and flashes it red (0x00BBGGRR) at full strength fading over
// kFlashFadeSeconds, repainted every kFlashStepMicros.
inline constexpr double kShakeSeconds = 0.2;
inline constexpr double kShakeIntervalSeconds = 0.1;
inline constexpr int kShakeAmplitude = 50;
inline constexpr int kFlashIntensity = 100;  // percent
inline constexpr unsigned long kFlashColour = 0x0000FF;
inline constexpr double kFlashHoldSeconds = 0.0;
inline constexpr double kFlashFadeSeconds = 0.5;
inline constexpr int64_t kFlashStepMicros = 16000;

// A bleeding target drops one or two drops this often.
inline constexpr int64_t kBleedDropMicros = 50000;
