// The game's process-wide records: the players, the maze, the bullet pool, the score,
// the tick counters and target rates, and the command lists for the peer.
// Shared by every game thread. The positions and velocities, the bullet pool, the cells' kind
// text and the command lists are guarded by the mutexes below; the other scalars go without
// a lock as relaxed atomics (Shared, SetShared), a reader taking whatever is current.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "services/wake_signal.h"

inline constexpr int kMapSide = 16;        // cells per row and column
inline constexpr int kCellSize = 50;       // pixels per cell side
inline constexpr int kArenaSize = kMapSide * kCellSize;
inline constexpr int kBulletSlots = 256;
inline constexpr int kMapCells = kMapSide * kMapSide;
// Longest either command list grows; past it the oldest entries go. Nothing drains the
// lists in the local game, and a peer must not be able to grow them without end.
inline constexpr size_t kMaxQueuedCommands = 1024;
// How long the peer may stay silent before it counts as gone.
inline constexpr int64_t kPeerSilenceMicros = 2'000'000;

struct PlayerData {
  std::string peer_ip;
  uint16_t peer_port = 0;
  uint16_t local_port = 0;
  bool online = false;
  bool is_host = false;
  int practice_level = 0;  // the computer opponent's level in a practice match; 0 otherwise
  float player_x = 25, player_y = 25;
  float enemy_x = 700, enemy_y = 700;
  float velocity_x = 0, velocity_y = 0;
  float friction = 0.05f;
  float time_step = 1.0f;
  float acceleration = 0.2f;
  float max_speed = 20.0f;
  float player_w = 30, player_h = 30;
  float enemy_w = 30, enemy_h = 30;
  float energy = 100;
  float max_energy = 100;
  bool round_over = false;
  float vision_x = 400, vision_y = 400;
  float vision_radius = 500;
  float vision_target_radius = 100;
};

struct MapCell {
  int32_t width = kCellSize, height = kCellSize;
  bool is_wall = false;
  float x = 0, y = 0;
  int32_t index = 0;
  std::string type;  // "wall" or "NULL" once the maze is built; guarded by map_mutex
};

struct Maps {
  Maps();
  std::atomic<bool> map_dirty{true};  // the host sends its whole maze on the next send tick
  std::array<MapCell, kMapCells> cells;  // row-major: index = row * 16 + column

  // A cell shot away on either side stays open for the rest of the match, whatever a late
  // or reordered maze datagram says. Both guarded by map_mutex.
  std::array<bool, kMapCells> shot_away{};
  std::vector<int> cells_to_send;  // cells the peer must hear were shot away

  // Clears the cell for good (bullet thread). `tell_peer` queues it for the peer.
  void ClearForGood(int index, bool tell_peer);
  // Applies a cell received from the peer (receive thread). A wall on a cell shot away here
  // is refused and the cell queued to tell the peer again, which heals a lost report.
  void ApplyReceived(int index, const std::string& type, bool is_wall);
  // Takes the queued cells (send thread).
  std::vector<int> TakeCellsToSend();
  // Forgets shot-away marks and queued cells, for a new maze.
  void ResetShotAway();
};

struct BulletMotion {
  float vx = 0, vy = 0, x = 0, y = 0;
};

struct BulletSlot {
  int64_t fired_frame = 0;
  bool active = false;
};

struct BulletPool {
  float friction = 0.0f;
  float time_step = 1.0f;
  float speed = 20.0f;
  int64_t lifetime = 1200;
  float size = 6.0f;
  std::array<BulletMotion, kBulletSlots> motion{};
  std::array<BulletSlot, kBulletSlots> slots{};
};

struct Versus {
  int32_t deaths = 0;
  int32_t kills = 0;
};

// Command strings waiting for the peer and received from it. Each list has its own lock,
// held only around one access; each keeps at most kMaxQueuedCommands.
struct Network_transmission {
  std::deque<std::string> outgoing;
  std::deque<std::string> incoming;
  std::mutex outgoing_mutex;
  std::mutex incoming_mutex;
  // Rung when there is something for the send loop to send at once: a queued command,
  // a cell shot away, a new position from the physics step.
  WakeSignal send_wake;
  // Steady-clock time in microseconds of the last coordinates from the peer; -1 before any.
  // Written by the receive loop, read by the render thread.
  std::atomic<int64_t> peer_heard_us{-1};

  void pushOutgoing(std::string command);
  // Queues several commands in one step, so the send loop sees all or none of them.
  void pushOutgoing(std::initializer_list<std::string> commands);
  // Takes the newest queued command, if any.
  std::optional<std::string> popOutgoingBack();
  size_t outgoingSize();
  void pushIncoming(std::string command);
  size_t incomingSize();
};

// Relaxed atomic access to a scalar of the records that threads share without a lock: a
// reader takes whatever value is current, never a torn one.
template <class T>
T Shared(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}
template <class T>
void SetShared(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

// A box's top-left corner, read or written as one unit under motion_mutex, so that no
// reader sees x from one tick and y from another.
struct Corner {
  float x = 0, y = 0;
};
// Where a box that starts at `start` and spans `size` has its middle, along one axis.
inline float BoxCentre(float start, float size) { return start + 0.5f * size; }
Corner PlayerCorner();
void SetPlayerCorner(Corner corner);
Corner EnemyCorner();
void SetEnemyCorner(Corner corner);

// The score: this side's own death counted (main thread), and a peer's report merged in
// (receive thread); scores only grow.
void AddDeath();
void MergeScore(int32_t kills, int32_t deaths);

// Steady-clock microseconds, the time base of peer_heard_us.
int64_t SteadyMicros();
// Whether coordinates came from the peer within the last kPeerSilenceMicros.
bool PeerConnected();

extern PlayerData playerdata;
extern Maps _map;
extern std::mutex map_mutex;  // guards the `type` text of the maze cells and the shot-away marks
// Serialises every read-modify-write of the local player's position and velocity (physics
// step, key acceleration, hit impulse, death and respawn), so none of them undoes another,
// and every access to either corner.
extern std::mutex motion_mutex;
// Guards bullet.motion and bullet.slots: the control thread launches, the bullet thread
// moves and retires, the render thread draws.
extern std::mutex bullet_mutex;
extern BulletPool bullet;
extern Versus versus;
// Tick counters, one per loop, at the slots below; the others stay 0. Atomic so that readers
// on other threads see whole values; each has a single writer, its loop.
extern std::array<std::atomic<int64_t>, 256> frame;
inline constexpr int kFrameMainLoop = 0;     // main loop (MainTick); also the bullets' and ghosts' clock
inline constexpr int kFrameRenderLoop = 1;   // render loop, frames drawn or skipped
inline constexpr int kFrameBulletLoop = 2;   // bullet loop
inline constexpr int kFramePhysicsLoop = 3;  // physics loop
inline constexpr int kFrameControlLoop = 4;  // control loop, ticks in play only
inline constexpr int kFrameSendLoop = 5;     // send loop of a networked or practice match
// Target tick rates, at the slots below; slot 3 is not read.
extern std::array<std::atomic<int32_t>, 4> refresh_rate;
// Main, control, physics, bullet, particle and practice opponent loops.
inline constexpr int kRateGameLoops = 0;
// Numerator of the time scale: the rate the per-tick numbers (speeds, friction) are tuned for.
inline constexpr int kRateTimeScaleBase = 1;
// Render loop, and the title screens and countdowns that stand in for it.
inline constexpr int kRateRenderLoop = 2;
extern Network_transmission network_transmission;

// Simulation time scale k, read anew every tick by the loops that divide per-tick quantities by it.
float TimeScale();
