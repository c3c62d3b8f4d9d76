// Effect spawners and bleeding: the bursts' fallback directions and the lifecycle of the real
// bleeding threads, judged by their flags and timers (polled with a bound), not by elapsed time.
#include "effects/effect_spawners.h"
#include "gfx/graphics.h"
#include "services/background_threads.h"
#include "services/timer_manager.h"
#include <gtest/gtest.h>
#include <chrono>
#include <cmath>
#include <thread>

namespace {
class SpawnerTest : public ::testing::Test {
 protected:
  void SetUp() override { store.RemoveAllParticles(false); }
  // A bleed ends once its timer is gone; its thread is then waited for, so none outlives the test.
  void TearDown() override {
    timers.removeTimer("player_bleed"), timers.removeTimer("enemy_bleed");
    background_threads.JoinAll();
  }
  template <class Pred>
  static bool WaitFor(Pred pred) {  // polls up to 10 s
    for (int i = 0; i < 1000 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
  }
  static bool Bleeding(int target) { return g_bleed_running[target].load(); }
  static void Bleed(int target, float seconds) {  // at a fixed place
    Effects_BleedEffect(target, [] { return std::pair{400.0f, 400.0f}; }, seconds);
  }
  ParticleManager& store = ParticleManager::GetInstance();
};

TEST_F(SpawnerTest, ZeroDirectionFallsBackUpForMuzzleAndRightForDustAndBlood) {
  const struct { void (*spawn)(); float ux, uy; } cases[] = {{[] { Effects_SpawnMuzzleFlash(100, 100, 0, 0); }, 0, -1},
                                                           {[] { Effects_SpawnHitDust(100, 100, 0, 0); }, 1, 0},
                                                           {[] { Effects_SpawnBloodSplash(100, 100, 0, 0, 1); }, 1, 0}};
  for (const auto& c : cases) {
    store.RemoveAllParticles(false);
    c.spawn();
    ASSERT_FALSE(store.GetParticlesCopy().empty());
    const Particle first = store.GetParticlesCopy()[0];  // of the first phase, aimed within 15 degrees
    EXPECT_GT(first.vx * c.ux + first.vy * c.uy, std::hypot(first.vx, first.vy) * 0.96f) << c.ux << "," << c.uy;
  }
}

TEST_F(SpawnerTest, SecondHitRestartsTheRunningBleedsTimerInsteadOfStartingAnotherThread) {
  const size_t before = background_threads.Count();
  Bleed(1, 30);  // long enough that no load on the machine ends it first
  EXPECT_TRUE(WaitFor([this] { return !store.GetParticlesCopy().empty(); }));  // it drips
  timers.pauseTimer("enemy_bleed");
  Bleed(1, 30);
  EXPECT_EQ(timers.getTimerState("enemy_bleed"), TimerManager::Running);  // reset, not left as it was
  EXPECT_EQ(background_threads.Count(), before + 1);
}

TEST_F(SpawnerTest, EachTargetEndsOnItsOwnAfterItsTimeOrWhenItsTimerGoes) {
  Bleed(0, 0.2f);
  Bleed(1, 30);
  WaitFor([] { return !Bleeding(0) && !timers.hasTimer("player_bleed"); });
  EXPECT_FALSE(Bleeding(0));
  EXPECT_FALSE(timers.hasTimer("player_bleed"));
  EXPECT_TRUE(Bleeding(1));
  timers.removeTimer("enemy_bleed");  // a lost timer must not leave the bleed running for ever
  EXPECT_TRUE(WaitFor([] { return !Bleeding(1); }));
}

TEST_F(SpawnerTest, BleedRefusesEmptySourceAndUnknownTargetAndStopsOnCloseRequest) {
  Effects_BleedEffect(1, {}, 5);
  Effects_BleedEffect(2, [] { return std::pair{0.0f, 0.0f}; }, 5);
  EXPECT_FALSE(Bleeding(0));
  EXPECT_FALSE(Bleeding(1));
  EXPECT_FALSE(timers.hasTimer("enemy_bleed"));
  Bleed(0, 30);
  ecl.store(true);
  EXPECT_TRUE(WaitFor([] { return !Bleeding(0); }));
  ecl.store(false);
}
}  // namespace
