// Effect spawners and bleeding: the rules' compounding fade, the bursts' fallback directions,
// and the lifecycle of the real detached bleeding threads, judged by their flags and timers
// (polled with a bound) rather than by how much time has passed.
#include "effects/effect_spawners.h"
#include "gfx/graphics.h"
#include "services/background_threads.h"
#include "services/timer_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace {

class SpawnerTest : public ::testing::Test {
 protected:
  void SetUp() override { store.RemoveAllParticles(false); }
  // A bleed left running ends once its timer is gone; the threads are then waited for, so
  // none outlives the test and the process's statics.
  void TearDown() override {
    timers.removeTimer("player_bleed");
    timers.removeTimer("enemy_bleed");
    background_threads.JoinAll();
  }
  template <class Pred>
  static bool WaitFor(Pred pred) {  // polls up to 10 s
    for (int i = 0; i < 1000 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
  }
  static bool Bleeding(int target) { return g_bleed_running[target].load(); }
  ParticleManager& store = ParticleManager::GetInstance();
};

// A bleed of `target` at a fixed place for `seconds`.
void Bleed(int target, float seconds) {
  Effects_BleedEffect(target, [] { return std::pair{400.0f, 400.0f}; }, seconds);
}

TEST_F(SpawnerTest, DarkeningCompoundsFromTheCurrentColourUntilTheRuleEndsTheParticle) {
  Particle p;
  p.life = 8, p.color = 0xFF;
  std::vector<int> reds;
  for (; p.active && p.age < p.life; p.age += p.active) {  // as the store ages it
    p = RuleB1(p);
    reds.push_back(static_cast<int>(p.color & 0xFF));
  }
  EXPECT_EQ(reds, (std::vector<int>{255, 175, 65}));  // faded from the first colour, the last would be 95
  EXPECT_FALSE(p.active);  // below the rule's floor of 70
}

TEST_F(SpawnerTest, LargerDropsFallWithMoreDragAndKeepMoreSizeAndThePlayersAreBrighter) {
  Particle p;
  p.vx = 1, p.size = 10, p.life = 10, p.age = 5, p.color = RGB(200, 0, 0);
  const Particle large = DropRule{1.2f}(p), small = DropRule{0.5f}(p);
  EXPECT_LT(large.vx, small.vx);
  EXPECT_GT(large.size, small.size);
  unsigned long dimmest_player = 255, brightest_enemy = 0;
  for (int i = 0; i < 300; ++i) {
    dimmest_player = std::min(dimmest_player, MakeBleedDrop(0, 0, 0).color & 0xFF);
    brightest_enemy = std::max(brightest_enemy, MakeBleedDrop(1, 0, 0).color & 0xFF);
  }
  EXPECT_GT(dimmest_player, brightest_enemy);
}

TEST_F(SpawnerTest, ZeroDirectionFallsBackUpForMuzzleAndRightForDustAndBlood) {
  struct Case { void (*spawn)(); size_t phase1; bool up; };
  const Case cases[] = {{[] { Effects_SpawnMuzzleFlash(100, 100, 0, 0); }, 30, true},
                        {[] { Effects_SpawnHitDust(100, 100, 0, 0); }, 40, false},
                        {[] { Effects_SpawnBloodSplash(100, 100, 0, 0, 1); }, 40, false}};
  for (const Case& c : cases) {
    store.RemoveAllParticles(false);
    c.spawn();
    const std::vector<Particle> all = store.GetParticlesCopy();
    ASSERT_GE(all.size(), c.phase1);
    for (size_t i = 0; i < c.phase1; ++i) {
      if (c.up) {
        EXPECT_EQ(all[i].vx, 0) << i;
        EXPECT_LT(all[i].vy, 0) << i;
      } else {
        EXPECT_GT(all[i].vx, std::abs(all[i].vy)) << c.phase1 << ": " << i;
      }
    }
  }
  store.RemoveAllParticles(false);
  Effects_SpawnBloodSplash(300, 300, 1, 1, 0);  // no force: everything starts at rest
  for (const Particle& p : store.GetParticlesCopy()) EXPECT_EQ(std::hypot(p.vx, p.vy), 0.0f);
}

TEST_F(SpawnerTest, SecondHitRestartsTheRunningBleedsTimerInsteadOfStartingAnotherThread) {
  const size_t before = background_threads.Count();
  Bleed(1, 30);  // long enough that no load on the machine ends it first
  EXPECT_TRUE(WaitFor([this] { return !store.GetParticlesCopy().empty(); }));  // it drips
  timers.pauseTimer("enemy_bleed");
  Bleed(1, 30);
  EXPECT_EQ(timers.getTimerState("enemy_bleed"), TimerManager::Running);  // reset, not left as it was
  EXPECT_EQ(background_threads.Count(), before + 1);
  timers.removeTimer("enemy_bleed");
  EXPECT_TRUE(WaitFor([] { return !Bleeding(1); }));
}

TEST_F(SpawnerTest, EachTargetEndsOnItsOwnAfterItsTimeOrWhenItsTimerGoes) {
  Bleed(0, 0.2f);
  Bleed(1, 30);
  WaitFor([] { return !Bleeding(0) && !timers.hasTimer("player_bleed"); });
  EXPECT_FALSE(Bleeding(0));
  EXPECT_FALSE(timers.hasTimer("player_bleed"));
  EXPECT_TRUE(Bleeding(1));
  EXPECT_TRUE(timers.hasTimer("enemy_bleed"));
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
