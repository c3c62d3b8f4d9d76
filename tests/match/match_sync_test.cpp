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

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;

template <class Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit = 3000ms) {
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
  static bool Apply(const std::string& text) { return Process_command(parseCommandString(text)); }
};

TEST_F(MatchSyncTest, CellsLandByCombinedIndexAndUnusableNumbersAreDropped) {
  EXPECT_TRUE(Apply("One_Map_block0000000{3}{12}{NULL}{0}"));
  EXPECT_TRUE(Apply("One_Map_block0000000{15}{15}{wall}{1}"));
  EXPECT_TRUE(Apply("One_Map_block0000000{0}{17}{wall}{1}"));  // only the combined index counts
  EXPECT_FALSE(_map.cells[60].is_wall);
  EXPECT_EQ(_map.cells[60].type, "NULL");
  EXPECT_TRUE(_map.cells[255].is_wall);
  EXPECT_TRUE(_map.cells[17].is_wall);
  const auto before = _map.cells;
  EXPECT_TRUE(Apply("One_Map_block0000000{16}{0}{NULL}{0}"));
  EXPECT_TRUE(Apply("One_Map_block0000000{-1}{0}{NULL}{0}"));
  EXPECT_TRUE(Apply("One_Map_block0000000{268435456}{0}{NULL}{0}"));  // would wrap to cell 0 in 32 bits
  // Beyond int, or NaN, there is no row at all.
  for (const char* text : {"One_Map_block0000000{nan}{3}{NULL}{0}",
                           "One_Map_block0000000{1e10}{0}{NULL}{0}", "One_Map_block0000000{2}{inf}{NULL}{0}"})
    EXPECT_THROW(Apply(text), std::exception) << text;
  for (int i = 0; i < kMapCells; ++i) EXPECT_EQ(_map.cells[i].is_wall, before[i].is_wall) << i;

  EXPECT_TRUE(Apply("Coordinate0000000000{12.5}{40}"));
  for (const char* text : {"Coordinate0000000000{1e40}{1}", "Coordinate0000000000{7}{nan}",
                           "Coordinate0000000000{7}{-inf}", "Coordinate0000000000{7}"})
    EXPECT_THROW(Apply(text), std::exception) << text;
  EXPECT_EQ(std::make_pair(playerdata.enemy_x, playerdata.enemy_y), std::make_pair(12.5f, 40.0f));
}

TEST_F(MatchSyncTest, ScoresOnlyGrowSoPlayersFallingAtOnceBothSeeOneToOne) {
  // Both fell: each counted its own death and sent (its kills, its deaths) to the other.
  versus = {1, 0};
  EXPECT_FALSE(Apply("Score_modification00{0}{1}"));
  EXPECT_EQ(std::make_pair(versus.kills, versus.deaths), std::make_pair(1, 1));
  EXPECT_FALSE(Apply("Score_modification00{0}{0}"));  // a late, older report changes nothing
  EXPECT_THROW(Apply("Score_modification00{2}{x}"), std::exception);
  EXPECT_THROW(Apply("Score_modification00{x}{5}"), std::exception);  // kills first, then the bad deaths
  EXPECT_EQ(std::make_pair(versus.kills, versus.deaths), std::make_pair(5, 1));
  EXPECT_THROW(Apply("Score_modification00{3e9}{0}"), std::exception);
  EXPECT_EQ(versus.deaths, 1);
}

TEST_F(MatchSyncTest, ThePeersDeathAsksTheMainThreadForOneVictory) {
  cs->TakeVictoryRequest();
  EXPECT_FALSE(Apply("Death_notice00000000{ME}"));
  EXPECT_FALSE(cs->TakeVictoryRequest());
  EXPECT_FALSE(Apply("Death_notice00000000{MY}"));
  EXPECT_FALSE(Apply("Death_notice00000000{MY}"));
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
  for (int i = 0; i < kKnocks; ++i) Apply("Attack_notification0{}");
  stop = true;
  physics.join();
  EXPECT_EQ(playerdata.velocity_x, static_cast<float>(kKnocks * kKnockPixelsPerTick));
  EXPECT_EQ(playerdata.velocity_y, 0.0f);
  playerdata.round_over = true;  // no knock while a countdown shows
  Apply("Attack_notification0{}");
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
  for (int tick = 0; tick < 4; ++tick) Send_tick();
  std::vector<std::string> seen;
  while (std::optional<std::string> text = peer.Receive(200)) seen.push_back(text->substr(0, 10));
  EXPECT_EQ(seen, (std::vector<std::string>{"Coordinate", "C", "Coordinate", "B", "Coordinate", "A", "Coordinate"}));
}

TEST_F(MatchSyncTest, TheHostSendsItsMazeToANewPeerAndAShotCellAtOnce) {
  const uint16_t game = StartTransport();
  playerdata.is_host = true;
  // Read as they come: a 256-datagram burst overflows a socket buffer nobody drains.
  std::vector<std::string> seen;
  std::mutex seen_mutex;
  std::atomic<bool> done{false};
  std::jthread collector([&] {
    while (!done)
      if (std::optional<std::string> text = peer.Receive(20)) {
        std::lock_guard lock(seen_mutex);
        seen.push_back(*text);
      }
  });
  struct StopCollector {
    std::atomic<bool>& done;
    ~StopCollector() { done = true; }
  } stop_collector{done};
  const auto tick_and_take = [&](size_t expected) {
    Send_tick();
    WaitFor([&] {
      std::lock_guard lock(seen_mutex);
      return seen.size() >= expected;
    });
    std::this_thread::sleep_for(50ms);  // room for anything beyond what was expected
    std::lock_guard lock(seen_mutex);
    return std::exchange(seen, {});
  };
  EXPECT_EQ(tick_and_take(1).size(), 1u);  // the peer has not been heard yet: coordinates only
  peer.Send("Coordinate0000000000{1}{1}", game);
  ASSERT_TRUE(WaitFor([] {
    Receive_tick();
    return PeerConnected();
  }));
  const std::vector<std::string> maze = tick_and_take(257);
  ASSERT_EQ(maze.size(), 257u);
  EXPECT_EQ(maze.front().substr(0, 20), kMapBlockCommand);
  _map.ClearForGood(37, true);
  const std::vector<std::string> shot = tick_and_take(2);
  ASSERT_EQ(shot.size(), 2u);
  EXPECT_EQ(shot.front(), BuildMapBlockCommand(2, 5, "NULL", false));
}

// The host (a separate process) and this side as the guest, joined through a relay that
// loses half of everything at first; each side then shoots walls away.
TEST(MatchOverLossyLink, MazesAgreeSoonAfterLossEndsAndAShotWallNeverReturns) {
  constexpr unsigned kHostSeed = 11, kGuestSeed = 22;
  bool host_grid[16][16], guest_grid[16][16];
  generateMaze(host_grid, kHostSeed);
  generateMaze(guest_grid, kGuestSeed);
  StoreMaze(guest_grid);
  std::vector<int> host_walls, guest_walls;  // cells each side will shoot
  for (int i = 0; i < kMapCells && (host_walls.size() < 3 || guest_walls.size() < 3); ++i) {
    if (!host_grid[i / 16][i % 16]) continue;
    (host_walls.size() < 3 ? host_walls : guest_walls).push_back(i);
  }

  LoopbackSocket guest_probe, host_probe;  // reserve two free ports, then hand them over
  const uint16_t guest_port = guest_probe.port, host_port = host_probe.port;
  close(guest_probe.fd), close(host_probe.fd);
  guest_probe.fd = host_probe.fd = -1;
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

  // The host's maze as it reports it, and whether one of the shot cells ever came back.
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
        if (maze[i] == '.' && !host_grid[i / 16][i % 16]) continue;
        if (maze[i] == '.') gone[i] = true;
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
  const auto agree = [&] {
    std::lock_guard lock(host_mutex);
    return host_maze == guest_maze();
  };

  std::this_thread::sleep_for(1000ms);  // a lossy start, then this side shoots too
  for (const int cell : guest_walls) _map.ClearForGood(cell, true);
  bool guest_regrew = false;
  const auto watch_guest = [&](std::chrono::milliseconds span) {
    for (const auto end = std::chrono::steady_clock::now() + span; std::chrono::steady_clock::now() < end;) {
      for (const int cell : guest_walls) guest_regrew |= Shared(_map.cells[cell].is_wall);
      std::this_thread::sleep_for(1ms);
    }
  };
  watch_guest(1500ms);
  relay.setRule(Direction::AtoB, {});
  relay.setRule(Direction::BtoA, {});
  const auto loss_ended = std::chrono::steady_clock::now();
  bool agreed = false;
  while (!agreed && std::chrono::steady_clock::now() - loss_ended < 3500ms) {
    watch_guest(20ms);
    agreed = agree();
  }
  const double heal_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - loss_ended).count();
  watch_guest(300ms);

  ecl = true;
  sender.join(), receiver.join();
  _network.stop();
  close(to_host[1]);  // the host ends when its input closes
  int status = 0;
  waitpid(host, &status, 0);
  reader.join();
  posix_spawn_file_actions_destroy(&actions);

  EXPECT_TRUE(agreed) << "still apart " << heal_ms << " ms after the loss ended";
  std::printf("mazes agreed %.0f ms after the loss ended\n", heal_ms);
  EXPECT_FALSE(guest_regrew);
  EXPECT_FALSE(host_regrew);
  const std::string maze = guest_maze();
  for (const int cell : host_walls) EXPECT_EQ(maze[cell], '.') << cell;
  for (const int cell : guest_walls) EXPECT_EQ(host_maze[cell], '.') << cell;
  EXPECT_GT(relay.counts(Direction::AtoB).dropped, 0u);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
