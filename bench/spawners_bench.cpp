// Cost of one particle-thread tick under the heaviest effect load of a match: a blood
// splash with both players bleeding. Ticks run on the benchmark thread at the game's rate
// while the real, detached bleeding threads add their drops alongside.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "bench/windowed_bench.h"
#include "effects/effect_spawners.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "records/game_records.h"
#include "services/tick_pacing.h"

namespace {

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  const auto at = v.begin() + static_cast<long>(q * static_cast<double>(v.size() - 1));
  std::nth_element(v.begin(), at, v.end());
  return *at;
}

// A hit as the bullet loop makes it: a splash at the enemy's centre thrown away from the
// player, then both targets bleeding for five seconds (the enemy locally, the player as
// if the peer had hit back).
void Hit() {
  const auto centre = [] { return std::pair{715.0f, 715.0f}; };
  Effects_SpawnBloodSplash(715, 715, 1, 1, 2.0f);
  Effects_BleedEffect(1, centre, 5.0f);
  Effects_BleedEffect(0, centre, 5.0f);
}

// Every iteration is one tick, paced at the game loops' rate like the particle thread so
// that the bleeding threads' 20 drops per second pile up as they do in the game; only
// ParticleTick() is timed. `hit_every` > 0 repeats the hit every that many ticks.
void RunTicks(benchmark::State& state, int hit_every) {
  ParticleManager& store = ParticleManager::GetInstance();
  while (g_bleed_running[0].load() || g_bleed_running[1].load())  // the previous run's bleeds
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  store.RemoveAllParticles(false);
  std::vector<double> ms;
  std::vector<double> splash_ms;  // ticks that start with a splash in flight
  size_t peak = 0;
  int tick = 0;
  for (auto _ : state) {
    TickPacer pacer(refresh_rate[kRateGameLoops]);
    if (tick == 0 || (hit_every > 0 && tick % hit_every == 0)) Hit();
    const size_t live = store.GetParticlesCopy().size();
    const auto start = std::chrono::steady_clock::now();
    ParticleTick();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    ms.push_back(took.count() * 1000);
    // Bleeding alone keeps a few dozen drops alive; hundreds mean splash particles.
    if (live >= 200) splash_ms.push_back(took.count() * 1000);
    peak = std::max(peak, live);
    ++tick;
    pacer.Pace();
  }
  state.counters["median_ms"] = Percentile(ms, 0.5);
  state.counters["median_splash_ms"] = Percentile(splash_ms, 0.5);
  state.counters["splash_ticks"] = static_cast<double>(splash_ms.size());
  state.counters["max_ms"] = *std::max_element(ms.begin(), ms.end());
  state.counters["peak_particles"] = static_cast<double>(peak);
}

// One hit, then the five seconds of its bleeding (325 ticks at 65 per second).
void BM_SplashThenBleedTick(benchmark::State& state) { RunTicks(state, 0); }
// Sustained fire: a hit every second for ten seconds, splashes overlapping.
void BM_HitEverySecondTick(benchmark::State& state) { RunTicks(state, 65); }

BENCHMARK(BM_SplashThenBleedTick)->UseManualTime()->Iterations(325)->Repetitions(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HitEverySecondTick)->UseManualTime()->Iterations(650)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) { return RunWindowedBenchmarks(argc, argv, [] { std::srand(1); }); }
