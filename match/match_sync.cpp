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
#include <optional>
#include <stdexcept>
#include <string>
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

// Set by the main thread before the loops start and cleared after they end; null for UDP.
std::atomic<MatchLink*> match_link{nullptr};

void SendToPeer(const std::string& text) {
  if (MatchLink* link = match_link.load())
    link->Send(text);
  else
    _network.sendUDP(playerdata.peer_ip, playerdata.peer_port, text);
}

// What the peer has already told this side: the hits and shots by their numbers, the
// newest death and position. Receive thread only; forgotten when the peer comes anew, whose
// numbers start again.
struct Heard {
  static constexpr size_t kRing = 1024;  // far more than the copies of one hit can straddle
  std::array<uint64_t, kRing> hits{};    // a hit's number, at number % kRing
  std::array<uint64_t, kRing> shots{};
  uint64_t death = 0;
  uint64_t position = 0;
};
Heard heard;

// A numbered hit or shot counts once, whatever copies of it arrive; an older peer's
// unnumbered ones count each time.
bool FirstOf(std::array<uint64_t, Heard::kRing>& ring, const std::vector<std::string>& values, size_t at) {
  const std::optional<uint64_t> number = CommandNumber(values, at);
  if (!number) return true;
  uint64_t& slot = ring[*number % Heard::kRing];
  if (slot == *number) return false;
  slot = *number;
  return true;
}

void ApplyCoordinates(const std::vector<std::string>& values) {
  // Both converted before either is written: a half-applied position is a wrong position.
  const float x = CommandFloat(values, 0);
  const float y = CommandFloat(values, 1);
  const std::optional<uint64_t> number = CommandNumber(values, 2);
  const int64_t now = SteadyMicros();
  const int64_t before = network_transmission.peer_heard_us.exchange(now);
  const bool anew = before < 0 || now - before >= kPeerSilenceMicros;
  if (before >= 0 && anew) heard = Heard{};  // back after a silence: its numbers start again
  // A copy, or a position overtaken by a newer one, would move the opponent back.
  if (number) {
    if (*number <= heard.position) return;
    heard.position = *number;
  }
  SetEnemyCorner({x, y});
  // A peer that has just come, or come back, gets the whole maze now rather than at the
  // next resend, and its disc starts afresh where it is.
  if (anew) {
    _map.map_dirty.store(true);
    opponent_smoothing.Reset();
  }
  opponent_smoothing.Report(x, y, now);
}

// The peer's numbered deaths ask for one victory each, however often their notice comes.
bool FirstOfDeath(const std::vector<std::string>& values) {
  const std::optional<uint64_t> number = CommandNumber(values, 1);
  if (!number) return true;
  if (*number <= heard.death) return false;
  heard.death = *number;
  return true;
}

void ApplyMapCell(const std::vector<std::string>& values) {
  const int64_t index = static_cast<int64_t>(CommandInt(values, 0)) * kMapSide + CommandInt(values, 1);
  if (index < 0 || index >= kMapCells) return;
  _map.ApplyReceived(static_cast<int>(index), values.at(2), values.at(3) == "1");
}

// Scores only grow: taking the larger of ours and theirs makes both sides agree even when
// both players fell at once, and a repeated or late report changes nothing.
void ApplyScore(const std::vector<std::string>& values) {
  const int kills = CommandInt(values, 1);
  MergeScore(kills, 0);
  const int deaths = CommandInt(values, 0);
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
    hit.x = BoxCentre(p.player_x, p.player_w), hit.y = BoxCentre(p.player_y, p.player_h);
    cs->CalculateDirectionVector(hit.x, hit.y, BoxCentre(p.enemy_x, p.enemy_w), BoxCentre(p.enemy_y, p.enemy_h), hit.vx,
                                 hit.vy);
    p.velocity_x += kKnockPixelsPerTick * hit.vx;
    p.velocity_y += kKnockPixelsPerTick * hit.vy;
  }
  game_events.Raise(hit);
}

// A shot the peer fired becomes a ghost here. A report that could not come from a real shot
// is dropped: a launch point more than a cell outside the arena, or a speed above a bullet's.
void ApplyShot(const std::vector<std::string>& values) {
  const float x = CommandFloat(values, 0), y = CommandFloat(values, 1);
  const float vx = CommandFloat(values, 2), vy = CommandFloat(values, 3);
  if (!NearTheArena(x, y)) return;
  if (std::hypot(vx, vy) > bullet.speed * 1.01f) return;
  if (!FirstOf(heard.shots, values, 4)) return;  // a copy would fly a second ghost
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

// What the peer must not miss (a hit, a death, a score, a shot cell) goes out twice at once
// and once more on each of the next ticks, so that a lost datagram or two loses nothing; the
// receiver tells the copies apart. Positions need none of it: a new one follows each tick.
// Send thread only.
constexpr int kHitRepeats = 8;     // ticks after the first: about 120 ms
constexpr int kRoundRepeats = 30;  // about half a second for a death and its score
constexpr int kCellRepeats = 8;
struct Repeat {
  std::string text;
  int ticks_left;
};
std::vector<Repeat> repeats;

// What this side numbers, counted from the start of the match. Send thread only.
struct Numbers {
  uint64_t hits = 0, deaths = 0, shots = 0, positions = 0;
};
Numbers sent;

std::string Numbered(const std::string& command, uint64_t& counter) {
  return command + "{" + std::to_string(++counter) + "}";
}

void SendVital(std::string text, int later_ticks) {
  SendToPeer(text);
  SendToPeer(text);
  repeats.push_back(Repeat{std::move(text), later_ticks});
}

void SendRepeats() {
  for (auto it = repeats.begin(); it != repeats.end();) {
    SendToPeer(it->text);
    it = --it->ticks_left > 0 ? it + 1 : repeats.erase(it);
  }
}

void SendShotCells() {
  for (const int index : _map.TakeCellsToSend())
    SendVital(BuildMapBlockCommand(index / kMapSide, index % kMapSide, "NULL", false), kCellRepeats);
}

// The shots this side fired since the last tick, all of them: each is one ghost there.
void SendShots() {
  static thread_local std::vector<GameEvent> fired;
  ShotReports().TakeAll(fired);
  for (const GameEvent& shot : fired)
    if (shot.kind == GameEventKind::kFired)
      SendToPeer(Numbered(BuildShotCommand(shot.x, shot.y, shot.vx, shot.vy), sent.shots));
  fired.clear();
}

// Every queued command, newest first (a death's score before its notice). Hits and deaths
// get numbers of their own.
void SendQueuedCommands() {
  while (std::optional<std::string> command = network_transmission.popOutgoingBack()) {
    const auto named = [&command](const char* name) { return command->compare(0, 20, name) == 0; };
    if (named(kAttackCommand))
      SendVital(Numbered(*command, sent.hits), kHitRepeats);
    else if (named(kDeathNoticeCommand))
      SendVital(Numbered(*command, sent.deaths), kRoundRepeats);
    else if (named(kScoreCommand))
      SendVital(*command, kRoundRepeats);
    else
      SendToPeer(*command);
  }
}

}  // namespace

GameEventQueue& ShotReports() {
  static GameEventQueue queue;
  return queue;
}

bool Initialize_network() {
  if (!playerdata.online) return false;
  // A new match numbers from 1 again and has heard nothing yet; its loops start after this.
  sent = Numbers{};
  heard = Heard{};
  repeats.clear();
  if (match_link.load() != nullptr) return true;
  // Strangers' datagrams go at the door, before they take a place in the queue.
  _network.acceptOnlyFrom(playerdata.peer_ip, playerdata.peer_port);
  // Datagrams only: nothing in a match speaks TCP, and a listener would take anyone's call.
  return _network.startUDP(playerdata.local_port);
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
  // Numbered, so that a late copy never moves this side back on the peer's screen.
  SendToPeer(Numbered(BuildCoordinateCommand(x, y), sent.positions));
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
    if (!values.empty() && values[0] == "MY" && FirstOfDeath(values)) CoordinationSystem::getInstance()->RequestVictory();
  } else if (name == kScoreCommand) {
    ApplyScore(values);
  } else if (name == kAttackCommand) {
    if (FirstOf(heard.hits, values, 1)) HitReaction();
  }
  return false;
}

void Send_tick() {
  SendMazeAndScore();
  SendRepeats();
  SendQueuedCommands();
  SendShotCells();
  SendShots();
  Send_coordinates();
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

void UseMatchLink(MatchLink* link) { match_link.store(link); }

void Receive_tick() {
  if (MatchLink* link = match_link.load()) {
    static thread_local std::vector<std::string> texts;
    link->Take(texts);
    for (const std::string& text : texts)
      if (!text.empty()) Apply_datagram(text);
    texts.clear();
    return;
  }
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
  RunWakeableLoop(send_rate, &frame[kFrameSendLoop], network_transmission.send_wake, [] {
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
