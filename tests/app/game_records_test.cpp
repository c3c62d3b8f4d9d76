// Game records: maze cell geometry, the command lists under concurrent use, the time scale.
#include "app/game_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(Maps, CellsCoverTheArenaRowMajor) {
  const Maps maze;
  for (int row = 0; row < kMapSide; ++row) {
    for (int col = 0; col < kMapSide; ++col) {
      const MapCell& cell = maze.cells[row * kMapSide + col];
      EXPECT_EQ(cell.index, row * kMapSide + col);
      EXPECT_EQ(cell.x, col * 50.0f);
      EXPECT_EQ(cell.y, row * 50.0f);
      EXPECT_EQ(cell.width, 50);
      EXPECT_EQ(cell.height, 50);
    }
  }
  EXPECT_EQ(maze.cells.back().x + maze.cells.back().width, kArenaSize);
  EXPECT_TRUE(maze.map_dirty);
}

TEST(NetworkTransmission, SendingTakesTheNewestCommandFirst) {
  Network_transmission lists;
  EXPECT_FALSE(lists.popOutgoingBack().has_value());
  lists.pushOutgoing("first");
  lists.pushOutgoing("second");
  EXPECT_EQ(lists.popOutgoingBack(), "second");
  EXPECT_EQ(lists.popOutgoingBack(), "first");
  EXPECT_EQ(lists.outgoingSize(), 0u);
}

TEST(NetworkTransmission, ConcurrentProducersAndConsumerLoseNothing) {
  Network_transmission lists;
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) lists.pushOutgoing(std::to_string(t * kEach + i));
    });
  }
  std::multiset<std::string> taken;
  std::thread consumer([&] {
    while (taken.size() < static_cast<size_t>(kThreads * kEach)) {
      if (auto command = lists.popOutgoingBack()) taken.insert(*command);
    }
  });
  for (auto& p : producers) p.join();
  consumer.join();
  ASSERT_EQ(taken.size(), static_cast<size_t>(kThreads * kEach));
  for (int n = 0; n < kThreads * kEach; ++n) EXPECT_EQ(taken.count(std::to_string(n)), 1u) << n;
}

TEST(TimeScale, FollowsTheRatesAndSurvivesAZeroRate) {
  EXPECT_FLOAT_EQ(TimeScale(), 1.0f);
  refresh_rate[1] = 130;
  EXPECT_FLOAT_EQ(TimeScale(), 2.0f);
  refresh_rate[0] = 0;
  EXPECT_TRUE(std::isfinite(TimeScale()));
  refresh_rate[0] = 65;
  refresh_rate[1] = 65;
}

}  // namespace
