// The networked match on loopback, between this process and one forked child (the match
// code lives in process-wide records, so each side needs a process of its own): the time
// from a hit on the shooter's side to the knock showing in the victim's position reports,
// and the time a joining guest takes to hold the host's maze. Each process runs the match's
// send and receive loops (the victim also its physics loop) on threads started after the
// fork; the benchmark thread watches the records. Only 127.0.0.1 is ever sent to.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "core/maze_generator.h"
#include "core/player_movement.h"
#include "gfx/graphics.h"
#include "match/match_sync.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "services/background_threads.h"
#include "services/tick_pacing.h"
#include "tests/support/loopback_socket.h"
#include "tests/support/lossy_match_run.h"
#include "tests/support/lossy_udp_relay.h"
#include "transport/network_manager.h"

namespace {

constexpr char kLoopback[] = "127.0.0.1";

// Threads of this process; a fork is only safe while this is 1.
int ThreadCount() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  return -1;
}

// A forked side; its stop request is the closing of the pipe it reads.
struct Child {
  pid_t pid = -1;
  int stop_fd = -1;
};

// Forks; the child runs `side(stop_fd)` and exits with its result, never returning here.
template <class Side>
Child ForkSide(Side side) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[1]);
    std::fflush(nullptr);
    _exit(side(fds[0]));
  }
  close(fds[0]);
  if (pid < 0) {
    close(fds[1]);
    return {};
  }
  return Child{pid, fds[1]};
}

// In the child: true when the parent asked to stop (or died) within `max_ms`.
bool WaitForStop(int fd, int max_ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, max_ms) != 0;
}

// Asks the child to stop and waits for it, killing it after `grace_ms`; its exit status,
// or -1 when it had to be killed or was never there.
int StopChild(Child& child) {
  constexpr int grace_ms = 5000;
  if (child.stop_fd >= 0) close(child.stop_fd);
  child.stop_fd = -1;
  if (child.pid <= 0) return -1;
  int status = 0;
  for (int waited = 0; waited < grace_ms; waited += 10) {
    if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
      child.pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    SleepMicros(10000);
  }
  kill(child.pid, SIGKILL);
  waitpid(child.pid, &status, 0);
  child.pid = -1;
  return -1;
}

// Fills the online records of one side and forgets what an earlier run left in them.
void SetUpSide(uint16_t local_port, uint16_t peer_port, bool host) {
  ecl.store(false);
  playerdata.online = true;
  playerdata.local_port = local_port;
  playerdata.peer_ip = kLoopback;
  playerdata.peer_port = peer_port;
  playerdata.is_host = host;
  playerdata.round_over = false;
  playerdata.velocity_x = playerdata.velocity_y = 0;
  network_transmission.peer_heard_us.store(-1);
  while (network_transmission.popOutgoingBack()) {
  }
  _map.ResetShotAway();
  std::deque<NetworkMessage> stale;
  _network.takeMessages(stale);
}

void StoreMaze(const bool (&grid)[16][16]) {
  std::lock_guard lock(map_mutex);
  for (int i = 0; i < kMapCells; ++i) {
    _map.cells[i].is_wall = grid[i / kMapSide][i % kMapSide];
    _map.cells[i].type = _map.cells[i].is_wall ? "wall" : "NULL";
  }
}

// The match loops of this process, stopped the way the game stops them.
class MatchLoops {
 public:
  void Start(bool physics) {
    threads_.emplace_back(Send_thread);
    threads_.emplace_back(Receiving_thread);
    if (physics) threads_.emplace_back(WhileCalculate);
  }
  void Stop() {
    ecl.store(true);
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    _network.stop();
    background_threads.JoinAll();
  }
  ~MatchLoops() {
    if (!threads_.empty()) Stop();
  }

 private:
  std::vector<std::thread> threads_;
};


// ---- Hit to knock ----

constexpr int kHits = 200;
constexpr int kHitGapMs = 500;       // lets the last knock's speed fall to under a fifth
constexpr int kKnockWaitMs = 1000;   // longer than this counts the hit as lost
constexpr int kVictimMaxMs = (kHits * (kHitGapMs + kKnockWaitMs)) + 20000;
constexpr float kShooterX = 385, kShooterY = 385;  // centre (400, 400)
constexpr float kVictimX = 385, kVictimY = 235;    // centre (400, 250)
// A knock changes the displacement per report by about 20 px; friction by about 5 % of
// the speed, a report skipped by the receive loop by at most the (small) speed.
constexpr float kKnockMinPx = 10, kKnockMaxPx = 32;

// Shared between the two processes: the hit the shooter is on and, per hit, when the
// victim's velocity took the knock (steady-clock microseconds, the same clock in both).
struct KnockLog {
  std::atomic<int32_t> hit{-1};
  std::atomic<int64_t> knocked_us[kHits];
  std::atomic<int32_t> knocks[kHits];  // velocity jumps seen per hit: a copy applied twice shows as two
};

// The relay's two ports, written by the relay process once its sockets are open.
struct RelayPorts {
  std::atomic<uint16_t> facing_shooter{0}, facing_victim{0};
};

// A bad network between the two sides, in a process of its own so that this one can still
// fork: `loss` percent of the datagrams lost each way, 3 % sent twice, 20-60 ms of delay.
int RunRelay(int stop_fd, uint16_t shooter_port, uint16_t victim_port, int loss, RelayPorts* ports) {
  LossyUdpRelay relay(shooter_port, victim_port);
  relay.setRule({.drop = loss / 100.0, .duplicate = 0.03, .delay = std::chrono::milliseconds(20),
                 .jitter = std::chrono::milliseconds(40)});
  ports->facing_victim.store(relay.portFacingB());
  ports->facing_shooter.store(relay.portFacingA());
  WaitForStop(stop_fd, kVictimMaxMs + 10000);
  return 0;
}

// Victim: the physics loop moves the player, the receive loop applies the knock. The
// benchmark thread only notes when the velocity jumps, for the breakdown.
int RunVictim(int stop_fd, uint16_t local_port, uint16_t peer_port, KnockLog* log) {
  SetUpSide(local_port, peer_port, false);
  playerdata.player_x = kVictimX, playerdata.player_y = kVictimY;
  playerdata.enemy_x = kShooterX, playerdata.enemy_y = kShooterY;
  if (!Initialize_network()) return 2;
  MatchLoops loops;
  loops.Start(true);
  float vx = 0, vy = 0;
  const int64_t end = SteadyMicros() + int64_t{kVictimMaxMs} * 1000;
  while (SteadyMicros() < end) {
    pollfd p{stop_fd, POLLIN, 0};
    if (poll(&p, 1, 0) != 0) break;
    float nvx, nvy;
    {
      std::lock_guard lock(motion_mutex);
      nvx = playerdata.velocity_x, nvy = playerdata.velocity_y;
    }
    if (std::hypot(nvx - vx, nvy - vy) > kKnockMinPx) {
      const int hit = log->hit.load();
      if (hit >= 0 && hit < kHits) log->knocked_us[hit].store(SteadyMicros()), log->knocks[hit].fetch_add(1);
    }
    vx = nvx, vy = nvy;
    SleepMicros(100);
  }
  loops.Stop();
  return 0;
}

struct Report {
  int64_t heard_us;
  float x, y;
};

// The newest position report the receive loop applied; x and y are written before the
// time stamp, so a stamp that stays put around the read vouches for the pair.
Report NewestReport() {
  for (;;) {
    const int64_t before = network_transmission.peer_heard_us.load();
    const float x = playerdata.enemy_x, y = playerdata.enemy_y;
    if (network_transmission.peer_heard_us.load() == before) return {before, x, y};
  }
}

void BM_HitToKnockLatency(benchmark::State& state) {
  for (auto _ : state) {
    if (ThreadCount() != 1) {
      state.SkipWithError("threads already run; cannot fork safely");
      break;
    }
    const uint16_t shooter_port = FreeLoopbackUdpPort(0);
    const uint16_t victim_port = FreeLoopbackUdpPort(shooter_port);
    if (shooter_port == 0 || victim_port == 0) {
      state.SkipWithError("no free loopback UDP ports");
      break;
    }
    void* shared = mmap(nullptr, sizeof(KnockLog) + sizeof(RelayPorts), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      break;
    }
    KnockLog* log = new (shared) KnockLog;
    for (auto& t : log->knocked_us) t.store(-1);
    for (auto& n : log->knocks) n.store(0);
    bool open[16][16] = {};
    StoreMaze(open);  // nothing blocks the knocks on either side

    // With a loss given, each side talks to the relay instead of the other.
    const int loss = static_cast<int>(state.range(0));
    uint16_t victim_peer = shooter_port, shooter_peer = victim_port;
    Child relay;
    auto* ports = new (static_cast<char*>(shared) + sizeof(KnockLog)) RelayPorts;
    if (loss >= 0) {
      relay = ForkSide([&](int fd) { return RunRelay(fd, shooter_port, victim_port, loss, ports); });
      for (int waited = 0; waited < 5000 && ports->facing_shooter.load() == 0; ++waited) SleepMicros(1000);
      victim_peer = ports->facing_victim.load(), shooter_peer = ports->facing_shooter.load();
      if (relay.pid <= 0 || shooter_peer == 0) {
        StopChild(relay);
        munmap(shared, sizeof(KnockLog) + sizeof(RelayPorts));
        state.SkipWithError("the relay did not start");
        break;
      }
    }
    Child victim = ForkSide([&](int fd) { return RunVictim(fd, victim_port, victim_peer, log); });
    if (victim.pid <= 0) {
      StopChild(relay);
      munmap(shared, sizeof(KnockLog) + sizeof(RelayPorts));
      state.SkipWithError("fork failed");
      break;
    }
    SetUpSide(shooter_port, shooter_peer, false);
    playerdata.player_x = kShooterX, playerdata.player_y = kShooterY;
    std::vector<double> total_ms, there_ms, back_ms, knock_px, applied_ms;
    int lost = 0;
    const char* error = nullptr;
    {
      MatchLoops loops;
      if (!Initialize_network()) {
        error = "the shooter's transport did not start";
      } else {
        loops.Start(false);
        const int64_t deadline = SteadyMicros() + 5'000'000;
        while (network_transmission.peer_heard_us.load() < 0 && SteadyMicros() < deadline) SleepMicros(1000);
        if (network_transmission.peer_heard_us.load() < 0) error = "the victim never reported its position";
      }
      for (int hit = 0; error == nullptr && hit < kHits; ++hit) {
        // Follow the reports through the gap, so the last displacement is known at the hit.
        Report last = NewestReport();
        float dx = 0, dy = 0;
        const auto follow = [&](int64_t until_us, bool after_hit, int64_t t0) {
          while (SteadyMicros() < until_us) {
            const Report now = NewestReport();
            if (now.heard_us != last.heard_us) {
              const float ndx = now.x - last.x, ndy = now.y - last.y;
              const float jump = std::hypot(ndx - dx, ndy - dy);
              dx = ndx, dy = ndy;
              last = now;
              if (after_hit && jump > kKnockMinPx && jump < kKnockMaxPx) {
                const int64_t t1 = SteadyMicros();
                total_ms.push_back((t1 - t0) / 1000.0);
                knock_px.push_back(jump);
                const int64_t knocked = log->knocked_us[hit].load();
                if (knocked >= t0 && knocked <= t1) {
                  there_ms.push_back((knocked - t0) / 1000.0);
                  back_ms.push_back((t1 - knocked) / 1000.0);
                }
                return true;
              }
            }
            SleepMicros(100);
          }
          return false;
        };
        follow(SteadyMicros() + int64_t{kHitGapMs} * 1000, false, 0);
        log->hit.store(hit);
        const int64_t t0 = SteadyMicros();
        network_transmission.pushOutgoing(BuildAttackNotification());
        if (!follow(t0 + int64_t{kKnockWaitMs} * 1000, true, t0)) ++lost;
        // When the victim took it, whatever the reports that show it back here went through.
        if (const int64_t knocked = log->knocked_us[hit].load(); knocked >= t0) applied_ms.push_back((knocked - t0) / 1000.0);
      }
      loops.Stop();
    }
    const int victim_status = StopChild(victim);
    StopChild(relay);
    int missed = 0, twice = 0;
    for (const auto& n : log->knocks) missed += n.load() == 0, twice += n.load() > 1;
    munmap(shared, sizeof(KnockLog) + sizeof(RelayPorts));
    playerdata.online = false;
    if (error != nullptr) {
      state.SkipWithError(error);
      break;
    }
    if (victim_status != 0) {
      state.SkipWithError("the victim process did not end cleanly");
      break;
    }
    state.counters["samples"] = static_cast<double>(total_ms.size());
    state.counters["lost"] = lost;
    state.counters["p50_ms"] = PercentileOf(total_ms, 0.50);
    state.counters["p90_ms"] = PercentileOf(total_ms, 0.90);
    state.counters["p99_ms"] = PercentileOf(total_ms, 0.99);
    state.counters["max_ms"] = total_ms.empty() ? 0 : *std::max_element(total_ms.begin(), total_ms.end());
    // Breakdown: hit to the victim's velocity changing, and from there to the report here.
    state.counters["to_victim_p50_ms"] = PercentileOf(there_ms, 0.50);
    state.counters["to_victim_p99_ms"] = PercentileOf(there_ms, 0.99);
    state.counters["back_p50_ms"] = PercentileOf(back_ms, 0.50);
    state.counters["back_p99_ms"] = PercentileOf(back_ms, 0.99);
    state.counters["knock_px_p50"] = PercentileOf(knock_px, 0.50);
    // Each hit applied exactly once, and how long it took to be applied, however lossy the way.
    state.counters["hits_missed"] = missed;
    state.counters["hits_applied_twice"] = twice;
    state.counters["applied_p50_ms"] = PercentileOf(applied_ms, 0.50);
    state.counters["applied_p99_ms"] = PercentileOf(applied_ms, 0.99);
  }
}

// ---- Maze sync ----

constexpr int kSyncTrials = 8;
// The head start varies over one send period from trial to trial: with a fixed one the two
// sides' loops met in the same phase every time and the trials were copies of each other.
constexpr int kHostHeadStartMs = 300;
constexpr int kSendPeriodUs = 1'000'000 / 65;
constexpr int kSyncWaitMs = 6000;  // three resend periods
constexpr unsigned kHostSeed = 20240601;

bool SameMaze(const bool (&grid)[16][16]) {
  std::lock_guard lock(map_mutex);
  for (int i = 0; i < kMapCells; ++i)
    if (_map.cells[i].is_wall != grid[i / kMapSide][i % kMapSide]) return false;
  return true;
}

int RunHost(int stop_fd, uint16_t local_port, uint16_t peer_port, const bool (&grid)[16][16]) {
  SetUpSide(local_port, peer_port, true);
  StoreMaze(grid);
  _map.map_dirty.store(true);
  if (!Initialize_network()) return 2;
  MatchLoops loops;
  loops.Start(false);
  WaitForStop(stop_fd, kHostHeadStartMs + 20 + kSyncWaitMs + 5000);
  loops.Stop();
  return 0;
}

void BM_MazeSyncTime(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<double> sync_ms;
    const char* error = nullptr;
    for (int trial = 0; trial < kSyncTrials && error == nullptr; ++trial) {
      if (ThreadCount() != 1) {
        error = "threads already run; cannot fork safely";
        break;
      }
      const uint16_t host_port = FreeLoopbackUdpPort(0);
      const uint16_t guest_port = FreeLoopbackUdpPort(host_port);
      if (host_port == 0 || guest_port == 0) {
        error = "no free loopback UDP ports";
        break;
      }
      bool host_grid[16][16], guest_grid[16][16];
      generateMaze(host_grid, kHostSeed + trial);
      for (unsigned seed = kHostSeed + 1000 + trial;; ++seed) {
        generateMaze(guest_grid, seed);
        if (std::memcmp(guest_grid, host_grid, sizeof host_grid) != 0) break;
      }
      Child host = ForkSide([&](int fd) { return RunHost(fd, host_port, guest_port, host_grid); });
      if (host.pid <= 0) {
        error = "fork failed";
        break;
      }
      SleepMicros(int64_t{kHostHeadStartMs} * 1000 + int64_t{kSendPeriodUs} * trial / kSyncTrials);
      SetUpSide(guest_port, host_port, false);
      StoreMaze(guest_grid);
      bool synced = false;
      {
        MatchLoops loops;
        const int64_t t0 = SteadyMicros();
        if (!Initialize_network()) {
          error = "the guest's transport did not start";
        } else {
          loops.Start(false);
          const int64_t deadline = t0 + int64_t{kSyncWaitMs} * 1000;
          while (!(synced = SameMaze(host_grid)) && SteadyMicros() < deadline) SleepMicros(200);
          const int64_t t1 = SteadyMicros();
          if (synced) sync_ms.push_back((t1 - t0) / 1000.0);
        }
        loops.Stop();
      }
      const int host_status = StopChild(host);
      playerdata.online = false;
      if (error == nullptr && !synced) error = "the guest's maze never matched the host's";
      if (error == nullptr && host_status != 0) error = "the host process did not end cleanly";
    }
    if (error != nullptr) {
      state.SkipWithError(error);
      break;
    }
    double sum = 0;
    for (double v : sync_ms) sum += v;
    state.counters["trials"] = static_cast<double>(sync_ms.size());
    state.counters["mean_ms"] = sum / static_cast<double>(sync_ms.size());
    state.counters["max_ms"] = *std::max_element(sync_ms.begin(), sync_ms.end());
    state.counters["min_ms"] = *std::min_element(sync_ms.begin(), sync_ms.end());
  }
}

// ---- A match under loss ----

// Hits, falls and walls through the relay (20-60 ms of delay, 3 % copies, `loss` percent
// lost each way, no periodic resend), each traced from the peer's act to its effect here.
void BM_MatchUnderLoss(benchmark::State& state) {
  for (auto _ : state) {
    LossyMatchRun run({.loss = static_cast<double>(state.range(0)) / 100.0, .hits = 500, .falls = 50,
                       .maze_seeds = {3, 4, 5}, .cell_gap_ms = 10});
    const LossyMatchFigures f = run.Play();
    playerdata.online = false;
    if (!f.error.empty()) {
      state.SkipWithError(f.error.c_str());
      break;
    }
    state.counters["hits"] = f.hits;
    state.counters["hits_missed"] = f.hits_missed;
    state.counters["hits_twice"] = f.hits_applied_twice;
    state.counters["hit_p50_ms"] = PercentileOf(f.hit_ms, 0.50);
    state.counters["hit_p99_ms"] = PercentileOf(f.hit_ms, 0.99);
    state.counters["falls"] = f.falls;
    state.counters["victory_pct"] = f.falls == 0 ? 0 : 100.0 * f.victories / f.falls;
    state.counters["victories_extra"] = f.extra_victories;
    state.counters["score_p99_ms"] = PercentileOf(f.score_ms, 0.99);
    state.counters["score_max_ms"] = f.score_ms.empty() ? 0 : *std::max_element(f.score_ms.begin(), f.score_ms.end());
    state.counters["walls"] = f.walls;
    state.counters["walls_missed"] = f.walls_missed;
    state.counters["wall_p50_ms"] = PercentileOf(f.wall_ms, 0.50);
    state.counters["wall_p99_ms"] = PercentileOf(f.wall_ms, 0.99);
    state.counters["moved_back"] = f.moved_back;
    state.counters["closed_again"] = f.walls_closed_again;
  }
}

// ---- Bytes of a quiet match ----

// The size a datagram had before the numbers that tell copies apart were appended to it: an
// older peer sends exactly that.
size_t WithoutNumber(const std::string& text) {
  const std::pair<const char*, size_t> older[] = {
      {kCoordinateCommand, 2}, {kAttackCommand, 1}, {kDeathNoticeCommand, 1}, {kShotCommand, 4}};
  for (const auto& [name, groups] : older) {
    if (text.compare(0, 20, name) != 0) continue;
    size_t at = 20;
    for (size_t g = 0; g < groups; ++g) {
      at = text.find('}', at);
      if (at == std::string::npos) return text.size();
      ++at;
    }
    return at;
  }
  return text.size();
}

// What one side sends in 10 s of a match where nobody moves, shoots or falls; the benchmark
// thread plays the peer, reporting a position every 15 ms. The physics loop runs, as it rings
// the send loop in a game. Argument: 1 host, 0 guest.
void BM_QuietMatchBytes(benchmark::State& state) {
  for (auto _ : state) {
    LoopbackSocket peer;
    SetUpSide(FreeLoopbackUdpPort(peer.port), peer.port, state.range(0) == 1);
    bool maze[16][16];
    generateMaze(maze, 7);
    StoreMaze(maze);
    playerdata.player_x = playerdata.player_y = 385;
    MatchLoops loops;
    if (!Initialize_network()) {
      state.SkipWithError("the transport did not start");
      break;
    }
    loops.Start(true);
    uint64_t number = 0;
    double bytes = 0, older_bytes = 0, datagrams = 0;
    constexpr int64_t kWarmUpUs = 500'000, kMeasureUs = 10'000'000;
    const int64_t start = SteadyMicros(), from = start + kWarmUpUs, until = from + kMeasureUs;
    for (int64_t next = start; SteadyMicros() < until;) {
      if (SteadyMicros() >= next) {
        peer.Send(BuildCoordinateCommand(200, 200) + "{" + std::to_string(++number) + "}", playerdata.local_port);
        next += 15'000;
      }
      if (const std::optional<std::string> text = peer.Receive(1); text && SteadyMicros() >= from)
        bytes += static_cast<double>(text->size()), older_bytes += static_cast<double>(WithoutNumber(*text)),
            ++datagrams;
    }
    loops.Stop();
    playerdata.online = false;
    const double seconds = kMeasureUs / 1e6;
    state.counters["payload_B_per_s"] = bytes / seconds;
    state.counters["older_payload_B_per_s"] = older_bytes / seconds;
    state.counters["added_B_per_s"] = (bytes - older_bytes) / seconds;
    state.counters["datagrams_per_s"] = datagrams / seconds;
    state.counters["with_headers_B_per_s"] = (bytes + 28 * datagrams) / seconds;  // IPv4 and UDP
  }
}

// The argument: percent of datagrams the relay loses each way, or -1 for no relay at all.
BENCHMARK(BM_HitToKnockLatency)->Arg(-1)->Arg(20)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MatchUnderLoss)->Arg(0)->Arg(10)->Arg(20)->Arg(30)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_QuietMatchBytes)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_MazeSyncTime)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
