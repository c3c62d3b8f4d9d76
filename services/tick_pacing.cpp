// Tick pacing shared by every fixed-rate loop (called on each loop's own thread).
#include "services/tick_pacing.h"

#include <algorithm>

int64_t TickSleepMicros(int64_t elapsed_ns, int32_t rate) {
  const double period_ns = (1.0 / std::max<int32_t>(rate, 1)) * 1e9;
  const double budget_ns = period_ns - static_cast<double>(elapsed_ns);
  if (budget_ns <= 0) return 0;
  return static_cast<int64_t>(budget_ns / 1000);
}

TickPacer::TickPacer(const std::atomic<int32_t>& rate_slot)
    : start_(std::chrono::steady_clock::now()), rate_(rate_slot.load()) {}

void TickPacer::Pace() const {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  SleepMicros(TickSleepMicros(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count(), rate_));
}

std::chrono::steady_clock::time_point TickPacer::Due() const {
  return start_ + std::chrono::nanoseconds(static_cast<int64_t>(1e9 / std::max<int32_t>(rate_, 1)));
}

void TickPacer::PaceOrWake(WakeSignal& wake) const {
  // A quarter of a period of slack: a loop woken at its own rate by another loop follows that
  // loop's rings instead of ticking once more just before each of them.
  const auto period = std::chrono::nanoseconds(static_cast<int64_t>(1.25e9 / std::max<int32_t>(rate_, 1)));
  wake.WaitUntil(start_ + period);
}
