// Send and receive loops of the networked match and the command handler. The send thread
// reads the records and the outgoing list; the receive thread writes the enemy's position,
// the maze, the score and the player's velocity (under motion_mutex), and asks the main
// thread for the victory countdown rather than showing it itself.
#include "match/match_sync.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "core/coordination_system.h"
#include "core/game_events.h"
#include "core/ghost_bullets.h"
#include "records/game_records.h"
#include "services/tick_pacing.h"
#include "services/timer_manager.h"
#include "view/opponent_smoothing.h"

std::atomic<int32_t> send_rate{65};
std::atomic<int32_t> receive_rate{250};

namespace {

void SendToPeer(const std::string& text) {
  _network.sendUDP(playerdata.peer_ip, playerdata.peer_port, text);
}

// A value from the wire that must be a finite float.
float FiniteValue(const std::vector<std::string>& values, size_t i) {
  const float value = stringToFloat(values.at(i));
  if (!std::isfinite(value)) throw std::out_of_range("not a finite number: " + values[i]);
  return value;
}

// A value from the wire that must be an int; truncated toward zero, refused when outside int.
int IntValue(const std::vector<std::string>& values, size_t i) {
  const float value = FiniteValue(values, i);
  if (!(value > -2147483904.0f && value < 2147483648.0f)) throw std::out_of_range("not an int: " + values[i]);
  return static_cast<int>(value);
}

void ApplyCoordinates(const std::vector<std::string>& values) {
  // Both converted before either is written: a half-applied position is a wrong position.
  const float x = FiniteValue(values, 0);
  const float y = FiniteValue(values, 1);
  SetEnemyCorner({x, y});
  const int64_t now = SteadyMicros();
  const int64_t before = network_transmission.peer_heard_us.exchange(now);
  // A peer that has just come, or come back, gets the whole maze now rather than at the
  // next resend, and its disc starts afresh where it is.
  if (before < 0 || now - before >= kPeerSilenceMicros) {
    _map.map_dirty.store(true);
    opponent_smoothing.Reset();
  }
  opponent_smoothing.Report(x, y, now);
}

void ApplyMapCell(const std::vector<std::string>& values) {
  const int64_t index = static_cast<int64_t>(IntValue(values, 0)) * kMapSide + IntValue(values, 1);
  if (index < 0 || index >= kMapCells) return;
  _map.ApplyReceived(static_cast<int>(index), values.at(2), values.at(3) == "1");
}

// Scores only grow: taking the larger of ours and theirs makes both sides agree even when
// both players fell at once, and a repeated or late report changes nothing.
void ApplyScore(const std::vector<std::string>& values) {
  const int kills = IntValue(values, 1);
  MergeScore(kills, 0);
  const int deaths = IntValue(values, 0);
  MergeScore(0, deaths);
}

void HitReaction() {
  // While a countdown shows nobody is in play, and a knock would only carry over into the
  // next round.
  if (Shared(playerdata.round_over)) return;
  GameEvent hit{.kind = GameEventKind::kHitTaken};
  {
    std::lock_guard lock(motion_mutex);
    PlayerData& p = playerdata;
    hit.x = p.player_x + 0.5f * p.player_w, hit.y = p.player_y + 0.5f * p.player_h;
    cs->CalculateDirectionVector(hit.x, hit.y, p.enemy_x + 0.5f * p.enemy_w, p.enemy_y + 0.5f * p.enemy_h, hit.vx,
                                 hit.vy);
    p.velocity_x += kKnockPixelsPerTick * hit.vx;
    p.velocity_y += kKnockPixelsPerTick * hit.vy;
  }
  game_events.Raise(hit);
}

// A shot the peer fired becomes a ghost here. A report that could not come from a real shot
// is dropped: a launch point more than a cell outside the arena, or a speed above a bullet's.
void ApplyShot(const std::vector<std::string>& values) {
  const float x = FiniteValue(values, 0), y = FiniteValue(values, 1);
  const float vx = FiniteValue(values, 2), vy = FiniteValue(values, 3);
  constexpr float kOutside = kCellSize;
  if (x < -kOutside || y < -kOutside || x > kArenaSize + kOutside || y > kArenaSize + kOutside) return;
  if (std::hypot(vx, vy) > bullet.speed * 1.01f) return;
  ghost_bullets.Launch(x, y, vx, vy);
}

bool ResyncDue() {
  if (!timers.hasTimer(kMapSyncTimer)) timers.createTimer(kMapSyncTimer);
  return timers.getTime(kMapSyncTimer) > static_cast<uint64_t>(kResyncMicros);
}

// The whole maze when it changed, the peer is new, or the resend period is up; with each
// resend this side's score goes again too.
void SendMazeAndScore() {
  const bool resync = ResyncDue();
  if (playerdata.is_host && (_map.map_dirty.load() || resync)) {
    try {
      Send_Map();
      _map.map_dirty.store(false);
    } catch (const std::exception&) {
      return;  // still dirty: sent again next tick
    }
  }
  if (resync) {
    SendToPeer(BuildScoreCommand(Shared(versus.kills), Shared(versus.deaths)));
    timers.resetTimer(kMapSyncTimer);
  }
}

void SendShotCells() {
  for (const int index : _map.TakeCellsToSend())
    SendToPeer(BuildMapBlockCommand(index / kMapSide, index % kMapSide, "NULL", false));
}

// The shots this side fired since the last tick, all of them: each is one ghost there.
void SendShots() {
  static thread_local std::vector<GameEvent> fired;
  ShotReports().TakeAll(fired);
  for (const GameEvent& shot : fired)
    if (shot.kind == GameEventKind::kFired) SendToPeer(BuildShotCommand(shot.x, shot.y, shot.vx, shot.vy));
  fired.clear();
}

void SendNewestCommand() {
  if (std::optional<std::string> command = network_transmission.popOutgoingBack()) SendToPeer(*command);
}

}  // namespace

GameEventQueue& ShotReports() {
  static GameEventQueue queue;
  return queue;
}

bool Initialize_network() {
  if (!playerdata.online) return false;
  // Strangers' datagrams go at the door, before they take a place in the queue.
  _network.acceptOnlyFrom(playerdata.peer_ip, playerdata.peer_port);
  return _network.start(0, playerdata.local_port);
}

void Send_Map() {
  std::array<std::string, kMapCells> types;
  std::array<bool, kMapCells> walls{};
  {
    std::lock_guard lock(map_mutex);
    for (int i = 0; i < kMapCells; ++i) {
      types[i] = _map.cells[i].type;
      walls[i] = Shared(_map.cells[i].is_wall);
    }
  }
  for (int row = 0; row < kMapSide; ++row)
    for (int col = 0; col < kMapSide; ++col)
      SendToPeer(BuildMapBlockCommand(row, col, types[row * kMapSide + col], walls[row * kMapSide + col]));
}

void Send_coordinates() {
  float x, y;
  {
    std::lock_guard lock(motion_mutex);
    x = playerdata.player_x;
    y = playerdata.player_y;
  }
  SendToPeer(BuildCoordinateCommand(x, y));
}

bool Process_command(ParsedCommand command) {
  const std::string& name = command.first;
  const std::vector<std::string>& values = command.second;
  if (name == kCoordinateCommand) {
    ApplyCoordinates(values);
    return true;
  }
  if (name == kMapBlockCommand) {
    ApplyMapCell(values);
    return true;
  }
  if (name == kShotCommand) {
    ApplyShot(values);
    return true;
  }
  if (name == kDeathNoticeCommand) {
    if (!values.empty() && values[0] == "MY") CoordinationSystem::getInstance()->RequestVictory();
  } else if (name == kScoreCommand) {
    ApplyScore(values);
  } else if (name == kAttackCommand) {
    HitReaction();
  }
  return false;
}

void Send_tick() {
  SendMazeAndScore();
  SendShotCells();
  SendShots();
  Send_coordinates();
  SendNewestCommand();
}

bool FromPeer(const NetworkMessage& message) {
  return message.port == playerdata.peer_port && message.ip == playerdata.peer_ip;
}

void Apply_datagram(const std::string& data) {
  try {
    if (!Process_command(parseCommandString(data))) network_transmission.pushIncoming(data);
  } catch (const std::exception&) {
    // Malformed or unusable: dropped, like a lost datagram.
  }
}

void Receive_tick() {
  static thread_local std::deque<NetworkMessage> arrived;
  _network.takeMessages(arrived);
  // Positions too are applied in the order they came: the last one stays, as before, and the
  // drawn disc is fed every report rather than one per pass.
  for (const NetworkMessage& message : arrived)
    if (!message.data.empty() && FromPeer(message)) Apply_datagram(message.data);
  arrived.clear();
}

void Send_thread() {
  if (!playerdata.online) return;
  timers.createTimer(kMapSyncTimer);
  RunWakeableLoop(send_rate, &frame[5], network_transmission.send_wake, [] {
    try {
      Send_tick();
    } catch (const std::exception&) {
      // A failed tick is skipped; the next one sends afresh.
    }
  });
}

void Receiving_thread() {
  if (!playerdata.online) return;
  RunFixedRateLoop(receive_rate, nullptr, [] { Receive_tick(); });
}
