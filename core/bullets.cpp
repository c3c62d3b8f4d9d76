// Bullets: launch on the control thread, the loop on the bullet thread, drawing on the
// render thread; every access to the pool holds bullet_mutex.
#include "core/bullets.h"

#include <QPoint>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/coordination_system.h"
#include "core/game_events.h"
#include "core/ghost_bullets.h"
#include "core/physics_engine.h"
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include "gfx/key_monitor.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "services/tick_pacing.h"

namespace {

// A bullet that runs into walls on one step breaks one of them: of the wall cells its
// blocked boxes overlap, the one whose centre is nearest to the bullet's centre. Never an
// open cell, or a wall hit at a corner would clear the open cell beside it.
struct WallHit {
  int cell = -1;
  int64_t distance = INT64_MAX;  // squared, in half pixels, so it stays whole

  void Consider(int x, int y, int size, float centre_x, float centre_y) {
    for (const auto& [gx, gy] : cs->getNearbyGrids(x, y, kCellSize)) {
      if (gx < 0 || gy < 0) continue;
      const int col = gx / kCellSize, row = gy / kCellSize;
      if (col >= kMapSide || row >= kMapSide || !Shared(_map.cells[row * kMapSide + col].is_wall)) continue;
      if (!g_PhysicsEngine->AABBCollisionCheck(static_cast<float>(gx), static_cast<float>(gy), kCellSize, kCellSize,
                                               static_cast<float>(x), static_cast<float>(y), static_cast<float>(size),
                                               static_cast<float>(size)))
        continue;
      const int64_t dx = 2 * int64_t{gx} + kCellSize - static_cast<int64_t>(2 * centre_x);
      const int64_t dy = 2 * int64_t{gy} + kCellSize - static_cast<int64_t>(2 * centre_y);
      if (dx * dx + dy * dy < distance) distance = dx * dx + dy * dy, cell = row * kMapSide + col;
    }
  }
};

void ReportBrokenWall(int index) {
  const float half = 0.5f * kCellSize;
  game_events.Raise({.kind = GameEventKind::kCellCleared,
                     .x = static_cast<float>(index % kMapSide * kCellSize) + half,
                     .y = static_cast<float>(index / kMapSide * kCellSize) + half,
                     .cell = index});
}

void ReportHit(Corner player, Corner enemy) {
  network_transmission.pushOutgoing(BuildAttackNotification());
  const PlayerData& p = playerdata;
  const float enemy_cx = BoxCentre(enemy.x, p.enemy_w), enemy_cy = BoxCentre(enemy.y, p.enemy_h);
  float dx = 0, dy = 0;
  cs->CalculateDirectionVector(BoxCentre(player.x, p.player_w), BoxCentre(player.y, p.player_h), enemy_cx, enemy_cy, dx, dy);
  game_events.Raise({.kind = GameEventKind::kHitGiven, .x = enemy_cx, .y = enemy_cy, .vx = dx, .vy = dy});
}

}  // namespace

bool StepBullet(BulletMotion& m, float time_scale, int box, int* wall_cell) {
  float vx = m.vx, vy = m.vy, x = m.x, y = m.y;
  g_PhysicsEngine->CalculateAcceleration(vx, vy, x, y, bullet.friction / time_scale, bullet.time_step / time_scale);
  const bool hit_x = cs->Search_blocks(TruncatePixel(x), TruncatePixel(m.y), box, box);
  const bool hit_y = cs->Search_blocks(TruncatePixel(m.x), TruncatePixel(y), box, box);
  if (!hit_x && !hit_y) {
    m = BulletMotion{vx, vy, x, y};
    return true;
  }
  if (wall_cell != nullptr) {
    WallHit wall;
    const float centre_x = BoxCentre(x, box), centre_y = BoxCentre(y, box);
    if (hit_x) wall.Consider(TruncatePixel(x), TruncatePixel(m.y), box, centre_x, centre_y);
    if (hit_y) wall.Consider(TruncatePixel(m.x), TruncatePixel(y), box, centre_x, centre_y);
    *wall_cell = wall.cell;
  }
  return false;
}

bool Fire() { return SampleKeySlot(kFireSlot); }

void Shoot() {
  // The arena's origin is the window's top-left pixel.
  const QPoint cursor = PointerInWindow();
  Launch_bullet(static_cast<float>(cursor.x()), static_cast<float>(cursor.y()));
}

int Launch_bullet(float target_x, float target_y) {
  const PlayerData& p = playerdata;
  const Corner player = PlayerCorner();
  const float cx = BoxCentre(player.x, p.player_w), cy = BoxCentre(player.y, p.player_h);
  const float dx = target_x - cx, dy = target_y - cy;
  // A cursor on the centre gives a bullet at rest rather than a division by zero.
  const float len = std::max(std::sqrt(dx * dx + dy * dy), 0.001f);

  const BulletMotion launched{dx / len * bullet.speed, dy / len * bullet.speed, cx, cy};
  int i = 0;
  {
    std::lock_guard lock(bullet_mutex);
    while (i < kBulletSlots && bullet.slots[i].active) ++i;
    if (i == kBulletSlots) return -1;
    bullet.motion[i] = launched;
    bullet.slots[i].fired_frame = frame[kFrameMainLoop].load();
    bullet.slots[i].active = true;
  }
  game_events.Raise({.kind = GameEventKind::kFired, .x = cx, .y = cy, .vx = launched.vx, .vy = launched.vy});
  return i;
}

void Bullet_tick() {
  const int64_t now = frame[kFrameMainLoop].load();
  const float k = TimeScale();
  const float size = bullet.size;
  const int box = TruncatePixel(size);
  const PlayerData& p = playerdata;
  const Corner enemy = EnemyCorner();
  int hits = 0;
  std::vector<int> broken;
  {
    std::lock_guard lock(bullet_mutex);
    for (int i = 0; i < kBulletSlots; ++i) {
      BulletSlot& slot = bullet.slots[i];
      if (!slot.active) continue;
      if (now > slot.fired_frame + bullet.lifetime) {
        slot.active = false;
        continue;
      }

      BulletMotion& m = bullet.motion[i];
      int wall = -1;
      if (!StepBullet(m, k, box, &wall)) {
        if (wall >= 0) {
          // The peer hears of it at once, so both mazes lose the same wall.
          _map.ClearForGood(wall, true);
          network_transmission.send_wake.Ring();
          broken.push_back(wall);
        }
        slot.active = false;  // the stored motion keeps the position before the wall
      }

      // Not consumed by the enemy: every tick of overlap is another hit.
      if (g_PhysicsEngine->AABBCollisionCheck(m.x, m.y, size, size, enemy.x, enemy.y, p.enemy_w, p.enemy_h)) ++hits;
    }
  }
  ghost_bullets.Tick(k, box);
  // Reported outside the bullets' lock: the consumers take locks and start threads of their own.
  for (const int cell : broken) ReportBrokenWall(cell);
  if (hits > 0) {
    const Corner player = PlayerCorner();
    for (int i = 0; i < hits; ++i) ReportHit(player, enemy);
  }
}

void Bullet_control() {
  RunFixedRateLoop(refresh_rate[kRateGameLoops], &frame[kFrameBulletLoop], [] { Bullet_tick(); });
}

bool FireCooldown::Tick(bool held) {
  if (ticks_since_shot_ < kFireIntervalTicks) ++ticks_since_shot_;
  if (!held || ticks_since_shot_ < kFireIntervalTicks) return false;
  ticks_since_shot_ = 0;
  return true;
}
