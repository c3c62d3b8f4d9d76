// Grid search over the maze record (physics and bullet threads; reads is_wall unlocked,
// a read sees either the old or the new value of a cell a bullet is clearing).
#include "core/coordination_system.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "app/game_records.h"
#include "core/physics_engine.h"
#include "services/timer_manager.h"

CoordinationSystem* cs = CoordinationSystem::getInstance();

namespace {

int Saturate(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

}  // namespace

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
    if (!_map.cells[row * kMapSide + col].is_wall) continue;
    if (g_PhysicsEngine->AABBCollisionCheck(static_cast<float>(gx), static_cast<float>(gy), kCellSize, kCellSize,
                                            static_cast<float>(x), static_cast<float>(y), static_cast<float>(w),
                                            static_cast<float>(h))) {
      return true;
    }
  }
  return false;
}

void CoordinationSystem::Status_update() {
  if (timers.getTime("Energy recovery") > 100000) {
    timers.resetTimer("Energy recovery");
    playerdata.energy = static_cast<float>(static_cast<double>(playerdata.energy) + 0.1);
  }
  if (playerdata.energy > playerdata.max_energy) playerdata.energy = playerdata.max_energy;

  const double a = 1.0 / (static_cast<double>(TimeScale()) * 10.0);
  playerdata.vision_radius = static_cast<float>(
      playerdata.vision_radius + (static_cast<double>(playerdata.vision_target_radius) - playerdata.vision_radius) * a);
  const double centre_x = playerdata.player_x + playerdata.player_w * 0.5;
  const double centre_y = playerdata.player_y + playerdata.player_h * 0.5;
  playerdata.vision_x = static_cast<float>(playerdata.vision_x + (centre_x - playerdata.vision_x) * a);
  playerdata.vision_y = static_cast<float>(playerdata.vision_y + (centre_y - playerdata.vision_y) * a);
}
