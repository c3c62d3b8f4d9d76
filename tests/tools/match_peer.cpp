// The other side of a match for loopback tests: the real send and receive loops on a maze
// of a given seed, without a window. Main thread plays and prints; the loops run on theirs.
//
//   match_peer PORT PEER_PORT HOST(0|1) SEED SHOOT_AFTER_MS [CELL...]
// Prints its maze as one line of 256 '#'/'.' every 20 ms and shoots the given cells away
// after a delay; ends when its output closes, or after 30 s.
//
//   match_peer --script PORT PEER_PORT HOST(0|1) SEED HITS FALLS CELL_GAP_MS [CELL...]
// Without the periodic resend, so only what the match repeats can mend a loss. Once the peer
// is heard it lands HITS hits (one per 10 ms), falls off FALLS times (one per 100 ms) and
// shoots the cells (one per CELL_GAP_MS), while its disc sweeps along a row. Prints one line
// per event with the steady clock's microseconds: "hit K T", "fall K T", "cell C T" for what
// it did, "open C T" / "closed C T" for a cell of its maze the peer opened or that came back,
// then "score KILLS DEATHS" and "end" a second and a half after its last event.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/coordination_system.h"
#include "core/maze_generator.h"
#include "gfx/graphics.h"
#include "match/match_sync.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "services/tick_pacing.h"
#include "services/timer_manager.h"
#include "transport/network_manager.h"

namespace {

using Clock = std::chrono::steady_clock;

bool SetUp(char** args) {
  bool grid[16][16];
  generateMaze(grid, static_cast<unsigned>(std::atoi(args[3])));
  StoreMaze(grid);
  playerdata.online = true;
  playerdata.local_port = static_cast<uint16_t>(std::atoi(args[0]));
  playerdata.peer_ip = "127.0.0.1";
  playerdata.peer_port = static_cast<uint16_t>(std::atoi(args[1]));
  playerdata.is_host = std::atoi(args[2]) != 0;
  playerdata.player_x = playerdata.player_y = 300;
  return Initialize_network();
}

std::string MazeLine() {
  std::string line(kMapCells, '.');
  for (int i = 0; i < kMapCells; ++i)
    if (Shared(_map.cells[i].is_wall)) line[i] = '#';
  return line;
}

bool Say(const char* what, long long a, long long b) {
  return std::printf("%s %lld %lld\n", what, a, b) >= 0 && std::fflush(stdout) == 0;
}

void ShowMaze(int argc, char** argv) {
  const auto start = Clock::now();
  for (bool shot = false; Clock::now() < start + std::chrono::seconds(30);) {
    if (!shot && Clock::now() >= start + std::chrono::milliseconds(std::atoi(argv[5]))) {
      for (int i = 6; i < argc; ++i) _map.ClearForGood(std::atoi(argv[i]), true);
      shot = true;
    }
    if (std::printf("%s\n", MazeLine().c_str()) < 0 || std::fflush(stdout) != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Off the arena's edge and back at once, as the round would bring the player back.
void Fall() {
  {
    std::lock_guard lock(motion_mutex);
    playerdata.player_x = -100;
  }
  CoordinationSystem::getInstance()->Death_detection();
  std::lock_guard lock(motion_mutex);
  playerdata.round_over = false;
}

void PlayScript(int hits, int falls, int cell_gap_ms, const std::vector<int>& cells) {
  const int64_t give_up = SteadyMicros() + 10'000'000;
  while (!PeerConnected() && SteadyMicros() < give_up) SleepMicros(1000);
  const int64_t start = SteadyMicros();
  int64_t last_event = start;
  int hit = 0, fall = 0;
  size_t cell = 0;
  std::string maze = MazeLine();
  for (bool ok = true; ok && SteadyMicros() < last_event + 1'500'000;) {
    const int64_t now = SteadyMicros();
    {
      std::lock_guard lock(motion_mutex);
      playerdata.player_x = 100 + static_cast<float>((now - start) / 1000 % 600);
    }
    if (hit < hits && now >= start + hit * 10'000LL) {
      network_transmission.pushOutgoing(BuildAttackNotification());
      ok = Say("hit", ++hit, now), last_event = now;
    }
    if (fall < falls && now >= start + fall * 100'000LL) {
      Fall();
      ok = Say("fall", ++fall, now), last_event = now;
    }
    if (cell < cells.size() && now >= start + static_cast<int64_t>(cell) * cell_gap_ms * 1000) {
      _map.ClearForGood(cells[cell], true);
      ok = Say("cell", cells[cell++], now), last_event = now;
    }
    const std::string seen = MazeLine();
    for (int i = 0; ok && i < kMapCells; ++i)
      if (seen[i] != maze[i]) ok = Say(seen[i] == '.' ? "open" : "closed", i, now);
    maze = seen;
    SleepMicros(1000);
  }
  Say("score", Shared(versus.kills), Shared(versus.deaths));
  std::printf("end\n");
}

}  // namespace

int main(int argc, char** argv) {
  const bool script = argc > 1 && std::strcmp(argv[1], "--script") == 0;
  if (argc < (script ? 9 : 6)) return 2;
  if (script) {
    // No periodic resend: the timer exists before the send loop would start it, and stands.
    timers.createTimer(kMapSyncTimer);
    timers.pauseTimer(kMapSyncTimer);
  }
  if (!SetUp(argv + 1 + script)) return 1;
  std::thread sender(Send_thread), receiver(Receiving_thread);
  if (script) {
    std::vector<int> cells;
    for (int i = 9; i < argc; ++i) cells.push_back(std::atoi(argv[i]));
    PlayScript(std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8]), cells);
  } else {
    ShowMaze(argc, argv);
  }
  ecl.store(true);
  sender.join();
  receiver.join();
  _network.stop();
  return 0;
}
