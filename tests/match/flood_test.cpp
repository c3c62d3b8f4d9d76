// A stranger flooding this side's match port (udp_flood, a separate process) while the real
// peer keeps reporting its position: afterwards every record a datagram could touch is as it
// was, and the enemy followed the peer alone, throughout. The test thread plays the peer; the
// match's receive and send loops run on threads of their own.
#include "core/maze_generator.h"
#include "gfx/graphics.h"
#include "match/match_sync.h"
#include "records/game_records.h"
#include "support/loopback_socket.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What a datagram could change: the player record but the enemy corner (the peer moves
// it), the maze, the score and the unhandled commands.
auto Records() {
  std::unique_lock motion(motion_mutex);
  const PlayerData p = playerdata;
  motion.unlock();
  std::vector<std::pair<bool, std::string>> maze;
  std::lock_guard map(map_mutex);
  for (const MapCell& cell : _map.cells) maze.emplace_back(Shared(cell.is_wall), cell.type);
  return std::make_tuple(
      std::make_tuple(p.peer_ip, p.peer_port, p.local_port, p.online, p.is_host, p.player_x, p.player_y, p.velocity_x,
                      p.velocity_y, p.energy, p.round_over, p.vision_x, p.vision_y, p.vision_radius, p.max_speed),
      maze, std::make_pair(Shared(versus.kills), Shared(versus.deaths)), network_transmission.incomingSize());
}

TEST(FloodTest, StrangersFloodingTheMatchPortChangeNothingButTheTime) {
  LoopbackSocket peer;
  bool grid[16][16];
  generateMaze(grid, 5);
  StoreMaze(grid);
  playerdata = PlayerData{};
  playerdata.online = true;
  playerdata.peer_ip = "127.0.0.1";
  playerdata.peer_port = peer.port;
  versus = Versus{};
  network_transmission.incoming.clear();
  ecl = false;
  ASSERT_TRUE(Initialize_network());
  const uint16_t game = _network.boundPort(ProtocolType::UDP);
  struct StopNetwork {
    ~StopNetwork() { _network.stop(); }
  } stop_network;  // last, once the loops have joined
  std::jthread receiver(Receiving_thread), sender(Send_thread);
  struct CloseLoops {
    ~CloseLoops() { ecl = true; }
  } close_loops;  // first, so that a failed assertion does not leave the joins waiting

  // The peer's n-th position is (100 + n, 200): a corner anywhere else came from a stranger.
  int sent = 1;
  const auto send = [&] { peer.Send(BuildCoordinateCommand(100.0f + static_cast<float>(sent), 200), game); };
  const auto shown = [] { return EnemyCorner().x - 100.0f; };
  // Repeated, as the peer would, in case one is lost.
  const auto until_shown = [&] {
    for (const auto end = Clock::now() + 10s; shown() != sent && Clock::now() < end; std::this_thread::sleep_for(15ms))
      send();
  };
  until_shown();
  ASSERT_EQ(shown(), sent);
  const auto before = Records();

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  std::string args[] = {UDP_FLOOD_BINARY, std::to_string(game), "2"};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), nullptr};
  pid_t flood = 0;
  ASSERT_EQ(posix_spawn(&flood, argv[0], &actions, nullptr, argv, environ), 0);
  close(out[1]);
  posix_spawn_file_actions_destroy(&actions);

  // The peer goes on every 15 ms while the flood runs; the corner is watched every ms.
  int advances = 0, foreign = 0, status = 0;
  float last_shown = shown();
  const auto give_up = Clock::now() + 10s;
  for (auto next_send = Clock::now(); waitpid(flood, &status, WNOHANG) == 0; std::this_thread::sleep_for(1ms)) {
    if (Clock::now() > give_up) kill(flood, SIGKILL);  // bounded even if the flood hangs
    if (Clock::now() >= next_send) ++sent, send(), next_send += 15ms;
    const Corner corner = EnemyCorner();
    if (corner.y != 200 || corner.x - 100.0f > sent) ++foreign;
    if (corner.x - 100.0f > last_shown) ++advances, last_shown = corner.x - 100.0f;
  }
  long long flooded = 0;
  FILE* flood_out = fdopen(out[0], "r");
  const bool counted = std::fscanf(flood_out, "%lld", &flooded) == 1;
  std::fclose(flood_out);
  ++sent;
  until_shown();
  const Corner last = EnemyCorner();
  ecl = true;
  receiver.join(), sender.join();

  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(counted);
  EXPECT_GT(flooded, 0);
  EXPECT_EQ(foreign, 0) << "the enemy stood where the peer never was";
  EXPECT_GE(advances, 3) << "the peer's positions stopped landing during the flood";
  EXPECT_EQ(last.x, 100.0f + static_cast<float>(sent));
  EXPECT_EQ(last.y, 200.0f);
  const auto after = Records();
  EXPECT_TRUE(std::get<0>(after) == std::get<0>(before)) << "player record";
  EXPECT_TRUE(std::get<1>(after) == std::get<1>(before)) << "maze";
  EXPECT_EQ(std::get<2>(after), std::get<2>(before)) << "score";
  EXPECT_EQ(std::get<3>(after), std::get<3>(before)) << "unhandled commands";
}

}  // namespace
