// Bullets: lifetime, the pool and aiming, wall hits (inside the grid only), enemy hits, rate of fire.
#include "core/bullets.h"
#include "effects/effect_spawners.h"
#include "gfx/graphics.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include <gtest/gtest.h>
#include <array>

namespace {
class BulletTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bullet = {}, playerdata = {}, network_transmission.outgoing.clear(), frame[0] = 0;
    for (MapCell& cell : _map.cells) cell.is_wall = false, cell.type = "NULL";
    g_bleed_running[1] = true;  // the enemy already bleeds: no bleeding thread outlives the test
  }
  void TearDown() override { g_bleed_running[1] = false; }
  static void Place(int i, float x, float y, float vx, float vy) {
    bullet.motion[i] = {vx, vy, x, y}, bullet.slots[i] = {7, true};  // fired at frame 7
  }
};

TEST_F(BulletTest, MovesUntilItsLifetimeHasPassedThenVanishes) {
  Place(0, 100, 400, 1, 0);
  for (int64_t now : {7 + 1200, 7 + 1201}) frame[0] = now, Bullet_tick();  // moves on its last tick only
  EXPECT_FALSE(bullet.slots[0].active);
  EXPECT_EQ(bullet.motion[0].x, 101);
}

TEST_F(BulletTest, FullPoolLaunchesNothingAndTheNextTakesTheLowestFreeIndex) {
  for (int i = 0; i < kBulletSlots; ++i) ASSERT_EQ(Launch_bullet(500, 40), i);
  EXPECT_EQ(Launch_bullet(500, 40), -1);
  bullet.slots[200].active = bullet.slots[9].active = false, frame[0] = 42;
  emp[0] = 40, emp[1] = 140;  // where the GUI thread last saw the pointer in the window
  Shoot();
  const BulletMotion& m = bullet.motion[9];
  EXPECT_EQ(bullet.slots[9].fired_frame, 42);
  EXPECT_FALSE(bullet.slots[200].active);
  EXPECT_EQ((std::array{m.x, m.y, m.vx, m.vy}), (std::array{40.f, 40.f, 0.f, 20.f}));  // from the centre, full speed
}

TEST_F(BulletTest, AWallHitClearsTheNearestCellButNeverOneOutsideTheGrid) {
  MapCell& wall = _map.cells[1 * 16 + 3];  // x 150..200, y 50..100
  wall.is_wall = true, wall.type = "wall";
  Place(0, 135, 60, 20, 0);
  Bullet_tick();
  EXPECT_EQ(wall.type, "NULL");
  EXPECT_FALSE(wall.is_wall);
  EXPECT_FALSE(bullet.slots[0].active);
  EXPECT_EQ(bullet.motion[0].x, 135);  // stopped where it hit
  for (MapCell& cell : _map.cells) cell.is_wall = true, cell.type = "wall";
  Place(0, 795, 60, 20, 20), Place(1, -300, 400, 20, 0), Place(2, NAN, NAN, 1, 1);  // 0 hits column 15 leaving
  Bullet_tick();
  for (const MapCell& cell : _map.cells) ASSERT_TRUE(cell.is_wall);
  EXPECT_FALSE(bullet.slots[0].active);
  EXPECT_EQ(bullet.motion[1].x, -280);  // outside the grid it flies on
}

TEST_F(BulletTest, EveryTickOfOverlapWithTheEnemyIsAnotherHit) {
  Place(0, 686, 710, 12, 0), Place(1, 30, 30, 0, 0);  // 0 overlaps at x 698, 710, 722; 1 sits in our own box
  for (int tick = 0; tick < 6; ++tick) Bullet_tick();
  EXPECT_EQ(network_transmission.outgoing, std::deque<std::string>(3, BuildAttackNotification()));
}

TEST(FireCooldown, HeldFiresAtOnceThenEveryTenthTickAndAFreshPressAfterItAtOnce) {
  ekr[1] = eks[1] = true;  // the left button, as the input filter records it
  FireCooldown cooldown;
  std::string shots;
  for (int tick = 0; tick < 25; ++tick) shots += cooldown.Tick(Fire()) ? 'x' : '.';
  EXPECT_EQ(shots, "x.........x.........x....");
  for (int tick = 0; tick < 6; ++tick) EXPECT_FALSE(cooldown.Tick(false));
  EXPECT_TRUE(cooldown.Tick(true));
}
}  // namespace
