// Ghosts of the opponent's bullets: each shot the peer reports flies here with a real
// bullet's motion, lifetime and wall test, so the player sees what is coming. A ghost stops
// at the first wall it touches, never clears a cell and never hits anyone; the shooter's
// side alone judges both. Launched by the receive thread, moved by the bullet thread, drawn
// by the render thread; one mutex guards the store.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "records/game_records.h"

// Whether (x, y) lies within one cell of the arena: a shot from farther out cannot be real,
// and a ghost that gets farther out can come back to nothing that is drawn.
inline bool NearTheArena(float x, float y) {
  constexpr float kOutside = kCellSize;
  return x >= -kOutside && y >= -kOutside && x <= kArenaSize + kOutside && y <= kArenaSize + kOutside;
}

class GhostBullets {
 public:
  // Ghosts in flight at most; a peer that reports more shots replaces the oldest.
  static constexpr int kCapacity = 128;

  // Receive thread: a shot the peer reported, at its launch point (x, y) with velocity
  // (vx, vy) in pixels per bullet tick. Already checked by the caller.
  void Launch(float x, float y, float vx, float vy);
  // Bullet thread: one step of every ghost.
  void Tick(float time_scale, int box);
  // Render thread: the ghosts' places.
  std::vector<BulletMotion> InFlight() const;
  int count() const;
  void Clear();

 private:
  struct Ghost {
    BulletMotion motion;
    int64_t launched_frame = 0;
    bool active = false;
  };
  mutable std::mutex mutex_;  // guards ghosts_ and next_
  std::array<Ghost, kCapacity> ghosts_{};
  int next_ = 0;  // where the next ghost goes: a free place, or else the oldest
};

extern GhostBullets ghost_bullets;
