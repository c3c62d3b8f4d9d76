// Definitions and defaults of the shared game records (see game_records.h for who touches what).
#include "records/game_records.h"

#include <algorithm>
#include <chrono>

Maps::Maps() {
  for (int row = 0; row < kMapSide; ++row) {
    for (int col = 0; col < kMapSide; ++col) {
      MapCell& cell = cells[row * kMapSide + col];
      cell.x = static_cast<float>(col * kCellSize);
      cell.y = static_cast<float>(row * kCellSize);
      cell.index = row * kMapSide + col;
    }
  }
}

namespace {

void PushBounded(std::deque<std::string>& list, std::string command) {
  if (list.size() >= kMaxQueuedCommands) list.pop_front();
  list.push_back(std::move(command));
}

}  // namespace

void Maps::ClearForGood(int index, bool tell_peer) {
  if (index < 0 || index >= kMapCells) return;
  std::lock_guard lock(map_mutex);
  MapCell& cell = cells[index];
  cell.type = "NULL";
  SetShared(cell.is_wall, false);
  shot_away[index] = true;
  if (tell_peer && std::find(cells_to_send.begin(), cells_to_send.end(), index) == cells_to_send.end())
    cells_to_send.push_back(index);
}

void Maps::ApplyReceived(int index, const std::string& type, bool is_wall) {
  if (index < 0 || index >= kMapCells) return;
  std::lock_guard lock(map_mutex);
  if (is_wall && shot_away[index]) {
    if (std::find(cells_to_send.begin(), cells_to_send.end(), index) == cells_to_send.end())
      cells_to_send.push_back(index);
    return;
  }
  MapCell& cell = cells[index];
  // Only the two kinds the maze knows, and never "wall" on an open cell: the view draws
  // the kind, and a block that lets players through would lie to them.
  cell.type = is_wall && type == "wall" ? "wall" : "NULL";
  SetShared(cell.is_wall, is_wall);
  if (!is_wall) shot_away[index] = true;  // walls are never built, so an open cell stays open
}

std::vector<int> Maps::TakeCellsToSend() {
  std::lock_guard lock(map_mutex);
  std::vector<int> taken;
  taken.swap(cells_to_send);
  return taken;
}

void Maps::ResetShotAway() {
  std::lock_guard lock(map_mutex);
  shot_away.fill(false);
  cells_to_send.clear();
}

void Network_transmission::pushOutgoing(std::string command) {
  {
    std::lock_guard lock(outgoing_mutex);
    PushBounded(outgoing, std::move(command));
  }
  send_wake.Ring();
}

void Network_transmission::pushOutgoing(std::initializer_list<std::string> commands) {
  {
    std::lock_guard lock(outgoing_mutex);
    for (const std::string& command : commands) PushBounded(outgoing, command);
  }
  send_wake.Ring();
}

std::optional<std::string> Network_transmission::popOutgoingBack() {
  std::lock_guard lock(outgoing_mutex);
  if (outgoing.empty()) return std::nullopt;
  std::string command = std::move(outgoing.back());
  outgoing.pop_back();
  return command;
}

size_t Network_transmission::outgoingSize() {
  std::lock_guard lock(outgoing_mutex);
  return outgoing.size();
}

void Network_transmission::pushIncoming(std::string command) {
  std::lock_guard lock(incoming_mutex);
  PushBounded(incoming, std::move(command));
}

size_t Network_transmission::incomingSize() {
  std::lock_guard lock(incoming_mutex);
  return incoming.size();
}

Corner PlayerCorner() {
  std::lock_guard lock(motion_mutex);
  return {playerdata.player_x, playerdata.player_y};
}

void SetPlayerCorner(Corner corner) {
  std::lock_guard lock(motion_mutex);
  playerdata.player_x = corner.x;
  playerdata.player_y = corner.y;
}

Corner EnemyCorner() {
  std::lock_guard lock(motion_mutex);
  return {playerdata.enemy_x, playerdata.enemy_y};
}

void SetEnemyCorner(Corner corner) {
  std::lock_guard lock(motion_mutex);
  playerdata.enemy_x = corner.x;
  playerdata.enemy_y = corner.y;
}

void AddDeath() { std::atomic_ref<int32_t>(versus.deaths).fetch_add(1, std::memory_order_relaxed); }

void MergeScore(int32_t kills, int32_t deaths) {
  const auto raise = [](int32_t& field, int32_t value) {
    std::atomic_ref<int32_t> shared(field);
    int32_t current = shared.load(std::memory_order_relaxed);
    while (value > current && !shared.compare_exchange_weak(current, value, std::memory_order_relaxed)) {
    }
  };
  raise(versus.kills, kills);
  raise(versus.deaths, deaths);
}

int64_t SteadyMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool PeerConnected() {
  const int64_t heard = network_transmission.peer_heard_us.load();
  return heard >= 0 && SteadyMicros() - heard < kPeerSilenceMicros;
}

PlayerData playerdata;
Maps _map;
std::mutex map_mutex;
std::mutex motion_mutex;
std::mutex bullet_mutex;
BulletPool bullet;
Versus versus;
std::array<std::atomic<int64_t>, 256> frame{};
std::array<std::atomic<int32_t>, 4> refresh_rate{65, 65, 65, 65};
Network_transmission network_transmission;

float TimeScale() {
  // A rate below 1 would make k zero or infinite and poison every position with NaN.
  const int32_t numerator = std::max<int32_t>(refresh_rate[kRateTimeScaleBase].load(), 1);
  const int32_t rate = std::max<int32_t>(refresh_rate[kRateGameLoops].load(), 1);
  return static_cast<float>(numerator) / static_cast<float>(rate);
}
