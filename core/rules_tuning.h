// The rules' tuning numbers in one place: where players start and respawn, what a hit does,
// how often the player may fire and how fast energy comes back. Constants only; the records'
// own defaults (speeds, sizes, friction, vision) stay with the records.
#pragma once

#include <cstdint>

// Corners of the player's box: the host's top-left, the other side's bottom-right.
inline constexpr float kHostCorner = 25.0f;
inline constexpr float kGuestCorner = 775.0f;
// Where a fallen player waits out the countdown: far outside the arena.
inline constexpr float kParkedCorner = -1000.0f;

// A hit knocks the victim this many pixels per tick toward the shooter, bleeds it for this
// long, and throws blood this much harder than a plain burst.
inline constexpr int kKnockPixelsPerTick = 20;
inline constexpr float kHitBleedSeconds = 5.0f;
inline constexpr float kHitSplashForce = 2.0f;

// One shot every this many control ticks while the fire button is held.
inline constexpr int kFireIntervalTicks = 10;

// Energy recovers once per this period.
inline constexpr uint64_t kEnergyRecoveryMicros = 100000;
