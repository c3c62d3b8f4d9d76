// The names of the game's stopwatches in the timer registry (services/timer_manager), one
// constant each, so that the files sharing a stopwatch cannot drift apart. The texts are
// what the logs and tests have always seen. Constants only; any thread.
#pragma once

// Created when the first match starts (main thread) and never reset: the tick counters'
// rates in the log and the sidebar are counted over it.
inline constexpr char kRuntimeTimer[] = "Runtime duration";
// Paces the rate line in the log, once a second (main thread).
inline constexpr char kRateLogTimer[] = "Frame rate detection";
// Paces the sidebar's rate figure, every 100 ms (render thread).
inline constexpr char kSidebarRateTimer[] = "WINAPI WinMain";
// Paces energy recovery (main thread, Status_update).
inline constexpr char kEnergyRecoveryTimer[] = "Energy recovery";
// The countdowns after this side's fall and after the peer's (main thread).
inline constexpr char kDeathCountdownTimer[] = "Resurrection countdown";
inline constexpr char kVictoryCountdownTimer[] = "o Resurrection countdown";
// Paces the host's whole-maze and both sides' score resends (send thread).
inline constexpr char kMapSyncTimer[] = "map synchronize";
// How long each bleeding lasts, the local player's and the enemy's: reset by a hit (bullet
// or receive thread), read by the bleeding threads.
inline constexpr char kPlayerBleedTimer[] = "player_bleed";
inline constexpr char kEnemyBleedTimer[] = "enemy_bleed";
// The gap between two key snapshots of the movement state machine.
inline constexpr char kInputGapTimer[] = "inputGap";
