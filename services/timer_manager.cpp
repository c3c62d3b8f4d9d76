// Named stopwatches: the registry's operations and the global instance.
// Called from any game thread; every operation holds the registry mutex throughout
// and never calls out while holding it.
#include "services/timer_manager.h"

#include <algorithm>

TimerManager timers;

namespace {

// Microseconds of one running stretch. A test's clock may be stepped backwards past
// the start; an unclamped negative stretch would wrap the unsigned reading.
int64_t stretchMicros(TimerManager::TimePoint from, TimerManager::TimePoint to) {
  const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(to - from).count();
  return std::max<int64_t>(micros, 0);
}

}  // namespace

TimerManager::TimePoint TimerManager::now() const {
  return std::chrono::time_point_cast<std::chrono::nanoseconds>(Clock::now());
}

void TimerManager::createTimer(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex);
  if (timerMap.find(id) != timerMap.end()) return;
  Timer timer;
  timer.startTime = now();
  timerMap.emplace(id, timer);
}

uint64_t TimerManager::getTime(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mutex);
  const auto it = timerMap.find(id);
  if (it == timerMap.end()) return 0;
  const Timer& timer = it->second;
  if (timer.state == Paused) return static_cast<uint64_t>(timer.accumulated);
  return static_cast<uint64_t>(timer.accumulated + stretchMicros(timer.startTime, now()));
}

bool TimerManager::pauseTimer(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto it = timerMap.find(id);
  if (it == timerMap.end() || it->second.state != Running) return false;
  Timer& timer = it->second;
  const TimePoint at = now();
  timer.accumulated += stretchMicros(timer.startTime, at);
  timer.pauseTime = at;
  timer.state = Paused;
  return true;
}

bool TimerManager::resumeTimer(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto it = timerMap.find(id);
  if (it == timerMap.end() || it->second.state != Paused) return false;
  it->second.startTime = now();
  it->second.state = Running;
  return true;
}

bool TimerManager::resetTimer(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex);
  const auto it = timerMap.find(id);
  if (it == timerMap.end()) return false;
  Timer& timer = it->second;
  timer.startTime = now();
  timer.pauseTime = TimePoint{};
  timer.accumulated = 0;
  timer.state = Running;
  return true;
}

bool TimerManager::removeTimer(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex);
  return timerMap.erase(id) > 0;
}

bool TimerManager::hasTimer(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mutex);
  return timerMap.find(id) != timerMap.end();
}

TimerManager::TimerState TimerManager::getTimerState(const std::string& id) const {
  std::lock_guard<std::mutex> lock(mutex);
  const auto it = timerMap.find(id);
  return it == timerMap.end() ? Paused : it->second.state;
}

uint64_t TimerManager::getTimerCount() const {
  std::lock_guard<std::mutex> lock(mutex);
  return timerMap.size();
}

std::vector<std::string> TimerManager::getAllTimerIds() const {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> ids;
  ids.reserve(timerMap.size());
  for (const auto& entry : timerMap) ids.push_back(entry.first);
  return ids;
}

uint64_t TimerManager::pauseAllTimers() {
  std::lock_guard<std::mutex> lock(mutex);
  const TimePoint at = now();
  uint64_t paused = 0;
  for (auto& entry : timerMap) {
    Timer& timer = entry.second;
    if (timer.state != Running) continue;
    // pauseTime stays as it was: only a single pause records its moment.
    timer.accumulated += stretchMicros(timer.startTime, at);
    timer.state = Paused;
    ++paused;
  }
  return paused;
}

uint64_t TimerManager::resumeAllTimers() {
  std::lock_guard<std::mutex> lock(mutex);
  const TimePoint at = now();
  uint64_t resumed = 0;
  for (auto& entry : timerMap) {
    Timer& timer = entry.second;
    if (timer.state != Paused) continue;
    timer.startTime = at;
    timer.state = Running;
    ++resumed;
  }
  return resumed;
}
