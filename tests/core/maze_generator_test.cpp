// Maze carving: invariants over many seeds, reproducibility, and the copy into _map. Test
// thread only.
#include "core/maze_generator.h"
#include "records/game_records.h"
#include <gtest/gtest.h>
#include <cstring>
#include <ctime>
#include <numeric>
#include <tuple>

namespace {
using Grid = bool[16][16];
int Root(int* parent, int n) { return parent[n] == n ? n : parent[n] = Root(parent, parent[n]); }

// Nodes are the 64 odd-odd cells, numbered r / 2 * 8 + c / 2. An open connector on row or
// column 15 cannot be told from the ring, so the tree is checked as: interior connectors
// never close a cycle, and with the ring's links they join all 64 nodes.
TEST(GenerateMaze, SpanningTreeOverOddCellsWithOpenRingForManySeeds) {
  for (unsigned seed = 0; seed < 300; ++seed) {
    Grid g;
    generateMaze(g, seed);
    int parent[64];
    std::iota(parent, parent + 64, 0);
    const auto join = [&](int a, int b) {
      return Root(parent, a) != Root(parent, b) && (parent[Root(parent, a)] = Root(parent, b), true);
    };
    for (int r = 0; r < 16; ++r)
      for (int c = 0; c < 16; ++c) {
        const bool ring = r == 0 || r == 15 || c == 0 || c == 15;
        const int vr = r % 2 == 0, hc = c % 2 == 0;  // a connector links along its even index
        const bool connector = !ring && vr != hc;  // everything else is fixed: open ring, node or pillar
        if (!connector) {
          EXPECT_EQ(g[r][c], !ring && vr) << seed << ": " << r << "," << c;
        } else if (!g[r][c]) {  // an open connector must not close a cycle
          EXPECT_TRUE(join((r - vr) / 2 * 8 + (c - hc) / 2, (r + vr) / 2 * 8 + (c + hc) / 2))
              << seed << ": " << r << "," << c;
        }
      }
    for (int i = 0; i < 7; ++i) join(56 + i, 57 + i), join(8 * i + 7, 8 * i + 15);
    for (int n = 0; n < 64; ++n) EXPECT_EQ(Root(parent, n), Root(parent, 0)) << "seed " << seed;
  }
}

// Seeded by the second, so two sides started together agree.
TEST(InitializeMap, CopiesTheMazeOfTheCurrentSecondIntoEveryCell) {
  for (MapCell& cell : _map.cells) cell.index = -1, cell.x = cell.y = -1, cell.is_wall = true;
  Grid g, other;
  time_t now;
  do now = time(nullptr), Initialize_map(), generateMaze(g, unsigned(now));
  while (time(nullptr) != now);  // again when a second boundary fell between the calls
  generateMaze(other, unsigned(now) + 1);
  EXPECT_NE(std::memcmp(g, other, sizeof g), 0);  // another seed, another maze
  for (int i = 0; i < 256; ++i) {
    const MapCell& c = _map.cells[i];
    EXPECT_EQ(std::make_tuple(c.index, c.x, c.y, c.is_wall, c.type),
              std::make_tuple(i, i % 16 * 50.0f, i / 16 * 50.0f, g[i / 16][i % 16], g[i / 16][i % 16] ? "wall" : "NULL"));
  }
}
}  // namespace
