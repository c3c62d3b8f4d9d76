// Particle store: tick order and what it means for a particle's life, index operations, drawing.
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include <gtest/gtest.h>
#include <memory>
#include <tuple>

namespace {
class ParticleStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { store.RemoveAllParticles(false); }
  static Particle At(float x, bool active = true, unsigned long color = 0xFFFFFF, float size = 5.0f) {
    return Particle{x, 20.7f, 0, 0, color, size, 60, 0, active, {}};
  }
  size_t Count() const { return store.GetParticlesCopy().size(); }
  ParticleManager& store = ParticleManager::GetInstance();
};

TEST_F(ParticleStoreTest, ParticleLivesLifePlusOneTicksAndIsUpdatedWithAgesBeforeIncrement) {
  for (int life : {0, 1, 3}) {
    auto ages = std::make_shared<std::vector<int>>();
    Particle p = At(0);
    p.vx = 1, p.life = life;
    p.update = [ages](Particle q) { return ages->push_back(q.age), q; };
    store.AddParticle(p);
    std::vector<int> expected;
    for (int tick = 1; tick <= life; ++tick) {
      ParticleTick();
      const Particle& q = store.GetParticle(0);  // the default one if it was erased
      EXPECT_EQ(std::make_tuple(Count(), q.x, q.age), std::make_tuple(size_t{1}, float(tick), tick)) << life;
      expected.push_back(tick - 1);
    }
    ParticleTick();
    EXPECT_EQ(Count(), 0u) << "life " << life;
    EXPECT_EQ(*ages, expected);
  }
  // An update that clears `active` still ages the particle, which is swept in the same tick.
  Particle p = At(0);
  p.update = [](Particle q) { return q.active = false, q; };
  store.AddParticle(p);
  store.UpdateParticles();
  EXPECT_EQ(std::tie(store.GetParticle(0).active, store.GetParticle(0).age), std::make_tuple(false, 1));
  ParticleTick();
  EXPECT_EQ(Count(), 0u);
}

TEST_F(ParticleStoreTest, IndexOperationsRespectBoundsKeepOrderAndFallBackToPristineDefault) {
  store.AddParticles({At(0), At(1, false), At(2), At(3, false)});
  EXPECT_FALSE(store.RemoveParticle(-1));
  EXPECT_FALSE(store.RemoveParticle(4));
  store.RemoveAllParticles(true);
  ASSERT_EQ(Count(), 2u);
  EXPECT_EQ(store.GetParticle(1).x, 2);
  EXPECT_TRUE(store.RemoveParticle(0));
  EXPECT_EQ(std::make_pair(Count(), store.GetParticle(0).x), std::make_pair(size_t{1}, 2.0f));
  store.GetParticle(1).color = 0x123456;  // a careless caller scribbles on the fallback
  const Particle& p = store.GetParticle(1);
  EXPECT_EQ(std::tie(p.color, p.size, p.life, p.age, p.active), std::make_tuple(0xFFFFFFul, 5.0f, 60, 0, true));
  EXPECT_EQ(std::tie(p.x, p.y, p.vx, p.vy), std::make_tuple(0.0f, 0.0f, 0.0f, 0.0f));
  EXPECT_FALSE(p.update);
}

TEST_F(ParticleStoreTest, RenderAllDrawsActiveParticlesAndLeavesLastColourAsFill) {
  initgraph(1000, 800);
  store.AddParticles({At(10, true, 0x0000FF), At(60, true, 0x00FF00, 4.9f /* drawn as 4 */), At(110, false, 0xFF0000)});
  BeginBatchDraw(), cleardevice(), RenderAllParticles(), FlushBatchDraw();
  const QImage img = ebf->toImage();
  EXPECT_EQ(ef, 0x00FF00u);
  const unsigned long expected[][2] = {{10, 0x0000FF}, {63, 0x00FF00}, {64, ebk}, {110, ebk}};
  for (const auto& [x, colour] : expected) EXPECT_EQ(img.pixel(int(x), 20), _qc(colour).rgb()) << "x " << x;
}
}  // namespace
