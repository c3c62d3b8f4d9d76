// The other side of a match for loopback tests: the real send and receive loops on a maze
// of a given seed, without a window. Prints its maze as one line of 256 '#'/'.' every 20 ms
// on stdout, shoots the given cells away after a delay, and ends when its standard input
// closes (the test has finished) or after 30 s. Main thread prints; the loops run on theirs.
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/maze_generator.h"
#include "gfx/graphics.h"
#include "match/match_sync.h"
#include "records/game_records.h"
#include "transport/network_manager.h"

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: match_peer PORT PEER_PORT HOST(0|1) SEED SHOOT_AFTER_MS [CELL...]\n");
    return 2;
  }
  bool grid[16][16];
  generateMaze(grid, static_cast<unsigned>(std::atoi(argv[4])));
  StoreMaze(grid);
  playerdata.online = true;
  playerdata.local_port = static_cast<uint16_t>(std::atoi(argv[1]));
  playerdata.peer_ip = "127.0.0.1";
  playerdata.peer_port = static_cast<uint16_t>(std::atoi(argv[2]));
  playerdata.is_host = std::atoi(argv[3]) != 0;
  const auto shoot_at = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::atoi(argv[5]));
  std::vector<int> to_shoot;
  for (int i = 6; i < argc; ++i) to_shoot.push_back(std::atoi(argv[i]));
  if (!Initialize_network()) return 1;

  std::thread sender(Send_thread), receiver(Receiving_thread);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < end) {
    if (!to_shoot.empty() && std::chrono::steady_clock::now() >= shoot_at) {
      for (const int cell : to_shoot) _map.ClearForGood(cell, true);
      to_shoot.clear();
    }
    std::string line(kMapCells, '.');
    for (int i = 0; i < kMapCells; ++i)
      if (Shared(_map.cells[i].is_wall)) line[i] = '#';
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 20) > 0) {
      char byte;
      if (read(STDIN_FILENO, &byte, 1) <= 0) break;
    }
  }
  ecl.store(true);
  sender.join();
  receiver.join();
  _network.stop();
  return 0;
}
