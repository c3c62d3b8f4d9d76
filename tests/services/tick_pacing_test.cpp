// Tick pacing: sleep budgets, signal-interrupted sleeps and the loop's stop on close.
// The signal case aims each signal at a sleep the kernel shows in progress, not at a moment.
#include "services/tick_pacing.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "support/thread_state.h"

namespace {
using thread_state::BlockedIn;
std::atomic<int> g_signals_handled{0};

TEST(TickSleepMicros, SleepsTheRestOfThePeriodAndNeverMakesUpAnOverrun) {
  for (int32_t rate : {1, 65, 1000}) {
    const int64_t elapsed_ns = 2'000'000 / rate;  // sleep fills the period to within the truncated microsecond
    EXPECT_NEAR(elapsed_ns / 1000.0 + TickSleepMicros(elapsed_ns, rate), 1e6 / rate, 1.0) << "rate " << rate;
  }
  const int64_t period_ns = 1'000'000'000 / 65;
  // Overruns, and less than a microsecond left, sleep not at all.
  for (int64_t elapsed : {period_ns + 1, 5 * period_ns, period_ns - 500}) EXPECT_EQ(TickSleepMicros(elapsed, 65), 0);
  for (int32_t rate : {0, -5}) EXPECT_EQ(TickSleepMicros(0, rate), 1'000'000) << rate;  // counted as one per second
}

TEST(SleepMicros, ResumesAfterASignalForTheRemainingTime) {
  struct sigaction action {};
  action.sa_handler = [](int) { ++g_signals_handled; };  // no SA_RESTART: nanosleep returns EINTR
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
  std::atomic<pid_t> tid{0};
  std::atomic<bool> done{false};
  const auto start = std::chrono::steady_clock::now();
  std::thread sleeper([&] { tid = gettid(), SleepMicros(500000), done = true; });
  // Up to three signals, each once the previous one is handled and the thread sleeps again.
  for (int sent = 0, polls = 0; sent < 3 && !done && polls < 5000; ++polls) {
    const long call = tid != 0 && g_signals_handled == sent ? BlockedIn(tid) : -1;
    if (call == SYS_clock_nanosleep || call == SYS_nanosleep)
      pthread_kill(sleeper.native_handle(), SIGUSR1), ++sent;
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sleeper.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  EXPECT_GE(g_signals_handled, 1);  // at least one sleep really was cut short
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
