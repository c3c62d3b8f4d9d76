// Particle store: tick order and what it means for a particle's life, index operations,
// drawing. Test thread only.
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

TEST_F(ParticleStoreTest, ATickMovesThenAgesAndAParticleGoesTheTickAfterItsLifeIsUsed) {
  auto ages = std::make_shared<std::vector<int>>();
  Particle p = At(0);
  p.vx = 1, p.life = 3;
  p.update = [ages](Particle q) { return ages->push_back(q.age), q; };  // sees the age before the tick's increment
  store.AddParticle(p);
  for (int tick = 1; tick <= 3; ++tick) {
    ParticleTick();
    EXPECT_EQ(std::make_tuple(Count(), store.GetParticle(0).x), std::make_tuple(size_t{1}, float(tick))) << tick;
  }
  ParticleTick();
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(*ages, (std::vector<int>{0, 1, 2}));
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
  EXPECT_EQ(store.GetParticle(1).color, 0xFFFFFFul);
}

TEST_F(ParticleStoreTest, RenderAllDrawsOnlyActiveParticlesAsDiscsOfTheirTruncatedSize) {
  initgraph(1000, 800);
  store.AddParticles({At(10, true, 0x0000FF), At(60, true, 0x00FF00, 4.9f /* drawn as 4 */), At(110, false, 0xFF0000)});
  BeginBatchDraw(), cleardevice(), RenderAllParticles(), FlushBatchDraw();
  const QImage img = ebf->toImage();
  const unsigned long expected[][2] = {{10, 0x0000FF}, {63, 0x00FF00}, {64, ebk}, {110, ebk}};
  for (const auto& [x, colour] : expected) EXPECT_EQ(img.pixel(int(x), 20), _qc(colour).rgb()) << "x " << x;
}
}  // namespace
