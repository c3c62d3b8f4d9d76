// Fuzz target for the peer's commands as the receive loop applies them: any bytes go through
// parseCommandString and Process_command, then through Apply_datagram as the loop calls it.
// Whatever the peer sends, the enemy stays at a finite place, the maze cells keep their
// places, scores never fall or go negative, the incoming list stays bounded and a cell shot
// away never turns back into a wall, and ghosts stay bounded and possible; a break traps. Single-threaded: round_over keeps an
// attack from starting effects, and the transport is never started, so nothing is sent.
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/coordination_system.h"
#include "core/ghost_bullets.h"
#include "match/match_sync.h"
#include "records/command_string.h"
#include "records/game_records.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// Shot away before each input; 0, 18 and 255 are walls in the starting maze.
constexpr int kShotCells[] = {0, 18, 77, 255};
constexpr Versus kStartScore{9, 4};

bool StartsAsWall(int i) { return i % 3 == 0; }

// Puts the records back to one starting state, touching only what an input can change.
void Reset() {
  playerdata.round_over = true;
  playerdata.enemy_x = 700;
  playerdata.enemy_y = 700;
  versus = kStartScore;
  for (int i = 0; i < kMapCells; ++i) {
    MapCell& cell = _map.cells[i];
    cell.is_wall = StartsAsWall(i);
    cell.type = cell.is_wall ? "wall" : "NULL";
  }
  _map.ResetShotAway();
  for (const int i : kShotCells) _map.ClearForGood(i, false);
  CoordinationSystem::getInstance()->TakeVictoryRequest();
}

void SetUpOnce() {
  // Nearly full, so every unhandled input pushes against the bound.
  for (size_t i = network_transmission.incomingSize(); i + 1 < kMaxQueuedCommands; ++i)
    network_transmission.pushIncoming("filler");
}

bool IsNamed(const ParsedCommand& parsed, const char* name) { return parsed.first == name; }
// Commands that may carry a number telling copies apart, which must be plain digits.
bool Numbered(const ParsedCommand& parsed) {
  return IsNamed(parsed, kAttackCommand) || IsNamed(parsed, kDeathNoticeCommand);
}

// The documented path: a parse or value failure is one of the two exceptions the caller
// drops; anything else escapes and is reported.
void ApplyStrictly(const std::string& text) {
  ParsedCommand parsed;
  try {
    parsed = parseCommandString(text);
  } catch (const std::invalid_argument&) {
    return;
  }
  const bool positional = IsNamed(parsed, kCoordinateCommand) || IsNamed(parsed, kMapBlockCommand) ||
                          IsNamed(parsed, kShotCommand);
  try {
    Check(Process_command(parsed) == positional);
  } catch (const std::invalid_argument&) {
    Check(positional || IsNamed(parsed, kScoreCommand) || Numbered(parsed));
  } catch (const std::out_of_range&) {
    Check(positional || IsNamed(parsed, kScoreCommand));
  }
  // Only a death notice from the peer asks for a victory screen.
  const bool victory = CoordinationSystem::getInstance()->TakeVictoryRequest();
  Check(!victory || (IsNamed(parsed, kDeathNoticeCommand) && !parsed.second.empty() && parsed.second[0] == "MY"));
}

void CheckInvariants() {
  Check(std::isfinite(playerdata.enemy_x) && std::isfinite(playerdata.enemy_y));
  Check(versus.kills >= kStartScore.kills && versus.deaths >= kStartScore.deaths);
  Check(network_transmission.incomingSize() <= kMaxQueuedCommands);
  for (int i = 0; i < kMapCells; ++i) {
    const MapCell& cell = _map.cells[i];
    Check(cell.index == i && cell.x == (i % kMapSide) * kCellSize && cell.y == (i / kMapSide) * kCellSize);
    Check(cell.width == kCellSize && cell.height == kCellSize);
    // Once open for good, never a wall: the fixed cells and any opened by this input.
    if (_map.shot_away[i]) Check(!cell.is_wall);
    Check(cell.type != "wall" || cell.is_wall);  // drawn as a block only when it blocks
  }
  for (const int i : kShotCells) Check(_map.shot_away[i]);
  // Ghosts stay few, and each is a shot a real bullet could be.
  const std::vector<BulletMotion> ghosts = ghost_bullets.InFlight();
  Check(ghosts.size() <= GhostBullets::kCapacity);
  for (const BulletMotion& g : ghosts) {
    Check(std::isfinite(g.x) && std::isfinite(g.y) && g.x >= -kCellSize && g.x <= kArenaSize + kCellSize);
    Check(g.y >= -kCellSize && g.y <= kArenaSize + kCellSize && std::hypot(g.vx, g.vy) <= bullet.speed * 1.01f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool set_up = (SetUpOnce(), true);
  (void)set_up;
  Reset();
  const std::string text = size > 0 ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  ApplyStrictly(text);
  CheckInvariants();
  Apply_datagram(text);  // the receive loop's own path; applying twice must change nothing more
  CheckInvariants();
  return 0;
}
