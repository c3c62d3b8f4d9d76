// The practice opponent's rules and mind. It mirrors the player's own code on its own maze
// copy: Detecting_movement and Physics_step for its box, Bullet_tick and StepBullet for its
// shots, Death_detection for its fall, and the receive loop's rules for what it hears. Only
// the thread that drives the instance runs any of it; it writes no shared record.
#include "match/practice_opponent.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "core/coordination_system.h"
#include "core/physics_engine.h"
#include "core/player_movement.h"
#include "core/rules_tuning.h"
#include "match/match_sync.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "view/countdown_screens.h"

namespace {

constexpr int kTicksPerSecond = 65;
constexpr int kCountdownTicks = static_cast<int>(kCountdownMicros * kTicksPerSecond / 1'000'000);
constexpr int kResyncTicks = static_cast<int>(kResyncMicros * kTicksPerSecond / 1'000'000);
// What the player must not miss goes out as the send loop sends it: twice, then once more on
// each of this many ticks.
constexpr int kHitRepeats = 8, kRoundRepeats = 30, kCellRepeats = 8;
constexpr size_t kInboxLimit = 8192;

constexpr float kArena = static_cast<float>(kArenaSize);
// Where its centre may walk to: the whole box stays on the arena.
constexpr float kWalkMargin = 16.0f;
// Where braking must bring its centre to rest at the latest.
constexpr float kBrakeMargin = 8.0f;
// A bullet this far past the arena can no longer meet anybody in play.
constexpr float kBulletReach = 100.0f;
// A shot is taken only this close; farther, aim errors and the player's moves waste it.
constexpr float kShotRange = 520.0f;
// Knock directions it weighs when it looks for a spot, and how often it looks again.
constexpr int kDirections = 24;
constexpr int kReplanTicks = 8;
constexpr int kPlanLifeTicks = 65;
// How long it stays in cover once it took it, holds a spot where its shots get nowhere, and
// tries another spot instead.
constexpr int kCoverTicks = 20;
constexpr int kHoldTicks = 3 * kTicksPerSecond;
constexpr int kWanderTicks = 4 * kTicksPerSecond;
// How long a shot the player fired keeps it wary of standing where the player could throw it off.
constexpr int kWaryTicks = 4 * kTicksPerSecond;
// A knock that leaves the player at least this much nearer an edge is worth a shot.
constexpr float kUsefulPull = 60.0f;
// Deceleration it counts on when it plans to stop: a held key; friction only helps.
constexpr float kBraking = 0.2f;
constexpr float kPi = 3.14159265358979f;

// The wall test of Search_blocks on a given grid: the cell holding the box's corner (rounded
// toward zero, as getNearbyGrids does) and its right, lower and lower-right neighbours, of
// which a wall inside the grid that overlaps the box with positive area blocks it.
bool BoxBlocked(const std::array<bool, kMapCells>& wall, int x, int y, int w, int h) {
  const int64_t bx = int64_t{x} - x % kCellSize, by = int64_t{y} - y % kCellSize;
  for (int i = 0; i < 4; ++i) {
    const int64_t gx = bx + (i & 1) * kCellSize, gy = by + (i >> 1) * kCellSize;
    if (gx < 0 || gy < 0 || gx >= kArenaSize || gy >= kArenaSize) continue;
    if (!wall[(gy / kCellSize) * kMapSide + gx / kCellSize]) continue;
    if (x + w > gx && gx + kCellSize > x && y + h > gy && gy + kCellSize > y) return true;
  }
  return false;
}

// The wall cell a blocked bullet breaks, chosen as StepBullet's WallHit chooses it: of the
// wall cells its blocked boxes overlap, the one whose centre is nearest the bullet's centre.
struct WallPick {
  int cell = -1;
  int64_t distance = INT64_MAX;  // squared, in half pixels

  void Consider(const std::array<bool, kMapCells>& wall, int x, int y, int size, float centre_x, float centre_y) {
    const int64_t bx = int64_t{x} - x % kCellSize, by = int64_t{y} - y % kCellSize;
    for (int i = 0; i < 4; ++i) {
      const int64_t gx = bx + (i & 1) * kCellSize, gy = by + (i >> 1) * kCellSize;
      if (gx < 0 || gy < 0 || gx >= kArenaSize || gy >= kArenaSize) continue;
      const int index = static_cast<int>((gy / kCellSize) * kMapSide + gx / kCellSize);
      if (!wall[index]) continue;
      if (!(x + size > gx && gx + kCellSize > x && y + size > gy && gy + kCellSize > y)) continue;
      const int64_t dx = 2 * gx + kCellSize - static_cast<int64_t>(2 * centre_x);
      const int64_t dy = 2 * gy + kCellSize - static_cast<int64_t>(2 * centre_y);
      if (dx * dx + dy * dy < distance) distance = dx * dx + dy * dy, cell = index;
    }
  }
};

int CellOf(float x, float y) {
  const int col = std::clamp(static_cast<int>(std::floor(x / kCellSize)), 0, kMapSide - 1);
  const int row = std::clamp(static_cast<int>(std::floor(y / kCellSize)), 0, kMapSide - 1);
  return row * kMapSide + col;
}

float CellCentre(int index_along) { return static_cast<float>(index_along * kCellSize) + 0.5f * kCellSize; }

float EdgeDistance(float x, float y) { return std::min(std::min(x, kArena - x), std::min(y, kArena - y)); }

bool Inside(float x, float y) { return x >= 0 && x <= kArena && y >= 0 && y <= kArena; }

// The key that moves the velocity toward the speed that still stops in time at the target.
int KeyToward(float error, float velocity, float top_speed) {
  if (std::fabs(error) < 1.5f && std::fabs(velocity) < 0.25f) return 0;
  const float want = std::copysign(std::min(top_speed, std::sqrt(2 * kBraking * std::fabs(error))), error);
  if (velocity < want - 0.15f) return 1;
  if (velocity > want + 0.15f) return -1;
  return 0;
}

// A command with the next of its own numbers, as the send loop numbers them from 1.
std::string Numbered(const std::string& command, uint64_t& counter) {
  return command + "{" + std::to_string(++counter) + "}";
}

}  // namespace

PracticeOpponent::Style PracticeOpponent::StyleFor(int level) {
  switch (level) {
    case 1:  // sees late, aims loosely, shoots at whatever it sees, staggers long after a knock
      return {36, 9.0f, 0.0f, 26, 18, 2.6f, false};
    case 2:
      return {14, 3.5f, 0.5f, 14, 6, 3.4f, true};
    default:  // sees nearly at once, aims ahead of the player, takes only shots that pay
      return {4, 0.8f, 1.0f, kFireIntervalTicks, 1, 4.0f, true};
  }
}

PracticeOpponent::PracticeOpponent(int level, uint32_t seed)
    : level_(std::clamp(level, 1, 3)), style_(StyleFor(level_)), rng_(seed) {
  const PlayerData player{};
  max_speed_ = player.max_speed;
  acceleration_ = player.acceleration;
  friction_ = player.friction;
  time_step_ = player.time_step;
  box_w_ = player.player_w;
  box_h_ = player.player_h;
  max_energy_ = player.max_energy;
  energy_ = player.energy;
  const BulletPool pool{};
  bullet_speed_ = pool.speed;
  bullet_friction_ = pool.friction;
  bullet_time_step_ = pool.time_step;
  bullet_size_ = pool.size;
  bullet_lifetime_ = pool.lifetime;
  x_ = y_ = kGuestCorner;
  player_ = {kHostCorner, kHostCorner};
  ticks_since_shot_ = kFireIntervalTicks;
}

int PracticeOpponent::level() const { return level_; }
float PracticeOpponent::x() const { return x_; }
float PracticeOpponent::y() const { return y_; }
bool PracticeOpponent::in_countdown() const {
  return phase_ == Phase::kLostCountdown || phase_ == Phase::kWonCountdown;
}
int PracticeOpponent::kills() const { return kills_; }
int PracticeOpponent::deaths() const { return deaths_; }

void PracticeOpponent::Hear(const std::string& datagram) {
  // A driver that never ticks must not grow this without end; the excess is lost like a datagram.
  if (inbox_.size() < kInboxLimit) inbox_.push_back(datagram);
}

// ---- What it heard -------------------------------------------------------------------------

void PracticeOpponent::Apply(const std::string& datagram) {
  try {
    const ParsedCommand command = parseCommandString(datagram);
    const std::string& name = command.first;
    const std::vector<std::string>& values = command.second;
    if (name == kCoordinateCommand) {
      const float x = CommandFloat(values, 0), y = CommandFloat(values, 1);
      const std::optional<uint64_t> number = CommandNumber(values, 2);
      if (number) {
        if (*number <= newest_position_) return;  // a copy or an overtaken position
        newest_position_ = *number;
      }
      player_ = {x, y};
      player_heard_ = true;
    } else if (name == kMapBlockCommand) {
      ApplyCell(values);
    } else if (name == kAttackCommand) {
      ApplyHit(values);
    } else if (name == kDeathNoticeCommand) {
      ApplyDeathNotice(values);
    } else if (name == kScoreCommand) {
      // The player's (kills, deaths): its kills are our deaths. Scores only grow.
      kills_ = std::max(kills_, CommandInt(values, 1));
      deaths_ = std::max(deaths_, CommandInt(values, 0));
    } else if (name == kShotCommand) {
      // It does not dodge; a player who shoots makes it wary of where it stands for a while.
      for (size_t i = 0; i < 4; ++i) CommandFloat(values, i);
      wary_until_ = tick_ + kWaryTicks;
    }
  } catch (const std::exception&) {
    // Malformed or unusable: dropped, like a lost datagram.
  }
}

void PracticeOpponent::ApplyCell(const std::vector<std::string>& values) {
  const int64_t index = static_cast<int64_t>(CommandInt(values, 0)) * kMapSide + CommandInt(values, 1);
  if (index < 0 || index >= kMapCells) return;
  const int i = static_cast<int>(index);
  const bool is_wall = values.at(3) == "1";  // the kind in values[2] is only drawn; the flag decides
  if (!cell_heard_[i]) cell_heard_[i] = true, ++cells_heard_;
  if (is_wall && shot_away_[i]) {
    // Walls are never built: an older maze than ours, and the player hears again that it is open.
    const std::string open = BuildMapBlockCommand(i / kMapSide, i % kMapSide, "NULL", false);
    if (std::find(fresh_.begin(), fresh_.end(), open) == fresh_.end()) SendVital(open, kCellRepeats);
  } else {
    if (wall_[i] != is_wall) ++maze_version_;
    wall_[i] = is_wall;
    if (!is_wall) shot_away_[i] = true;
  }
  if (phase_ == Phase::kWaitingForMaze && cells_heard_ == kMapCells) phase_ = Phase::kInPlay;
}

void PracticeOpponent::ApplyHit(const std::vector<std::string>& values) {
  if (const std::optional<uint64_t> number = CommandNumber(values, 1)) {
    uint64_t& slot = hits_heard_[*number % kNumberRing];
    if (slot == *number) return;  // a copy: each hit knocks once
    slot = *number;
  }
  // While a countdown runs nobody is in play, and a knock would only carry into the next round.
  if (phase_ != Phase::kInPlay) return;
  float dx = 0, dy = 0;
  CoordinationSystem::getInstance()->CalculateDirectionVector(BoxCentre(x_, box_w_), BoxCentre(y_, box_h_),
                                                              BoxCentre(player_.x, box_w_), BoxCentre(player_.y, box_h_),
                                                              dx, dy);
  vx_ += kKnockPixelsPerTick * dx;
  vy_ += kKnockPixelsPerTick * dy;
  knocked_tick_ = tick_;
}

void PracticeOpponent::ApplyDeathNotice(const std::vector<std::string>& values) {
  if (values.empty() || values[0] != "MY") return;
  if (const std::optional<uint64_t> number = CommandNumber(values, 1)) {
    if (*number <= newest_death_) return;  // one round per death, however often it is told
    newest_death_ = *number;
  }
  if (phase_ != Phase::kInPlay) return;  // both fell at once: one countdown is enough
  phase_ = Phase::kWonCountdown;
  countdown_left_ = kCountdownTicks;
  vx_ = vy_ = 0;
  plan_.valid = false;
}

// ---- The round -----------------------------------------------------------------------------

void PracticeOpponent::Fall() {
  SendVital(BuildScoreCommand(kills_, deaths_ + 1), kRoundRepeats);
  SendVital(Numbered(BuildDeathNotice(), deaths_sent_), kRoundRepeats);
  ++deaths_;
  phase_ = Phase::kLostCountdown;
  countdown_left_ = kCountdownTicks;
  x_ = y_ = kParkedCorner;
  vx_ = vy_ = 0;
  plan_.valid = false;
}

void PracticeOpponent::Respawn() {
  phase_ = Phase::kInPlay;
  x_ = y_ = kGuestCorner;
  vx_ = vy_ = 0;
  knocked_tick_ = -1000;
  plan_.valid = false;
}

// ---- One tick ------------------------------------------------------------------------------

void PracticeOpponent::Tick(std::vector<std::string>& out) {
  ++tick_;
  for (const std::string& datagram : inbox_) Apply(datagram);
  inbox_.clear();
  seen_[tick_ % kHistory] = player_;
  seen_valid_[tick_ % kHistory] = player_heard_;

  if (in_countdown() && --countdown_left_ <= 0) Respawn();
  if (phase_ == Phase::kInPlay) {
    if (ticks_since_shot_ < INT_MAX) ++ticks_since_shot_;
    int key_x = 0, key_y = 0;
    Think(key_x, key_y);
    MaybeFire();
    Move(key_x, key_y);
    if (!Inside(BoxCentre(x_, box_w_), BoxCentre(y_, box_h_))) Fall();
  }
  StepBullets();

  // Sent in the send loop's order: the periodic score, the repeats, what is new, the shots,
  // and the position last.
  if (tick_ % kResyncTicks == 0) out.push_back(BuildScoreCommand(kills_, deaths_));
  for (auto it = repeats_.begin(); it != repeats_.end();) {
    out.push_back(it->text);
    it = --it->ticks_left > 0 ? it + 1 : repeats_.erase(it);
  }
  for (size_t i = 0; i < fresh_.size(); ++i) {
    out.push_back(fresh_[i]);
    out.push_back(fresh_[i]);
    repeats_.push_back(Repeat{std::move(fresh_[i]), fresh_repeats_[i]});
  }
  fresh_.clear();
  fresh_repeats_.clear();
  for (std::string& shot : shots_out_) out.push_back(std::move(shot));
  shots_out_.clear();
  out.push_back(Numbered(BuildCoordinateCommand(x_, y_), positions_sent_));
}

// ---- Thinking ------------------------------------------------------------------------------

bool PracticeOpponent::PlayerSeen(int ticks_ago, Point& centre) const {
  ticks_ago = std::clamp(ticks_ago, 0, kHistory - 1);
  const int64_t t = std::max<int64_t>(tick_ - ticks_ago, 1);
  const size_t slot = static_cast<size_t>(t % kHistory);
  if (!seen_valid_[slot]) return false;
  centre = {BoxCentre(seen_[slot].x, box_w_), BoxCentre(seen_[slot].y, box_h_)};
  // A parked or falling player is nobody to aim at.
  return Inside(centre.x, centre.y);
}

PracticeOpponent::Point PracticeOpponent::PredictedPlayer() const {
  Point now{}, before{};
  if (!PlayerSeen(style_.reaction_ticks, now)) return now;
  constexpr int kSpan = 4;
  if (!PlayerSeen(style_.reaction_ticks + kSpan, before)) return now;
  const float vx = (now.x - before.x) / kSpan, vy = (now.y - before.y) / kSpan;
  if (std::hypot(vx, vy) > 2 * kKnockPixelsPerTick) return now;  // a respawn, not a motion
  // Ahead by the time its bullet takes to get there, and by the reaction it lags behind.
  const float me_x = BoxCentre(x_, box_w_), me_y = BoxCentre(y_, box_h_);
  const float ahead = style_.lead * (std::hypot(now.x - me_x, now.y - me_y) / bullet_speed_ + style_.reaction_ticks);
  return {now.x + vx * ahead, now.y + vy * ahead};
}

void PracticeOpponent::Think(int& key_x, int& key_y) {
  key_x = key_y = 0;
  if (tick_ - knocked_tick_ < style_.stun_ticks) return;  // still reeling from a knock
  const Point me{BoxCentre(x_, box_w_), BoxCentre(y_, box_h_)};
  Point goal = me;
  Point seen{};
  if (PlayerSeen(style_.reaction_ticks, seen)) {
    const Point player = style_.hunts ? PredictedPlayer() : seen;
    if (style_.hunts) {
      // Again when the player has moved on since the last look, or the spot has grown old.
      const int64_t age = tick_ - plan_.made_tick;
      const float moved = std::hypot(player.x - plan_.for_player.x, player.y - plan_.for_player.y);
      const bool stale = age >= kPlanLifeTicks || (age >= kReplanTicks && (!plan_.valid || moved > 12));
      if (stale) ChooseSpot(player);
      // Where the player could throw it off, it gets out of the line first.
      if (Wary() && tick_ >= cover_until_ && Exposed(me, player) && FindCover(player, cover_))
        cover_until_ = tick_ + kCoverTicks;
      goal = tick_ < cover_until_ ? cover_ : plan_.valid ? plan_.spot : Approach(me, player);
    } else {
      goal = Approach(me, player);
    }
  }
  SteerTo(goal, key_x, key_y);
  KeepOffTheEdge(key_x, key_y);
  AvoidCornerTraps(key_x, key_y);
}

// Closes in on the player until a shot has a clear way, then holds there; when holding gets
// nowhere (the knocks move nobody), it tries from somewhere else near the player.
PracticeOpponent::Point PracticeOpponent::Approach(Point me, Point player) {
  if (tick_ < wander_until_) {
    if (std::hypot(wander_.x - me.x, wander_.y - me.y) > 10) return wander_;
    wander_until_ = 0;
  }
  constexpr float kStandOff = 150;
  if (std::hypot(player.x - me.x, player.y - me.y) >= kStandOff || !ClearShot(me, player, 0.5f * box_w_)) {
    holding_since_ = -1;
    return player;
  }
  if (holding_since_ < 0) holding_since_ = tick_;
  if (tick_ - holding_since_ < kHoldTicks) return me;
  holding_since_ = -1;
  std::uniform_int_distribution<int> offset(-3, 3);
  const int home = CellOf(player.x, player.y);
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int col = std::clamp(home % kMapSide + offset(rng_), 0, kMapSide - 1);
    const int row = std::clamp(home / kMapSide + offset(rng_), 0, kMapSide - 1);
    if (wall_[row * kMapSide + col]) continue;
    wander_ = {CellCentre(col), CellCentre(row)};
    wander_until_ = tick_ + kWanderTicks;
    return wander_;
  }
  return me;
}

// Whether the player, from `player`, has a clear shot at a box centred at `me` whose knock
// would throw it off the arena. A bullet mostly overlaps a box on two ticks: two hits.
bool PracticeOpponent::Exposed(Point me, Point player) const {
  if (!ClearShot(player, me, 0.5f * box_w_)) return false;
  float dx = 0, dy = 0;
  CoordinationSystem::getInstance()->CalculateDirectionVector(me.x, me.y, player.x, player.y, dx, dy);
  return SimulateKnock(me, 2 * kKnockPixelsPerTick * dx, 2 * kKnockPixelsPerTick * dy, true).fell;
}

// The centre of the nearest cell, a few steps away at most, where the player cannot throw it off.
bool PracticeOpponent::FindCover(Point player, Point& cover) const {
  const Point me{BoxCentre(x_, box_w_), BoxCentre(y_, box_h_)};
  std::array<int16_t, kMapCells> from_me;
  FillDistances(CellOf(me.x, me.y), from_me);
  constexpr int kReach = 4;
  float best = INFINITY;
  for (int cell = 0; cell < kMapCells; ++cell) {
    if (from_me[cell] < 0 || from_me[cell] > kReach) continue;
    const Point centre{CellCentre(cell % kMapSide), CellCentre(cell / kMapSide)};
    const float cost = from_me[cell] * static_cast<float>(kCellSize) + std::hypot(centre.x - me.x, centre.y - me.y);
    if (cost >= best || Exposed(centre, player)) continue;
    best = cost;
    cover = centre;
  }
  return best < INFINITY;
}

// The wall test stops each axis against the other's old coordinate, so a box that crosses a
// wall cell's two edges in one step slips into its corner, and no key gets it out again
// (every blocked step zeroes the velocity, and a key adds too little to leave in one). Keys
// are kept only while they, and braking after them, never end in such a corner.
void PracticeOpponent::AvoidCornerTraps(int& key_x, int& key_y) const {
  if (!TrapsItself(key_x, key_y)) return;
  int best_x = key_x, best_y = key_y, best_change = INT_MAX;
  for (int kx = -1; kx <= 1; ++kx)
    for (int ky = -1; ky <= 1; ++ky) {
      const int change = std::abs(kx - key_x) + std::abs(ky - key_y);
      if (change == 0 || change >= best_change) continue;
      int guarded_x = kx, guarded_y = ky;
      KeepOffTheEdge(guarded_x, guarded_y);
      if (guarded_x != kx || guarded_y != ky || TrapsItself(kx, ky)) continue;
      best_x = kx, best_y = ky, best_change = change;
    }
  key_x = best_x, key_y = best_y;
}

bool PracticeOpponent::TrapsItself(int key_x, int key_y) const {
  const float k = TimeScale();
  const float friction = friction_ / k, dt = time_step_ / k;
  const int w = TruncatePixel(box_w_), h = TruncatePixel(box_h_);
  float x = x_, y = y_, vx = vx_, vy = vy_;
  for (int step = 0; step < 24; ++step) {
    if (step > 0) {
      key_x = vx > acceleration_ ? -1 : (vx < -acceleration_ ? 1 : 0);
      key_y = vy > acceleration_ ? -1 : (vy < -acceleration_ ? 1 : 0);
      if (vx == 0 && vy == 0) return false;
    }
    if (vx > max_speed_) vx = max_speed_;
    if (vy > max_speed_) vy = max_speed_;
    vx += static_cast<float>(key_x) * acceleration_;
    vy += static_cast<float>(key_y) * acceleration_;
    float nx = x, ny = y;
    g_PhysicsEngine->CalculateAcceleration(vx, vy, nx, ny, friction, dt);
    const bool hit_x = Blocked(TruncatePixel(nx), TruncatePixel(y), w, h);
    const bool hit_y = Blocked(TruncatePixel(x), TruncatePixel(ny), w, h);
    if (hit_x) vx = 0; else x = nx;
    if (hit_y) vy = 0; else y = ny;
    // Each axis passed on its own: overlapping now means it slipped into a corner.
    if (!hit_x && !hit_y && Blocked(TruncatePixel(x), TruncatePixel(y), w, h)) return true;
  }
  return false;
}

// Looks for where to stand: a spot on a line through the player along which one hit throws it
// off the arena, or failing that pulls it well toward an edge, with a clear shot from there,
// that it can walk to soonest and where the player's own hits would not throw it off.
void PracticeOpponent::ChooseSpot(Point player) {
  plan_ = Plan{};
  plan_.for_player = player;
  plan_.made_tick = tick_;
  const Point me{BoxCentre(x_, box_w_), BoxCentre(y_, box_h_)};
  std::array<int16_t, kMapCells> from_me;
  FillDistances(CellOf(me.x, me.y), from_me);
  const float edge_now = EdgeDistance(player.x, player.y);
  const float half = 0.5f * box_w_;
  const int w = TruncatePixel(box_w_), h = TruncatePixel(box_h_);
  const bool player_steers = level_ >= 3;  // the hard one counts on the player fighting the knock
  float best_cost = INFINITY;
  for (int i = 0; i < kDirections; ++i) {
    const float angle = 2 * kPi * static_cast<float>(i) / kDirections;
    const float dx = std::cos(angle), dy = std::sin(angle);
    // The spots on this line it could stand on, nearest first, and what walking there costs.
    struct Candidate {
      Point spot;
      float cost;
    };
    std::array<Candidate, 8> candidates;
    size_t count = 0;
    float least = INFINITY;
    for (const float r : {30.0f, 50.0f, 75.0f, 100.0f, 130.0f, 170.0f, 220.0f, 280.0f}) {
      const Point spot{player.x + r * dx, player.y + r * dy};
      if (spot.x < kWalkMargin || spot.x > kArena - kWalkMargin || spot.y < kWalkMargin ||
          spot.y > kArena - kWalkMargin)
        continue;
      if (BoxBlocked(wall_, TruncatePixel(spot.x - half), TruncatePixel(spot.y - half), w, h)) continue;
      const int steps = from_me[CellOf(spot.x, spot.y)];
      if (steps < 0) continue;
      candidates[count++] = {spot, steps * static_cast<float>(kCellSize) + 0.5f * std::fabs(r - 90)};
      least = std::min(least, candidates[count - 1].cost);
    }
    if (least >= best_cost) continue;  // the knock would only add to it
    const KnockOutcome knock = SimulateKnock(player, kKnockPixelsPerTick * dx, kKnockPixelsPerTick * dy, player_steers);
    const float left = knock.fell ? 0.0f : EdgeDistance(knock.rest.x, knock.rest.y);
    if (!knock.fell && left > edge_now - kUsefulPull) continue;
    const float extra = 4 * left + (knock.fell ? 0.0f : 300.0f);
    bool safe_checked = false;
    for (size_t c = 0; c < count; ++c) {
      const float cost = candidates[c].cost + extra;
      if (cost >= best_cost) continue;
      // A wall in the way from here is in the way from farther out too.
      if (!ClearShot(candidates[c].spot, player, half)) break;
      if (!safe_checked && Wary()) {
        // Hit back from there, it is knocked toward the player: along -d, twice over.
        if (SimulateKnock(candidates[c].spot, -2 * kKnockPixelsPerTick * dx, -2 * kKnockPixelsPerTick * dy, true).fell)
          break;
      }
      safe_checked = true;
      best_cost = cost;
      plan_.valid = true;
      plan_.spot = candidates[c].spot;
    }
  }
}

void PracticeOpponent::SteerTo(Point goal, int& key_x, int& key_y) {
  const int goal_cell = CellOf(goal.x, goal.y);
  if (goal_cell != goal_cell_ || goal_version_ != maze_version_) {
    FillDistances(goal_cell, to_goal_);
    goal_cell_ = goal_cell;
    goal_version_ = maze_version_;
  }
  const float me_x = BoxCentre(x_, box_w_), me_y = BoxCentre(y_, box_h_);
  const int here = CellOf(me_x, me_y);
  float target_x = goal.x, target_y = goal.y;
  bool along_x = true;
  float cross_error = 0;
  if (here != goal_cell && to_goal_[here] > 0) {
    // The next cell one step nearer, then on in the same direction while the path runs straight.
    static constexpr int kSteps[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};  // column, row
    const int col = here % kMapSide, row = here / kMapSide;
    int best = -1;
    float best_lean = -INFINITY;
    for (int s = 0; s < 4; ++s) {
      const int c = col + kSteps[s][0], r = row + kSteps[s][1];
      if (c < 0 || c >= kMapSide || r < 0 || r >= kMapSide) continue;
      if (to_goal_[r * kMapSide + c] != to_goal_[here] - 1) continue;
      // Where two ways are as short, the one it already goes: swapping back and forth would
      // make it walk diagonally, into wall corners.
      const float lean = kSteps[s][0] * (goal.x - me_x) + kSteps[s][1] * (goal.y - me_y) + (s == last_step_ ? 1e6f : 0);
      if (lean > best_lean) best_lean = lean, best = s;
    }
    last_step_ = best;
    if (best >= 0) {
      int c = col + kSteps[best][0], r = row + kSteps[best][1];
      for (;;) {
        const int nc = c + kSteps[best][0], nr = r + kSteps[best][1];
        if (r * kMapSide + c == goal_cell || nc < 0 || nc >= kMapSide || nr < 0 || nr >= kMapSide) break;
        if (to_goal_[nr * kMapSide + nc] != to_goal_[r * kMapSide + c] - 1) break;
        c = nc, r = nr;
      }
      along_x = kSteps[best][0] != 0;
      const bool at_goal = r * kMapSide + c == goal_cell;
      // Down the middle of the corridor it is in, to the end of the straight run.
      if (along_x) {
        target_x = at_goal ? goal.x : CellCentre(c);
        target_y = CellCentre(row);
        cross_error = target_y - me_y;
      } else {
        target_y = at_goal ? goal.y : CellCentre(r);
        target_x = CellCentre(col);
        cross_error = target_x - me_x;
      }
    }
  }
  // Off the corridor's middle a turn would catch the box on a wall's corner: slow down first.
  const float gate = std::clamp(1.0f - (std::fabs(cross_error) - 5.0f) / 10.0f, 0.15f, 1.0f);
  key_x = KeyToward(target_x - me_x, vx_, style_.top_speed * (along_x ? gate : 1.0f));
  key_y = KeyToward(target_y - me_y, vy_, style_.top_speed * (along_x ? 1.0f : gate));
}

// Whatever the keys want, never a key that would leave it unable to stop short of the edge.
void PracticeOpponent::KeepOffTheEdge(int& key_x, int& key_y) const {
  const float k = TimeScale();
  const float friction = friction_ / k, dt = time_step_ / k;
  const auto glide = [&](float v, int first_key) {
    // Travel from here on with this key now and a brake against the motion after.
    float s = 0;
    for (int step = 0; step < 400; ++step) {
      if (v > max_speed_) v = max_speed_;
      const int key = step == 0 ? first_key : (v > 0 ? -1 : (v < 0 ? 1 : 0));
      if (step > 0 && key == 0) break;
      const float before = v;
      v += static_cast<float>(key) * acceleration_;
      s += v * dt;
      v *= 1 - friction;
      if (step > 0 && (v == 0 || (before > 0) != (v > 0))) break;
    }
    return s;
  };
  const auto guard = [&](float centre, float v, int& key) {
    const float rest = centre + glide(v, key);
    if (rest < kBrakeMargin) key = v < 0 ? 1 : (key < 0 ? 0 : key);
    if (rest > kArena - kBrakeMargin) key = v > 0 ? -1 : (key > 0 ? 0 : key);
  };
  guard(BoxCentre(x_, box_w_), vx_, key_x);
  guard(BoxCentre(y_, box_h_), vy_, key_y);
}

void PracticeOpponent::MaybeFire() {
  if (ticks_since_shot_ < std::max(kFireIntervalTicks, style_.fire_gap_ticks)) return;
  if (tick_ - knocked_tick_ < style_.stun_ticks) return;
  Point seen{};
  if (!PlayerSeen(style_.reaction_ticks, seen)) return;
  const Point aim = style_.hunts ? PredictedPlayer() : seen;
  const Point me{BoxCentre(x_, box_w_), BoxCentre(y_, box_h_)};
  const float distance = std::hypot(aim.x - me.x, aim.y - me.y);
  if (distance > kShotRange || !ClearShot(me, aim, 0.5f * box_w_)) return;
  if (style_.hunts && !(Wary() && Exposed(me, aim))) {
    // Only a hit that throws the player off, or pulls it well toward an edge. Where the player
    // could throw it off, though, it shoots at once: a knock pulls the player out of its place.
    float dx = 0, dy = 0;
    CoordinationSystem::getInstance()->CalculateDirectionVector(aim.x, aim.y, me.x, me.y, dx, dy);
    const KnockOutcome knock =
        SimulateKnock(aim, kKnockPixelsPerTick * dx, kKnockPixelsPerTick * dy, level_ >= 3);
    if (!knock.fell &&
        EdgeDistance(knock.rest.x, knock.rest.y) > EdgeDistance(aim.x, aim.y) - kUsefulPull)
      return;
  }
  // The bullet's box hangs below and right of its corner: aim that corner so the box's middle
  // flies at the target, give or take the level's spread.
  const float half_bullet = 0.5f * bullet_size_;
  std::normal_distribution<float> spread(0.0f, style_.aim_error_deg * kPi / 180.0f);
  const float angle = std::atan2(aim.y - half_bullet - me.y, aim.x - half_bullet - me.x) + spread(rng_);
  const float vx = std::cos(angle) * bullet_speed_, vy = std::sin(angle) * bullet_speed_;
  if (bullets_.size() >= static_cast<size_t>(kBulletSlots)) return;  // the pool's size, as the player's
  bullets_.push_back(Bullet{vx, vy, me.x, me.y, tick_});
  shots_out_.push_back(Numbered(BuildShotCommand(me.x, me.y, vx, vy), shots_sent_));
  ticks_since_shot_ = 0;
}

// ---- The rules on its own maze -------------------------------------------------------------

bool PracticeOpponent::Blocked(int x, int y, int w, int h) const { return BoxBlocked(wall_, x, y, w, h); }

// Whether a bullet fired from `from` (the shooter's centre) at `to` meets the box of half-size
// `target_half` around `to` before any wall, stepped as StepBullet steps it.
bool PracticeOpponent::ClearShot(Point from, Point to, float target_half) const {
  const float k = TimeScale();
  const int box = TruncatePixel(bullet_size_);
  const float half_bullet = 0.5f * bullet_size_;
  const float dx = to.x - half_bullet - from.x, dy = to.y - half_bullet - from.y;
  const float len = std::max(std::hypot(dx, dy), 0.001f);
  float vx = dx / len * bullet_speed_, vy = dy / len * bullet_speed_, x = from.x, y = from.y;
  const int steps = static_cast<int>(len / (bullet_speed_ * bullet_time_step_ / k)) + 3;
  const float tx = to.x - target_half, ty = to.y - target_half, size = 2 * target_half;
  for (int i = 0; i < steps; ++i) {
    if (g_PhysicsEngine->AABBCollisionCheck(x, y, bullet_size_, bullet_size_, tx, ty, size, size)) return true;
    float nx = x, ny = y;
    g_PhysicsEngine->CalculateAcceleration(vx, vy, nx, ny, bullet_friction_ / k, bullet_time_step_ / k);
    if (Blocked(TruncatePixel(nx), TruncatePixel(y), box, box) ||
        Blocked(TruncatePixel(x), TruncatePixel(ny), box, box))
      return false;
    x = nx, y = ny;
  }
  return g_PhysicsEngine->AABBCollisionCheck(x, y, bullet_size_, bullet_size_, tx, ty, size, size);
}

// A box of a player's size whose centre is at `centre`, given velocity (vx, vy) by a knock and
// stepped as Physics_step steps a player on this maze; `steers` holds the keys against the
// motion, as a player fighting the knock would.
PracticeOpponent::KnockOutcome PracticeOpponent::SimulateKnock(Point centre, float vx, float vy, bool steers) const {
  const float k = TimeScale();
  const float friction = friction_ / k, dt = time_step_ / k;
  const int w = TruncatePixel(box_w_), h = TruncatePixel(box_h_);
  const float half_w = 0.5f * box_w_, half_h = 0.5f * box_h_;
  float x = centre.x - half_w, y = centre.y - half_h;
  for (int step = 0; step < 200; ++step) {
    if (vx > max_speed_) vx = max_speed_;
    if (vy > max_speed_) vy = max_speed_;
    if (steers) {
      if (vx > acceleration_) vx -= acceleration_;
      if (vx < -acceleration_) vx += acceleration_;
      if (vy > acceleration_) vy -= acceleration_;
      if (vy < -acceleration_) vy += acceleration_;
    }
    float nx = x, ny = y;
    g_PhysicsEngine->CalculateAcceleration(vx, vy, nx, ny, friction, dt);
    const bool hit_x = Blocked(TruncatePixel(nx), TruncatePixel(y), w, h);
    const bool hit_y = Blocked(TruncatePixel(x), TruncatePixel(ny), w, h);
    if (hit_x) vx = 0; else x = nx;
    if (hit_y) vy = 0; else y = ny;
    const float cx = x + half_w, cy = y + half_h;
    if (!Inside(cx, cy)) return {true, {cx, cy}};
    // Done once the rest of the glide cannot reach an edge any more.
    if ((std::fabs(vx) + std::fabs(vy)) * dt / std::max(friction, 0.01f) < EdgeDistance(cx, cy)) break;
  }
  return {false, {x + half_w, y + half_h}};
}

// Its own control and physics step: Detecting_movement's bound and keys, then Physics_step's
// low-energy slowdown, integration and per-axis wall stop.
void PracticeOpponent::Move(int key_x, int key_y) {
  if (vy_ > max_speed_) vy_ = max_speed_;
  if (vx_ > max_speed_) vx_ = max_speed_;
  vx_ += static_cast<float>(key_x) * acceleration_;
  vy_ += static_cast<float>(key_y) * acceleration_;

  const float x0 = x_, y0 = y_;
  float vx = vx_, vy = vy_;
  // Nothing in the game spends energy yet, so its stays full; the slowdown is the player's all the same.
  const float f = LowEnergySpeedFactor(energy_, max_energy_);
  vx *= f;
  vy *= f;
  const float k = TimeScale();
  float x = x0, y = y0;
  g_PhysicsEngine->CalculateAcceleration(vx, vy, x, y, friction_ / k, time_step_ / k);
  const int w = TruncatePixel(box_w_), h = TruncatePixel(box_h_);
  const bool hit_x = Blocked(TruncatePixel(x), TruncatePixel(y0), w, h);
  const bool hit_y = Blocked(TruncatePixel(x0), TruncatePixel(y), w, h);
  x_ = hit_x ? x0 : x;
  vx_ = hit_x ? 0.0f : vx;
  y_ = hit_y ? y0 : y;
  vy_ = hit_y ? 0.0f : vy;
}

// Bullet_tick for its own bullets: expiry, one step each at the loop's time scale, the wall it
// breaks, and every tick a bullet overlaps the player's box as last heard is another hit.
void PracticeOpponent::StepBullets() {
  if (bullets_.empty()) return;
  const float k = TimeScale();
  const int box = TruncatePixel(bullet_size_);
  int hits = 0;
  size_t kept = 0;
  for (size_t i = 0; i < bullets_.size(); ++i) {
    Bullet b = bullets_[i];
    if (tick_ > b.fired_tick + bullet_lifetime_) continue;
    float vx = b.vx, vy = b.vy, x = b.x, y = b.y;
    g_PhysicsEngine->CalculateAcceleration(vx, vy, x, y, bullet_friction_ / k, bullet_time_step_ / k);
    const bool hit_x = Blocked(TruncatePixel(x), TruncatePixel(b.y), box, box);
    const bool hit_y = Blocked(TruncatePixel(b.x), TruncatePixel(y), box, box);
    bool flies = true;
    if (!hit_x && !hit_y) {
      b.vx = vx, b.vy = vy, b.x = x, b.y = y;
    } else {
      WallPick pick;
      const float centre_x = BoxCentre(x, static_cast<float>(box)), centre_y = BoxCentre(y, static_cast<float>(box));
      if (hit_x) pick.Consider(wall_, TruncatePixel(x), TruncatePixel(b.y), box, centre_x, centre_y);
      if (hit_y) pick.Consider(wall_, TruncatePixel(b.x), TruncatePixel(y), box, centre_x, centre_y);
      if (pick.cell >= 0) {
        wall_[pick.cell] = false;
        shot_away_[pick.cell] = true;
        ++maze_version_;
        SendVital(BuildMapBlockCommand(pick.cell / kMapSide, pick.cell % kMapSide, "NULL", false), kCellRepeats);
      }
      flies = false;  // kept where it was before the wall, for the hit test below
    }
    if (player_heard_ && g_PhysicsEngine->AABBCollisionCheck(b.x, b.y, bullet_size_, bullet_size_, player_.x,
                                                              player_.y, box_w_, box_h_))
      ++hits;
    const bool gone = b.x + bullet_size_ < -kBulletReach || b.x > kArena + kBulletReach ||
                      b.y + bullet_size_ < -kBulletReach || b.y > kArena + kBulletReach;
    if (flies && !gone) bullets_[kept++] = b;
  }
  bullets_.resize(kept);
  for (int i = 0; i < hits; ++i) SendVital(Numbered(BuildAttackNotification(), hits_sent_), kHitRepeats);
}

// Steps from every open cell to `goal_cell` over open neighbours, -1 where there is no way.
void PracticeOpponent::FillDistances(int goal_cell, std::array<int16_t, kMapCells>& dist) const {
  dist.fill(-1);
  std::array<int16_t, kMapCells> queue;
  int head = 0, tail = 0;
  dist[goal_cell] = 0;
  queue[tail++] = static_cast<int16_t>(goal_cell);
  while (head < tail) {
    const int cell = queue[head++];
    const int col = cell % kMapSide, row = cell / kMapSide;
    const int next[4] = {col + 1 < kMapSide ? cell + 1 : -1, col > 0 ? cell - 1 : -1,
                         row + 1 < kMapSide ? cell + kMapSide : -1, row > 0 ? cell - kMapSide : -1};
    for (const int n : next) {
      if (n < 0 || wall_[n] || dist[n] >= 0) continue;
      dist[n] = static_cast<int16_t>(dist[cell] + 1);
      queue[tail++] = static_cast<int16_t>(n);
    }
  }
}

// ---- What it sends -------------------------------------------------------------------------

void PracticeOpponent::SendVital(std::string text, int later_ticks) {
  fresh_.push_back(std::move(text));
  fresh_repeats_.push_back(later_ticks);
}
