// A match played through the lossy relay, for the tests and the benchmark that show what a
// bad network does to it: a match_peer process lands hits, falls off and shoots walls, this
// process shoots walls of its own, and every datagram the peer sends is applied here one at
// a time so that each effect is traced to the command that caused it. This process runs the
// real send loop on a thread of its own; the caller's thread plays the receive loop.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/coordination_system.h"
#include "core/game_events.h"
#include "core/maze_generator.h"
#include "gfx/graphics.h"
#include "match/match_sync.h"
#include "records/command_string.h"
#include "records/game_records.h"
#include "services/background_threads.h"
#include "services/tick_pacing.h"
#include "services/timer_manager.h"
#include "support/lossy_udp_relay.h"
#include "transport/network_manager.h"

struct LossyMatchPlan {
  double loss = 0;  // each way
  int hits = 0, falls = 0;
  std::vector<unsigned> maze_seeds;  // one match per maze; the hits and falls go in the first
  int cell_gap_ms = 10;
};

struct LossyMatchFigures {
  int hits = 0, hits_missed = 0, hits_applied_twice = 0;
  std::vector<double> hit_ms;  // from the peer's hit to the knock here
  int falls = 0, victories = 0, extra_victories = 0;
  std::vector<double> score_ms;  // from the peer's fall to this side's score showing it
  int final_kills = -1, final_deaths = -1, peer_kills = -1, peer_deaths = -1;
  int walls = 0, walls_missed = 0, walls_closed_again = 0;
  std::vector<double> wall_ms;  // from the shot on one side to the cell opening on the other
  int positions = 0, moved_back = 0;
  std::string error;  // empty when every match ran to its end
};

inline double PercentileOf(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(std::lround(q * static_cast<double>(values.size() - 1)))];
}

class LossyMatchRun {
 public:
  explicit LossyMatchRun(const LossyMatchPlan& plan) : plan_(plan) {}

  LossyMatchFigures Play() {
    for (size_t i = 0; i < plan_.maze_seeds.size() && figures_.error.empty(); ++i)
      PlayOne(plan_.maze_seeds[i], i == 0 ? plan_.hits : 0, i == 0 ? plan_.falls : 0);
    return figures_;
  }

 private:
  // What one match traced, by the peer's numbers and cells; times in steady microseconds.
  struct Trace {
    std::map<long long, int64_t> hit_sent, fall_sent, shot_there, shot_here, opened_there;
    std::map<long long, int> hit_applied, victories;
    std::map<long long, int64_t> hit_landed, kills_reached, opened_here;
    uint64_t newest_position = 0;
    Corner newest_corner;
    int peer_kills = -1, peer_deaths = -1;
    bool peer_ended = false;
  };

  void PlayOne(unsigned seed, int hits, int falls) {
    bool grid[16][16];
    generateMaze(grid, seed);
    ResetRecords(grid);
    std::vector<int> theirs, ours;  // walls the peer shoots, and this side
    for (int i = 0; i < kMapCells; ++i)
      if (grid[i / kMapSide][i % kMapSide]) ((theirs.size() + ours.size()) % 2 ? ours : theirs).push_back(i);

    const uint16_t here = FreeLoopbackUdpPort(), there = FreeLoopbackUdpPort(here);
    LossyUdpRelay relay(there, here);
    relay.setRule({.drop = plan_.loss, .duplicate = 0.03, .delay = std::chrono::milliseconds(20),
                   .jitter = std::chrono::milliseconds(40)});
    playerdata.local_port = here;
    playerdata.peer_port = relay.portFacingB();
    std::string command = std::string("'" MATCH_PEER_BINARY "' --script ") + std::to_string(there) + " " +
                          std::to_string(relay.portFacingA()) + " 0 " + std::to_string(seed) + " " +
                          std::to_string(hits) + " " + std::to_string(falls) + " " + std::to_string(plan_.cell_gap_ms);
    for (const int cell : theirs) command += " " + std::to_string(cell);
    FILE* peer = popen(command.c_str(), "r");
    if (peer == nullptr || !Initialize_network()) {
      figures_.error = "the match did not start";
      if (peer != nullptr) pclose(peer);
      return;
    }
    fcntl(fileno(peer), F_SETFL, O_NONBLOCK);
    GameEventQueue knocks;
    game_events.AddQueue(knocks);
    std::thread sender(Send_thread);

    Trace trace;
    std::string unread;
    std::deque<NetworkMessage> arrived;
    size_t shot = 0;
    int64_t next_shot = 0;
    for (const int64_t give_up = SteadyMicros() + 60'000'000; !trace.peer_ended && SteadyMicros() < give_up;) {
      ReadPeer(peer, unread, trace);
      _network.takeMessages(arrived);
      for (const NetworkMessage& message : arrived)
        if (FromPeer(message)) ApplyTraced(message.data, knocks, trace);
      arrived.clear();
      if (shot < ours.size() && PeerConnected() && SteadyMicros() >= next_shot) {
        _map.ClearForGood(ours[shot], true);
        trace.shot_here[ours[shot++]] = next_shot = SteadyMicros();
        next_shot += plan_.cell_gap_ms * 1000LL;
      }
      SleepMicros(200);
    }
    ecl.store(true);
    sender.join();
    _network.stop();
    background_threads.JoinAll();
    game_events.Clear();
    timers.removeTimer(kMapSyncTimer);  // paused above; a later match makes its own
    pclose(peer);
    if (!trace.peer_ended) figures_.error = "the peer never ended its match";
    Count(trace);
  }

  static void ResetRecords(const bool (&grid)[16][16]) {
    playerdata = PlayerData{};
    playerdata.online = true;
    playerdata.peer_ip = "127.0.0.1";
    playerdata.is_host = true;
    playerdata.player_x = playerdata.player_y = 500;
    versus = Versus{};
    network_transmission.outgoing.clear();
    network_transmission.incoming.clear();
    network_transmission.peer_heard_us = -1;
    _map.ResetShotAway();
    StoreMaze(grid);
    _map.map_dirty = false;
    // Only what the match repeats may mend a loss here, not the periodic resend.
    timers.createTimer(kMapSyncTimer);
    timers.resetTimer(kMapSyncTimer);
    timers.pauseTimer(kMapSyncTimer);
    CoordinationSystem::getInstance()->TakeVictoryRequest();
    ecl = false;
  }

  void ReadPeer(FILE* peer, std::string& unread, Trace& trace) {
    char buffer[4096];
    for (ssize_t n; (n = read(fileno(peer), buffer, sizeof buffer)) > 0;) unread.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = unread.find('\n')) != std::string::npos; unread.erase(0, end + 1)) {
      std::istringstream line(unread.substr(0, end));
      std::string what;
      long long a = 0, b = 0;
      line >> what >> a >> b;
      if (what == "hit") trace.hit_sent[a] = b;
      if (what == "fall") trace.fall_sent[a] = b;
      if (what == "cell") trace.shot_there[a] = b;
      if (what == "open" && !trace.opened_there.count(a)) trace.opened_there[a] = b;
      if (what == "closed") ++figures_.walls_closed_again;
      if (what == "score") trace.peer_kills = static_cast<int>(a), trace.peer_deaths = static_cast<int>(b);
      trace.peer_ended |= what == "end";
    }
  }

  // One datagram through the real handler, with what it changed noted against its number.
  void ApplyTraced(const std::string& data, GameEventQueue& knocks, Trace& trace) {
    std::optional<ParsedCommand> command;
    try {
      command = parseCommandString(data);
    } catch (const std::exception&) {
    }
    std::vector<bool> walls_before(kMapCells);
    for (int i = 0; i < kMapCells; ++i) walls_before[i] = Shared(_map.cells[i].is_wall);
    const int kills_before = Shared(versus.kills);
    Apply_datagram(data);
    const int64_t now = SteadyMicros();
    const auto number = [&](size_t i) { return std::stoll(command->second.at(i)); };

    std::vector<GameEvent> taken;
    knocks.TakeAll(taken);
    const int knocked = static_cast<int>(std::count_if(
        taken.begin(), taken.end(), [](const GameEvent& e) { return e.kind == GameEventKind::kHitTaken; }));
    if (command && command->first == kAttackCommand && knocked > 0) {
      const long long hit = number(1);
      if ((trace.hit_applied[hit] += knocked) == knocked) trace.hit_landed[hit] = now;
    }
    if (CoordinationSystem::getInstance()->TakeVictoryRequest() && command && command->first == kDeathNoticeCommand)
      ++trace.victories[number(1)];
    for (int k = kills_before + 1; k <= Shared(versus.kills); ++k) trace.kills_reached[k] = now;
    if (command && command->first == kCoordinateCommand) {
      ++figures_.positions;
      if (static_cast<uint64_t>(number(2)) > trace.newest_position)
        trace.newest_position = number(2), trace.newest_corner = {std::stof(command->second[0]), std::stof(command->second[1])};
      const Corner shown = EnemyCorner();
      figures_.moved_back += shown.x != trace.newest_corner.x || shown.y != trace.newest_corner.y;
    }
    for (int i = 0; i < kMapCells; ++i) {
      const bool wall = Shared(_map.cells[i].is_wall);
      if (walls_before[i] && !wall && !trace.opened_here.count(i)) trace.opened_here[i] = now;
      figures_.walls_closed_again += !walls_before[i] && wall;
    }
  }

  void Count(const Trace& trace) {
    const auto ms = [](int64_t from, int64_t to) { return static_cast<double>(to - from) / 1000.0; };
    for (const auto& [hit, sent] : trace.hit_sent) {
      ++figures_.hits;
      const auto applied = trace.hit_applied.find(hit);
      if (applied == trace.hit_applied.end()) {
        ++figures_.hits_missed;
        continue;
      }
      figures_.hits_applied_twice += applied->second > 1;
      figures_.hit_ms.push_back(ms(sent, trace.hit_landed.at(hit)));
    }
    for (const auto& [fall, sent] : trace.fall_sent) {
      ++figures_.falls;
      const auto won = trace.victories.find(fall);
      figures_.victories += won != trace.victories.end();
      if (won != trace.victories.end()) figures_.extra_victories += won->second - 1;
      if (const auto reached = trace.kills_reached.find(fall); reached != trace.kills_reached.end())
        figures_.score_ms.push_back(ms(sent, reached->second));
    }
    const auto walls = [&](const std::map<long long, int64_t>& shot, const std::map<long long, int64_t>& opened) {
      for (const auto& [cell, when] : shot) {
        ++figures_.walls;
        const auto open = opened.find(cell);
        if (open == opened.end())
          ++figures_.walls_missed;
        else
          figures_.wall_ms.push_back(ms(when, open->second));
      }
    };
    walls(trace.shot_there, trace.opened_here);
    walls(trace.shot_here, trace.opened_there);
    if (trace.fall_sent.empty()) return;
    figures_.final_kills = Shared(versus.kills), figures_.final_deaths = Shared(versus.deaths);
    figures_.peer_kills = trace.peer_kills, figures_.peer_deaths = trace.peer_deaths;
  }

  const LossyMatchPlan plan_;
  LossyMatchFigures figures_;
};
