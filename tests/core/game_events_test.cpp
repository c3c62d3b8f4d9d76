// Game events crossing threads: every event raised on the rules' threads reaches each
// handler and each queue once, and a queue nobody drains stays bounded.
#include "core/game_events.h"
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(GameEventsTest, EachEventReachesEveryConsumerExactlyOnceFromFourRaisingThreads) {
  constexpr int kThreads = 4, kEach = 2000, kAll = kThreads * kEach;
  GameEvents events;
  std::vector<std::atomic<int>> handled(kAll);
  events.AddHandler([&handled](const GameEvent& e) { handled[e.cell].fetch_add(1); });
  GameEventQueue first(kAll), second(kAll);
  events.AddQueue(first), events.AddQueue(second);

  std::atomic<int> raising{kThreads};
  std::vector<std::thread> raisers;
  for (int t = 0; t < kThreads; ++t)
    raisers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) events.Raise({.kind = GameEventKind::kFired, .cell = t * kEach + i});
      raising.fetch_sub(1);
    });
  // Each queue drained by its own thread while the raisers run, as the sound and send loops do.
  const auto drain = [&raising](GameEventQueue& queue, std::vector<int>& seen) {
    std::vector<GameEvent> taken;
    for (bool last = false; !last;) {
      last = raising.load() == 0;
      queue.TakeAll(taken);
      for (const GameEvent& e : taken) ++seen[e.cell];
      taken.clear();
    }
  };
  std::vector<int> seen_first(kAll), seen_second(kAll);
  std::thread drain_first(drain, std::ref(first), std::ref(seen_first));
  std::thread drain_second(drain, std::ref(second), std::ref(seen_second));
  for (std::thread& t : raisers) t.join();
  drain_first.join(), drain_second.join();
  for (int id = 0; id < kAll; ++id) {
    ASSERT_EQ(handled[id].load(), 1) << id;
    ASSERT_EQ(seen_first[id], 1) << id;
    ASSERT_EQ(seen_second[id], 1) << id;
  }
  EXPECT_EQ(first.dropped() + second.dropped(), 0u);
}

TEST(GameEventsTest, AQueueNobodyDrainsRefusesWhatIsBeyondItsBoundAndCountsIt) {
  GameEventQueue queue(8);
  for (int i = 0; i < 20; ++i) queue.Push({.cell = i});
  std::vector<GameEvent> taken;
  queue.TakeAll(taken);
  ASSERT_EQ(taken.size(), 8u);
  EXPECT_EQ(taken.back().cell, 7);  // the oldest are kept, in order
  EXPECT_EQ(queue.dropped(), 12u);
}

}  // namespace
