// Coordination of the match on the shared records: the grid search that tells which maze
// cells a box touches (physics and bullet threads) and the per-tick status rules of the
// main thread. Stateless apart from the records it reads, so any thread may call the search.
#pragma once

#include <array>
#include <utility>

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

 private:
  CoordinationSystem() = default;
};

extern CoordinationSystem* cs;
