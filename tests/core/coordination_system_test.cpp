// The main thread's status rules: vision easing and capped energy recovery. Recovery runs on
// the real timer registry, so the test ticks until it happens (bounded) and bounds the wait
// only from below, which no load on the machine can break.
#include "core/coordination_system.h"
#include "records/game_records.h"
#include "services/timer_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Ticks until the energy changes (at most about ten seconds); returns when the last tick began.
Clock::time_point TickUntilEnergyChanges() {
  const float before = playerdata.energy;
  Clock::time_point tick_start = Clock::now();
  for (int i = 0; i < 10000 && playerdata.energy == before; ++i) {
    tick_start = Clock::now();
    cs->Status_update();
    std::this_thread::sleep_for(1ms);
  }
  return tick_start;
}

TEST(StatusUpdate, VisionClosesATenthOfTheGapPerTick) {
  playerdata = PlayerData{};
  playerdata.player_x = 100, playerdata.player_y = 200;  // centre (115, 215)
  cs->Status_update();
  EXPECT_FLOAT_EQ(playerdata.vision_radius, 500 + (100 - 500) * 0.1f);
  EXPECT_FLOAT_EQ(playerdata.vision_x, 400 + (115 - 400) * 0.1f);
  EXPECT_FLOAT_EQ(playerdata.vision_y, 400 + (215 - 400) * 0.1f);
  for (int tick = 1; tick < 57; ++tick) cs->Status_update();
  EXPECT_NEAR(playerdata.vision_radius, 100, 1.0);
  EXPECT_NEAR(playerdata.vision_x, 115, 1.0);
}

TEST(StatusUpdate, EnergyRecoversOneStepPerTenthOfASecondUpToTheCap) {
  playerdata = PlayerData{};
  playerdata.energy = 50;
  const Clock::time_point start = Clock::now();
  timers.createTimer("Energy recovery"), timers.resetTimer("Energy recovery");
  const Clock::time_point first = TickUntilEnergyChanges();
  EXPECT_GE(Clock::now() - start, 100ms);
  EXPECT_FLOAT_EQ(playerdata.energy, 50.1f);  // one step, however many ticks it waited
  TickUntilEnergyChanges();
  EXPECT_GE(Clock::now() - first, 100ms);  // the recovery started the next wait afresh
  EXPECT_FLOAT_EQ(playerdata.energy, 50.2f);
  playerdata.energy = 130;
  cs->Status_update();
  EXPECT_FLOAT_EQ(playerdata.energy, playerdata.max_energy);
}
}  // namespace
