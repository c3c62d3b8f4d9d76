// The networked match on loopback: the command handler's rules for values from the wire,
// who the receive loop listens to, how the send loop orders what it sends, the knock under
// a running physics step, and two real sides keeping one maze over a lossy link.
#include "core/coordination_system.h"
#include "core/maze_generator.h"
#include "core/player_movement.h"
#include "gfx/graphics.h"
#include "match/match_sync.h"
#include "records/game_records.h"
#include "services/background_threads.h"
#include "services/timer_manager.h"
#include "support/loopback_socket.h"
#include "support/lossy_udp_relay.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

template <class Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit = 10000ms) {
  for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(2ms);
  }
  return done();
}

// Fresh records for one side whose peer is `peer` on 127.0.0.1; the transport is started
// only by the tests that need it.
class MatchSyncTest : public ::testing::Test {
 protected:
  LoopbackSocket peer;
  void SetUp() override {
    playerdata = PlayerData{};
    playerdata.online = true;
    playerdata.peer_ip = "127.0.0.1";
    playerdata.peer_port = peer.port;
    versus = Versus{};
    network_transmission.outgoing.clear();
    network_transmission.incoming.clear();
    network_transmission.peer_heard_us = -1;
    _map.ResetShotAway();
    _map.map_dirty = false;
    timers.createTimer(kMapSyncTimer);
    timers.resetTimer(kMapSyncTimer);
    timers.pauseTimer(kMapSyncTimer);  // no periodic resend: a tick sends only what it is asked to
    ecl = false;
  }
  void TearDown() override {
    ecl = true;
    background_threads.JoinAll();
    _network.stop();
  }
  uint16_t StartTransport() {
    playerdata.local_port = 0;
    EXPECT_TRUE(Initialize_network());
    return _network.boundPort(ProtocolType::UDP);
  }
  // One more tick, and what the peer got up to and with it: the tick reports a position of
  // its own, which marks the end. The peer's buffer holds a whole maze burst meanwhile.
  std::vector<std::string> TickAndTake() {
    playerdata.player_x = static_cast<float>(--marks);
    Send_tick();
    const std::string mark = BuildCoordinateCommand(playerdata.player_x, playerdata.player_y);
    std::vector<std::string> seen;
    for (std::optional<std::string> text; seen.size() < 1000 && (text = peer.Receive(10000));) {
      seen.push_back(*text);
      if (*text == mark) return seen;
    }
    ADD_FAILURE() << "the tick's position never came";
    return seen;
  }
  int marks = 0;
};

TEST_F(MatchSyncTest, CellsLandByCombinedIndexAndUnusableNumbersAreDropped) {
  Apply_datagram("One_Map_block0000000{3}{12}{wall}{1}");
  Apply_datagram("One_Map_block0000000{3}{12}{NULL}{0}");
  Apply_datagram("One_Map_block0000000{15}{15}{wall}{1}");
  Apply_datagram("One_Map_block0000000{0}{17}{wall}{1}");  // only the combined index counts
  Apply_datagram("Coordinate0000000000{12.5}{40}");
  EXPECT_FALSE(_map.cells[60].is_wall);
  EXPECT_EQ(_map.cells[60].type, "NULL");
  EXPECT_TRUE(_map.cells[255].is_wall);
  EXPECT_TRUE(_map.cells[17].is_wall);
  const auto before = _map.cells;
  // Past the maze, wrapping to cell 0 in 32 bits, beyond int, or not a number: no cell.
  for (const char* cell : {"{16}{0}", "{-1}{0}", "{268435456}{0}", "{nan}{3}", "{1e10}{0}", "{2}{inf}"})
    Apply_datagram(std::string("One_Map_block0000000") + cell + "{wall}{1}");
  for (const char* position : {"{1e40}{1}", "{7}{nan}", "{7}{-inf}", "{7}"})
    Apply_datagram(std::string("Coordinate0000000000") + position);
  for (int i = 0; i < kMapCells; ++i) EXPECT_EQ(_map.cells[i].is_wall, before[i].is_wall) << i;
  EXPECT_EQ(playerdata.enemy_x, 12.5f);  // a half-applied position is a wrong one
  EXPECT_EQ(playerdata.enemy_y, 40.0f);
  EXPECT_EQ(network_transmission.incomingSize(), 0u);
}

TEST_F(MatchSyncTest, ScoresOnlyGrowSoPlayersFallingAtOnceBothSeeOneToOne) {
  // Both fell: each counted its own death and sent (its kills, its deaths) to the other.
  versus = {1, 0};
  Apply_datagram("Score_modification00{0}{1}");
  EXPECT_EQ(versus.kills, 1);
  EXPECT_EQ(versus.deaths, 1);
  Apply_datagram("Score_modification00{0}{0}");  // a late, older report changes nothing
  for (const char* bad : {"{2}{x}", "{x}{5}", "{3e9}{0}"}) Apply_datagram(std::string("Score_modification00") + bad);
  EXPECT_EQ(versus.kills, 5);  // read before the bad deaths
  EXPECT_EQ(versus.deaths, 1);
}

TEST_F(MatchSyncTest, ThePeersDeathAsksTheMainThreadForOneVictory) {
  Apply_datagram("Death_notice00000000{MY}");
  Apply_datagram("Death_notice00000000{MY}");  // repeated, as a lossy link may
  EXPECT_TRUE(cs->TakeVictoryRequest());
  EXPECT_FALSE(cs->TakeVictoryRequest());
}

TEST_F(MatchSyncTest, EveryKnockSurvivesTheRunningPhysicsStep) {
  for (MapCell& cell : _map.cells) cell.is_wall = false;
  playerdata.friction = 0;  // the velocity then holds exactly the knocks received
  playerdata.player_x = playerdata.player_y = playerdata.enemy_y = 400;
  // Far enough to the right that the knocked player, stepped as fast as the machine allows,
  // never reaches it (at 1e9 a slow run got there and the knocks turned).
  playerdata.enemy_x = 1e18f;
  std::atomic<bool> stop{false};
  std::thread physics([&stop] {
    while (!stop) Physics_step();
  });
  constexpr int kKnocks = 300;
  for (int i = 0; i < kKnocks; ++i) Apply_datagram("Attack_notification0{}");
  stop = true;
  physics.join();
  EXPECT_EQ(playerdata.velocity_x, static_cast<float>(kKnocks * kKnockPixelsPerTick));
  EXPECT_EQ(playerdata.velocity_y, 0.0f);
  playerdata.round_over = true;  // no knock while a countdown shows
  Apply_datagram("Attack_notification0{}");
  EXPECT_EQ(playerdata.velocity_x, static_cast<float>(kKnocks * kKnockPixelsPerTick));
}

TEST_F(MatchSyncTest, OnlyThePeersAddressAndPortAreListenedTo) {
  const uint16_t game = StartTransport();
  LoopbackSocket stranger, same_host_other_port;
  // On loopback every socket shares the peer's address; only the port tells them apart.
  stranger.Send("Coordinate0000000000{111}{111}", game);
  same_host_other_port.Send("Death_notice00000000{XX}", game);
  peer.Send("Coordinate0000000000{333}{333}", game);
  peer.Send("Death_notice00000000{ME}", game);
  ASSERT_TRUE(WaitFor([] {
    Receive_tick();
    return network_transmission.incomingSize() > 0;
  }));
  stranger.Send("Coordinate0000000000{444}{444}", game);
  peer.Send("Death_notice00000000{ME}", game);
  ASSERT_TRUE(WaitFor([] {
    Receive_tick();
    return network_transmission.incomingSize() > 1;
  }));
  EXPECT_EQ(std::make_pair(playerdata.enemy_x, playerdata.enemy_y), std::make_pair(333.0f, 333.0f));
  EXPECT_EQ(network_transmission.incoming, std::deque<std::string>(2, "Death_notice00000000{ME}"));
  EXPECT_TRUE(PeerConnected());
}

TEST_F(MatchSyncTest, QueuedCommandsLeaveOnePerTickNewestFirst) {
  StartTransport();
  network_transmission.pushOutgoing({"A", "B", "C"});
  for (int tick = 0; tick < 3; ++tick) Send_tick();
  std::vector<std::string> seen = TickAndTake();
  for (std::string& text : seen) text.resize(std::min<size_t>(text.size(), 10));
  EXPECT_EQ(seen, (std::vector<std::string>{"Coordinate", "C", "Coordinate", "B", "Coordinate", "A", "Coordinate"}));
}

TEST_F(MatchSyncTest, TheHostSendsItsMazeToANewPeerAndAShotCellAtOnce) {
  const uint16_t game = StartTransport();
  playerdata.is_host = true;
  EXPECT_EQ(TickAndTake().size(), 1u);  // the peer has not been heard yet: coordinates only
  peer.Send("Coordinate0000000000{1}{1}", game);
  ASSERT_TRUE(WaitFor([] {
    Receive_tick();
    return PeerConnected();
  }));
  const std::vector<std::string> maze = TickAndTake();
  ASSERT_EQ(maze.size(), 257u);
  EXPECT_EQ(maze.front().substr(0, 20), kMapBlockCommand);
  _map.ClearForGood(37, true);
  const std::vector<std::string> shot = TickAndTake();
  ASSERT_EQ(shot.size(), 2u);
  EXPECT_EQ(shot.front(), BuildMapBlockCommand(2, 5, "NULL", false));
}

// The host (a separate process) and this side as the guest, joined through a relay that
// loses half of everything until both sides have shot walls away; then the mazes must agree
// again, and stay so through the host's next whole-maze resend.
TEST(MatchOverLossyLink, MazesAgreeSoonAfterLossEndsAndAShotWallNeverReturns) {
  constexpr unsigned kHostSeed = 11, kGuestSeed = 22;
  bool host_grid[16][16], guest_grid[16][16];
  generateMaze(host_grid, kHostSeed);
  generateMaze(guest_grid, kGuestSeed);
  StoreMaze(guest_grid);
  std::vector<int> host_walls, guest_walls;  // cells each side will shoot
  for (int i = 0; i < kMapCells && guest_walls.size() < 3; ++i)
    if (host_grid[i / 16][i % 16]) (host_walls.size() < 3 ? host_walls : guest_walls).push_back(i);

  const uint16_t guest_port = FreeLoopbackUdpPort(), host_port = FreeLoopbackUdpPort(guest_port);
  std::atomic<int> maze_cells{0};  // host to guest once the loss is over; outlives the relay
  LossyUdpRelay relay(host_port, guest_port);
  relay.setRule(Direction::AtoB, {.drop = 0.5, .duplicate = 0.1, .reorder = 0.1, .seed = 3});
  relay.setRule(Direction::BtoA, {.drop = 0.5, .duplicate = 0.1, .reorder = 0.1, .seed = 4});

  int to_host[2], from_host[2];
  ASSERT_EQ(pipe2(to_host, O_CLOEXEC), 0);  // the host must hold no copy of the write end
  ASSERT_EQ(pipe2(from_host, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_host[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_host[1], 1);
  std::vector<std::string> args{MATCH_PEER_BINARY, std::to_string(host_port), std::to_string(relay.portFacingA()),
                                "1", std::to_string(kHostSeed), "1500"};
  for (const int cell : host_walls) args.push_back(std::to_string(cell));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t host = 0;
  ASSERT_EQ(posix_spawn(&host, argv[0], &actions, nullptr, argv.data(), environ), 0);
  close(to_host[0]), close(from_host[1]);

  // The host's maze as it reports it, and whether one of its shot cells ever came back.
  std::string host_maze;
  std::mutex host_mutex;
  std::atomic<bool> host_regrew{false};
  std::thread reader([&] {
    FILE* in = fdopen(from_host[0], "r");
    char line[512];
    std::vector<bool> gone(kMapCells, false);
    while (std::fgets(line, sizeof line, in) != nullptr) {
      const std::string maze(line, strnlen(line, kMapCells));
      if (maze.size() != kMapCells) continue;
      for (int i = 0; i < kMapCells; ++i) {
        if (gone[i] && maze[i] == '#') host_regrew = true;
        if (maze[i] == '.' && host_grid[i / 16][i % 16]) gone[i] = true;
      }
      std::lock_guard lock(host_mutex);
      host_maze = maze;
    }
    std::fclose(in);
  });

  playerdata = PlayerData{};
  playerdata.online = true;
  playerdata.local_port = guest_port;
  playerdata.peer_ip = "127.0.0.1";
  playerdata.peer_port = relay.portFacingB();
  ecl = false;
  ASSERT_TRUE(Initialize_network());
  std::thread sender(Send_thread), receiver(Receiving_thread);
  const auto guest_maze = [] {
    std::string maze(kMapCells, '.');
    for (int i = 0; i < kMapCells; ++i)
      if (Shared(_map.cells[i].is_wall)) maze[i] = '#';
    return maze;
  };
  const auto host_now = [&] {
    std::lock_guard lock(host_mutex);
    return host_maze;
  };
  // Waits (bounded) for `done`, watching all along that no cell shot here comes back.
  bool guest_regrew = false;
  const auto watch_until = [&](auto&& done, std::chrono::milliseconds limit = 10000ms) {
    return WaitFor([&] {
      for (const int cell : guest_walls) guest_regrew |= Shared(_map.cells[cell].is_wall);
      return done();
    }, limit);
  };
  const auto dropped_both_ways = [&](uint64_t count) {
    return [&relay, count] {
      return relay.counts(Direction::AtoB).dropped >= count && relay.counts(Direction::BtoA).dropped >= count;
    };
  };

  EXPECT_TRUE(WaitFor(dropped_both_ways(20)));  // a lossy start, then this side shoots too
  for (const int cell : guest_walls) _map.ClearForGood(cell, true);
  EXPECT_TRUE(watch_until([&] {
    const std::string maze = host_now();
    return !maze.empty() && std::all_of(host_walls.begin(), host_walls.end(), [&](int i) { return maze[i] == '.'; });
  })) << "the host never shot its walls";
  EXPECT_TRUE(watch_until(dropped_both_ways(60)));
  relay.setRule(Direction::AtoB, {.drop_if = [&maze_cells](const std::string& payload) {
    maze_cells += payload.starts_with(kMapBlockCommand);
    return false;
  }});
  relay.setRule(Direction::BtoA, {});
  const auto loss_ended = std::chrono::steady_clock::now();
  EXPECT_TRUE(watch_until([&] { return host_now() == guest_maze(); }, 15000ms)) << "still apart";
  std::printf("mazes agreed %.0f ms after the loss ended\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - loss_ended).count());
  const int cells_before = maze_cells;
  EXPECT_TRUE(watch_until([&] { return maze_cells >= cells_before + kMapCells; })) << "no maze resend";
  EXPECT_EQ(host_now(), guest_maze());

  ecl = true;
  sender.join(), receiver.join();
  _network.stop();
  close(to_host[1]);  // the host ends when its input closes
  int status = 0;
  waitpid(host, &status, 0);
  reader.join();
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_FALSE(guest_regrew);
  EXPECT_FALSE(host_regrew);
  for (const int cell : host_walls) EXPECT_EQ(guest_maze()[cell], '.') << cell;
  for (const int cell : guest_walls) EXPECT_EQ(host_maze[cell], '.') << cell;
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
