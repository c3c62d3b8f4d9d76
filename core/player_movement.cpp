// Control and physics loops (control thread, physics thread). Each read-modify-write of the
// player's position and velocity holds motion_mutex, so a key step, a hit's knock or a
// respawn landing during a physics step is never undone by its write-back.
// The control loop also fires while the fire slot is held.
#include "core/player_movement.h"

#include <mutex>

#include "core/bullets.h"
#include "core/coordination_system.h"
#include "core/physics_engine.h"
#include "gfx/key_monitor.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "services/tick_pacing.h"

void Detecting_movement() {
  km->UpdateKeyStates();
  PlayerData& p = playerdata;
  std::lock_guard lock(motion_mutex);
  // Bounded from above only and before the keys act: a knockback to the left keeps its
  // full strength.
  if (p.velocity_y > p.max_speed) p.velocity_y = p.max_speed;
  if (p.velocity_x > p.max_speed) p.velocity_x = p.max_speed;
  if (KeyMonitor::KeyW) p.velocity_y -= p.acceleration;
  if (KeyMonitor::KeyA) p.velocity_x -= p.acceleration;
  if (KeyMonitor::KeyS) p.velocity_y += p.acceleration;
  if (KeyMonitor::KeyD) p.velocity_x += p.acceleration;
}

float LowEnergySpeedFactor(double energy, double max_energy) {
  if (!(energy < max_energy * 0.5)) return 1.0f;
  return static_cast<float>(energy / (max_energy * 0.5) * 0.1 + 0.9);
}

void Physics_step() {
  PlayerData& p = playerdata;
  std::lock_guard lock(motion_mutex);
  const float x0 = p.player_x, y0 = p.player_y;
  float vx = p.velocity_x, vy = p.velocity_y;

  const float f = LowEnergySpeedFactor(Shared(p.energy), p.max_energy);
  vx *= f;
  vy *= f;

  const float k = TimeScale();
  float x = x0, y = y0;
  g_PhysicsEngine->CalculateAcceleration(vx, vy, x, y, p.friction / k, p.time_step / k);

  // Each axis is tested against the other's old coordinate, so a wall only stops the axis
  // that runs into it.
  const int w = TruncatePixel(p.player_w), h = TruncatePixel(p.player_h);
  const bool hit_x = cs->Search_blocks(TruncatePixel(x), TruncatePixel(y0), w, h);
  const bool hit_y = cs->Search_blocks(TruncatePixel(x0), TruncatePixel(y), w, h);

  p.player_x = hit_x ? x0 : x;
  p.velocity_x = hit_x ? 0.0f : vx;
  p.player_y = hit_y ? y0 : y;
  p.velocity_y = hit_y ? 0.0f : vy;
}

void WhileControl() {
  FireCooldown cooldown;
  RunFixedRateLoop(refresh_rate[kRateGameLoops], nullptr, [&cooldown] {
    // A countdown ignores input and leaves the tick uncounted, but the tick still sleeps
    // its period rather than spinning a core until the round restarts.
    if (Shared(playerdata.round_over)) return;
    Detecting_movement();
    if (cooldown.Tick(Fire())) Shoot();  // at most one shot per tick, a steady stream while held
    frame[kFrameControlLoop].fetch_add(1, std::memory_order_relaxed);
  });
}

void WhileCalculate() {
  RunFixedRateLoop(refresh_rate[kRateGameLoops], &frame[kFramePhysicsLoop], [] {
    Physics_step();
    // The new position leaves for the peer right away rather than up to a tick later.
    network_transmission.send_wake.Ring();
  });
}
