// Coordination of the match on the shared records: the grid search that tells which maze
// cells a box touches (physics and bullet threads), the per-tick status, death and round-end
// rules of the main thread, which report a fall and a round won as game events. Beside the
// records and the registry its energy recovery's stopwatch is in, its one state is the
// victory request, an atomic that the receive thread sets and the main thread takes.
#pragma once

#include <array>
#include <atomic>
#include <utility>

class TimerManager;

// A grid cell named by its top-left corner in pixels (gx, gy).
using GridCorner = std::pair<int, int>;

class CoordinationSystem {
 public:
  static CoordinationSystem* getInstance();

  // Corners of the cell holding (x, y) and of its right, lower and lower-right neighbours,
  // in that order: every cell that a box of at most one cell with corner (x, y) can touch.
  // The cell of a negative coordinate rounds toward zero.
  std::array<GridCorner, 4> getNearbyGrids(int x, int y, int size) const;

  // The corner among getNearbyGrids whose cell centre is nearest to (x, y); the first wins a tie.
  GridCorner findNearestGrid(int x, int y, int size) const;

  // Whether the box (x, y, w, h) overlaps a wall cell of _map. Cells outside the 16 x 16
  // grid never block.
  bool Search_blocks(int x, int y, int w, int h) const;

  // Main thread, once per tick: energy recovery, and the vision circle easing toward the
  // player's centre and its target radius.
  void Status_update();

  // Main thread, once per tick after Status_update: when the player's centre has left the
  // arena, ends the round as lost (notice, score, effects; the player is parked) and returns
  // true. The caller shows the countdown, then calls End_round(kLost).
  bool Death_detection();
  // Main thread, when the peer has reported its own death: ends the round as won. The caller
  // shows the victory countdown, then calls End_round(kWon).
  void win_death();
  enum class RoundEnd { kLost, kWon };
  // Main thread, after a round's countdown: respawn in the own corner.
  void End_round(RoundEnd how);
  // Any thread: the peer reported its death. The main thread's next tick shows the victory
  // countdown, so only one countdown ever shows and the receive loop never waits on one.
  void RequestVictory();
  // Main thread: whether a victory is due (and clears the request).
  bool TakeVictoryRequest();

  // Unit vector from (x1, y1) toward (x2, y2); straight up and false when they coincide.
  bool CalculateDirectionVector(float x1, float y1, float x2, float y2, float& dx, float& dy);

  // Registry holding the "Energy recovery" stopwatch: the global `timers` unless a test swaps
  // in one with a controlled clock. Main thread only, like Status_update.
  void useTimers(TimerManager& registry) { energyTimers = &registry; }

 private:
  CoordinationSystem();
  TimerManager* energyTimers;
};

extern CoordinationSystem* cs;
