// The practice opponent against the player's real code: the test thread plays the host's side
// on the global records tick by tick, with the real send and receive ticks over the
// in-process link and no loops, window or network. The tick is the only clock, so minutes of
// play pass in a moment. Also what it does with copies of what it hears.
#include "match/practice_opponent.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/bullets.h"
#include "core/coordination_system.h"
#include "core/game_events.h"
#include "core/ghost_bullets.h"
#include "core/maze_generator.h"
#include "core/physics_engine.h"
#include "core/player_movement.h"
#include "core/rules_tuning.h"
#include "gfx/graphics.h"
#include "gfx/key_monitor.h"
#include "match/in_process_link.h"
#include "match/match_sync.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "view/countdown_screens.h"

namespace {

constexpr int kTicksPerSecond = 65;
constexpr int kCountdownTicks = static_cast<int>(kCountdownMicros * kTicksPerSecond / 1'000'000);
constexpr int kMinute = 60 * kTicksPerSecond;

enum class Player { kStill, kCirclesAndFires };

// The host's side of a practice match on the global records, one control tick at a time: its
// main loop's round rules, its control and physics steps and its bullet loop when it fires,
// then the real send tick, the opponent's tick and the real receive tick, as the practice
// match's threads would take turns.
class Match {
 public:
  Match(int level, uint32_t seed, Player player) : opponent(level, seed), player_(player) {
    bool grid[16][16];
    generateMaze(grid, seed);
    playerdata = PlayerData{};
    playerdata.online = playerdata.is_host = true;
    playerdata.player_x = playerdata.player_y = kHostCorner;
    playerdata.enemy_x = playerdata.enemy_y = kGuestCorner;
    versus = Versus{};
    ClearShared();
    StoreMaze(grid);
    frame[kFrameMainLoop] = 0;
    game_events.AddQueue(ShotReports());
    UseMatchLink(&link_.PlayerEnd());
    Initialize_network();
  }
  // What it changed that a later case in the same process could trip over.
  ~Match() {
    UseMatchLink(nullptr);
    game_events.Clear();
    ClearShared();
  }

  // The keys held, the shots flying, the command lists, a peer never heard and a pending victory.
  static void ClearShared() {
    for (const char key : {'W', 'A', 'S', 'D'}) ekr[static_cast<int>(key)] = false;
    KeyMonitor::GetInstance()->ResetAllKeys();
    {
      std::lock_guard lock(bullet_mutex);
      for (BulletSlot& slot : bullet.slots) slot.active = false;
    }
    ghost_bullets.Clear();
    while (network_transmission.popOutgoingBack()) {
    }
    network_transmission.incoming.clear();
    network_transmission.peer_heard_us = -1;
    CoordinationSystem::getInstance()->TakeVictoryRequest();
  }

  void Tick() {
    ++frame[kFrameMainLoop];
    if (!Shared(playerdata.round_over) && player_ == Player::kCirclesAndFires) {
      Circle();
      if (cooldown_.Tick(ClearShotAtOpponent())) Fire();
    }
    Physics_step();
    if (player_ == Player::kCirclesAndFires) Bullet_tick();
    RoundRules();
    Send_tick();
    MatchLink& end = link_.OpponentEnd();
    end.Take(heard_);
    for (const std::string& text : heard_) opponent.Hear(text);
    heard_.clear(), said_.clear();
    opponent.Tick(said_);
    ReplayOpponentShots();
    for (const std::string& text : said_) {
      end.Send(text);
      if (text.compare(0, 20, kMapBlockCommand) == 0) {
        const std::vector<std::string> values = parseCommandString(text).second;
        opened_by_opponent_.push_back(std::stoi(values.at(0)) * kMapSide + std::stoi(values.at(1)));
      }
    }
    Receive_tick();
    network_transmission.incoming.clear();  // the commands the handler files; nobody reads them here
    const float dx = opponent.x() - playerdata.player_x, dy = opponent.y() - playerdata.player_y;
    if (!opponent.in_countdown() && !Shared(playerdata.round_over))
      closest_ = std::min(closest_, std::hypot(dx, dy));
  }

  // Rounds the player won and lost, as its own score tells them.
  int player_wins() const { return versus.kills; }
  int player_losses() const { return versus.deaths; }
  // The nearest the opponent came to the player while both were in play.
  float closest() const { return closest_; }
  // Cells the opponent said were shot away (copies included), and the cells the game's own
  // bullet step breaks when the opponent's reported shots fly through the player's maze.
  const std::vector<int>& opened_by_opponent() const { return opened_by_opponent_; }
  const std::vector<int>& broken_by_its_shots() const { return broken_by_its_shots_; }

  PracticeOpponent opponent;

 private:
  // The main loop's rules, with each countdown counted in ticks instead of shown.
  void RoundRules() {
    CoordinationSystem& rules = *CoordinationSystem::getInstance();
    if (countdown_ > 0) {
      if (--countdown_ == 0) rules.End_round(round_end_);
      return;
    }
    if (rules.Death_detection()) {
      countdown_ = kCountdownTicks, round_end_ = CoordinationSystem::RoundEnd::kLost;
    } else if (rules.TakeVictoryRequest()) {
      rules.win_death();
      countdown_ = kCountdownTicks, round_end_ = CoordinationSystem::RoundEnd::kWon;
    }
  }

  // The opponent's shots of this tick join the replay, and every replayed shot takes one step
  // of the real bullet rule, in the maze as it stood before this tick's reports from it.
  void ReplayOpponentShots() {
    for (const std::string& text : said_) {
      if (text.compare(0, 20, kShotCommand) != 0) continue;
      const std::vector<std::string> v = parseCommandString(text).second;
      replayed_.push_back(
          {stringToFloat(v.at(2)), stringToFloat(v.at(3)), stringToFloat(v.at(0)), stringToFloat(v.at(1))});
    }
    for (auto it = replayed_.begin(); it != replayed_.end();) {
      int wall = -1;
      const bool flies = StepBullet(*it, TimeScale(), static_cast<int>(bullet.size), &wall);
      if (wall >= 0) broken_by_its_shots_.push_back(wall);
      const bool far = std::fabs(it->x - 400) > 600 || std::fabs(it->y - 400) > 600;
      it = flies && !far ? it + 1 : replayed_.erase(it);
    }
  }

  // Round and round the open ring, clockwise, holding the keys a player would: to the far
  // corner of the side it is on, or back out to the nearest side when knocked off the ring.
  void Circle() {
    const float cx = BoxCentre(playerdata.player_x, playerdata.player_w);
    const float cy = BoxCentre(playerdata.player_y, playerdata.player_h);
    constexpr float kNear = 25, kFar = kArenaSize - 25;
    float tx = cx, ty = cy;
    if (cy < 50 && cx < kFar - 15)
      tx = kFar, ty = kNear;
    else if (cx > kArenaSize - 50 && cy < kFar - 15)
      tx = kFar, ty = kFar;
    else if (cy > kArenaSize - 50 && cx > kNear + 15)
      tx = kNear, ty = kFar;
    else if (cx < 50 && cy > kNear + 15)
      tx = kNear, ty = kNear;
    else if (std::min(cx, kArenaSize - cx) < std::min(cy, kArenaSize - cy))
      tx = cx < kArenaSize / 2 ? kNear : kFar;
    else
      ty = cy < kArenaSize / 2 ? kNear : kFar;
    const auto hold = [](float error, float v, char less, char more) {
      const float want = std::copysign(std::min(3.0f, std::sqrt(0.4f * std::fabs(error))), error);
      ekr[static_cast<int>(less)] = v > want + 0.15f;
      ekr[static_cast<int>(more)] = v < want - 0.15f;
    };
    hold(tx - cx, playerdata.velocity_x, 'A', 'D');
    hold(ty - cy, playerdata.velocity_y, 'W', 'S');
    Detecting_movement();
  }

  // Whether a bullet fired now at the opponent's centre would reach it before a wall, within
  // the 500 pixels a player would shoot across.
  bool ClearShotAtOpponent() const {
    const PlayerData& p = playerdata;
    const Corner me = PlayerCorner(), them = EnemyCorner();
    const float cx = BoxCentre(me.x, p.player_w), cy = BoxCentre(me.y, p.player_h);
    const float dx = BoxCentre(them.x, p.enemy_w) - cx, dy = BoxCentre(them.y, p.enemy_h) - cy;
    const float len = std::hypot(dx, dy);
    if (len > 500 || len < 1) return false;
    BulletMotion m{dx / len * bullet.speed, dy / len * bullet.speed, cx, cy};
    for (int i = 0; i * bullet.speed < len + bullet.speed; ++i) {
      if (g_PhysicsEngine->AABBCollisionCheck(m.x, m.y, bullet.size, bullet.size, them.x, them.y, p.enemy_w, p.enemy_h))
        return true;
      if (!StepBullet(m, TimeScale(), static_cast<int>(bullet.size), nullptr)) return false;
    }
    return false;
  }

  void Fire() {
    const Corner them = EnemyCorner();
    Launch_bullet(BoxCentre(them.x, playerdata.enemy_w), BoxCentre(them.y, playerdata.enemy_h));
  }

  const Player player_;
  FireCooldown cooldown_;
  int countdown_ = 0;
  CoordinationSystem::RoundEnd round_end_ = CoordinationSystem::RoundEnd::kLost;
  InProcessLink link_;
  std::vector<std::string> heard_, said_;
  std::vector<int> opened_by_opponent_, broken_by_its_shots_;
  std::vector<BulletMotion> replayed_;
  float closest_ = INFINITY;
};

// ---- Whole matches --------------------------------------------------------------------------

class PracticeOpponentAlone : public ::testing::TestWithParam<int> {};

TEST_P(PracticeOpponentAlone, NeverFallsOffByItselfInTenMinutes) {
  // The player stands in its corner and never fires: nothing ever knocks the opponent, which
  // still has to cross the arena, along the open edge, to get at the player.
  Match match(GetParam(), 1000 + static_cast<uint32_t>(GetParam()), Player::kStill);
  for (int tick = 0; tick < 10 * kMinute; ++tick) match.Tick();
  EXPECT_EQ(match.opponent.deaths(), 0);
  EXPECT_EQ(match.player_wins(), 0);
  EXPECT_LT(match.closest(), 200.0f) << "it never went for the player";
}

INSTANTIATE_TEST_SUITE_P(PracticeOpponentLevels, PracticeOpponentAlone, ::testing::Values(1, 2, 3));

TEST(PracticeOpponentMatch, HardLevelKnocksAStillPlayerOffWithinAMinute) {
  int won = 0;
  std::string slow;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    Match match(3, seed, Player::kStill);
    for (int tick = 0; tick < kMinute && match.player_losses() == 0; ++tick) match.Tick();
    if (match.player_losses() > 0)
      ++won;
    else
      slow += " " + std::to_string(seed);
  }
  EXPECT_GE(won, 19) << "no fall within a minute with seeds" << slow;
}

// A death and its score reach the other side within a tick: after two more ticks both
// sides' tallies must agree.
void ExpectBothSidesKeepOneScore(Match& match) {
  for (int tick = 0; tick < 2; ++tick) match.Tick();
  EXPECT_EQ(match.player_wins(), match.opponent.deaths());
  EXPECT_EQ(match.player_losses(), match.opponent.kills());
}

TEST(PracticeOpponentMatch, EasyLevelLosesMoreRoundsThanItWinsToACirclingShooter) {
  Match match(1, 7, Player::kCirclesAndFires);
  for (int tick = 0; tick < 10 * kMinute; ++tick) match.Tick();
  EXPECT_GT(match.player_wins(), match.player_losses());
  ExpectBothSidesKeepOneScore(match);
}

TEST(PracticeOpponentMatch, HardLevelWinsMoreRoundsThanItLosesToTheSameShooter) {
  Match match(3, 7, Player::kCirclesAndFires);
  for (int tick = 0; tick < 10 * kMinute; ++tick) match.Tick();
  EXPECT_LT(match.player_wins(), match.player_losses());
  ExpectBothSidesKeepOneScore(match);
}

TEST(PracticeOpponentMatch, TheWallsItSaysItsShotsBrokeAreTheOnesTheGameWouldBreak) {
  // Level 2 aims loosely enough to hit walls now and then.
  Match match(2, 8, Player::kCirclesAndFires);
  for (int tick = 0; tick < 3 * kMinute; ++tick) match.Tick();
  ASSERT_FALSE(match.opened_by_opponent().empty()) << "it never hit a wall";
  const std::vector<int>& broken = match.broken_by_its_shots();
  for (const int cell : match.opened_by_opponent()) {
    EXPECT_NE(std::find(broken.begin(), broken.end(), cell), broken.end()) << "no shot of its broke cell " << cell;
    EXPECT_FALSE(_map.cells[cell].is_wall) << cell;
  }
}

// ---- What it hears ---------------------------------------------------------------------------

// An opponent that has heard an open maze and the player's numbered positions.
class HeardOpponent {
 public:
  explicit HeardOpponent(int level = 3, uint32_t seed = 5, int cells = kMapCells) : opponent(level, seed) {
    for (int i = 0; i < cells; ++i) opponent.Hear(BuildMapBlockCommand(i / kMapSide, i % kMapSide, "NULL", false));
  }
  void Tick(float player_x, float player_y) {
    opponent.Hear(BuildCoordinateCommand(player_x, player_y) + "{" + std::to_string(++position_) + "}");
    said.clear();
    opponent.Tick(said);
  }
  PracticeOpponent opponent;
  std::vector<std::string> said;

 private:
  uint64_t position_ = 0;
};

TEST(PracticeOpponentHearing, CopiesOfAHitOrADeathNoticeCountOnce) {
  HeardOpponent once, copies, untouched;
  const auto both_tick = [&](float x, float y) {
    once.Tick(x, y), copies.Tick(x, y), untouched.Tick(x, y);
  };
  both_tick(400, 200);
  once.opponent.Hear("Attack_notification0{}{1}");
  for (int i = 0; i < 5; ++i) copies.opponent.Hear("Attack_notification0{}{1}");
  both_tick(400, 200);
  for (int i = 0; i < 3; ++i) copies.opponent.Hear("Attack_notification0{}{1}");  // late copies
  for (int tick = 0; tick < 40; ++tick) {
    both_tick(400, 200);
    ASSERT_EQ(copies.opponent.x(), once.opponent.x()) << tick;
    ASSERT_EQ(copies.opponent.y(), once.opponent.y()) << tick;
  }
  EXPECT_NE(once.opponent.y(), untouched.opponent.y()) << "the hit knocked nothing";

  once.opponent.Hear("Death_notice00000000{MY}{1}");
  for (int i = 0; i < 4; ++i) copies.opponent.Hear("Death_notice00000000{MY}{1}");
  for (int tick = 0; tick < kCountdownTicks + 100; ++tick) {
    if (tick % 50 == 0) copies.opponent.Hear("Death_notice00000000{MY}{1}");
    both_tick(400, 200);
    ASSERT_EQ(copies.opponent.in_countdown(), once.opponent.in_countdown()) << tick;
  }
  EXPECT_FALSE(copies.opponent.in_countdown());
  copies.opponent.Hear("Death_notice00000000{MY}{2}");  // the next round's death does count
  both_tick(400, 200);
  EXPECT_TRUE(copies.opponent.in_countdown());
  EXPECT_EQ(copies.opponent.kills(), 0) << "the player's score, not its notice, counts the kill";
  copies.opponent.Hear("Score_modification00{0}{2}");
  copies.opponent.Hear("Score_modification00{0}{2}");
  copies.opponent.Hear("Score_modification00{0}{1}");  // a late, older score
  both_tick(400, 200);
  EXPECT_EQ(copies.opponent.kills(), 2);
}

TEST(PracticeOpponentHearing, KnocksGoTowardTheNewestPositionAndNotDuringACountdown) {
  HeardOpponent opponent;
  opponent.Tick(2000, 775);  // far off to the right: nobody to chase, so it stands
  ASSERT_EQ(opponent.opponent.x(), kGuestCorner);
  opponent.opponent.Hear("Coordinate0000000000{-5000}{775}{1}");  // older than the one heard
  opponent.opponent.Hear("Attack_notification0{}{1}");
  opponent.Tick(2000, 775);
  // Thrown right, off the arena: the score goes before the notice, then the countdown.
  const auto at = [&](const std::string& text) {
    return std::find(opponent.said.begin(), opponent.said.end(), text) - opponent.said.begin();
  };
  ASSERT_LT(at("Score_modification00{0}{1}"), at("Death_notice00000000{MY}{1}"));
  ASSERT_LT(at("Death_notice00000000{MY}{1}"), static_cast<std::ptrdiff_t>(opponent.said.size()));
  EXPECT_EQ(opponent.opponent.deaths(), 1);
  EXPECT_TRUE(opponent.opponent.in_countdown());
  opponent.opponent.Hear("Attack_notification0{}{2}");
  for (int tick = 1; tick < kCountdownTicks; ++tick) opponent.Tick(2000, 775);
  EXPECT_TRUE(opponent.opponent.in_countdown());
  opponent.Tick(2000, 775);
  EXPECT_FALSE(opponent.opponent.in_countdown());
  opponent.opponent.Hear("Attack_notification0{}{2}");  // a late copy of the hit in the countdown
  for (int tick = 0; tick < 10; ++tick) opponent.Tick(2000, 775);
  EXPECT_EQ(opponent.opponent.x(), kGuestCorner) << "a knock from the countdown carried over";
  EXPECT_EQ(opponent.opponent.y(), kGuestCorner);
}

TEST(PracticeOpponentHearing, StaysStillUntilTheWholeMazeHasArrived) {
  HeardOpponent opponent(2, 9, kMapCells - 1);
  for (int tick = 0; tick < 200; ++tick) opponent.Tick(300, 300);
  EXPECT_EQ(opponent.opponent.x(), kGuestCorner);
  EXPECT_EQ(opponent.opponent.y(), kGuestCorner);
  opponent.opponent.Hear(BuildMapBlockCommand(kMapSide - 1, kMapSide - 1, "NULL", false));
  for (int tick = 0; tick < 200; ++tick) opponent.Tick(300, 300);
  EXPECT_LT(opponent.opponent.x(), kGuestCorner - 50);
}

}  // namespace
