// Where the opponent is drawn between its reports: a steadily moving sender whose reports
// arrive jittered and reordered, some across a jump, sampled by a 65 Hz renderer on a
// simulated clock. Each case has a smoothing of its own; test thread only (the receive and
// render threads sharing one are the network match's, under the sanitizer builds).
#include "view/opponent_smoothing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <utility>
#include <vector>

namespace {

using Place = std::pair<float, float>;

constexpr int64_t kFrameUs = 1'000'000 / 65;  // the renderer's tick
constexpr double kStep = 3;                   // pixels per tick, down and right along (0.6, 0.8)
constexpr double kJumpX = 300;                // a jump moves the sender this far right

// Distance along the sender's path, and off it: a jump puts the path 240 px aside.
double Along(const Place& p) { return (p.first - 100) * 0.6 + (p.second - 100) * 0.8; }
double Off(const Place& p) { return (p.second - 100) * 0.6 - (p.first - 100) * 0.8; }

struct Frame {
  int64_t at_us;
  std::optional<Place> shown;
  double newest = -std::numeric_limits<double>::infinity();  // furthest report arrived, along
  double raw = 0;                 // the report that arrived last, as drawn without smoothing
  std::optional<Place> landing;   // the first report from past the jump to arrive
};

// The sender reports `ticks` times, each report arriving 0-20 ms late (seeded), so some
// overtake others; every `lost_every`th is lost. The renderer samples until a second after
// the last tick.
struct JitteredRun {
  uint32_t seed = 1;
  int64_t tick_us = 15'400;  // the sender's
  int lost_every = 0;
  int ticks = 650;           // 10 s
  int jump_tick = -1;        // from here on the sender is kJumpX further right
  int overtaken_tick = -1;   // arrives just after the tick following it

  Place At(int tick) const {
    const double x = 100 + 0.6 * kStep * tick + (jump_tick >= 0 && tick >= jump_tick ? kJumpX : 0);
    return {static_cast<float>(x), static_cast<float>(100 + 0.8 * kStep * tick)};
  }

  std::vector<Frame> Run(OpponentSmoothing& smoothing) const {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int64_t> delay_us(0, 20'000);
    std::vector<std::pair<int64_t, int>> arrivals;  // (arrival, tick)
    for (int tick = 0; tick < ticks; ++tick) {
      int64_t arrival = tick * tick_us + delay_us(random);
      if (overtaken_tick >= 0 && tick == overtaken_tick) arrival = tick * tick_us + 20'000;
      if (overtaken_tick >= 0 && tick == overtaken_tick + 1) arrival = tick * tick_us;
      if (lost_every == 0 || tick % lost_every != lost_every - 1) arrivals.emplace_back(arrival, tick);
    }
    std::sort(arrivals.begin(), arrivals.end());
    std::vector<Frame> frames;
    Frame now{};
    size_t next = 0;
    for (now.at_us = 5'000; now.at_us < ticks * tick_us + 1'000'000; now.at_us += kFrameUs) {
      for (; next < arrivals.size() && arrivals[next].first <= now.at_us; ++next) {
        const auto [arrival_us, tick] = arrivals[next];
        const Place place = At(tick);
        smoothing.Report(place.first, place.second, arrival_us);
        now.newest = std::max(now.newest, Along(place)), now.raw = Along(place);
        if (tick >= jump_tick && jump_tick >= 0 && !now.landing) now.landing = place;
      }
      now.shown = smoothing.Shown(now.at_us);
      frames.push_back(now);
    }
    return frames;
  }
};

// A lost report leaves the disc waiting for the next one, so with losses only its pace is
// bounded, not how far it falls behind or how even it goes.
TEST(OpponentSmoothingTest, JitteredReportsAreDrawnEvenlyCloseBehindNeverBackwardsAndHeldAfterTheLast) {
  const struct {
    const char* what;
    JitteredRun run;
  } rows[] = {{"jitter alone", {.seed = 1}},
              {"a sender slower than the game's", {.seed = 2, .tick_us = 20'000}},
              {"the first two reports swapped", {.seed = 8, .overtaken_tick = 0}},
              {"the second report overtaken", {.seed = 1, .overtaken_tick = 1}},
              {"every tenth report lost", {.seed = 3, .lost_every = 10}}};
  for (const auto& [what, run] : rows) {
    SCOPED_TRACE(what);
    OpponentSmoothing smoothing;
    const std::vector<Frame> frames = run.Run(smoothing);
    const double pace = kStep * kFrameUs / run.tick_us;  // per frame
    double worst_raw_step = 0;
    int settled = 0, off_pace = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
      const Frame& f = frames[i];
      ASSERT_EQ(f.shown.has_value(), std::isfinite(f.newest)) << f.at_us;  // nothing before the first report
      if (!f.shown) continue;
      const double along = Along(*f.shown);
      ASSERT_NEAR(Off(*f.shown), 0, 0.01) << f.at_us;
      ASSERT_LE(along - f.newest, kStep + 0.01) << f.at_us;  // past the newest by one tick at most
      const bool is_settled = run.lost_every == 0 && f.at_us > 500'000 && f.at_us < run.ticks * run.tick_us;
      if (is_settled) {
        ASSERT_LE(f.newest - along, 2 * kStep + 0.01) << f.at_us;
      }
      if (i == 0 || !frames[i - 1].shown) continue;
      const double step = along - Along(*frames[i - 1].shown);
      ASSERT_GE(step, -0.01) << f.at_us;
      ASSERT_LE(step, 2 * kStep + 0.01) << f.at_us;
      worst_raw_step = std::max(worst_raw_step, std::abs(f.raw - frames[i - 1].raw));
      settled += is_settled, off_pace += is_settled && std::abs(step / pace - 1) > 0.25;
    }
    EXPECT_GT(worst_raw_step, 2 * kStep);  // the newest report alone would stutter past the bound
    EXPECT_LE(off_pace, settled / 20);     // 19 frames in 20 move within a quarter of the pace
    const Frame& last = frames.back();
    EXPECT_GE(Along(*last.shown), last.newest - 0.01);
    EXPECT_EQ(*last.shown, *frames[frames.size() - 30].shown);  // still for the last half second
  }
}

TEST(OpponentSmoothingTest, JumpIsDrawnAtOnceNotSlidNotUndoneByOvertakenReportsAndResetForgetsAll) {
  // Overtaken: the last report before the jump, then the first one after it.
  for (const int overtaken : {299, 300}) {
    SCOPED_TRACE(testing::Message() << "overtaken tick " << overtaken);
    OpponentSmoothing smoothing;
    const std::vector<Frame> frames =
        JitteredRun{.seed = 4, .ticks = 400, .jump_tick = 300, .overtaken_tick = overtaken}.Run(smoothing);
    const Frame* jumped = nullptr;
    for (size_t i = 0; i < frames.size(); ++i) {
      const Frame& f = frames[i];
      if (!f.shown) continue;
      ASSERT_NEAR(Off(*f.shown), f.landing ? -0.8 * kJumpX : 0, 0.01) << f.at_us;  // on one path or the other
      if (f.landing && !jumped) {  // at the landing, or already a little on from it
        EXPECT_GE(Along(*f.shown), Along(*f.landing) - 0.01) << f.at_us;
        EXPECT_LE(Along(*f.shown), Along(*f.landing) + kStep + 0.01) << f.at_us;
        jumped = &f;
      } else if (jumped) {
        const double step = Along(*f.shown) - Along(*frames[i - 1].shown);
        ASSERT_GE(step, -0.01) << f.at_us;
        ASSERT_LE(step, 2 * kStep + 0.01) << f.at_us;
      }
    }
    ASSERT_NE(jumped, nullptr);
    smoothing.Reset();
    EXPECT_EQ(smoothing.Shown(frames.back().at_us), std::nullopt);
    smoothing.Report(5, 6, frames.back().at_us);  // a new match: drawn at once, where reported
    EXPECT_EQ(smoothing.Shown(frames.back().at_us), Place(5, 6));
  }
}

}  // namespace
