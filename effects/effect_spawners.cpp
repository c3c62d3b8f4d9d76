// Spawners of the hit effects and the bleeding threads. Spawners run on the caller's thread
// (bullet, receive); each bleeding thread runs in the background and emits drops until its timer runs
// out; the update rules run on the particle thread under the store's lock.
#include "effects/effect_spawners.h"

#include "effects/effects_tuning.h"
#include "gfx/graphics.h"
#include "records/timer_names.h"
#include "services/background_threads.h"
#include "services/tick_pacing.h"
#include "services/timer_manager.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

std::atomic<bool> g_bleed_running[2]{};

namespace {

// A hit (bullet or receive thread) and a bleeding thread's decision to end take this lock: a
// hit then either lengthens a bleed that goes on or starts a new one, never one that is ending.
std::mutex g_bleed_mutex;

int R(int n) { return std::rand() % n; }

int Channel(unsigned long color, int shift) { return static_cast<int>((color >> shift) & 0xFF); }

unsigned long ClampedRGB(int r, int g, int b) {
  return RGB(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
}

// ---- Update rules ----

constexpr float kDropped = -1;  // channel factor of a channel the rule sets to 0

struct Fade {
  float d, g;
  float keep, shrink, floor;  // size × (keep − shrink·t), at least floor (0: none)
  float kr, kg, kb;           // channel × (1 − k·t)
  int blue_fixed;             // ≥ 0 replaces the faded blue
  bool sum_dies;              // death test on R′+G′+B′, else on R′ alone
  int limit;
};

Particle ApplyFade(const Fade& f, Particle p) {
  const float t = static_cast<float>(p.age) / static_cast<float>(p.life);
  p.vx = p.vx * f.d;
  p.vy = p.vy * f.d + f.g;
  p.size = std::max(p.size * (f.keep - f.shrink * t), f.floor);
  // Each call reads the colour the previous one left, so the darkening compounds.
  const auto fade = [&](int shift, float k) {
    return k == kDropped ? 0 : static_cast<int>(static_cast<float>(Channel(p.color, shift)) * (1.0f - k * t));
  };
  const int r = fade(0, f.kr);
  const int g = fade(8, f.kg);
  const int b = f.blue_fixed >= 0 ? f.blue_fixed : fade(16, f.kb);
  p.color = ClampedRGB(r, g, b);
  if ((f.sum_dies ? r + g + b : r) < f.limit) p.active = false;
  return p;
}

constexpr Fade kM1{0.995f, 0, 1, 0.1f, 10.0f, 0.35f, 0.5f, 0.7f, -1, true, 120};
constexpr Fade kM2{0.985f, 0, 1, 0.15f, 7.0f, 0.4f, 0.6f, 0.8f, -1, true, 100};
constexpr Fade kM3{0.975f, 0, 1, 0.2f, 5.0f, 0.5f, 0.7f, 0.9f, -1, true, 80};
constexpr Fade kD1{0.99f, 0.05f, 1, 0.15f, 6.0f, 0.2f, 0.25f, 0.1f, -1, true, 150};
constexpr Fade kD2{0.98f, 0.08f, 1, 0.2f, 3.0f, 0.3f, 0.35f, 0.15f, -1, true, 120};
constexpr Fade kD3{0.97f, 0.03f, 1, 0.3f, 1.0f, 0.4f, 0.4f, 0.3f, -1, true, 80};
constexpr Fade kB1{0.82f, 0, 0.75f, 0, 0, 2.5f, kDropped, kDropped, -1, false, 70};
constexpr Fade kB2{0.95f, 0.11f, 1, 0.08f, 4.0f, 0.4f, kDropped, kDropped, -1, false, 50};
constexpr Fade kB3{0.94f, 0.1f, 1, 0.15f, 2.0f, 0.55f, 0.4f, kDropped, -1, false, 40};
constexpr Fade kB4{0.92f, 0.04f, 1, 0.25f, 0.4f, 0.75f, 0.5f, 0.3f, -1, false, 30};
constexpr Fade kB5{0.96f, 0, 0.85f, 0, 0, 2.2f, 2.0f, kDropped, 20, false, 60};
constexpr Fade kB6{0.97f, 0.25f, 0.994f, 0, 0, 0.15f, kDropped, kDropped, -1, false, 60};

}  // namespace

Particle RuleM1(Particle p) { return ApplyFade(kM1, std::move(p)); }
Particle RuleM2(Particle p) { return ApplyFade(kM2, std::move(p)); }
Particle RuleM3(Particle p) { return ApplyFade(kM3, std::move(p)); }
Particle RuleD1(Particle p) { return ApplyFade(kD1, std::move(p)); }
Particle RuleD2(Particle p) { return ApplyFade(kD2, std::move(p)); }
Particle RuleD3(Particle p) { return ApplyFade(kD3, std::move(p)); }
Particle RuleB1(Particle p) { return ApplyFade(kB1, std::move(p)); }
Particle RuleB2(Particle p) { return ApplyFade(kB2, std::move(p)); }
Particle RuleB3(Particle p) { return ApplyFade(kB3, std::move(p)); }
Particle RuleB4(Particle p) { return ApplyFade(kB4, std::move(p)); }
Particle RuleB5(Particle p) { return ApplyFade(kB5, std::move(p)); }
Particle RuleB6(Particle p) { return ApplyFade(kB6, std::move(p)); }

Particle DropRule::operator()(Particle p) const {
  const float t = static_cast<float>(p.age) / static_cast<float>(p.life);
  const float d = 0.88f - 0.05f * s;
  const bool small = s <= 1.0f;
  p.vx = p.vx * d;
  p.vy = p.vy * d + 0.05f;
  p.size = std::max(p.size * (1.0f - (small ? 0.3f : 0.15f) * t), small ? 4.0f : 5.0f);
  const int r = static_cast<int>(static_cast<float>(Channel(p.color, 0)) * (1.0f - 0.6f * t));
  const int g = std::min(static_cast<int>(static_cast<float>(Channel(p.color, 8)) + 5.0f * t), 20);
  p.color = ClampedRGB(r, g, 0);
  if (r < 30) p.active = false;
  return p;
}

// ---- Spawners ----

namespace {

struct Draw {
  int base, span;  // base + R(span); a span of 0 draws nothing
  int Take() const { return span > 0 ? base + R(span) : base; }
};

enum class Aim { kAxes, kTurned, kAbsolute };

// One phase of a burst: every particle draws in field order x, y, direction, speed,
// colour, size, life.
struct Phase {
  int count;
  int jitter_m, jitter_c;
  float jitter_j, k_step;  // position jitter scaled by k = 1 + k_step·(i mod k_mod)
  int k_mod;
  Aim aim;
  Draw angle;  // degrees
  Draw speed;
  float speed_mul, speed_div;
  bool by_palette;
  std::array<unsigned long, 4> palette;
  Draw red, green, blue;
  Draw size;
  float size_mul;
  Draw life;
  Particle (*rule)(Particle);
};

constexpr Draw kNone{0, 0};
constexpr std::array<unsigned long, 4> kNoPalette{};

// clang-format off
constexpr Phase kMuzzle[] = {
  {30, 5, 2, 0.5f, 0, 1, Aim::kAxes, kNone, {3, 5}, 1, 10,
   true, {0x64FFFF, 0x00FFFF, 0x00A5FF, 0x0045FF}, kNone, kNone, kNone, {12, 4}, 1, {90, 30}, RuleM1},
  {70, 15, 7, 0.5f, 0.2f, 3, Aim::kTurned, {-12, 24}, {30, 20}, 1, 10,
   true, {0x78FFFF, 0x00F0FF, 0x14B4FF, 0x1450FF}, kNone, kNone, kNone, {9, 3}, 1, {72, 36}, RuleM2},
  {100, 20, 10, 0.6f, 0.1f, 4, Aim::kTurned, {-10, 20}, {60, 30}, 1, 10,
   true, {0x50E6FF, 0x00C8FF, 0x0096FF, 0x0046FF}, kNone, kNone, kNone, {7, 3}, 1, {48, 36}, RuleM3},
};

constexpr Phase kDust[] = {
  {40, 9, 4, 0.5f, 0, 1, Aim::kTurned, {-15, 30}, {20, 20}, 1, 10,
   false, kNoPalette, {180, 40}, {140, 40}, {80, 40}, {8, 4}, 1, {90, 30}, RuleD1},
  {80, 17, 8, 0.6f, 0, 1, Aim::kTurned, {-30, 60}, {40, 30}, 1, 10,
   false, kNoPalette, {200, 30}, {160, 30}, {100, 30}, {5, 3}, 1, {60, 36}, RuleD2},
  {120, 25, 12, 0.7f, 0, 1, Aim::kTurned, {-45, 90}, {10, 20}, 1, 10,
   false, kNoPalette, {210, 25}, {200, 25}, {180, 25}, {2, 2}, 1, {48, 24}, RuleD3},
};

constexpr Phase kBlood[] = {
  {40, 7, 3, 0.15f, 0, 1, Aim::kTurned, {-6, 12}, {140, 60}, 0.5f, 1,
   false, kNoPalette, {0xFF, 0}, {0x28, 0}, {0x1E, 0}, {12, 5}, 1, {8, 6}, RuleB1},
  {90, 9, 4, 0.3f, 0, 1, Aim::kTurned, {-7, 14}, {130, 90}, 0.25f, 1,
   false, kNoPalette, {180, 50}, kNone, kNone, {9, 6}, 1, {90, 35}, RuleB2},
  {220, 13, 6, 0.6f, 0, 1, Aim::kTurned, {-80, 160}, {80, 70}, 1, 6,
   false, kNoPalette, {200, 40}, {10, 20}, {5, 10}, {5, 4}, 1, {70, 40}, RuleB3},
  {380, 23, 11, 1.2f, 0, 1, Aim::kAbsolute, {0, 360}, {30, 40}, 1, 10,
   false, kNoPalette, {160, 70}, {20, 35}, {15, 25}, {1, 3}, 0.6f, {60, 45}, RuleB4},
  {160, 11, 5, 0.4f, 0, 1, Aim::kTurned, {-10, 20}, {150, 110}, 1, 3,
   false, kNoPalette, {0xFF, 0}, {0x3C, 0}, {0x28, 0}, {2, 3}, 0.6f, {18, 12}, RuleB5},
  {110, 21, 10, 0.8f, 0, 1, Aim::kTurned, {-70, 140}, {20, 25}, 0.125f, 1,
   false, kNoPalette, {130, 40}, kNone, kNone, {2, 3}, 1, {110, 60}, RuleB6},
};
// clang-format on

// Unit direction, or the fallback when the given one is too short to point anywhere.
std::pair<float, float> Unit(float dx, float dy, std::pair<float, float> fallback) {
  const float len = std::sqrt(dx * dx + dy * dy);
  if (len < 0.001f) return fallback;
  return {dx / len, dy / len};
}

template <size_t N>
void SpawnPhases(const Phase (&phases)[N], float x0, float y0, std::pair<float, float> u, float force) {
  ParticleManager& store = ParticleManager::GetInstance();
  const auto [ux, uy] = u;
  for (const Phase& ph : phases) {
    for (int i = 0; i < ph.count; ++i) {
      Particle p;
      const float k = 1.0f + ph.k_step * static_cast<float>(i % ph.k_mod);
      p.x = x0 + static_cast<float>(R(ph.jitter_m) - ph.jitter_c) * ph.jitter_j * k;
      p.y = y0 + static_cast<float>(R(ph.jitter_m) - ph.jitter_c) * ph.jitter_j * k;
      if (ph.aim == Aim::kAxes) {
        p.vx = static_cast<float>(ph.speed.Take()) * ux / ph.speed_div;
        p.vy = static_cast<float>(ph.speed.Take()) * uy / ph.speed_div;
      } else {
        const float theta = static_cast<float>(ph.angle.Take()) * 3.14159f / 180.0f;
        const float speed = static_cast<float>(ph.speed.Take()) * ph.speed_mul / ph.speed_div * force;
        const float c = std::cos(theta);
        const float s = std::sin(theta);
        const bool absolute = ph.aim == Aim::kAbsolute;
        p.vx = speed * (absolute ? c : c * ux - s * uy);
        p.vy = speed * (absolute ? s : s * ux + c * uy);
      }
      if (ph.by_palette) {
        p.color = ph.palette[R(4)];
      } else {
        const int r = ph.red.Take();
        const int g = ph.green.Take();
        const int b = ph.blue.Take();
        p.color = RGB(r, g, b);
      }
      p.size = static_cast<float>(ph.size.Take()) * ph.size_mul;
      p.life = ph.life.Take();
      p.update = ph.rule;
      store.AddParticle(p);
    }
  }
}

// ---- Bleeding ----

void RunBleeding(int target, const std::string& name, float duration,
                 const std::function<std::pair<float, float>()>& source) {
  std::atomic<bool>& running = g_bleed_running[target];
  ParticleManager& store = ParticleManager::GetInstance();
  while (running.load()) {
    // Once the window is closed the main thread waits for this thread before it tears
    // down the store and the timer registry.
    if (ecl.load()) {
      running.store(false);
      return;
    }
    // A timer gone missing (its removal raced a new hit) would read 0 forever and never
    // end the bleed; treat it as expired.
    {
      std::lock_guard lock(g_bleed_mutex);
      if (!timers.hasTimer(name) || static_cast<float>(timers.getTime(name)) >= duration * 1000000.0f) {
        timers.removeTimer(name);
        running.store(false);
        return;
      }
    }
    const auto [px, py] = source();
    const int drops = 1 + R(2);
    for (int i = 0; i < drops; ++i) store.AddParticle(MakeBleedDrop(target, px, py));
    SleepMicros(kBleedDropMicros);
  }
}

}  // namespace

Particle MakeBleedDrop(int target, float px, float py) {
  Particle p;
  p.x = px + static_cast<float>(R(20) - 10) * 1.2f;
  p.y = py + static_cast<float>(R(15) - 7) * 1.2f;
  const float s = static_cast<float>(5 + R(8)) / 10.0f;
  p.size = static_cast<float>(6 + R(7));
  const float m = s * 0.4f + 0.6f;
  p.vx = (static_cast<float>(R(15) - 7) / 10.0f) * 0.7f * m;
  p.vy = (static_cast<float>(4 + R(8)) / 10.0f) * m + 0.3f;
  const int red = (target == 0 ? 200 : 160) - R(30);
  const int green = R(15);
  p.color = RGB(red, green, 0);
  p.life = 120;
  p.update = DropRule{s};
  return p;
}

void Effects_SpawnMuzzleFlash(float x, float y, float dirX, float dirY) {
  SpawnPhases(kMuzzle, x, y, Unit(dirX, dirY, {0.0f, -1.0f}), 1.0f);
}

void Effects_SpawnHitDust(float x, float y, float dirX, float dirY) {
  SpawnPhases(kDust, x, y, Unit(dirX, dirY, {1.0f, 0.0f}), 1.0f);
}

void Effects_SpawnBloodSplash(float x, float y, float dirX, float dirY, float force) {
  SpawnPhases(kBlood, x, y, Unit(dirX, dirY, {1.0f, 0.0f}), force);
}

void Effects_BleedEffect(int target, const std::function<std::pair<float, float>()>& position, float duration) {
  // Only two targets have a flag; an empty source would throw on the bleeding thread and
  // take the whole process down.
  if ((target != 0 && target != 1) || !position) return;
  const std::string name = target == 0 ? kPlayerBleedTimer : kEnemyBleedTimer;
  std::lock_guard lock(g_bleed_mutex);
  if (!timers.resetTimer(name)) timers.createTimer(name);
  if (g_bleed_running[target].exchange(true)) return;  // the running bleed now lasts longer
  try {
    background_threads.Start([target, name, duration, position] { RunBleeding(target, name, duration, position); });
  } catch (...) {
    // Back to idle, so that the next hit tries again.
    g_bleed_running[target].store(false);
    timers.removeTimer(name);
    throw;
  }
}
