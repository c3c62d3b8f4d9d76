// The game's process-wide records: the players, the maze, the bullet pool, the score,
// the tick counters and target rates, and the command lists for the peer.
// Shared by every game thread; scalars are read and written without a lock (a reader takes
// whatever is current), the text and list members are guarded by the mutexes below.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

inline constexpr int kMapSide = 16;        // cells per row and column
inline constexpr int kCellSize = 50;       // pixels per cell side
inline constexpr int kArenaSize = kMapSide * kCellSize;
inline constexpr int kBulletSlots = 256;

struct PlayerData {
  std::string peer_ip;
  uint16_t peer_port = 0;
  uint16_t local_port = 0;
  bool online = false;
  bool is_host = false;
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
  bool map_dirty = true;
  std::array<MapCell, kMapSide * kMapSide> cells;  // row-major: index = row * 16 + column
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
// held only around one access.
struct Network_transmission {
  std::deque<std::string> outgoing;
  std::deque<std::string> incoming;
  std::mutex outgoing_mutex;
  std::mutex incoming_mutex;

  void pushOutgoing(std::string command);
  // Takes the newest queued command, if any.
  std::optional<std::string> popOutgoingBack();
  size_t outgoingSize();
  void pushIncoming(std::string command);
};

extern PlayerData playerdata;
extern Maps _map;
extern std::mutex map_mutex;  // guards the `type` text of the maze cells
extern BulletPool bullet;
extern Versus versus;
// Tick counters, one per loop (0 main, 1 render, 2 bullets, 3 physics, 4 control, 5 send).
// Atomic so that readers on other threads see whole values; each has a single writer.
extern std::array<std::atomic<int64_t>, 256> frame;
// Target tick rates: 0 main and game loops, 1 time-scale numerator, 2 render loop.
extern std::array<std::atomic<int32_t>, 4> refresh_rate;
extern Network_transmission network_transmission;

// Simulation time scale k, read anew every tick by the loops that divide per-tick quantities by it.
float TimeScale();
