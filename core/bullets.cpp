// Bullets: launch on the control thread, the loop on the bullet thread, drawing on the
// render thread; every access to the pool holds bullet_mutex.
#include "core/bullets.h"

#include <QPoint>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "core/coordination_system.h"
#include "core/physics_engine.h"
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include "gfx/key_monitor.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "services/tick_pacing.h"

namespace {

// Clears the cell nearest to a bullet's new corner; it may be an open cell beside the wall
// that was hit. Cells outside the grid do not exist and are left alone.
void DestroyNearestCell(int x, int y) {
  const auto [gx, gy] = cs->findNearestGrid(x, y, kCellSize);
  if (gx < 0 || gy < 0) return;
  const int col = gx / kCellSize, row = gy / kCellSize;
  if (col >= kMapSide || row >= kMapSide) return;
  // The peer hears of it at once, so both mazes lose the same wall.
  _map.ClearForGood(row * kMapSide + col, true);
  network_transmission.send_wake.Ring();
}

void ReportHit(Corner player, Corner enemy) {
  network_transmission.pushOutgoing(BuildAttackNotification());
  const PlayerData& p = playerdata;
  const float enemy_cx = enemy.x + p.enemy_w * 0.5f, enemy_cy = enemy.y + p.enemy_h * 0.5f;
  float dx = 0, dy = 0;
  cs->CalculateDirectionVector(player.x + p.player_w * 0.5f, player.y + p.player_h * 0.5f, enemy_cx, enemy_cy, dx, dy);
  cs->SpawnBloodSplash(enemy_cx, enemy_cy, dx, dy, kHitSplashForce);
  cs->StartEnemyBleed(kHitBleedSeconds);
}

}  // namespace

bool Fire() { return SampleKeySlot(kFireSlot); }

void Shoot() {
  // The arena's origin is the window's top-left pixel.
  const QPoint cursor = PointerInWindow();
  Launch_bullet(static_cast<float>(cursor.x()), static_cast<float>(cursor.y()));
}

int Launch_bullet(float target_x, float target_y) {
  const PlayerData& p = playerdata;
  const Corner player = PlayerCorner();
  const float cx = player.x + p.player_w * 0.5f, cy = player.y + p.player_h * 0.5f;
  const float dx = target_x - cx, dy = target_y - cy;
  // A cursor on the centre gives a bullet at rest rather than a division by zero.
  const float len = std::max(std::sqrt(dx * dx + dy * dy), 0.001f);

  std::lock_guard lock(bullet_mutex);
  int i = 0;
  while (i < kBulletSlots && bullet.slots[i].active) ++i;
  if (i == kBulletSlots) return -1;
  bullet.motion[i] = BulletMotion{dx / len * bullet.speed, dy / len * bullet.speed, cx, cy};
  bullet.slots[i].fired_frame = frame[0].load();
  bullet.slots[i].active = true;
  return i;
}

void Bullet_tick() {
  const int64_t now = frame[0].load();
  const float k = TimeScale();
  const float size = bullet.size;
  const int box = TruncatePixel(size);
  const PlayerData& p = playerdata;
  const Corner enemy = EnemyCorner();
  int hits = 0;
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
      float vx = m.vx, vy = m.vy, x = m.x, y = m.y;
      g_PhysicsEngine->CalculateAcceleration(vx, vy, x, y, bullet.friction / k, bullet.time_step / k);
      const bool hit_x = cs->Search_blocks(TruncatePixel(x), TruncatePixel(m.y), box, box);
      const bool hit_y = cs->Search_blocks(TruncatePixel(m.x), TruncatePixel(y), box, box);
      if (!hit_x && !hit_y) {
        m = BulletMotion{vx, vy, x, y};
      } else {
        DestroyNearestCell(TruncatePixel(x), TruncatePixel(y));
        slot.active = false;  // the stored motion keeps the position before the wall
      }

      // Not consumed by the enemy: every tick of overlap is another hit.
      if (g_PhysicsEngine->AABBCollisionCheck(m.x, m.y, size, size, enemy.x, enemy.y, p.enemy_w, p.enemy_h)) ++hits;
    }
  }
  // Reported outside the bullets' lock: a report takes the effects' locks and threads.
  if (hits > 0) {
    const Corner player = PlayerCorner();
    for (int i = 0; i < hits; ++i) ReportHit(player, enemy);
  }
}

void Bullet_control() { RunFixedRateLoop(refresh_rate[0], &frame[2], [] { Bullet_tick(); }); }

bool FireCooldown::Tick(bool held) {
  if (ticks_since_shot_ < kFireIntervalTicks) ++ticks_since_shot_;
  if (!held || ticks_since_shot_ < kFireIntervalTicks) return false;
  ticks_since_shot_ = 0;
  return true;
}
