// Shooting: the fire query and launch (control thread), and the bullet loop that moves
// every bullet and the opponent's ghosts, clears the wall cell a bullet runs into and reports
// each touch of the enemy's box to the peer (bullet thread).
#pragma once

#include "core/rules_tuning.h"

// Samples the fire slot of the key tables; true while it is held, and once after a click
// too short for a control tick to see it held.
bool Fire();

// Launches one bullet from the player's centre toward the mouse cursor, if one is free.
void Shoot();

// Launches the free bullet with the lowest index from the player's centre toward
// (target_x, target_y) in arena pixels; returns its index, or -1 with all 256 in flight.
int Launch_bullet(float target_x, float target_y);

struct BulletMotion;

// One step of a bullet's motion through the maze, at the loop's time scale, for a bullet
// box of `box` pixels. True when it moved; false when it ran into a wall, the motion keeping
// its place before the wall and `wall_cell` (when given) naming the wall cell it broke into,
// or -1.
bool StepBullet(BulletMotion& m, float time_scale, int box, int* wall_cell);

// One bullet-loop tick over all 256 bullets: expiry, motion, wall hits, enemy hits.
void Bullet_tick();

// Body of the bullet thread.
void Bullet_control();

// Rate-of-fire limit of the control loop, counted in control ticks so that it follows the
// tick rate. One instance per control loop.
class FireCooldown {
 public:
  // One control tick, with the fire slot held or not; true when this tick shoots.
  bool Tick(bool held);

 private:
  int ticks_since_shot_ = kFireIntervalTicks;
};
