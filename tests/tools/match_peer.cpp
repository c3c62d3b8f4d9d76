// The other side of a match for loopback tests: the real send and receive loops on a maze
// of a given seed, without a window. Prints its maze as one line of 256 '#'/'.' every 20 ms
// on stdout and shoots the given cells away after a delay; ends when the test stops it, or
// its output closes, or after 30 s. Arguments: PORT PEER_PORT HOST(0|1) SEED SHOOT_AFTER_MS
// [CELL...]. Main thread prints; the loops run on theirs.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/maze_generator.h"
#include "gfx/graphics.h"
#include "match/match_sync.h"
#include "records/game_records.h"
#include "transport/network_manager.h"

int main(int argc, char** argv) {
  if (argc < 6) return 2;
  bool grid[16][16];
  generateMaze(grid, static_cast<unsigned>(std::atoi(argv[4])));
  StoreMaze(grid);
  playerdata.online = true;
  playerdata.local_port = static_cast<uint16_t>(std::atoi(argv[1]));
  playerdata.peer_ip = "127.0.0.1";
  playerdata.peer_port = static_cast<uint16_t>(std::atoi(argv[2]));
  playerdata.is_host = std::atoi(argv[3]) != 0;
  const auto start = std::chrono::steady_clock::now();
  if (!Initialize_network()) return 1;

  std::thread sender(Send_thread), receiver(Receiving_thread);
  for (bool shot = false; std::chrono::steady_clock::now() < start + std::chrono::seconds(30);) {
    if (!shot && std::chrono::steady_clock::now() >= start + std::chrono::milliseconds(std::atoi(argv[5]))) {
      for (int i = 6; i < argc; ++i) _map.ClearForGood(std::atoi(argv[i]), true);
      shot = true;
    }
    std::string line(kMapCells, '.');
    for (int i = 0; i < kMapCells; ++i)
      if (Shared(_map.cells[i].is_wall)) line[i] = '#';
    if (std::printf("%s\n", line.c_str()) < 0 || std::fflush(stdout) != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ecl.store(true);
  sender.join();
  receiver.join();
  _network.stop();
  return 0;
}
