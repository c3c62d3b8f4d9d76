// What a UDP flood of strangers against the match port costs a running side: the render
// rate, the delay until the peer's positions show, and the memory, over 3 s without the
// flood, 10 s with it (udp_flood, a separate process, from 127.0.0.2 and from 127.0.0.1 on a
// port of its own) and 2 s after. Threads: the match's receive, send, physics and render
// loops; a peer thread sending positions; a poller timing their arrival; the main thread
// serves Qt (the frames are presented there) and samples the memory. Only 127.0.0.1 is sent to.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/windowed_bench.h"
#include "tests/support/loopback_socket.h"
#include "records/game_records.h"
#include "core/maze_generator.h"
#include "core/player_movement.h"
#include "gfx/graphics.h"
#include "records/command_string.h"
#include "match/match_sync.h"
#include "transport/network_manager.h"
#include "view/game_view.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr float kBaseX = 100.0f, kPeerY = 200.0f;  // the peer's n-th position is (100 + n, 200)
constexpr int kMaxSends = 4096;                    // ~1,000 are sent at one per 15 ms
enum Phase : int { kBaseline, kFlood, kAfter, kPhases };

long RssKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Datagrams the kernel dropped at the socket bound to `port` (its receive buffer was full).
long SocketDrops(uint16_t port) {
  std::ifstream udp("/proc/net/udp");
  std::string line;
  std::getline(udp, line);
  char wanted[8];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(udp, line)) {
    std::istringstream fields(line);
    std::string slot, local, field;
    fields >> slot >> local;
    if (local.size() < 5 || local.substr(local.size() - 5) != wanted) continue;
    while (fields >> field) {
    }
    return std::stol(field);  // the last column
  }
  return -1;
}

// What a stranger's datagram could change: the player record but the enemy corner, the
// maze, the score and the count of unhandled commands.
auto Records() {
  PlayerData p;
  {
    std::lock_guard lock(motion_mutex);
    p = playerdata;
  }
  std::vector<std::pair<bool, std::string>> maze;
  {
    std::lock_guard lock(map_mutex);
    for (const MapCell& cell : _map.cells) maze.emplace_back(Shared(cell.is_wall), cell.type);
  }
  return std::make_tuple(
      std::make_tuple(p.peer_ip, p.peer_port, p.local_port, p.online, p.is_host, p.player_x, p.player_y, p.velocity_x,
                      p.velocity_y, p.energy, p.round_over, p.vision_x, p.vision_y, p.vision_radius),
      maze, Shared(versus.kills), Shared(versus.deaths), network_transmission.incomingSize());
}

// Main-thread wait: keeps Qt presenting the render loop's frames and runs `tick` every ~2 ms
// until `span` is over or `tick` returns false.
template <class Tick>
void Serve(Clock::duration span, Tick tick) {
  for (const auto end = Clock::now() + span; Clock::now() < end;) {
    QCoreApplication::processEvents();
    if (!tick()) return;
    std::this_thread::sleep_for(2ms);
  }
}

// Mean and 99th percentile, in ms, of microsecond samples.
std::pair<double, double> MeanP99(std::vector<int64_t> us) {
  if (us.empty()) return {-1, -1};
  std::sort(us.begin(), us.end());
  double sum = 0;
  for (const int64_t u : us) sum += static_cast<double>(u);
  const size_t p99 = std::min(us.size() - 1, static_cast<size_t>(std::ceil(0.99 * static_cast<double>(us.size()))) - 1);
  return {sum / static_cast<double>(us.size()) / 1000.0, static_cast<double>(us[p99]) / 1000.0};
}

void BM_FloodAgainstAMatch(benchmark::State& state) {
#ifndef UDP_FLOOD_BINARY
  state.SkipWithError("built without udp_flood");
  for (auto _ : state) {
  }
#else
  for (auto _ : state) {
    LoopbackSocket peer;
    Initialize_map();
    playerdata = PlayerData{};
    playerdata.online = true;
    playerdata.peer_ip = "127.0.0.1";
    playerdata.peer_port = peer.port;
    ecl = false;
    if (!Initialize_network()) {
      state.SkipWithError("the transport did not start");
      break;
    }
    const uint16_t game = _network.boundPort(ProtocolType::UDP);

    std::atomic<int> phase{kBaseline};
    std::atomic<bool> stop{false}, render_done{false};
    std::array<std::atomic<int64_t>, kMaxSends> sent_us{}, delay_us{};
    std::array<std::atomic<int>, kMaxSends> sent_in{};
    std::array<std::atomic<bool>, kMaxSends> superseded{};  // shown only through a later one
    std::atomic<int> sends{0};
    std::thread receiver(Receiving_thread), sender(Send_thread), physics(WhileCalculate);
    std::thread render([&] {
      RenderWhile();
      render_done = true;
    });
    std::thread peer_loop([&] {
      for (int n = 1; n < kMaxSends && !stop; ++n) {
        sent_in[n] = phase.load();
        sent_us[n] = SteadyMicros();
        sends = n;
        peer.Send(BuildCoordinateCommand(kBaseX + static_cast<float>(n), kPeerY), game);
        std::this_thread::sleep_for(15ms);
      }
    });
    // Position n counts as shown once the corner shows n or a later one: a position lost or
    // superseded before it landed was shown as late as its successor (and counts as skipped).
    std::thread poller([&] {
      int shown = 0;
      while (!stop) {
        const Corner corner = EnemyCorner();
        const int n = static_cast<int>(std::lround(corner.x - kBaseX));
        if (corner.y == kPeerY && n > shown && n <= sends) {
          const int64_t now = SteadyMicros();
          for (int s = shown + 1; s <= n; ++s) delay_us[s] = now - sent_us[s], superseded[s] = s < n;
          shown = n;
        }
        std::this_thread::sleep_for(100us);
      }
    });

    // Baseline.
    int64_t frames[kPhases + 1];
    Clock::time_point at[kPhases + 1];
    frames[kBaseline] = frame[kFrameRenderLoop], at[kBaseline] = Clock::now();
    Serve(3s, [] { return true; });
    const long rss_before = RssKib();
    const auto records_before = Records();

    // Flood, as long as the flood process runs.
    int out[2];
    long long flooded = -1;
    long rss_peak = rss_before;
    const long drops_before = SocketDrops(game);
    phase = kFlood, frames[kFlood] = frame[kFrameRenderLoop], at[kFlood] = Clock::now();
    if (pipe(out) == 0) {
      posix_spawn_file_actions_t actions;
      posix_spawn_file_actions_init(&actions);
      posix_spawn_file_actions_adddup2(&actions, out[1], 1);
      std::string args[] = {UDP_FLOOD_BINARY, std::to_string(game), "10"};
      char* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
      pid_t flood = 0;
      const bool spawned = posix_spawn(&flood, argv[0], &actions, nullptr, argv, environ) == 0;
      close(out[1]);
      posix_spawn_file_actions_destroy(&actions);
      int status = 0, ticks = 0;
      Serve(spawned ? 20s : 0s, [&] {
        if (++ticks % 5 == 0) rss_peak = std::max(rss_peak, RssKib());
        return waitpid(flood, &status, WNOHANG) == 0;
      });
      if (spawned && waitpid(flood, &status, WNOHANG) == 0) {  // bounded even if it hangs
        kill(flood, SIGKILL);
        waitpid(flood, &status, 0);
      }
      FILE* flood_out = fdopen(out[0], "r");
      if (std::fscanf(flood_out, "%lld", &flooded) != 1) flooded = -1;
      std::fclose(flood_out);
    }

    const long drops_flood = SocketDrops(game) - drops_before;

    // After.
    phase = kAfter, frames[kAfter] = frame[kFrameRenderLoop], at[kAfter] = Clock::now();
    Serve(2s, [] { return true; });
    frames[kPhases] = frame[kFrameRenderLoop], at[kPhases] = Clock::now();

    stop = true;
    peer_loop.join(), poller.join();
    ecl = true;
    receiver.join(), sender.join(), physics.join();
    Serve(5s, [&] { return !render_done; });  // its last present tasks run here
    render.join();
    QCoreApplication::processEvents();
    const bool unchanged = Records() == records_before;
    _network.stop();

    std::vector<int64_t> delays[kPhases];
    int skipped[kPhases] = {};
    for (int n = 1; n <= sends; ++n)
      if (delay_us[n] > 0) delays[sent_in[n]].push_back(delay_us[n]), skipped[sent_in[n]] += superseded[n];
    const auto fps = [&](int p) {
      return static_cast<double>(frames[p + 1] - frames[p]) / std::chrono::duration<double>(at[p + 1] - at[p]).count();
    };
    const auto [base_mean, base_p99] = MeanP99(delays[kBaseline]);
    const auto [flood_mean, flood_p99] = MeanP99(delays[kFlood]);
    state.counters["flood_datagrams"] = static_cast<double>(flooded);
    state.counters["flood_s"] = std::chrono::duration<double>(at[kAfter] - at[kFlood]).count();
    state.counters["fps_baseline"] = fps(kBaseline);
    state.counters["fps_flood"] = fps(kFlood);
    state.counters["fps_after"] = fps(kAfter);
    state.counters["delay_mean_ms_baseline"] = base_mean;
    state.counters["delay_p99_ms_baseline"] = base_p99;
    state.counters["delay_mean_ms_flood"] = flood_mean;
    state.counters["delay_p99_ms_flood"] = flood_p99;
    state.counters["extra_delay_p99_ms"] = flood_p99 - base_p99;
    state.counters["positions_baseline"] = static_cast<double>(delays[kBaseline].size());
    state.counters["positions_flood"] = static_cast<double>(delays[kFlood].size());
    state.counters["skipped_baseline"] = skipped[kBaseline];
    state.counters["skipped_flood"] = skipped[kFlood];
    state.counters["socket_drops_flood"] = static_cast<double>(drops_flood);
    state.counters["rss_mib_before"] = static_cast<double>(rss_before) / 1024.0;
    state.counters["rss_mib_peak_flood"] = static_cast<double>(rss_peak) / 1024.0;
    state.counters["records_unchanged"] = unchanged ? 1 : 0;
  }
#endif
}

BENCHMARK(BM_FloodAgainstAMatch)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) { return RunWindowedBenchmarks(argc, argv); }
