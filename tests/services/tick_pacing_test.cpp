// Tick pacing: sleep budgets, signal-interrupted sleeps (each signal aimed at a sleep the kernel
// shows in progress, not at a moment) and the loop's stop on close. The test thread and one
// sleeper.
#include "services/tick_pacing.h"
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <thread>
#include "support/thread_state.h"

namespace {
using thread_state::BlockedIn;
std::atomic<int> g_signals_handled{0};

TEST(TickSleepMicros, SleepsTheRestOfThePeriodAndNeverMakesUpAnOverrun) {
  const int64_t period_ns = 1'000'000'000 / 65;
  const struct { int64_t elapsed_ns; int32_t rate; int64_t sleep_us; } cases[] = {
      {2'000'000, 1, 998'000}, {2'000'000, 65, 13'384}, {period_ns + 1, 65, 0}, {5 * period_ns, 65, 0},
      {period_ns - 500, 65, 0},  // less than a microsecond left
      {0, 0, 1'000'000}, {0, -5, 1'000'000}};  // counted as one per second
  for (const auto& c : cases) EXPECT_EQ(TickSleepMicros(c.elapsed_ns, c.rate), c.sleep_us) << c.elapsed_ns << " " << c.rate;
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
