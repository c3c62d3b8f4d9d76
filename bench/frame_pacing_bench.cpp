// Steadiness of the frames an idle game hands to its window: the real render loop on its
// thread, and on the main thread the game's own loop serving events at the main rate, for
// 30 s on the X display in DISPLAY (scripts/run-bench gives one with Xvfb). The argument is
// how many busy loops (processes spinning on a core each) run beside it. The intervals
// between presented frames are reported against the nominal 1/65 s.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <thread>
#include <vector>

#include "core/maze_generator.h"
#include "gfx/graphics.h"
#include "records/game_records.h"
#include "services/background_threads.h"
#include "services/tick_pacing.h"
#include "view/game_view.h"

namespace {

constexpr int64_t kRunMicros = 30'000'000;

double At(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1))];
}

void BM_FramePacing(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<pid_t> busy;
    for (int i = 0; i < state.range(0); ++i)
      if (const pid_t pid = fork(); pid == 0) {
        for (volatile uint64_t spin = 0;;) spin = spin + 1;
      } else if (pid > 0) {
        busy.push_back(pid);
      }
    std::vector<int64_t> presented;
    presented.reserve(4000);
    OnFramePresented([&presented] { presented.push_back(SteadyMicros()); });
    ecl = false;
    std::thread render(RenderWhile);
    const int64_t end = SteadyMicros() + kRunMicros;
    while (SteadyMicros() < end) {
      TickPacer tick(refresh_rate[kRateGameLoops]);
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      PaceServingEvents(tick);
    }
    ecl = true;
    render.join();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    OnFramePresented({});
    for (const pid_t pid : busy) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
    ecl = false;

    std::vector<double> gaps;
    for (size_t i = 1; i < presented.size(); ++i) gaps.push_back(static_cast<double>(presented[i] - presented[i - 1]) / 1000.0);
    if (gaps.empty()) {
      state.SkipWithError("no frame was presented (is DISPLAY set?)");
      break;
    }
    state.counters["frames"] = static_cast<double>(presented.size());
    state.counters["gap_p50_ms"] = At(gaps, 0.50);
    state.counters["gap_p99_ms"] = At(gaps, 0.99);
    state.counters["gap_max_ms"] = *std::max_element(gaps.begin(), gaps.end());
    state.counters["gaps_over_50ms"] = static_cast<double>(std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 50; }));
    state.counters["p99_over_nominal"] = At(gaps, 0.99) / (1000.0 / 65.0);
  }
}

BENCHMARK(BM_FramePacing)->Arg(0)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  initgraph(1000, 800);
  Initialize_map();
  playerdata.player_x = playerdata.player_y = 775;
  playerdata.vision_x = playerdata.vision_y = 790;
  refresh_rate[kRateGameLoops] = 65;
  refresh_rate[kRateRenderLoop] = 65;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ecl = true;
  background_threads.JoinAll();
  return 0;
}
