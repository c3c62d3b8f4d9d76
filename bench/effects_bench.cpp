// Effects hot paths on one thread: the trail blur of a full 1000x800 frame (pixmap in,
// pixmap out) beside the plain per-pixel blur it must beat, and one particle-thread tick
// over 10,000 live particles carrying game-like update rules.

#include <algorithm>
#include <cstdlib>
#include <random>

#include "bench/windowed_bench.h"
#include "effects/motion_blur.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "tests/support/reference_gauss.h"

namespace {

QPixmap RandomFrame() {
  std::mt19937 rng(7);
  QImage img(1000, 800, QImage::Format_RGB32);
  for (int y = 0; y < img.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(img.scanLine(y));
    for (int x = 0; x < img.width(); ++x) row[x] = 0xFF000000u | rng();
  }
  return QPixmap::fromImage(img);
}

void BM_QuickGauss3x3(benchmark::State& state) {
  MotionBlur blur(6, 220, 0.9f, 0);
  const QPixmap source = RandomFrame();
  for (auto _ : state) {
    state.PauseTiming();
    QPixmap frame = source.copy();
    state.ResumeTiming();
    blur.QuickGauss3x3(&frame);
    benchmark::DoNotOptimize(frame);
  }
}

void BM_PlainPixelGauss3x3(benchmark::State& state) {
  const QPixmap source = RandomFrame();
  for (auto _ : state) {
    QPixmap frame = ReferenceGauss3x3(source);
    benchmark::DoNotOptimize(frame);
  }
}

// Rules shaped like the spawners': drag, gravity, shrink to a floor, compounding fade to a
// darker colour, death when too dark; the drop rule captures its scale.
Particle DustRule(Particle p) {
  const float t = static_cast<float>(p.age) / static_cast<float>(p.life);
  p.vx *= 0.98f;
  p.vy = p.vy * 0.98f + 0.08f;
  p.size = std::max(p.size * (1 - 0.2f * t), 3.0f);
  const int r = static_cast<int>((p.color & 0xFF) * (1 - 0.3f * t));
  const int g = static_cast<int>(((p.color >> 8) & 0xFF) * (1 - 0.35f * t));
  const int b = static_cast<int>(((p.color >> 16) & 0xFF) * (1 - 0.15f * t));
  p.color = RGB(r, g, b);
  if (r + g + b < 120) p.active = false;
  return p;
}

std::vector<Particle> GameLikeParticles(int count) {
  std::mt19937 rng(3);
  std::vector<Particle> out(count);
  for (int i = 0; i < count; ++i) {
    Particle& p = out[i];
    p.x = static_cast<float>(rng() % 800);
    p.y = static_cast<float>(rng() % 800);
    p.vx = static_cast<float>(rng() % 100) / 25 - 2;
    p.vy = static_cast<float>(rng() % 100) / 25 - 2;
    p.color = RGB(200 + rng() % 40, 150 + rng() % 40, 100 + rng() % 40);
    p.size = 2 + rng() % 6;
    p.life = 60 + rng() % 60;
    p.age = static_cast<int>(rng() % 20);
    if (i % 2 == 0) {
      p.update = DustRule;
    } else {
      const float s = 0.5f + static_cast<float>(rng() % 8) / 10;
      p.update = [s](Particle q) {
        const float t = static_cast<float>(q.age) / static_cast<float>(q.life);
        q.vx *= 0.88f - 0.05f * s;
        q.vy = q.vy * (0.88f - 0.05f * s) + 0.05f;
        q.size = std::max(q.size * (1 - (s <= 1.0f ? 0.3f : 0.15f) * t), s <= 1.0f ? 4.0f : 5.0f);
        const int r = static_cast<int>((q.color & 0xFF) * (1 - 0.6f * t));
        const int g = std::min(static_cast<int>(((q.color >> 8) & 0xFF) + 5 * t), 20);
        q.color = RGB(std::clamp(r, 0, 255), g, 0);
        if (r < 30) q.active = false;
        return q;
      };
    }
  }
  return out;
}

void BM_ParticleTick10k(benchmark::State& state) {
  ParticleManager& store = ParticleManager::GetInstance();
  const std::vector<Particle> population = GameLikeParticles(10000);
  for (auto _ : state) {
    state.PauseTiming();
    store.RemoveAllParticles(false);
    store.AddParticles(population);
    state.ResumeTiming();
    ParticleTick();
  }
  state.counters["live_after"] = static_cast<double>(store.GetParticlesCopy().size());
}

BENCHMARK(BM_QuickGauss3x3)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainPixelGauss3x3)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK(BM_ParticleTick10k)->Unit(benchmark::kMicrosecond)->Repetitions(7)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) { return RunWindowedBenchmarks(argc, argv); }
