// Float-to-pixel conversion shared by the physics, bullet and render threads: positions can
// run far outside the arena (knock-backs, a box parked off-screen), and converting a huge or
// NaN float to int directly is undefined behaviour.
#pragma once

#include <cmath>

// Far outside the 800-pixel arena, yet far from int overflow when a cell size is added.
inline constexpr int kFarPixel = 1'000'000;

// Truncates toward zero; values beyond +-kFarPixel (infinities included) are pinned there and
// NaN becomes -kFarPixel, off the top-left of the arena.
inline int TruncatePixel(double v) {
  if (std::isnan(v)) return -kFarPixel;
  if (v >= kFarPixel) return kFarPixel;
  if (v <= -kFarPixel) return -kFarPixel;
  return static_cast<int>(v);
}
