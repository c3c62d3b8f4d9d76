// Two real sides of a match (this process and a match_peer) through a relay that loses,
// copies and delays datagrams, with the periodic resend off. How fast is the benchmark's to judge.
#include "support/lossy_match_run.h"

#include <gtest/gtest.h>

namespace {

void PlayAndCheck(double loss) {
  LossyMatchRun run({.loss = loss, .hits = 500, .falls = 50, .maze_seeds = {3, 4, 5}, .cell_gap_ms = 10});
  const LossyMatchFigures f = run.Play();
  ASSERT_EQ(f.error, "");

  EXPECT_EQ(f.hits, 500);
  EXPECT_EQ(f.hits_missed, 0);
  EXPECT_EQ(f.hits_applied_twice, 0);

  EXPECT_EQ(f.falls, 50);
  EXPECT_EQ(f.victories, f.falls);
  EXPECT_EQ(f.extra_victories, 0);
  EXPECT_EQ(f.score_ms.size(), 50u);
  EXPECT_EQ(f.final_kills, 50);
  EXPECT_EQ(f.final_deaths, 0);
  EXPECT_EQ(f.peer_kills, 0);
  EXPECT_EQ(f.peer_deaths, 50);

  EXPECT_GE(f.walls, 200);
  EXPECT_EQ(f.walls_missed, 0);
  EXPECT_EQ(f.walls_closed_again, 0);

  EXPECT_GT(f.positions, 200);
  EXPECT_EQ(f.moved_back, 0);
}

TEST(LossyMatchTest, UnderTwentyPercentLossEveryHitFallAndWallArrivesOnce) { PlayAndCheck(0.2); }

TEST(LossyMatchTest, OnALosslessButSlowLinkTheSameHolds) { PlayAndCheck(0.0); }

}  // namespace
