// Particle bursts (muzzle flash, hit dust, blood splash) and bleeding, with the update rules
// their particles carry. Spawners run on the caller's thread (bullet, receive); drops are
// emitted by short-lived background bleeding threads; the rules run on the particle thread.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

#include "effects/particle_manager.h"

// True while a bleeding thread runs for that target: 0 the local player, 1 the enemy.
extern std::atomic<bool> g_bleed_running[2];

// Update rules of the spawned particles. Each damps the velocity, adds gravity, shrinks the
// particle, darkens its current colour (so the fade compounds tick by tick) and ends it
// once it has turned too dark. Plain functions, so a particle's copy of its rule is cheap.
Particle RuleM1(Particle p);
Particle RuleM2(Particle p);
Particle RuleM3(Particle p);
Particle RuleD1(Particle p);
Particle RuleD2(Particle p);
Particle RuleD3(Particle p);
Particle RuleB1(Particle p);
Particle RuleB2(Particle p);
Particle RuleB3(Particle p);
Particle RuleB4(Particle p);
Particle RuleB5(Particle p);
Particle RuleB6(Particle p);

// Rule of a bleeding drop; larger drops (s > 1) fall with more drag and keep more size.
struct DropRule {
  float s;  // the drop's scale, 0.5 to 1.2
  Particle operator()(Particle p) const;
};

// One blood drop falling from (px, py): the local player's (target 0) blood is brighter.
Particle MakeBleedDrop(int target, float px, float py);

// Bursts at (x, y) facing (dirX, dirY); a direction too short to point anywhere falls back to
// up (muzzle) or right (dust, blood). `force` scales the blood's speed.
void Effects_SpawnMuzzleFlash(float x, float y, float dirX, float dirY);
void Effects_SpawnHitDust(float x, float y, float dirX, float dirY);
void Effects_SpawnBloodSplash(float x, float y, float dirX, float dirY, float force);

// Bleeding of target 0 (the local player) or 1 (the enemy) at wherever `position` says, for
// `duration` seconds from now: starts a bleeding thread, or lengthens the running one.
void Effects_BleedEffect(int target, const std::function<std::pair<float, float>()>& position, float duration);
