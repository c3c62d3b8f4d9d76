// CPU time of one practice-opponent tick at each level, in a live round: it has the whole maze
// and hunts a player who keeps moving and now and then shoots its way. The time per iteration
// is the mean per tick; the 99th percentile of single ticks is a counter. One benchmark thread
// drives the opponent; nothing else runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/maze_generator.h"
#include "match/practice_opponent.h"
#include "records/command_string.h"
#include "records/game_records.h"

namespace {

// The player's corner at a tick, on a scripted path that ignores the walls: round the ring,
// and every other 12 s back and forth along the middle row, which its spots must follow.
void PlayerAt(int64_t tick, float& x, float& y) {
  constexpr float kLap = 3000.0f;  // the ring's centre line, in pixels
  const float along = std::fmod(static_cast<float>(tick) * 4.0f, kLap);
  const float side = along / 750.0f;
  const float t = std::fmod(along, 750.0f);
  if (tick / 780 % 2 == 1) {
    x = 10 + std::fabs(std::fmod(static_cast<float>(tick) * 3.0f, 1500.0f) - 750.0f);
    y = 385;
    return;
  }
  if (side < 1) x = 10 + t, y = 10;
  else if (side < 2) x = 760, y = 10 + t;
  else if (side < 3) x = 760 - t, y = 760;
  else x = 10, y = 760 - t;
}

void BM_PracticeOpponentTick(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  PracticeOpponent opponent(level, 11);
  bool grid[16][16];
  generateMaze(grid, 11);
  for (int i = 0; i < kMapCells; ++i) {
    const bool wall = grid[i / kMapSide][i % kMapSide];
    opponent.Hear(BuildMapBlockCommand(i / kMapSide, i % kMapSide, wall ? "wall" : "NULL", wall));
  }
  std::vector<std::string> said;
  said.reserve(64);
  int64_t tick = 0;
  uint64_t position = 0, shot = 0, hits = 0;
  std::vector<double> tick_us;
  tick_us.reserve(static_cast<size_t>(state.max_iterations));
  for (auto _ : state) {
    float x = 0, y = 0;
    PlayerAt(++tick, x, y);
    opponent.Hear(BuildCoordinateCommand(x, y) + "{" + std::to_string(++position) + "}");
    if (tick % 40 == 0)  // a shot its way now and then, which keeps it wary
      opponent.Hear(BuildShotCommand(x + 15, y + 15, 20, 0) + "{" + std::to_string(++shot) + "}");
    said.clear();
    const auto start = std::chrono::steady_clock::now();
    opponent.Tick(said);
    tick_us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    // Hits go out with copies; their numbers count them once.
    for (const std::string& text : said)
      if (text.compare(0, 20, kAttackCommand) == 0)
        hits = std::max<uint64_t>(hits, std::stoull(text.substr(text.rfind('{') + 1)));
    benchmark::DoNotOptimize(said.data());
  }
  // Wall clock, so a busy machine shows in it; the planning ticks are the slow ones.
  std::sort(tick_us.begin(), tick_us.end());
  state.counters["p99_tick_us"] = tick_us.empty() ? 0.0 : tick_us[tick_us.size() * 99 / 100];
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["its_falls"] = opponent.deaths();
}

// Long enough for many replans and shots: a few simulated minutes per level.
BENCHMARK(BM_PracticeOpponentTick)->Arg(1)->Arg(2)->Arg(3)->Iterations(20000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
