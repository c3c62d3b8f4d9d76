// The main thread's status rules: vision easing and capped energy recovery.
#include "core/coordination_system.h"
#include "records/game_records.h"
#include "services/timer_manager.h"
#include <gtest/gtest.h>
#include <thread>

namespace {
TEST(StatusUpdate, VisionClosesATenthOfTheGapPerTickAndEnergyRecoversCappedEveryTenthOfASecond) {
  playerdata = PlayerData{};
  playerdata.player_x = 100, playerdata.player_y = 200, playerdata.energy = 50;  // centre (115, 215)
  timers.createTimer("Energy recovery"), timers.resetTimer("Energy recovery");
  cs->Status_update();
  EXPECT_FLOAT_EQ(playerdata.vision_radius, 500 + (100 - 500) * 0.1f);
  EXPECT_FLOAT_EQ(playerdata.vision_x, 400 + (115 - 400) * 0.1f);
  EXPECT_FLOAT_EQ(playerdata.vision_y, 400 + (215 - 400) * 0.1f);
  EXPECT_FLOAT_EQ(playerdata.energy, 50);
  for (int tick = 1; tick < 57; ++tick) cs->Status_update();
  EXPECT_NEAR(playerdata.vision_radius, 100, 1.0);
  EXPECT_NEAR(playerdata.vision_x, 115, 1.0);

  std::this_thread::sleep_for(std::chrono::milliseconds(110));
  playerdata.energy = 50;
  cs->Status_update();
  EXPECT_FLOAT_EQ(playerdata.energy, 50.1f);
  playerdata.energy = 130;
  cs->Status_update();
  EXPECT_FLOAT_EQ(playerdata.energy, playerdata.max_energy);
}
}  // namespace
