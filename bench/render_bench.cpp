// Cost of one whole game-view frame (batch open, draw, flush) with a full maze, every bullet
// slot in flight and a 2,000-drop blood splash, with and without the opponent's ghosts, and
// of an idle frame, on the offscreen platform. Single-threaded:
// the benchmark thread draws and also runs the queued present tasks between iterations.
#include "bench/windowed_bench.h"
#include "core/ghost_bullets.h"
#include "core/maze_generator.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "records/game_records.h"
#include "view/game_view.h"
#include "view/view_drawing.h"

#include <cstdlib>

namespace {

void FillArena() {
  Initialize_map();
  for (int i = 0; i < kBulletSlots; ++i) {
    bullet.slots[i].active = true;
    bullet.motion[i].x = 20.0f + static_cast<float>((i * 37) % 760);
    bullet.motion[i].y = 20.0f + static_cast<float>((i * 53) % 760);
  }
  // A blood splash around one point, as a hit leaves it: red-ish discs of radius 2 to 5.
  std::srand(7);
  for (int i = 0; i < 2000; ++i) {
    Particle drop;
    drop.x = 400.0f + static_cast<float>(std::rand() % 121 - 60);
    drop.y = 400.0f + static_cast<float>(std::rand() % 121 - 60);
    drop.color = RGB(150 + std::rand() % 106, std::rand() % 40, std::rand() % 40);
    drop.size = 2.0f + static_cast<float>(std::rand() % 4);
    drop.life = 1000000;
    ParticleManager::GetInstance().AddParticle(drop);
  }
  playerdata.player_x = playerdata.player_y = 385;
  playerdata.vision_radius = playerdata.vision_target_radius;
}

// The frame again with the opponent's ghosts in flight (as many as the store holds), for
// what they add to it.
void BM_RenderFrame(benchmark::State& state) {
  ghost_bullets.Clear();
  for (int i = 0; i < state.range(0); ++i)
    ghost_bullets.Launch(30.0f + static_cast<float>((i * 41) % 740), 30.0f + static_cast<float>((i * 29) % 740), 0, 0);
  for (auto _ : state) {
    BeginBatchDraw();
    Render_frame();
    state.PauseTiming();
    QCoreApplication::processEvents();  // the frame's present task, so none pile up
    state.ResumeTiming();
  }
}

BENCHMARK(BM_RenderFrame)->Arg(0)->Arg(GhostBullets::kCapacity)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly(true);

// The frame of a game that only waits for its player: the maze, the two discs, nothing in
// flight. The argument: 1 with the frame's shortcuts (the fog's part left out, the sidebar
// reused), 0 drawing everything as a reference.
void BM_RenderIdleFrame(benchmark::State& state) {
  {
    std::lock_guard lock(bullet_mutex);
    for (BulletSlot& slot : bullet.slots) slot.active = false;
  }
  ParticleManager::GetInstance().RemoveAllParticles(false);
  ghost_bullets.Clear();
  playerdata.player_x = playerdata.player_y = 25;
  playerdata.vision_x = playerdata.vision_y = 40;
  SetFrameShortcuts(state.range(0) == 1);
  for (auto _ : state) {
    BeginBatchDraw();
    Render_frame();
    state.PauseTiming();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
  SetFrameShortcuts(true);
}

BENCHMARK(BM_RenderIdleFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) { return RunWindowedBenchmarks(argc, argv, FillArena); }
