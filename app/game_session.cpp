// Start-up, the title screen, the matches and shutdown of the game (main thread). The main
// loop also serves Qt's event queue, so window events and present tasks run on this thread.
// Esc leaves a match for the title screen: its threads, port and effects end as on a close,
// and the next match starts from fresh records.
#include "app/game_session.h"

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <memory>
#include <optional>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/game_feedback.h"
#include "app/lan_lobby.h"
#include "core/bullets.h"
#include "core/coordination_system.h"
#include "core/maze_generator.h"
#include "core/ghost_bullets.h"
#include "core/player_movement.h"
#include "core/rules_tuning.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include "match/connection_setup.h"
#include "match/match_sync.h"
#include "match/peer_address.h"
#include "match/practice_match.h"
#include "records/game_records.h"
#include "records/timer_names.h"
#include "services/background_threads.h"
#include "services/log_management.h"
#include "services/tick_pacing.h"
#include "services/timer_manager.h"
#include "view/countdown_screens.h"
#include "view/game_view.h"
#include "view/opponent_smoothing.h"

namespace {

constexpr int kWindowWidth = 1000;
constexpr int kWindowHeight = 800;

// Ctrl-C and SIGTERM end the game the same way closing the window does. An atomic store
// of a lock-free flag is safe in a signal handler.
void RequestClose(int) {
  window_closing.store(true);
  ecl.store(true);
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = RequestClose;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

std::vector<std::thread> StartGameThreads() {
  std::vector<std::thread> threads;
  threads.emplace_back(RenderWhile);
  threads.emplace_back(WhileControl);
  threads.emplace_back(WhileCalculate);
  threads.emplace_back(Bullet_control);
  threads.emplace_back(up_particle);
  if (playerdata.online) {
    threads.emplace_back(Send_thread);
    threads.emplace_back(Receiving_thread);
  }
  return threads;
}

// Fills the match fields of the records and opens the match port; the exit status on
// failure, or nothing when the match can start. Runs before the window opens.
std::optional<int> PrepareMatch(LaunchPlan plan) {
  if (plan.mode == LaunchPlan::Mode::Connect && plan.local_port == 0) {
    plan.local_port = FirstFreeUdpPort(kFirstConnectPort);
    if (plan.local_port == 0) {
      std::fprintf(stderr, "vantorix: no free UDP port from %u up for the match\n", unsigned{kFirstConnectPort});
      return 1;
    }
  }
  playerdata.online = true;
  playerdata.local_port = plan.local_port;
  // Held from here on, so the port shown to the player is the one the match uses. The probe
  // first keeps the transport's own diagnostics off the console for the common case.
  if (!isUdpPortAvailable(plan.local_port) || !Initialize_network()) {
    std::fprintf(stderr, "vantorix: cannot open UDP port %u for the match (in use, or not allowed)\n",
                 unsigned{plan.local_port});
    return 1;
  }
  if (plan.mode == LaunchPlan::Mode::Connect) {
    std::printf("Your match port: %u (tell your opponent this port and your address)\n\n", unsigned{plan.local_port});
    std::fflush(stdout);
    const auto [ip, port] = OpenNewConsoleInputIPPort();
    const std::optional<std::string> canonical = CanonicalIPv4(ip);
    if (!canonical) {
      _network.stop();
      return 1;  // the console ended before the opponent's address was in
    }
    plan.peer_ip = *canonical;
    plan.peer_port = static_cast<uint16_t>(port);
    plan.host = DeriveHost(LocalAddressToward(plan.peer_ip), plan.local_port, plan.peer_ip, plan.peer_port);
  }
  playerdata.peer_ip = plan.peer_ip;
  playerdata.peer_port = plan.peer_port;
  playerdata.is_host = plan.host;
  // The host starts top-left, the other side bottom-right; each sees the other there
  // until the first position report arrives.
  const float own = plan.host ? kHostCorner : kGuestCorner, other = plan.host ? kGuestCorner : kHostCorner;
  playerdata.player_x = playerdata.player_y = own;
  playerdata.enemy_x = playerdata.enemy_y = other;
  return std::nullopt;
}

// A practice match: the opponent plays the guest through the in-process link.
void PreparePractice(int level) {
  playerdata.online = true;
  playerdata.is_host = true;
  playerdata.practice_level = level;
  playerdata.player_x = playerdata.player_y = kHostCorner;
  playerdata.enemy_x = playerdata.enemy_y = kGuestCorner;
}

// Ends everything the game started: the loops see the close request at their next tick,
// the transport stops, and the effect threads are waited for.
void StopEverything(std::vector<std::thread>& threads) {
  ecl.store(true);
  for (std::thread& thread : threads) thread.join();
  _network.stop();
  background_threads.JoinAll();
}

// What a match leaves behind, forgotten once its threads have ended: the next one starts with
// a new maze, both players at their corners with full energy, the score at 0 and 0, and
// nothing in flight.
void ForgetTheMatch() {
  playerdata = PlayerData{};
  versus = Versus{};
  Initialize_map();
  _map.map_dirty.store(true);
  {
    std::lock_guard lock(bullet_mutex);
    for (BulletSlot& slot : bullet.slots) slot.active = false;
  }
  ghost_bullets.Clear();
  ParticleManager::GetInstance().RemoveAllParticles(false);
  opponent_smoothing.Reset();
  while (network_transmission.popOutgoingBack()) {
  }
  {
    std::lock_guard lock(network_transmission.incoming_mutex);
    network_transmission.incoming.clear();
  }
  network_transmission.peer_heard_us.store(-1);
  std::vector<GameEvent> stale;
  ShotReports().TakeAll(stale);
  CoordinationSystem::getInstance()->TakeVictoryRequest();
  for (int slot = 0; slot < 256; ++slot) eks[slot].store(false), ekr[slot].store(false);
}

void CreateStartupTimers() {
  timers.createTimer(kEnergyRecoveryTimer);
  timers.createTimer(kSidebarRateTimer);
  timers.createTimer(kRuntimeTimer);
  timers.createTimer(kRateLogTimer);
}

// One main-loop pass after the events: the round logic, then the rate log once a second.
void MainTick(CoordinationSystem& coordination) {
  frame[kFrameMainLoop].fetch_add(1, std::memory_order_relaxed);
  coordination.Status_update();
  // A round's end blocks here for its countdown.
  if (coordination.Death_detection()) {
    death();
    coordination.End_round(CoordinationSystem::RoundEnd::kLost);
  }
  if (coordination.TakeVictoryRequest()) {
    coordination.win_death();
    o_death();
    coordination.End_round(CoordinationSystem::RoundEnd::kWon);
  }
  if (timers.getTime(kRateLogTimer) > 1000000) {
    timers.resetTimer(kRateLogTimer);
    WriteRateLog();
  }
}

}  // namespace

void WriteRateLog() {
  for (int i = 0; i < 10; ++i) {
    const double seconds = static_cast<double>(timers.getTime(kRuntimeTimer)) / 1e6;
    char value[64];
    std::snprintf(value, sizeof value, "%f", static_cast<double>(frame[i].load()) / seconds);
    LogManagement::getInstance().log("DEBUG.log", LogLevel::DEBUG,
                                     "_frame:" + std::to_string(i) + "_value:" + value);
  }
}

namespace {

enum class MatchEnd { kClosed, kLeft };

// What the match starts from, for the log: a player who comes back from the title screen
// must find a new maze, the score at 0 and 0 and full energy.
void LogMatchStart() {
  uint32_t maze = 2166136261u;  // FNV-1a over the walls
  for (const MapCell& cell : _map.cells) maze = (maze ^ (Shared(cell.is_wall) ? 1u : 0u)) * 16777619u;
  const std::string kind = playerdata.practice_level > 0 ? "practice, level " + std::to_string(playerdata.practice_level)
                           : playerdata.online           ? "networked"
                                                         : "local";
  char line[160];
  std::snprintf(line, sizeof line, "Match started (%s): score %d - %d, energy %.0f of %.0f, maze %08x", kind.c_str(),
                Shared(versus.kills), Shared(versus.deaths), static_cast<double>(playerdata.energy),
                static_cast<double>(playerdata.max_energy), maze);
  LogManagement::getInstance().log("DEBUG.log", LogLevel::INFO, line);
}

// Plays one match (or the local game) in the open window until it is closed or, in a match,
// left with Esc; everything the match started has ended when this returns. `muted` follows
// the player's M key.
MatchEnd PlayMatch(bool& muted, PracticeMatch* practice) {
  LogMatchStart();
  // Subscribed before the threads start, and unsubscribed only after they end.
  auto feedback = std::make_unique<GameFeedback>(playerdata.online, muted);
  if (practice != nullptr) practice->Start();
  std::vector<std::thread> threads = StartGameThreads();
  CreateStartupTimers();
  playerdata.vision_target_radius = 100;
  CoordinationSystem& coordination = *CoordinationSystem::getInstance();
  refresh_rate[kRateGameLoops] = 65;
  escape_leaves.store(playerdata.online);  // the local game has nowhere to go back to

  for (;;) {
    TickPacer tick(refresh_rate[kRateGameLoops]);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (ecl.load()) break;
    MainTick(coordination);
    PaceServingEvents(tick);
  }

  escape_leaves.store(false);
  StopEverything(threads);
  if (practice != nullptr) practice->Stop();
  muted = feedback->muted();
  feedback.reset();
  if (window_closing.load()) return MatchEnd::kClosed;
  LogManagement::getInstance().log("DEBUG.log", LogLevel::INFO, "Match left for the title screen");
  ForgetTheMatch();
  ecl.store(false);
  return MatchEnd::kLeft;
}

// Holds the LAN match port while the title screen shows: the one asked for, or the first
// free from the usual one. False, having said why, when it cannot be had.
bool ReserveLanPort(std::optional<UdpPortReservation>& reserved, uint16_t asked) {
  const uint16_t first = asked != 0 ? asked : kFirstConnectPort;
  reserved.emplace(first);
  if (reserved->port() != 0 && (asked == 0 || reserved->port() == asked)) return true;
  reserved.reset();
  std::fprintf(stderr, "vantorix: cannot open UDP port %u for the match (in use, or not allowed)\n", unsigned{first});
  return false;
}

}  // namespace

int RunGame(int argc, char** argv) {
  QCoreApplication::setApplicationName(QStringLiteral("vantorix"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VANTORIX_VERSION));
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  LaunchPlan plan = ParseCommandLine(arguments);
  if (plan.mode == LaunchPlan::Mode::Exit) {
    std::fputs(plan.message.c_str(), plan.exit_status == 0 ? stdout : stderr);
    return plan.exit_status;
  }
  ecl.store(false);
  InstallStopSignals();
  if (plan.mode == LaunchPlan::Mode::Direct || plan.mode == LaunchPlan::Mode::Connect) {
    if (const std::optional<int> failed = PrepareMatch(plan)) return *failed;
  }
  // The title screen's match port is held from before the window opens, so a port that
  // cannot be had is reported at once, like the direct match's.
  const uint16_t lan_port_asked = plan.mode == LaunchPlan::Mode::Title ? plan.local_port : 0;
  std::optional<UdpPortReservation> lan_port;
  if (plan.mode == LaunchPlan::Mode::Title && !ReserveLanPort(lan_port, lan_port_asked)) return 1;

  QApplication app(argc, argv);
  QGuiApplication::setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QStringLiteral("vantorix"));  // pairs the window with its menu entry
  srand(static_cast<unsigned>(time(nullptr)));
  Initialize_map();
  initgraph(kWindowWidth, kWindowHeight);

  for (;;) {
    if (plan.mode == LaunchPlan::Mode::Title) {
      if (!lan_port && !ReserveLanPort(lan_port, lan_port_asked)) break;
      const std::optional<LaunchPlan> chosen = RunLanLobby(lan_port->port());
      if (!chosen) break;  // the window was closed on the title screen
      plan = *chosen;
      if (plan.mode == LaunchPlan::Mode::Direct) {
        lan_port.reset();  // the match takes the port over
        if (const std::optional<int> failed = PrepareMatch(plan)) return *failed;
      }
    }
    std::optional<PracticeMatch> practice;
    if (plan.mode == LaunchPlan::Mode::Practice) {
      PreparePractice(plan.level);
      practice.emplace(plan.level, static_cast<uint32_t>(rand()));
    }
    bool muted = plan.muted;
    if (PlayMatch(muted, practice ? &*practice : nullptr) == MatchEnd::kClosed) break;
    plan = LaunchPlan{};
    plan.muted = muted;
  }

  QCoreApplication::quit();
  background_threads.JoinAll();
  return 0;
}
