// Named stopwatches in microseconds, kept in one registry (the global `timers`).
// Touched by the main, render, bullet, send, receive and bleeding threads; one mutex
// serialises all operations, reads included.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class TimerManager {
 public:
  // Steady: a wall clock stepped by the user or NTP must not freeze or skip a countdown.
  using Clock = std::chrono::steady_clock;
  using TimePoint = std::chrono::time_point<Clock, std::chrono::nanoseconds>;

  enum TimerState : int { Running = 0, Paused = 1 };

  struct Timer {
    TimePoint startTime = std::chrono::time_point_cast<std::chrono::nanoseconds>(Clock::now());
    TimePoint pauseTime{};       // informational only; nothing reads it
    int64_t accumulated = 0;     // microseconds from earlier running stretches
    TimerState state = Running;
  };

  TimerManager() = default;
  virtual ~TimerManager() = default;
  TimerManager(const TimerManager&) = delete;
  TimerManager& operator=(const TimerManager&) = delete;

  void createTimer(const std::string& id);
  uint64_t getTime(const std::string& id) const;
  bool pauseTimer(const std::string& id);
  bool resumeTimer(const std::string& id);
  bool resetTimer(const std::string& id);
  bool removeTimer(const std::string& id);
  bool hasTimer(const std::string& id) const;
  TimerState getTimerState(const std::string& id) const;
  uint64_t getTimerCount() const;
  std::vector<std::string> getAllTimerIds() const;
  uint64_t pauseAllTimers();
  uint64_t resumeAllTimers();

 protected:
  // The steady clock; tests override it to step time without sleeping.
  virtual TimePoint now() const;

 private:
  std::unordered_map<std::string, Timer> timerMap;
  mutable std::mutex mutex;
};

extern TimerManager timers;
