// Tick pacing: sleep budgets, signal-interrupted sleeps and the loop's stop on close.
#include "app/tick_pacing.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double PeriodMicros(int32_t rate) { return 1e6 / rate; }

TEST(TickSleepMicros, SleepsTheRestOfThePeriod) {
  for (int32_t rate : {1, 30, 65, 144, 1000}) {
    const int64_t elapsed_ns = 2'000'000 / rate;  // a small part of the period
    const int64_t sleep = TickSleepMicros(elapsed_ns, rate);
    // Elapsed time plus sleep fills the period to within the truncated microsecond.
    EXPECT_NEAR(elapsed_ns / 1000.0 + sleep, PeriodMicros(rate), 1.0) << "rate " << rate;
  }
}

TEST(TickSleepMicros, OverrunTicksDoNotSleepOrCatchUp) {
  const int64_t period_ns = 1'000'000'000 / 65;
  EXPECT_EQ(TickSleepMicros(period_ns + 1, 65), 0);
  EXPECT_EQ(TickSleepMicros(5 * period_ns, 65), 0);
  // Less than a microsecond left rounds down to no sleep at all.
  EXPECT_EQ(TickSleepMicros(period_ns - 500, 65), 0);
}

TEST(TickSleepMicros, RatesBelowOneCountAsOnePerSecond) {
  EXPECT_EQ(TickSleepMicros(0, 0), TickSleepMicros(0, 1));
  EXPECT_EQ(TickSleepMicros(0, -5), TickSleepMicros(0, 1));
  EXPECT_GT(TickSleepMicros(0, 0), 0);
}

TEST(TickPacer, RateChangeCountsFromTheNextTick) {
  std::atomic<int32_t> slot{65};
  TickPacer current(slot);
  slot = 20;
  EXPECT_EQ(current.rate(), 65);
  EXPECT_EQ(TickPacer(slot).rate(), 20);
}

extern "C" void IgnoreSignal(int) {}

TEST(SleepMicros, ResumesAfterASignalForTheRemainingTime) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: nanosleep returns EINTR
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);

  const auto start = Clock::now();
  std::thread sleeper([] { SleepMicros(300000); });
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pthread_kill(sleeper.native_handle(), SIGUSR1);
  }
  sleeper.join();
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
}

class FixedRateLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { ecl = false; }
  void TearDown() override { ecl = false; }
  std::atomic<int32_t> rate{1000};
  std::atomic<int64_t> counter{0};
};

TEST_F(FixedRateLoopTest, CountsEachTickUntilCloseIsRequested) {
  int work_runs = 0;
  RunFixedRateLoop(rate, &counter, [&] {
    if (++work_runs == 7) ecl = true;
  });
  EXPECT_EQ(work_runs, 7);
  EXPECT_EQ(counter.load(), 7);
}

TEST_F(FixedRateLoopTest, DoesNoWorkOnceCloseIsRequested) {
  ecl = true;
  int work_runs = 0;
  RunFixedRateLoop(rate, &counter, [&] { ++work_runs; });
  EXPECT_EQ(work_runs, 0);
  EXPECT_EQ(counter.load(), 0);
}

}  // namespace
