// Tick pacing: sleep budgets, signal-interrupted sleeps and the loop's stop on close.
#include "services/tick_pacing.h"
#include <gtest/gtest.h>
#include <pthread.h>
#include <chrono>
#include <csignal>
#include <thread>

namespace {
TEST(TickSleepMicros, SleepsTheRestOfThePeriodAndNeverMakesUpAnOverrun) {
  for (int32_t rate : {1, 30, 65, 144, 1000}) {
    const int64_t elapsed_ns = 2'000'000 / rate;  // sleep fills the period to within the truncated microsecond
    EXPECT_NEAR(elapsed_ns / 1000.0 + TickSleepMicros(elapsed_ns, rate), 1e6 / rate, 1.0) << "rate " << rate;
  }
  const int64_t period_ns = 1'000'000'000 / 65;
  // Overruns, and less than a microsecond left, sleep not at all.
  for (int64_t elapsed : {period_ns + 1, 5 * period_ns, period_ns - 500}) EXPECT_EQ(TickSleepMicros(elapsed, 65), 0);
  EXPECT_EQ(TickSleepMicros(0, 0), 1'000'000);  // rates below one count as one per second
  EXPECT_EQ(TickSleepMicros(0, -5), 1'000'000);
}

TEST(SleepMicros, ResumesAfterASignalForTheRemainingTime) {
  struct sigaction action {};
  action.sa_handler = [](int) {};  // no SA_RESTART: nanosleep returns EINTR
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
  const auto start = std::chrono::steady_clock::now();
  std::thread sleeper([] { SleepMicros(300000); });
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pthread_kill(sleeper.native_handle(), SIGUSR1);
  }
  sleeper.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(RunFixedRateLoop, CountsEachTickAndStopsBeforeWorkOnceCloseIsRequested) {
  std::atomic<int32_t> rate{1000};
  for (int closeAfter : {7, 0}) {
    std::atomic<int64_t> counter{0};
    int runs = 0;
    ecl = closeAfter == 0;
    RunFixedRateLoop(rate, &counter, [&] { ecl = ++runs == closeAfter; });
    EXPECT_EQ(runs, closeAfter);
    EXPECT_EQ(counter.load(), closeAfter);
  }
  ecl = false;
}
}  // namespace
