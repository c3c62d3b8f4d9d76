// The ghost store: every access holds its mutex. The step uses the real bullets' own motion
// and wall test, without the cell they would break.
#include "core/ghost_bullets.h"

#include "core/bullets.h"

GhostBullets ghost_bullets;

void GhostBullets::Launch(float x, float y, float vx, float vy) {
  const int64_t now = frame[kFrameMainLoop].load();
  std::lock_guard lock(mutex_);
  int slot = next_;
  for (int i = 0; i < kCapacity; ++i) {
    const int candidate = (next_ + i) % kCapacity;
    if (!ghosts_[candidate].active) {
      slot = candidate;
      break;
    }
  }
  ghosts_[slot] = Ghost{BulletMotion{vx, vy, x, y}, now, true};
  next_ = (slot + 1) % kCapacity;
}

void GhostBullets::Tick(float time_scale, int box) {
  const int64_t now = frame[kFrameMainLoop].load();
  const int64_t lifetime = bullet.lifetime;
  std::lock_guard lock(mutex_);
  for (Ghost& ghost : ghosts_) {
    if (!ghost.active) continue;
    if (now > ghost.launched_frame + lifetime || !StepBullet(ghost.motion, time_scale, box, nullptr) ||
        !NearTheArena(ghost.motion.x, ghost.motion.y))
      ghost.active = false;
  }
}

std::vector<BulletMotion> GhostBullets::InFlight() const {
  std::vector<BulletMotion> flying;
  std::lock_guard lock(mutex_);
  for (const Ghost& ghost : ghosts_)
    if (ghost.active) flying.push_back(ghost.motion);
  return flying;
}

int GhostBullets::count() const {
  std::lock_guard lock(mutex_);
  int n = 0;
  for (const Ghost& ghost : ghosts_) n += ghost.active;
  return n;
}

void GhostBullets::Clear() {
  std::lock_guard lock(mutex_);
  ghosts_ = {};
  next_ = 0;
}
