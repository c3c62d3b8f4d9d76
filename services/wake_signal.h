// A doorbell for a paced loop: other threads ring it, the loop waits on it until its next
// tick is due or the bell rings, whichever comes first. Any thread rings; one loop waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class WakeSignal {
 public:
  void Ring() {
    {
      std::lock_guard lock(mutex_);
      rung_ = true;
    }
    condition_.notify_one();
  }

  // Returns at `deadline`, or earlier once rung; a ring is used up by the wait that sees it.
  // True when it was rung.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    condition_.wait_until(lock, deadline, [this] { return rung_; });
    const bool rung = rung_;
    rung_ = false;
    return rung;
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool rung_ = false;
};
