// The main thread's rules: death strictly past the arena's edges, what a death queues and scores,
// respawn corners, the direction helper's fallback, vision easing and capped energy recovery.
#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include "core/coordination_system.h"
#include "records/game_records.h"
#include "services/timer_manager.h"

namespace {
using namespace std::chrono_literals;

class RoundTest : public ::testing::Test {
 protected:
  void SetUp() override { playerdata = {}, versus = {}, network_transmission.outgoing.clear(); }
  static bool DiesWithCentreAt(float cx, float cy) {
    playerdata.player_x = cx - 15, playerdata.player_y = cy - 15;
    const int32_t before = versus.deaths;
    if (cs->Death_detection()) cs->End_round(CoordinationSystem::RoundEnd::kLost);
    return versus.deaths != before;
  }
  static std::pair<float, float> Position() { return {playerdata.player_x, playerdata.player_y}; }
};

TEST_F(RoundTest, DeathIsACentreStrictlyOutsideTheArena) {
  const struct { float cx, cy; bool dies; } cases[] = {{800, 800, false}, {0, 0, false}, {800.01f, 400, true},
      {-0.01f, 400, true}, {400, 800.01f, true}, {400, -0.01f, true}, {NAN, 400, true}};  // NaN: lost, respawn
  for (const auto& c : cases) EXPECT_EQ(DiesWithCentreAt(c.cx, c.cy), c.dies) << c.cx << ", " << c.cy;
}

TEST_F(RoundTest, DeathQueuesNoticeThenScoreAndRespawnsInTheOwnCorner) {
  versus.kills = 2, versus.deaths = 3, playerdata.velocity_x = 7;
  ASSERT_TRUE(DiesWithCentreAt(400, 820));
  EXPECT_EQ(network_transmission.outgoing,
            (std::deque<std::string>{"Death_notice00000000{MY}", "Score_modification00{2}{4}"}));
  EXPECT_EQ(Position(), std::pair(775.f, 775.f));
  EXPECT_EQ(playerdata.velocity_x, 0);
  playerdata.is_host = true;
  ASSERT_TRUE(DiesWithCentreAt(-5, 400));
  EXPECT_EQ(Position(), std::pair(25.f, 25.f));
  EXPECT_FALSE(playerdata.round_over);
}

TEST_F(RoundTest, VictoryRespawnsButLeavesVelocityScoreAndQueueAlone) {
  playerdata.player_x = 300, playerdata.velocity_x = 3, versus.kills = 1;
  cs->win_death();
  EXPECT_TRUE(playerdata.round_over);
  cs->End_round(CoordinationSystem::RoundEnd::kWon);
  EXPECT_EQ(Position(), std::pair(775.f, 775.f));
  EXPECT_FALSE(playerdata.round_over);
  EXPECT_EQ(playerdata.velocity_x, 3);
  EXPECT_EQ(versus.kills, 1);
  EXPECT_TRUE(network_transmission.outgoing.empty());
}

TEST(DirectionVector, UnitTowardTheTargetElseStraightUp) {
  float dx = 0, dy = 0;
  EXPECT_TRUE(cs->CalculateDirectionVector(1, 1, 4, 5, dx, dy));
  EXPECT_EQ(std::pair(dx, dy), std::pair(0.6f, 0.8f));
  for (float x2 : {1.0005f, NAN, INFINITY}) {
    EXPECT_FALSE(cs->CalculateDirectionVector(1, 1, x2, 1, dx, dy)) << x2;
    EXPECT_EQ(std::pair(dx, dy), std::pair(0.f, -1.f)) << x2;
  }
}

TEST_F(RoundTest, VisionSettlesOnThePlayersCentre) {
  playerdata.player_x = 100, playerdata.player_y = 200;  // centre (115, 215)
  for (int tick = 0; tick < 60; ++tick) cs->Status_update();
  EXPECT_NEAR(playerdata.vision_radius, 100, 1.0);
  EXPECT_NEAR(playerdata.vision_x, 115, 1.0);
  EXPECT_NEAR(playerdata.vision_y, 215, 1.0);
}

// Energy recovery on a stopwatch registry whose clock moves only when the test says so.
class EnergyTest : public RoundTest, public TimerManager {
 protected:
  void SetUp() override {
    RoundTest::SetUp();
    cs->useTimers(*this);
    createTimer("Energy recovery");
  }
  void TearDown() override { cs->useTimers(timers); }
  TimePoint now() const override { return TimePoint{} + std::chrono::hours(1) + elapsed; }
  float TickAfter(std::chrono::microseconds wait) { return elapsed += wait, cs->Status_update(), playerdata.energy; }
  std::chrono::microseconds elapsed{0};
};

TEST_F(EnergyTest, RecoversOneStepForEachTenthOfASecondPastUpToTheCap) {
  playerdata.energy = 50;
  EXPECT_FLOAT_EQ(TickAfter(100000us), 50.0f);  // a full tenth is not yet past it
  EXPECT_FLOAT_EQ(TickAfter(1us), 50.1f);
  EXPECT_FLOAT_EQ(TickAfter(99999us), 50.1f);  // the wait began afresh at the step
  EXPECT_FLOAT_EQ(TickAfter(5s), 50.2f);       // a long stall is one step, not a burst
  EXPECT_FLOAT_EQ(TickAfter(0us), 50.2f);
  playerdata.energy = 130;
  EXPECT_FLOAT_EQ(TickAfter(0us), playerdata.max_energy);
}
}  // namespace
