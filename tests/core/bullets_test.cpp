// Bullets: lifetime, the pool and aiming, wall hits (inside the grid only), enemy hits, rate of
// fire. Test thread only.
#include "core/bullets.h"
#include "gfx/graphics.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include <gtest/gtest.h>
#include <array>
#include <vector>

namespace {
class BulletTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bullet = {}, playerdata = {}, network_transmission.outgoing.clear(), frame[kFrameMainLoop] = 0;
    for (MapCell& cell : _map.cells) cell.is_wall = false, cell.type = "NULL";
  }
  static void Place(int i, float x, float y, float vx, float vy) {
    bullet.motion[i] = {vx, vy, x, y}, bullet.slots[i] = {7, true};  // fired at frame 7
  }
};

TEST_F(BulletTest, MovesUntilItsLifetimeHasPassedThenVanishes) {
  Place(0, 100, 400, 1, 0);
  for (int64_t now : {7 + 1200, 7 + 1201}) frame[kFrameMainLoop] = now, Bullet_tick();  // moves on its last tick only
  EXPECT_FALSE(bullet.slots[0].active);
  EXPECT_EQ(bullet.motion[0].x, 101);
}

TEST_F(BulletTest, FullPoolLaunchesNothingAndTheNextTakesTheLowestFreeIndex) {
  for (int i = 0; i < kBulletSlots; ++i) ASSERT_EQ(Launch_bullet(500, 40), i);
  EXPECT_EQ(Launch_bullet(500, 40), -1);
  bullet.slots[200].active = bullet.slots[9].active = false, frame[kFrameMainLoop] = 42;
  emp[0] = 40, emp[1] = 140;  // where the GUI thread last saw the pointer in the window
  Shoot();
  const BulletMotion& m = bullet.motion[9];
  EXPECT_EQ(bullet.slots[9].fired_frame, 42);
  EXPECT_FALSE(bullet.slots[200].active);
  EXPECT_EQ((std::array{m.x, m.y, m.vx, m.vy}), (std::array{40.f, 40.f, 0.f, 20.f}));  // from the centre, full speed
}

// (cx, cy) is the player's centre.
std::vector<int> CellsBrokenByShot(float cx, float cy, float tx, float ty) {
  playerdata.player_x = cx - 15, playerdata.player_y = cy - 15;
  const int i = Launch_bullet(tx, ty);
  std::array<bool, kMapCells> before{};
  for (int c = 0; c < kMapCells; ++c) before[c] = _map.cells[c].is_wall;
  for (int tick = 0; tick < 200 && bullet.slots[i].active; ++tick) Bullet_tick();
  std::vector<int> broken;
  for (int c = 0; c < kMapCells; ++c)
    if (before[c] && !_map.cells[c].is_wall) broken.push_back(c);
  return broken;
}

TEST_F(BulletTest, AShotWallBreaksWhereverTheBulletMeetsItAndNoOtherCellDoes) {
  const int block = 5 * 16 + 5;  // x 250..300, y 250..300, with walls right of and below it
  const struct { float cx, cy, tx, ty; const char* where; } shots[] = {
      {125, 275, 250, 275, "left face"},   {275, 125, 275, 250, "top face"},
      {425, 275, 300, 275, "right face"},  {125, 125, 250, 250, "top-left corner"},
      {140, 110, 250, 252, "just below the top-left corner"}, {425, 125, 300, 250, "top-right corner"}};
  for (const auto& shot : shots) {
    for (const int c : {block, block + 1, block + 16, block + 17}) _map.cells[c].is_wall = true, _map.cells[c].type = "wall";
    EXPECT_EQ(CellsBrokenByShot(shot.cx, shot.cy, shot.tx, shot.ty), std::vector<int>{block + (shot.cx > 300 ? 1 : 0)})
        << shot.where;
    bullet = {};
  }
}

TEST_F(BulletTest, OutsideTheGridABulletFliesOnAndBreaksNothing) {
  for (MapCell& cell : _map.cells) cell.is_wall = true, cell.type = "wall";
  Place(1, -300, 400, 20, 0), Place(2, NAN, NAN, 1, 1);
  Bullet_tick();
  for (const MapCell& cell : _map.cells) ASSERT_TRUE(cell.is_wall);
  EXPECT_EQ(bullet.motion[1].x, -280);
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
