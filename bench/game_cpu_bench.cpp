// Processor use of the whole game standing idle: alone, on the title screen, in a practice
// match against the computer, and as both sides of a match on loopback: the real binary runs for ten seconds on the X display given in DISPLAY
// (scripts/run-bench provides one with Xvfb; both match windows share it), then is stopped
// with SIGTERM; its user + system time comes from wait4's resource usage. With
// VANTORIX_COMPARE_BINARY naming another build of the game (an earlier one, say), each case
// runs that one too, right after, and reports it beside. The benchmark
// thread forks and waits for the game processes; the match talks only to 127.0.0.1.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback_socket.h"

namespace {

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }


// The builds to measure: this one, and the one to compare with when given.
std::vector<std::string> Binaries() {
  std::vector<std::string> binaries{VANTORIX_BINARY};
  if (const char* other = std::getenv("VANTORIX_COMPARE_BINARY"); other != nullptr && *other != 0)
    binaries.emplace_back(other);
  return binaries;
}
// Counter names: "cpu_percent" for this build, "compare_cpu_percent" for the other.
std::string Named(size_t binary, const std::string& name) { return binary == 0 ? name : "compare_" + name; }

pid_t StartGame(const std::string& binary, const std::filesystem::path& work, std::vector<std::string> arguments) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(work.c_str()) != 0) _exit(127);
  freopen("/dev/null", "w", stdout);
  std::vector<char*> argv{const_cast<char*>(binary.c_str())};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  execv(binary.c_str(), argv.data());
  _exit(127);
}

// Waits for a game stopped with SIGTERM, killing it when it is still there after ten
// seconds; false when it did not exit with status 0.
bool ReapGame(pid_t pid, rusage& usage) {
  int status = 0;
  for (int waited_ms = 0; waited_ms < 10000; waited_ms += 10) {
    if (wait4(pid, &status, WNOHANG, &usage) == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  wait4(pid, &status, 0, &usage);
  return false;
}

// One game started with `arguments` and left alone for ten seconds.
void IdleCpu(benchmark::State& state, std::vector<std::string> arguments) {
  const double run_seconds = 10.0;
  const std::filesystem::path work = std::filesystem::temp_directory_path() / "vantorix-bench-run";
  std::filesystem::create_directories(work);
  for (auto _ : state) {
    const std::vector<std::string> binaries = Binaries();
    for (size_t b = 0; b < binaries.size(); ++b) {
      const pid_t pid = StartGame(binaries[b], work, arguments);
      std::this_thread::sleep_for(std::chrono::duration<double>(run_seconds));
      kill(pid, SIGTERM);
      rusage usage{};
      if (!ReapGame(pid, usage)) {
        state.SkipWithError("the game did not run and exit cleanly (is DISPLAY set?)");
        return;
      }
      const double cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
      state.counters[Named(b, "cpu_percent_of_one_core")] = 100.0 * cpu / run_seconds;
    }
  }
}

void BM_GameIdleCpu(benchmark::State& state) { IdleCpu(state, {"--local"}); }
BENCHMARK(BM_GameIdleCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The title screen: it draws and serves events but sends nothing.
void BM_StartScreenCpu(benchmark::State& state) { IdleCpu(state, {}); }
BENCHMARK(BM_StartScreenCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// An idle player against the computer at the middle level, which moves, fires and knocks.
void BM_PracticeCpu(benchmark::State& state) { IdleCpu(state, {"--practice"}); }
BENCHMARK(BM_PracticeCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_MatchCpu(benchmark::State& state) {
  const double run_seconds = 10.0;
  const std::filesystem::path host_dir = std::filesystem::temp_directory_path() / "vantorix-bench-host";
  const std::filesystem::path guest_dir = std::filesystem::temp_directory_path() / "vantorix-bench-guest";
  std::filesystem::create_directories(host_dir);
  std::filesystem::create_directories(guest_dir);
  for (auto _ : state) {
    const std::vector<std::string> binaries = Binaries();
    for (size_t bin = 0; bin < binaries.size(); ++bin) {
      const uint16_t a = FreeLoopbackUdpPort(0), b = FreeLoopbackUdpPort(a);
      if (a == 0 || b == 0) {
        state.SkipWithError("no free loopback UDP ports");
        return;
      }
      const std::string port_a = std::to_string(a), port_b = std::to_string(b);
      const auto started = std::chrono::steady_clock::now();
      const pid_t host = StartGame(binaries[bin], host_dir, {"--port", port_a, "--peer", "127.0.0.1:" + port_b, "--host"});
      const pid_t guest =
          host > 0 ? StartGame(binaries[bin], guest_dir, {"--port", port_b, "--peer", "127.0.0.1:" + port_a}) : -1;
      std::this_thread::sleep_until(started + std::chrono::duration<double>(run_seconds));
      if (host > 0) kill(host, SIGTERM);
      if (guest > 0) kill(guest, SIGTERM);
      const double ran = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      rusage host_usage{}, guest_usage{};
      const bool host_ok = host > 0 && ReapGame(host, host_usage);
      const bool guest_ok = guest > 0 && ReapGame(guest, guest_usage);
      if (!host_ok || !guest_ok) {
        state.SkipWithError("a match side did not run and exit cleanly (is DISPLAY set?)");
        return;
      }
      const double host_cpu = Seconds(host_usage.ru_utime) + Seconds(host_usage.ru_stime);
      const double guest_cpu = Seconds(guest_usage.ru_utime) + Seconds(guest_usage.ru_stime);
      state.counters[Named(bin, "host_cpu_percent_of_one_core")] = 100.0 * host_cpu / ran;
      state.counters[Named(bin, "guest_cpu_percent_of_one_core")] = 100.0 * guest_cpu / ran;
    }
  }
}

BENCHMARK(BM_MatchCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
