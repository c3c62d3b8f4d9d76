// Ghosts of the opponent's shots: the path of the shooter's own bullet, rebuilt from the shot
// as the wire carries it, and nothing that only the shooter's side may judge. Test thread only.
#include "core/bullets.h"
#include "core/game_events.h"
#include "core/ghost_bullets.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include <gtest/gtest.h>
#include <cmath>
#include <vector>

namespace {

class GhostBulletsTest : public ::testing::Test {
 protected:
  GameEventQueue fired;
  void SetUp() override {
    bullet = {}, playerdata = {}, network_transmission.outgoing.clear(), frame[kFrameMainLoop] = 0;
    for (MapCell& cell : _map.cells) cell.is_wall = false, cell.type = "NULL";
    ghost_bullets.Clear();
    game_events.AddQueue(fired);
  }
  void TearDown() override { game_events.Clear(), ghost_bullets.Clear(); }
  static void Wall(int cell, bool on) { _map.cells[cell].is_wall = on, _map.cells[cell].type = on ? "wall" : "NULL"; }
};

TEST_F(GhostBulletsTest, AGhostFliesTheShootersPathToTheSameWallAndBreaksAndHitsNothing) {
  const int wall = 2 * 16 + 12;  // x 600..650, y 100..150
  Wall(wall, true);
  playerdata.player_x = 85, playerdata.player_y = 85;  // centre (100, 100)
  playerdata.enemy_x = 300, playerdata.enemy_y = 100;  // on the way
  const int i = Launch_bullet(625, 125);
  std::vector<BulletMotion> path;
  for (int tick = 0; tick < 200 && bullet.slots[i].active; ++tick) Bullet_tick(), path.push_back(bullet.motion[i]);
  ASSERT_FALSE(_map.cells[wall].is_wall) << "the shooter's bullet should have broken the wall";
  ASSERT_FALSE(network_transmission.outgoing.empty()) << "the shooter's bullet should have hit the enemy";

  // The other side: the same maze, the shot as its command carries it, this side as the one
  // standing in the way.
  std::vector<GameEvent> events, shots;
  fired.TakeAll(events);
  for (const GameEvent& e : events)
    if (e.kind == GameEventKind::kFired) shots.push_back(e);
  ASSERT_EQ(shots.size(), 1u);
  const GameEvent& shot = shots[0];
  const ParsedCommand command = parseCommandString(BuildShotCommand(shot.x, shot.y, shot.vx, shot.vy));
  ASSERT_EQ(command.first, kShotCommand);
  std::vector<float> v;
  for (const std::string& text : command.second) v.push_back(stringToFloat(text));
  Wall(wall, true);
  bullet = {}, network_transmission.outgoing.clear(), frame[kFrameMainLoop] = 0;
  playerdata.player_x = 300, playerdata.player_y = 100, playerdata.enemy_x = 85, playerdata.enemy_y = 85;
  ghost_bullets.Launch(v.at(0), v.at(1), v.at(2), v.at(3));
  for (size_t tick = 0; tick < path.size(); ++tick) {
    Bullet_tick();
    const std::vector<BulletMotion> ghosts = ghost_bullets.InFlight();
    if (tick + 1 == path.size()) {
      EXPECT_TRUE(ghosts.empty()) << "the ghost flew on past the wall";
      break;
    }
    ASSERT_EQ(ghosts.size(), 1u) << "the ghost stopped early, at tick " << tick;
    EXPECT_NEAR(ghosts[0].x, path[tick].x, 1.0f) << tick;
    EXPECT_NEAR(ghosts[0].y, path[tick].y, 1.0f) << tick;
  }
  EXPECT_TRUE(_map.cells[wall].is_wall) << "a ghost broke a wall";
  EXPECT_TRUE(network_transmission.outgoing.empty()) << "a ghost counted as a hit";
  EXPECT_EQ(playerdata.velocity_x, 0.0f);
  EXPECT_EQ(playerdata.velocity_y, 0.0f);
}

TEST_F(GhostBulletsTest, ManyShotsKeepAtMostTheCapacityAndGhostsEndOutsideOrWhenTheirTimeIsUp) {
  for (int n = 0; n < 1000; ++n) ghost_bullets.Launch(400, 400, 0, 0);
  EXPECT_EQ(ghost_bullets.count(), GhostBullets::kCapacity);
  ghost_bullets.Clear();
  ghost_bullets.Launch(-40, 400, -20, 0);  // leaving by the open edge
  ghost_bullets.Launch(400, 400, 0, 0);    // at rest, until its lifetime is up
  Bullet_tick();
  EXPECT_EQ(ghost_bullets.count(), 1);
  frame[kFrameMainLoop] = bullet.lifetime + 1;
  Bullet_tick();
  EXPECT_EQ(ghost_bullets.count(), 0);
}

}  // namespace
