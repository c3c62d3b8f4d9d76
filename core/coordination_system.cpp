// Grid search over the maze record (physics and bullet threads; reads is_wall as a relaxed atomic,
// a read sees either the old or the new value of a cell a bullet is clearing), and the main
// thread's status, death and round-end rules; the countdowns between them are the view's.
#include "core/coordination_system.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "core/game_events.h"
#include "core/physics_engine.h"
#include "core/rules_tuning.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "records/timer_names.h"
#include "services/timer_manager.h"

CoordinationSystem* cs = CoordinationSystem::getInstance();

namespace {

int Saturate(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

void Respawn(PlayerData& p) {
  const float corner = p.is_host ? kHostCorner : kGuestCorner;
  std::lock_guard lock(motion_mutex);
  p.player_x = corner;
  p.player_y = corner;
  SetShared(p.round_over, false);
}

std::atomic<bool> g_victory_requested{false};

}  // namespace

CoordinationSystem::CoordinationSystem() : energyTimers(&timers) {}

CoordinationSystem* CoordinationSystem::getInstance() {
  static CoordinationSystem instance;
  return &instance;
}

std::array<GridCorner, 4> CoordinationSystem::getNearbyGrids(int x, int y, int size) const {
  if (size < 1) size = 1;  // a zero cell size has no cells to divide into
  // 64-bit sums, saturated back: a corner next to INT_MAX must not wrap into the grid.
  const int64_t bx = static_cast<int64_t>(x) - x % size;
  const int64_t by = static_cast<int64_t>(y) - y % size;
  return {GridCorner{Saturate(bx), Saturate(by)}, GridCorner{Saturate(bx + size), Saturate(by)},
          GridCorner{Saturate(bx), Saturate(by + size)}, GridCorner{Saturate(bx + size), Saturate(by + size)}};
}

GridCorner CoordinationSystem::findNearestGrid(int x, int y, int size) const {
  const auto corners = getNearbyGrids(x, y, size);
  const int64_t half = std::max(size, 1) / 2;
  GridCorner best = corners[0];
  double best_distance = INFINITY;
  for (const GridCorner& corner : corners) {
    const double dx = static_cast<double>(corner.first + half - x);
    const double dy = static_cast<double>(corner.second + half - y);
    const double distance = std::sqrt(dx * dx + dy * dy);
    if (distance < best_distance) {
      best_distance = distance;
      best = corner;
    }
  }
  return best;
}

bool CoordinationSystem::Search_blocks(int x, int y, int w, int h) const {
  for (const auto& [gx, gy] : getNearbyGrids(x, y, kCellSize)) {
    if (gx < 0 || gy < 0) continue;
    const int col = gx / kCellSize, row = gy / kCellSize;
    if (col >= kMapSide || row >= kMapSide) continue;
    if (!Shared(_map.cells[row * kMapSide + col].is_wall)) continue;
    if (g_PhysicsEngine->AABBCollisionCheck(static_cast<float>(gx), static_cast<float>(gy), kCellSize, kCellSize,
                                            static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
                                            static_cast<float>(h))) {
      return true;
    }
  }
  return false;
}

void CoordinationSystem::Status_update() {
  // This thread alone writes energy and the vision circle; the others read them as atomics.
  float energy = playerdata.energy;
  if (energyTimers->getTime(kEnergyRecoveryTimer) > kEnergyRecoveryMicros) {
    energyTimers->resetTimer(kEnergyRecoveryTimer);
    energy = static_cast<float>(static_cast<double>(energy) + 0.1);
  }
  SetShared(playerdata.energy, std::min(energy, playerdata.max_energy));

  const double a = 1.0 / (static_cast<double>(TimeScale()) * 10.0);
  SetShared(playerdata.vision_radius,
            static_cast<float>(playerdata.vision_radius +
                               (static_cast<double>(playerdata.vision_target_radius) - playerdata.vision_radius) * a));
  const Corner player = PlayerCorner();
  const double centre_x = BoxCentre(player.x, playerdata.player_w);
  const double centre_y = BoxCentre(player.y, playerdata.player_h);
  SetShared(playerdata.vision_x, static_cast<float>(playerdata.vision_x + (centre_x - playerdata.vision_x) * a));
  SetShared(playerdata.vision_y, static_cast<float>(playerdata.vision_y + (centre_y - playerdata.vision_y) * a));
}

bool CoordinationSystem::Death_detection() {
  PlayerData& p = playerdata;
  const Corner player = PlayerCorner();
  const double cx = BoxCentre(player.x, p.player_w);
  const double cy = BoxCentre(player.y, p.player_h);
  // Written so that a NaN centre counts as outside: such a player could never move again,
  // and respawning brings it back.
  if (cx >= 0 && cx <= kArenaSize && cy >= 0 && cy <= kArenaSize) return false;

  {
    std::lock_guard lock(motion_mutex);
    SetShared(p.round_over, true);
    p.velocity_x = 0;
    p.velocity_y = 0;
    p.player_x = kParkedCorner;
    p.player_y = kParkedCorner;
  }

  // One step, so the send loop takes them newest first: the score, then the notice.
  network_transmission.pushOutgoing(
      {BuildDeathNotice(), BuildScoreCommand(Shared(versus.kills), Shared(versus.deaths) + 1)});
  AddDeath();
  game_events.Raise({.kind = GameEventKind::kFell, .x = static_cast<float>(cx), .y = static_cast<float>(cy)});
  return true;
}

void CoordinationSystem::RequestVictory() { g_victory_requested.store(true); }

bool CoordinationSystem::TakeVictoryRequest() { return g_victory_requested.exchange(false); }

void CoordinationSystem::win_death() {
  SetShared(playerdata.round_over, true);
  game_events.Raise({.kind = GameEventKind::kRoundWon});
}

void CoordinationSystem::End_round(RoundEnd how) {
  // A peer that fell at the same moment as this side asked for a victory screen meanwhile;
  // one countdown per round is enough, and the scores settle on their own.
  if (how == RoundEnd::kLost) g_victory_requested.store(false);
  // After a victory the velocity stays as it was, and the peer's score command sets the score.
  Respawn(playerdata);
}

bool CoordinationSystem::CalculateDirectionVector(float x1, float y1, float x2, float y2, float& dx, float& dy) {
  const float ex = x2 - x1, ey = y2 - y1;
  const float len = std::sqrt(ex * ex + ey * ey);
  // Non-finite lengths (NaN or overflowing inputs) take the fallback too: a NaN direction
  // would poison whatever velocity it is added to.
  if (!(len >= 0.001f) || std::isinf(len)) {
    dx = 0;
    dy = -1;
    return false;
  }
  dx = ex / len;
  dy = ey / len;
  return true;
}
