// Maze carving and its copy into _map (main thread, while no game thread runs; the cell
// kinds are written under map_mutex because the bullet and receive threads change them later).
#include "core/maze_generator.h"

#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "records/game_records.h"

namespace {

// Step directions in listing order (up, right, down, left): dx moves the row, dy the column.
constexpr int dx[4] = {-1, 0, 1, 0};
constexpr int dy[4] = {0, 1, 0, -1};

}  // namespace

void generateMaze(bool (&grid)[16][16]) { generateMaze(grid, static_cast<unsigned>(time(nullptr))); }

void generateMaze(bool (&grid)[16][16], unsigned seed) {
  // Solid interior, open outer ring: nothing fences the arena in.
  for (int r = 0; r < kMapSide; ++r) {
    for (int c = 0; c < kMapSide; ++c) {
      const bool ring = r == 0 || r == kMapSide - 1 || c == 0 || c == kMapSide - 1;
      grid[r][c] = !ring;
    }
  }

  bool visited[16][16] = {};
  std::deque<std::pair<int, int>> stack;
  srand(seed);

  grid[1][1] = false;
  visited[1][1] = true;
  stack.emplace_back(1, 1);

  std::vector<int> open_dirs;
  open_dirs.reserve(4);
  while (!stack.empty()) {
    const auto [r, c] = stack.back();
    stack.pop_back();

    open_dirs.clear();
    for (int d = 0; d < 4; ++d) {
      const int r2 = r + 2 * dx[d], c2 = c + 2 * dy[d];
      if (r2 >= 0 && r2 < kMapSide && c2 >= 0 && c2 < kMapSide && !visited[r2][c2]) open_dirs.push_back(d);
    }
    if (open_dirs.empty()) continue;  // dead end: backtrack

    stack.emplace_back(r, c);
    const int n = rand();
    const int d = open_dirs[static_cast<size_t>(n) % open_dirs.size()];
    const int r2 = r + 2 * dx[d], c2 = c + 2 * dy[d];
    visited[r2][c2] = true;
    grid[r2 - dx[d]][c2 - dy[d]] = false;  // the connector between the two nodes
    grid[r2][c2] = false;
    stack.emplace_back(r2, c2);
  }
}

void Initialize_map() {
  bool grid[16][16];
  generateMaze(grid);
  StoreMaze(grid);
}

void StoreMaze(const bool (&grid)[16][16]) {
  _map.ResetShotAway();
  std::lock_guard lock(map_mutex);
  for (int r = 0; r < kMapSide; ++r) {
    for (int c = 0; c < kMapSide; ++c) {
      MapCell& cell = _map.cells[r * kMapSide + c];
      cell.index = r * kMapSide + c;
      cell.x = static_cast<float>(c * kCellSize);
      cell.y = static_cast<float>(r * kCellSize);
      cell.is_wall = grid[r][c];
      cell.type = grid[r][c] ? "wall" : "NULL";
    }
  }
}
