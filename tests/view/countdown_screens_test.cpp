// The countdown screens' texts: whole seconds from five down to zero, and the score line.
#include "view/countdown_screens.h"

#include <gtest/gtest.h>

namespace {

TEST(CountdownScreens, CountFiveDownToZeroInWholeSecondsAndShowTheScore) {
  const std::pair<uint64_t, int> cases[] = {{0, 5}, {999'999, 5}, {1'000'000, 4}, {5'000'001, 0}, {60'000'000, 0}};
  for (auto [elapsed_us, shown] : cases) EXPECT_EQ(CountdownSecondsLeft(elapsed_us), shown) << elapsed_us;
  EXPECT_EQ(CountdownScoreText(2, 4), "The current score - My:2 - Other:4");
}

}  // namespace
