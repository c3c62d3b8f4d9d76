// Processor use of the whole game standing idle: the real binary runs for ten seconds on
// the X display given in DISPLAY (scripts/run-bench provides one with Xvfb), then is stopped
// with SIGTERM; its user + system time comes from wait4's resource usage.
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

void BM_GameIdleCpu(benchmark::State& state) {
  const double run_seconds = 10.0;
  const std::filesystem::path work = std::filesystem::temp_directory_path() / "vantorix-bench-run";
  std::filesystem::create_directories(work);
  for (auto _ : state) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(work.c_str()) != 0) _exit(127);
      freopen("/dev/null", "w", stdout);
      execl(VANTORIX_BINARY, VANTORIX_BINARY, static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(run_seconds));
    kill(pid, SIGTERM);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("the game did not run and exit cleanly (is DISPLAY set?)");
      break;
    }
    const double cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_percent_of_one_core"] = 100.0 * cpu / run_seconds;
  }
}

BENCHMARK(BM_GameIdleCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
