// Effect spawners and bleeding: the rules' compounding fade, the bursts' fallback
// directions, and the lifecycle of the real detached bleeding threads (polled, not timed).
#include "effects/effect_spawners.h"
#include "gfx/graphics.h"
#include "services/background_threads.h"
#include "services/timer_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>
#include <tuple>
#include <vector>

namespace {

class SpawnerTest : public ::testing::Test {
 protected:
  void SetUp() override { store.RemoveAllParticles(false); }
  template <class Pred>
  static bool WaitFor(Pred pred) {  // polls up to 3 s
    for (int i = 0; i < 300 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return pred();
  }
  static size_t Threads() { return background_threads.Count(); }
  ParticleManager& store = ParticleManager::GetInstance();
};

// A bleed of `target` at a fixed place for `seconds`.
void Bleed(int target, float seconds) {
  Effects_BleedEffect(target, [] { return std::pair{400.0f, 400.0f}; }, seconds);
}

TEST_F(SpawnerTest, DarkeningCompoundsFromTheCurrentColourUntilTheRuleEndsTheParticle) {
  struct Case { Particle (*rule)(Particle); int life; unsigned long color; std::vector<int> reds; int end_age; unsigned long last; };
  const Case cases[] = {{RuleB1, 8, 0xFF, {255, 175, 65}, 2, 65}, {RuleB1, 13, 0xFF, {255, 205, 126, 53}, 3, 53},
                        {RuleM1, 90, 0x00FFFF, {}, 24, RGB(70, 40, 0)}};
  for (const Case& c : cases) {
    Particle p;
    p.life = c.life, p.color = c.color;
    std::vector<int> reds;
    for (; p.active && p.age < p.life; p.age += p.active) {  // as the store ages it
      p = c.rule(p);
      reds.push_back(static_cast<int>(p.color & 0xFF));
    }
    if (!c.reds.empty()) {
      EXPECT_EQ(reds, c.reds) << c.life;
    }
    EXPECT_EQ(std::make_tuple(p.age, p.active, p.color), std::make_tuple(c.end_age, false, c.last)) << c.life;
  }
}

TEST_F(SpawnerTest, DropRuleDragShrinkAndFloorFollowTheScale) {
  struct Case { float s, d, shrink, floor; };
  for (const Case c : {Case{1.2f, 0.82f, 0.15f, 5.0f}, Case{0.5f, 0.855f, 0.3f, 4.0f}}) {
    Particle p;
    p.vx = 1, p.vy = 1, p.size = 10, p.life = 10, p.age = 5, p.color = RGB(200, 0, 0);
    const Particle next = DropRule{c.s}(p);
    EXPECT_FLOAT_EQ(next.vx, c.d) << c.s;
    EXPECT_FLOAT_EQ(next.vy, c.d + 0.05f) << c.s;
    EXPECT_FLOAT_EQ(next.size, 10 * (1 - c.shrink * 0.5f)) << c.s;
    EXPECT_EQ(next.color, RGB(140, 2, 0)) << c.s;  // red × (1 − 0.6 t), green + 5 t
    p.size = 1;  // below the floor
    EXPECT_EQ(DropRule{c.s}(p).size, c.floor) << c.s;
  }
}

TEST_F(SpawnerTest, ZeroDirectionFallsBackUpForMuzzleAndRightForDustAndBlood) {
  struct Case { void (*spawn)(); size_t phase1; };
  const Case cases[] = {{[] { Effects_SpawnMuzzleFlash(100, 100, 0, 0); }, 30},
                        {[] { Effects_SpawnHitDust(100, 100, 0, 0); }, 40},
                        {[] { Effects_SpawnBloodSplash(100, 100, 0, 0, 1); }, 40}};
  for (size_t k = 0; k < std::size(cases); ++k) {
    store.RemoveAllParticles(false);
    cases[k].spawn();
    const std::vector<Particle> all = store.GetParticlesCopy();
    ASSERT_GE(all.size(), cases[k].phase1);
    for (size_t i = 0; i < cases[k].phase1; ++i) {
      const Particle& p = all[i];
      const bool ok = k == 0 ? p.vx == 0 && p.vy >= -0.7f && p.vy <= -0.3f : p.vx > std::abs(p.vy);
      EXPECT_TRUE(ok) << k << ": " << p.vx << ", " << p.vy;
    }
  }
  store.RemoveAllParticles(false);
  Effects_SpawnBloodSplash(300, 300, 1, 1, 0);  // no force: everything starts at rest
  for (const Particle& p : store.GetParticlesCopy()) EXPECT_EQ(std::make_pair(p.vx, p.vy), std::make_pair(0.0f, 0.0f));
}

TEST_F(SpawnerTest, DropsOfThePlayerAreBrighterThanThoseOfTheEnemy) {
  for (int target : {0, 1}) {
    for (int i = 0; i < 300; ++i) {
      const unsigned long color = MakeBleedDrop(target, 0, 0).color;
      EXPECT_TRUE((color & 0xFF) + 40 * target >= 171 && (color & 0xFF) + 40 * target <= 200 && color >> 16 == 0) << color;
    }
  }
}

TEST_F(SpawnerTest, SecondHitExtendsTheOneRunningBleedWhichThenReturnsToIdle) {
  const size_t before = Threads();
  Bleed(1, 0.5f);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Bleed(1, 0.5f);
  EXPECT_LT(timers.getTime("enemy_bleed"), 200000u);  // restarted, not a second thread
  EXPECT_EQ(Threads(), before + 1);
  EXPECT_TRUE(WaitFor([] { return !g_bleed_running[1].load() && !timers.hasTimer("enemy_bleed"); }));
  EXPECT_FALSE(store.GetParticlesCopy().empty());
}

TEST_F(SpawnerTest, TargetsBleedIndependentlyAndAMissingTimerEndsTheBleed) {
  const size_t before = Threads();
  Bleed(0, 5);
  Bleed(1, 1);
  EXPECT_EQ(Threads(), before + 2);
  timers.removeTimer("player_bleed");
  EXPECT_TRUE(WaitFor([] { return !g_bleed_running[0].load(); }));
  EXPECT_TRUE(g_bleed_running[1].load() && timers.hasTimer("enemy_bleed"));
  EXPECT_TRUE(WaitFor([] { return !g_bleed_running[1].load() && !timers.hasTimer("enemy_bleed"); }));
}

TEST_F(SpawnerTest, BleedRefusesEmptySourceAndUnknownTargetAndStopsOnCloseRequest) {
  Effects_BleedEffect(1, {}, 5);
  Effects_BleedEffect(2, [] { return std::pair{0.0f, 0.0f}; }, 5);
  EXPECT_FALSE(g_bleed_running[0].load() || g_bleed_running[1].load() || timers.hasTimer("enemy_bleed"));
  Bleed(0, 5);
  ecl.store(true);
  EXPECT_TRUE(WaitFor([] { return !g_bleed_running[0].load(); }));
  ecl.store(false);
}

}  // namespace
