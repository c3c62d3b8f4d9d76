// Game records: the peer command list under concurrent use (four producers, one consumer),
// and the time scale.
#include "records/game_records.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <thread>
#include <vector>

namespace {
TEST(NetworkTransmission, NewestCommandGoesFirstAndConcurrentUseLosesNothing) {
  Network_transmission lists;
  EXPECT_FALSE(lists.popOutgoingBack().has_value());
  lists.pushOutgoing("first"), lists.pushOutgoing("second");
  EXPECT_EQ(lists.popOutgoingBack(), "second");
  EXPECT_EQ(lists.popOutgoingBack(), "first");
  constexpr int kThreads = 4, kEach = 250, kAll = kThreads * kEach;  // all fit under the cap
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t)
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) lists.pushOutgoing(std::to_string(t * kEach + i));
    });
  std::vector<int> seen(kAll);
  std::thread consumer([&] {
    for (int pops = 0; pops < kAll;)
      if (auto command = lists.popOutgoingBack()) ++seen.at(std::stoi(*command)), ++pops;
  });
  for (auto& p : producers) p.join();
  consumer.join();
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kAll);
}

TEST(NetworkTransmission, ListsKeepTheNewestCommandsUpToTheirCap) {
  Network_transmission lists;
  for (size_t i = 0; i <= kMaxQueuedCommands; ++i) lists.pushOutgoing(std::to_string(i)), lists.pushIncoming("x");
  EXPECT_EQ(lists.outgoingSize(), kMaxQueuedCommands);
  EXPECT_EQ(lists.incomingSize(), kMaxQueuedCommands);
  EXPECT_EQ(lists.popOutgoingBack(), std::to_string(kMaxQueuedCommands));
  EXPECT_EQ(lists.outgoing.front(), "1");  // the oldest went
}

TEST(TimeScale, FollowsTheRatesAndCountsARateBelowOneAsOne) {
  refresh_rate[kRateTimeScaleBase] = 130;
  for (auto [rate, scale] : {std::pair{65, 2.0f}, {0, 130.0f}, {-65, 130.0f}}) {  // not inf nor a negative scale
    refresh_rate[kRateGameLoops] = rate;
    EXPECT_FLOAT_EQ(TimeScale(), scale) << rate;
  }
  refresh_rate[kRateGameLoops] = refresh_rate[kRateTimeScaleBase] = 65;
}
}  // namespace
