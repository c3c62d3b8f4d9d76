// Processor use of the whole game: alone, on the title screen, in a practice match against the
// computer, and as both sides of a match on loopback, idle and with both players moving. The
// idle cases run the real binary for ten seconds on the X display given in DISPLAY
// (scripts/run-bench provides one with Xvfb; both match windows share it), then stop it with
// SIGTERM and take its user + system time from wait4's resource usage. The moving match
// gives each side an Xvfb display of its own, drives each player with xdotool through the
// real X input, and reads the time used while they move from /proc. With
// VANTORIX_COMPARE_BINARY naming another build of the game (an earlier one, say), each case
// runs that one too, right after, and reports it beside. The benchmark thread forks and
// waits for every process it starts; the match talks only to 127.0.0.1.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// Starts `binary` (a path, or a name looked up in PATH) with `arguments` in `work`, its
// output dropped; on `display` when given.
pid_t Start(const std::string& binary, const std::filesystem::path& work, std::vector<std::string> arguments,
            const std::string& display = "") {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(work.c_str()) != 0) _exit(127);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  freopen("/dev/null", "w", stdout);
  freopen("/dev/null", "w", stderr);
  std::vector<char*> argv{const_cast<char*>(binary.c_str())};
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  execvp(binary.c_str(), argv.data());
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
      const pid_t pid = Start(binaries[b], work, arguments);
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
      const pid_t host = Start(binaries[bin], host_dir, {"--port", port_a, "--peer", "127.0.0.1:" + port_b, "--host"});
      const pid_t guest =
          host > 0 ? Start(binaries[bin], guest_dir, {"--port", port_b, "--peer", "127.0.0.1:" + port_a}) : -1;
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

// A private Xvfb display, its number chosen by the server; stopped on destruction.
struct PrivateDisplay {
  pid_t pid = -1;
  std::string name;
  PrivateDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = fork();
    if (pid == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    char number[16] = {};
    FILE* from_server = fdopen(fds[0], "r");
    if (from_server != nullptr && std::fgets(number, sizeof number, from_server) != nullptr && number[0] >= '0' &&
        number[0] <= '9')
      name = ":" + std::string(number, std::strcspn(number, "\n"));
    if (from_server != nullptr) std::fclose(from_server);
  }
  ~PrivateDisplay() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

// Runs xdotool on `display` with `arguments` and waits for it: true when it succeeded.
bool Xdotool(const std::string& display, std::vector<std::string> arguments) {
  const pid_t pid = Start("xdotool", ".", std::move(arguments), display);
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// User + system seconds a running process has used so far, from /proc.
double UsedSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t after_name = text.rfind(')');
  if (after_name == std::string::npos) return 0;
  std::istringstream fields(text.substr(after_name + 2));
  std::string field;
  double user = 0, system = 0;
  // Fields 3 to 13 come before utime (14) and stime (15).
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stod(field);
    if (i == 15) system = std::stod(field);
  }
  return (user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Lines of a side's log that say a round's countdown ran: a side that fell measured countdowns.
int CountdownsLogged(const std::filesystem::path& work) {
  std::ifstream log(work / "logs" / "DEBUG.log");
  int count = 0;
  for (std::string line; std::getline(log, line);) count += line.find(" countdown ") != std::string::npos;
  return count;
}

// Both players moving all the time and aiming across the arena, without falling: each taps
// its way inward from its starting corner and back, the host from the top left, the guest
// from the bottom right, while its pointer sweeps. About fifteen seconds of real X input.
void BM_MovingMatchCpu(benchmark::State& state) {
  const std::filesystem::path host_dir = std::filesystem::temp_directory_path() / "vantorix-bench-moving-host";
  const std::filesystem::path guest_dir = std::filesystem::temp_directory_path() / "vantorix-bench-moving-guest";
  for (auto _ : state) {
    const std::vector<std::string> binaries = Binaries();
    for (size_t bin = 0; bin < binaries.size(); ++bin) {
      std::filesystem::remove_all(host_dir);
      std::filesystem::remove_all(guest_dir);
      std::filesystem::create_directories(host_dir);
      std::filesystem::create_directories(guest_dir);
      const PrivateDisplay host_display, guest_display;
      const uint16_t a = FreeLoopbackUdpPort(0), b = FreeLoopbackUdpPort(a);
      if (host_display.name.empty() || guest_display.name.empty() || a == 0 || b == 0) {
        state.SkipWithError("no Xvfb displays or no free loopback UDP ports");
        return;
      }
      const std::string port_a = std::to_string(a), port_b = std::to_string(b);
      const pid_t host =
          Start(binaries[bin], host_dir, {"--port", port_a, "--peer", "127.0.0.1:" + port_b, "--host"}, host_display.name);
      const pid_t guest =
          Start(binaries[bin], guest_dir, {"--port", port_b, "--peer", "127.0.0.1:" + port_a}, guest_display.name);
      const std::string sides[2] = {host_display.name, guest_display.name};
      bool driven = true;
      for (const std::string& display : sides)
        driven = driven && Xdotool(display, {"search", "--sync", "--onlyvisible", "--name", "^Vantorix$", "windowfocus",
                                             "--sync", "%1", "mousemove", "--window", "%1", "400", "400"});
      // Let the match settle in before measuring.
      std::this_thread::sleep_for(std::chrono::seconds(2));
      const auto started = std::chrono::steady_clock::now();
      const double host_before = UsedSeconds(host), guest_before = UsedSeconds(guest);
      // Held for `seconds`: `host_key` on the host, `guest_key` on the guest.
      const auto hold = [&](const char* host_key, const char* guest_key, double seconds) {
        driven = Xdotool(sides[0], {"keydown", host_key}) && Xdotool(sides[1], {"keydown", guest_key}) && driven;
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        driven = Xdotool(sides[0], {"keyup", host_key}) && Xdotool(sides[1], {"keyup", guest_key}) && driven;
      };
      for (int round = 0; round < 12; ++round) {
        const std::string x = std::to_string(200 + 40 * round), y = std::to_string(300 + 100 * (round % 3));
        for (const std::string& display : sides) driven = Xdotool(display, {"mousemove", x, y}) && driven;
        hold("d", "a", 0.1), hold("a", "d", 0.2), hold("d", "a", 0.1);
        hold("s", "w", 0.1), hold("w", "s", 0.2), hold("s", "w", 0.1);
      }
      const double host_used = UsedSeconds(host) - host_before, guest_used = UsedSeconds(guest) - guest_before;
      const double ran = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      kill(host, SIGTERM);
      kill(guest, SIGTERM);
      rusage usage{};
      const bool host_ok = ReapGame(host, usage), guest_ok = ReapGame(guest, usage);
      if (!host_ok || !guest_ok || !driven) {
        state.SkipWithError("a match side did not run and exit cleanly, or xdotool could not drive it");
        return;
      }
      state.counters[Named(bin, "host_cpu_percent_of_one_core")] = 100.0 * host_used / ran;
      state.counters[Named(bin, "guest_cpu_percent_of_one_core")] = 100.0 * guest_used / ran;
      state.counters[Named(bin, "countdowns")] = CountdownsLogged(host_dir) + CountdownsLogged(guest_dir);
    }
  }
}

BENCHMARK(BM_MovingMatchCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
