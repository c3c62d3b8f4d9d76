// Player movement: grid search, the control and physics steps, the countdown's control loop
// (which runs on a thread of its own; the rest on the test thread).
#include "core/coordination_system.h"
#include "core/physics_engine.h"
#include "core/player_movement.h"
#include "gfx/graphics.h"
#include "records/game_records.h"
#include <gmock/gmock.h>
#include <unistd.h>
#include <climits>
#include <thread>
#include "support/thread_state.h"

namespace {
using thread_state::SleepsOf;
using namespace std::chrono_literals;
using State = std::array<float, 4>;  // x, y, vx, vy
auto Is(State want) { return testing::Pointwise(testing::FloatEq(), want); }

class MovementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    playerdata = PlayerData{}, frame[kFrameControlLoop] = 0, ecl = false;
    for (MapCell& cell : _map.cells) cell.is_wall = false;
    for (int k = 0; k < 256; ++k) ekr[k] = eks[k] = false;
  }
  static State Step(float x, float y, float vx, float vy) {
    PlayerData& p = playerdata;
    p.player_x = x, p.player_y = y, p.velocity_x = vx, p.velocity_y = vy;
    Physics_step();
    return {p.player_x, p.player_y, p.velocity_x, p.velocity_y};
  }
};

TEST_F(MovementTest, WallsStopOnlyTheAxisThatRunsIntoThem) {
  _map.cells[1 * 16 + 2].is_wall = _map.cells[2 * 16 + 1].is_wall = true;  // right of and below (1, 1)
  EXPECT_THAT(Step(60, 60, 10, 0), Is({70, 60, 9.5f, 0}));   // ends touching: not blocked
  EXPECT_THAT(Step(70, 60, 1, -4), Is({70, 56, 0, -3.8f}));  // x blocked, y slides on
  EXPECT_THAT(Step(55, 70, -2, 1), Is({53, 70, -1.9f, 0}));  // y blocked, x slides on
  EXPECT_THAT(Step(60, 60, 15, 15), Is({60, 60, 0, 0}));     // into the corner: both stop
}

TEST_F(MovementTest, HoldingDSettlesNearFourPixelsPerTickAndReleasedItGlidesToAStop) {
  ekr['D'] = true;
  for (int tick = 0; tick < 300; ++tick) Detecting_movement(), Physics_step();
  EXPECT_NEAR(playerdata.velocity_x, 3.8f, 0.01f);  // after damping; 4.0 after the key step
  ekr['D'] = false;
  for (int tick = 0; tick < 200; ++tick) Detecting_movement(), Physics_step();
  EXPECT_EQ(playerdata.velocity_x, 0);  // stops rather than creeping on through denormals
}

// Friction past 1 (a tick rate far above the tuned one) stops a glide; it never turns it back.
TEST(PhysicsEngineTest, FrictionIsHeldBetweenNoneAndAFullStop) {
  for (const auto& [friction, after] : {std::pair{2.0f, 0.0f}, {-1.0f, 8.0f}, {0.5f, 4.0f}}) {
    float vx = 8, vy = -8, x = 0, y = 0;
    g_PhysicsEngine->CalculateAcceleration(vx, vy, x, y, friction, 1);
    EXPECT_EQ(x, 8);
    EXPECT_EQ(vx, after) << friction;
    EXPECT_EQ(vy, -after) << friction;
  }
}

TEST_F(MovementTest, LowEnergyAndMaxSpeedShapeTheVelocity) {
  playerdata.energy = 25;  // quarter energy: a further 5 % per tick
  EXPECT_THAT(Step(100, 100, 10, -10), Is({109.5f, 90.5f, 9.025f, -9.025f}));
  ekr['D'] = ekr['W'] = true;  // the bound acts from above only, before the keys
  playerdata.velocity_x = 30, playerdata.velocity_y = -30;
  Detecting_movement();
  EXPECT_THAT((State{0, 0, playerdata.velocity_x, playerdata.velocity_y}), Is({0, 0, 20.2f, -30.2f}));
}

TEST_F(MovementTest, PositionsOutsideTheGridMeetNoWallsWhateverTheirValue) {
  for (MapCell& cell : _map.cells) cell.is_wall = true;
  EXPECT_TRUE(cs->Search_blocks(-10, 110, 30, 30));  // partly outside: column 0 still counts
  EXPECT_FALSE(cs->Search_blocks(-40, 110, 30, 30));
  EXPECT_FALSE(cs->Search_blocks(INT_MAX, INT_MIN, INT_MAX, 30));
  for (float v : {NAN, INFINITY, -INFINITY, 1e30f, -3e9f, -60.f, 801.f}) {
    const State after = Step(v, 400, 1, 0);
    EXPECT_EQ(after[2], 0.95f) << v;  // never blocked
    EXPECT_THAT(after[0], testing::NanSensitiveFloatEq(v + 1)) << v;
  }
}

TEST_F(MovementTest, CountdownIgnoresKeysAndSleepsEachTickInsteadOfSpinning) {
  SetShared(playerdata.round_over, true), ekr['D'] = true;
  std::atomic<pid_t> tid{0};
  std::thread control([&tid] { tid = gettid(), WhileControl(); });
  for (int i = 0; i < 10000 && tid == 0; ++i) std::this_thread::sleep_for(1ms);
  // A paced loop goes to sleep once a tick, at most at its rate; a spinning one never sleeps.
  const auto since = std::chrono::steady_clock::now();
  const long first = SleepsOf(tid);
  long sleeps = first;
  for (int i = 0; i < 2000 && sleeps < first + 5; ++i) std::this_thread::sleep_for(5ms), sleeps = SleepsOf(tid);
  const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - since;
  EXPECT_GE(sleeps - first, 5);
  EXPECT_LE(sleeps - first, waited.count() * refresh_rate[kRateGameLoops] + 3);
  {
    std::lock_guard lock(motion_mutex);  // the loop runs on
    EXPECT_EQ(playerdata.velocity_x, 0);
    EXPECT_EQ(frame[kFrameControlLoop], 0);
  }
  SetShared(playerdata.round_over, false);  // the same loop then takes the key
  for (int i = 0; i < 2000 && frame[kFrameControlLoop] < 2; ++i) std::this_thread::sleep_for(5ms);
  ecl = true;
  control.join();
  ecl = false;
  EXPECT_GT(playerdata.velocity_x, 0.0f);
}
}  // namespace
