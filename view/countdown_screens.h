// The two five-second round screens, both run by the main loop: death() after the local
// player's fall, o_death() after the peer's. Both draw into the frame buffer through batches,
// so they take turns with the render thread under em, and draw only when what they show
// changes.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint64_t kCountdownMicros = 5'000'000;

// Each returns once its timer passes five seconds, or at once after the pass on which the
// close request is seen.
void death();
void o_death();

// Seconds shown by a countdown that has run `elapsed_us`: 5 down to 0.
int CountdownSecondsLeft(uint64_t elapsed_us);

// The screens' first lines and their shared score line.
std::string DeathCountdownText(int seconds_left);
std::string VictoryCountdownText(int seconds_left);
std::string CountdownScoreText(int32_t kills, int32_t deaths);
