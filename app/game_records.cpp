// Definitions and defaults of the shared game records (see game_records.h for who touches what).
#include "app/game_records.h"

#include <algorithm>

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

void Network_transmission::pushOutgoing(std::string command) {
  std::lock_guard lock(outgoing_mutex);
  outgoing.push_back(std::move(command));
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
  incoming.push_back(std::move(command));
}

PlayerData playerdata;
Maps _map;
std::mutex map_mutex;
BulletPool bullet;
Versus versus;
std::array<std::atomic<int64_t>, 256> frame{};
std::array<std::atomic<int32_t>, 4> refresh_rate{65, 65, 65, 65};
Network_transmission network_transmission;

float TimeScale() {
  // A rate below 1 would make k zero or infinite and poison every position with NaN.
  const int32_t numerator = std::max<int32_t>(refresh_rate[1].load(), 1);
  const int32_t rate = std::max<int32_t>(refresh_rate[0].load(), 1);
  return static_cast<float>(numerator) / static_cast<float>(rate);
}
