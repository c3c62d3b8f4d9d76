// The networked match on loopback. The test thread plays the peer; the match's loops and a
// physics step run on threads of their own.
#include "core/bullets.h"
#include "core/coordination_system.h"
#include "core/game_events.h"
#include "core/ghost_bullets.h"
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
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <class Condition>
bool WaitFor(Condition done, std::chrono::milliseconds limit = 10000ms) {
  for (const auto end = Clock::now() + limit; Clock::now() < end; std::this_thread::sleep_for(2ms))
    if (done()) return true;
  return done();
}

// One side of a match whose peer is `peer` on 127.0.0.1, with fresh records; the transport
// and the loops are started only by the cases that need them.
class MatchSyncTest : public ::testing::Test {
 protected:
  LoopbackSocket peer;
  std::thread sender, receiver;
  int marks = 0;

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
  void TearDown() override { StopLoops(); }
  uint16_t StartTransport(bool with_loops) {
    EXPECT_TRUE(Initialize_network());
    if (with_loops) sender = std::thread(Send_thread), receiver = std::thread(Receiving_thread);
    return _network.boundPort(ProtocolType::UDP);
  }
  void StopLoops() {
    ecl = true;
    if (sender.joinable()) sender.join(), receiver.join();
    background_threads.JoinAll();
    _network.stop();
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
      if (text->rfind(mark + "{", 0) == 0) return seen;  // the position goes with its number
    }
    ADD_FAILURE() << "the tick's position never came";
    return seen;
  }
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

TEST_F(MatchSyncTest, ScoresOnlyGrowAndThePeersRepeatedDeathAsksForOneVictory) {
  // Both fell: each counted its own death and sent (its kills, its deaths) to the other.
  versus = {1, 0};
  Apply_datagram("Score_modification00{0}{1}");
  EXPECT_EQ(versus.kills, 1);
  EXPECT_EQ(versus.deaths, 1);
  Apply_datagram("Score_modification00{0}{0}");  // a late, older report changes nothing
  for (const char* bad : {"{2}{x}", "{x}{5}", "{3e9}{0}"}) Apply_datagram(std::string("Score_modification00") + bad);
  EXPECT_EQ(versus.kills, 5);  // read before the bad deaths
  EXPECT_EQ(versus.deaths, 1);
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

// Every queued command goes on the next tick, newest first, before the position; what the
// peer must not miss (a numbered hit, a shot cell) goes twice at once and once on each of a few
// ticks after, then stops.
TEST_F(MatchSyncTest, TicksSendQueuedCommandsRepeatWhatMustNotBeLostAndTheMazeToANewPeer) {
  const uint16_t game = StartTransport(false);
  const std::string hit = BuildAttackNotification();
  network_transmission.pushOutgoing({"A", hit, "C"});
  std::vector<std::string> seen = TickAndTake();
  seen.pop_back();
  EXPECT_EQ(seen, (std::vector<std::string>{"C", hit + "{1}", hit + "{1}", "A"}));
  network_transmission.pushOutgoing(hit);
  std::map<std::string, int> copies;
  for (int tick = 0; tick < 9; ++tick)
    for (const std::string& text : TickAndTake()) ++copies[text.substr(0, 10) == "Coordinate" ? "position" : text];
  EXPECT_EQ(copies, (std::map<std::string, int>{{hit + "{1}", 8}, {hit + "{2}", 10}, {"position", 9}}));

  playerdata.is_host = true;
  EXPECT_EQ(TickAndTake().size(), 1u);  // the peer has not been heard yet: the position only
  peer.Send("Coordinate0000000000{1}{1}", game);
  ASSERT_TRUE(WaitFor([] {
    Receive_tick();
    return PeerConnected();
  }));
  const std::vector<std::string> maze = TickAndTake();
  ASSERT_EQ(maze.size(), 257u);
  EXPECT_EQ(maze.front().substr(0, 20), kMapBlockCommand);
  _map.ClearForGood(37, true);
  int cell_copies = 0;
  for (int tick = 0; tick < 12; ++tick)
    for (const std::string& text : TickAndTake()) cell_copies += text == BuildMapBlockCommand(2, 5, "NULL", false);
  EXPECT_EQ(cell_copies, 10);
}

// Over the network and over a link: of two unnumbered positions the later one stays.
TEST_F(MatchSyncTest, ATickAppliesWhatArrivedInArrivalOrder) {
  struct Link : MatchLink {
    void Send(const std::string&) override {}
    void Take(std::vector<std::string>& arrived) override {
      arrived.insert(arrived.end(), {BuildCoordinateCommand(10, 20), BuildCoordinateCommand(30, 40)});
    }
  } link;
  for (MatchLink* use : {static_cast<MatchLink*>(nullptr), static_cast<MatchLink*>(&link)}) {
    playerdata.enemy_x = playerdata.enemy_y = 0;
    for (const float x : {10.0f, 30.0f})
      if (!use) _network.onDataReceived(NetworkMessage{BuildCoordinateCommand(x, x + 10), "127.0.0.1", peer.port});
    UseMatchLink(use);
    Receive_tick();
    UseMatchLink(nullptr);
    EXPECT_EQ(EnemyCorner().x, 30.0f) << (use ? "link" : "network");
    EXPECT_EQ(EnemyCorner().y, 40.0f);
  }
}

// Unnumbered commands, as an older peer sends them, still count each time.
TEST_F(MatchSyncTest, CopiesAndLateNumberedCommandsChangeNothing) {
  for (MapCell& cell : _map.cells) cell.is_wall = false;
  for (const char* text : {"Attack_notification0{}{7}", "Attack_notification0{}{7}", "Attack_notification0{}{8}",
                           "Attack_notification0{}{7}", "Attack_notification0{}", "Attack_notification0{}{x}"})
    Apply_datagram(text);
  EXPECT_EQ(playerdata.velocity_x * playerdata.velocity_x + playerdata.velocity_y * playerdata.velocity_y,
            9 * kKnockPixelsPerTick * kKnockPixelsPerTick);  // three knocks, all the same way
  for (const char* text : {"Death_notice00000000{MY}{2}", "Death_notice00000000{MY}{2}", "Death_notice00000000{MY}{1}"})
    Apply_datagram(text);
  EXPECT_TRUE(cs->TakeVictoryRequest());
  Apply_datagram("Death_notice00000000{MY}{2}");
  EXPECT_FALSE(cs->TakeVictoryRequest());
  Apply_datagram("Coordinate0000000000{100}{100}{5}");
  for (const char* text : {"Coordinate0000000000{90}{100}{4}", "Coordinate0000000000{80}{100}{5}"}) Apply_datagram(text);
  EXPECT_EQ(EnemyCorner().x, 100.0f);
  Apply_datagram("Coordinate0000000000{110}{100}{6}");
  EXPECT_EQ(EnemyCorner().x, 110.0f);
  ghost_bullets.Clear();
  for (const char* shot : {"{3}", "{3}", "{4}", "{3}", "", ""})
    Apply_datagram(std::string(kShotCommand) + "{400}{400}{10}{0}" + shot);
  EXPECT_EQ(ghost_bullets.count(), 4);  // shots 3 and 4, and two unnumbered
  ghost_bullets.Clear();
}

// A shot fired here reaches the peer as its launch.
TEST_F(MatchSyncTest, ShotsCrossAsGhostsAndImpossibleShotsAreDropped) {
  StartTransport(false);
  game_events.AddQueue(ShotReports());
  playerdata.player_x = playerdata.player_y = 100;
  const int i = Launch_bullet(400, 115);
  game_events.Clear();
  const BulletMotion m = bullet.motion[i];
  const std::vector<std::string> seen = TickAndTake();
  EXPECT_NE(std::find(seen.begin(), seen.end(), BuildShotCommand(m.x, m.y, m.vx, m.vy) + "{1}"), seen.end());

  ghost_bullets.Clear();
  Apply_datagram("Bullet_fired00000000{-49.5}{400}{20.19}{0}");
  EXPECT_EQ(ghost_bullets.count(), 1);
  for (const char* bad : {"{400}{400}{20}", "{400}{nan}{1}{1}", "{400}{400}{inf}{0}", "{-51}{400}{1}{0}",
                          "{400}{851}{0}{1}", "{400}{400}{14.3}{14.3}", "{400}{400}{x}{0}"})
    Apply_datagram(std::string(kShotCommand) + bad);
  EXPECT_EQ(ghost_bullets.count(), 1);
  EXPECT_EQ(network_transmission.incomingSize(), 0u);
  ghost_bullets.Clear();
}

// What a datagram could change but the enemy's corner, which the peer moves.
auto Records() {
  std::vector<bool> walls;
  for (const MapCell& cell : _map.cells) walls.push_back(Shared(cell.is_wall));
  std::lock_guard motion(motion_mutex);
  const PlayerData& p = playerdata;
  return std::make_tuple(p.player_x, p.player_y, p.velocity_x, p.velocity_y, p.energy, p.round_over, walls,
                         Shared(versus.kills), Shared(versus.deaths), network_transmission.incomingSize());
}

// A stranger floods the match port from 127.0.0.2 and from the peer's address on another
// port, while the peer keeps reporting its n-th position as (100 + n, 200): any other corner
// came from the stranger.
TEST_F(MatchSyncTest, StrangersFloodingTheMatchPortChangeNothingWhileThePeerGetsThrough) {
  bool grid[16][16];
  generateMaze(grid, 5);
  StoreMaze(grid);
  const uint16_t game = StartTransport(true);
  int sent = 0;
  const auto send = [&] { peer.Send(BuildCoordinateCommand(100.0f + static_cast<float>(sent), 200), game); };
  const auto shown = [] { return EnemyCorner().x - 100.0f; };
  const auto lands = [&] {  // the next position, repeated as the peer would in case one is lost
    ++sent;
    return WaitFor([&] { return shown() == sent || (send(), false); });
  };
  ASSERT_TRUE(lands());
  const auto before = Records();

  FILE* flood = popen((std::string("'" UDP_FLOOD_BINARY "' ") + std::to_string(game) + " 2").c_str(), "r");
  ASSERT_NE(flood, nullptr);
  // The flood prints its count at its end, which ends this loop.
  int advances = 0, foreign = 0;
  float last_shown = shown();
  pollfd ended{fileno(flood), POLLIN, 0};
  for (auto next_send = Clock::now(), give_up = next_send + 10s; poll(&ended, 1, 1) == 0 && Clock::now() < give_up;) {
    if (Clock::now() >= next_send) ++sent, send(), next_send += 15ms;
    const Corner corner = EnemyCorner();
    foreign += corner.y != 200 || corner.x - 100.0f > sent;
    if (corner.x - 100.0f > last_shown) ++advances, last_shown = corner.x - 100.0f;
  }
  long long flooded = 0;
  EXPECT_EQ(std::fscanf(flood, "%lld", &flooded), 1);
  EXPECT_EQ(pclose(flood), 0);
  EXPECT_TRUE(lands());
  EXPECT_GT(flooded, 0);
  EXPECT_EQ(foreign, 0) << "the enemy stood where the peer never was";
  EXPECT_GE(advances, 3) << "the peer's positions stopped landing during the flood";
  EXPECT_EQ(Records(), before);
}

// The host is a match_peer process, this side the guest; both shoot walls away through the
// lossy relay.
TEST_F(MatchSyncTest, MazesAgreeSoonAfterLossEndsAndAShotWallNeverReturns) {
  constexpr unsigned kHostSeed = 11, kGuestSeed = 22;
  bool host_grid[16][16], guest_grid[16][16];
  generateMaze(host_grid, kHostSeed);
  generateMaze(guest_grid, kGuestSeed);
  StoreMaze(guest_grid);
  std::vector<int> host_walls, guest_walls;  // cells each side will shoot
  for (int i = 0; i < kMapCells && guest_walls.size() < 3; ++i)
    if (host_grid[i / 16][i % 16]) (host_walls.size() < 3 ? host_walls : guest_walls).push_back(i);

  playerdata.local_port = FreeLoopbackUdpPort();
  const uint16_t host_port = FreeLoopbackUdpPort(playerdata.local_port);
  LossyUdpRelay relay(host_port, playerdata.local_port);
  relay.setRule({.drop = 0.5, .duplicate = 0.03, .delay = 1ms, .jitter = 20ms});
  playerdata.peer_port = relay.portFacingB();
  std::string command = std::string("'" MATCH_PEER_BINARY "' ") + std::to_string(host_port) + " " +
                        std::to_string(relay.portFacingA()) + " 1 " + std::to_string(kHostSeed) + " 1500";
  for (const int cell : host_walls) command += " " + std::to_string(cell);
  FILE* host = popen(command.c_str(), "r");
  ASSERT_NE(host, nullptr);
  fcntl(fileno(host), F_SETFL, O_NONBLOCK);
  // The host's maze as it last printed it, read without waiting. Walls are never built, so
  // an open cell turning into one is a shot wall come back.
  std::string host_maze, unread;
  bool host_regrew = false, guest_regrew = false;
  const auto host_now = [&] {
    char buffer[4096];
    for (ssize_t n; (n = read(fileno(host), buffer, sizeof buffer)) > 0;) unread.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = unread.find('\n')) != std::string::npos; unread.erase(0, end + 1)) {
      for (size_t i = 0; i < host_maze.size() && i < end; ++i) host_regrew |= host_maze[i] == '.' && unread[i] == '#';
      host_maze = unread.substr(0, end);
    }
    return host_maze;
  };
  const auto guest_now = [&] {
    std::string maze(kMapCells, '.');
    for (int i = 0; i < kMapCells; ++i)
      if (Shared(_map.cells[i].is_wall)) maze[i] = '#';
    for (const int cell : guest_walls) guest_regrew |= maze[cell] == '#';
    return maze;
  };

  StartTransport(true);
  for (const int cell : guest_walls) _map.ClearForGood(cell, true);
  EXPECT_TRUE(WaitFor([&] {  // the host has shot its walls, and plenty was lost both ways
    const std::string maze = host_now();
    guest_now();
    return maze.size() == kMapCells && std::min(relay.droppedAtoB(), relay.droppedBtoA()) >= 60 &&
           std::all_of(host_walls.begin(), host_walls.end(), [&](int i) { return maze[i] == '.'; });
  }));
  relay.setRule({});
  EXPECT_TRUE(WaitFor([&] { return host_now() == guest_now(); }, 15000ms)) << "still apart";
  pclose(host);  // the host ends at its next line, with nobody left to read it
  EXPECT_FALSE(guest_regrew);
  EXPECT_FALSE(host_regrew);
}

}  // namespace
