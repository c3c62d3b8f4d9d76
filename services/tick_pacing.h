// The common pacing of every fixed-rate loop: stamp the tick's start, do the work, sleep
// the rest of the period; an overrun is not made up. Used by each loop on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "services/close_request.h"
#include "services/sleep_micros.h"
#include "services/wake_signal.h"

// Whole microseconds left to sleep in a tick of `rate` ticks per second that has run for
// `elapsed_ns`; 0 when the tick overran. Rates below 1 count as 1.
int64_t TickSleepMicros(int64_t elapsed_ns, int32_t rate);

class TickPacer {
 public:
  // Takes the tick's start time and reads the rate; a later change of the slot counts
  // from the next tick.
  explicit TickPacer(const std::atomic<int32_t>& rate_slot);
  // Sleeps for what is left of the tick's period.
  void Pace() const;
  // Like Pace, but returns as soon as `wake` rings; without a ring it waits a quarter of a
  // period longer than Pace would.
  void PaceOrWake(WakeSignal& wake) const;
  int32_t rate() const { return rate_; }
  // When the tick's period ends.
  std::chrono::steady_clock::time_point Due() const;

 private:
  std::chrono::steady_clock::time_point start_;
  int32_t rate_;
};

// Runs `work` once per tick until the close request is seen (tested before each tick's
// work), counting completed ticks in `counter` when one is given.
template <class Work>
void RunFixedRateLoop(const std::atomic<int32_t>& rate_slot, std::atomic<int64_t>* counter, Work&& work) {
  for (;;) {
    TickPacer tick(rate_slot);
    if (ecl.load()) return;
    work();
    if (counter != nullptr) counter->fetch_add(1, std::memory_order_relaxed);
    tick.Pace();
  }
}

// RunFixedRateLoop for a loop driven by another loop's rings (and by urgent work): a ring
// of `wake` starts the next tick at once; without rings it ticks at 4/5 of the rate.
template <class Work>
void RunWakeableLoop(const std::atomic<int32_t>& rate_slot, std::atomic<int64_t>* counter, WakeSignal& wake,
                     Work&& work) {
  for (;;) {
    TickPacer tick(rate_slot);
    if (ecl.load()) return;
    work();
    if (counter != nullptr) counter->fetch_add(1, std::memory_order_relaxed);
    tick.PaceOrWake(wake);
  }
}
