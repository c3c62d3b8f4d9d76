// Start-up, main loop and shutdown of the local game (main thread). The main loop also
// serves Qt's event queue, so window events and present tasks run on this thread.
#include "app/game_session.h"

#include <QApplication>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "app/game_records.h"
#include "app/tick_pacing.h"
#include "core/bullets.h"
#include "core/coordination_system.h"
#include "core/maze_generator.h"
#include "core/player_movement.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "services/log_management.h"
#include "services/timer_manager.h"
#include "view/game_view.h"

namespace {

constexpr int kWindowWidth = 1000;
constexpr int kWindowHeight = 800;

// Ctrl-C and SIGTERM end the game the same way closing the window does. An atomic store
// of a lock-free flag is safe in a signal handler.
void RequestClose(int) { ecl.store(true); }

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
  return threads;
}

void CreateStartupTimers() {
  timers.createTimer("Energy recovery");
  timers.createTimer("WINAPI WinMain");
  timers.createTimer("Runtime duration");
  timers.createTimer("Frame rate detection");
}

// One main-loop pass after the events: the round logic, then the rate log once a second.
void MainTick(CoordinationSystem& coordination) {
  frame[0].fetch_add(1, std::memory_order_relaxed);
  coordination.Status_update();
  coordination.Death_detection();  // a death blocks here for the countdown
  if (timers.getTime("Frame rate detection") > 1000000) {
    timers.resetTimer("Frame rate detection");
    WriteRateLog();
  }
}

}  // namespace

void WriteRateLog() {
  for (int i = 0; i < 10; ++i) {
    const double seconds = static_cast<double>(timers.getTime("Runtime duration")) / 1e6;
    char value[64];
    std::snprintf(value, sizeof value, "%f", static_cast<double>(frame[i].load()) / seconds);
    LogManagement::getInstance().log("DEBUG.log", LogLevel::DEBUG,
                                     "_frame:" + std::to_string(i) + "_value:" + value);
  }
}

int RunGame(int argc, char** argv) {
  QApplication app(argc, argv);
  QGuiApplication::setQuitOnLastWindowClosed(false);
  srand(static_cast<unsigned>(time(nullptr)));
  ecl.store(false);
  InstallStopSignals();
  Initialize_map();
  initgraph(kWindowWidth, kWindowHeight);

  std::vector<std::thread> threads = StartGameThreads();
  CreateStartupTimers();
  playerdata.vision_target_radius = 100;
  CoordinationSystem& coordination = *CoordinationSystem::getInstance();
  refresh_rate[0] = 65;

  for (;;) {
    TickPacer tick(refresh_rate[0]);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (ecl.load()) break;
    MainTick(coordination);
    tick.Pace();
  }

  QCoreApplication::quit();
  for (std::thread& thread : threads) thread.join();
  return 0;
}
