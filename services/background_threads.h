// Short-lived background threads (window effects, bleeding) that the game starts and
// forgets, yet which must all have ended before main returns. Start runs on any game
// thread; JoinAll on the main thread when a match ends and at shutdown, after the close
// request is set.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BackgroundThreads {
 public:
  BackgroundThreads() = default;
  ~BackgroundThreads();
  BackgroundThreads(const BackgroundThreads&) = delete;
  BackgroundThreads& operator=(const BackgroundThreads&) = delete;

  // Runs `work` on a thread of its own. Threads that have finished are joined here, so the
  // list stays as short as the number still running. Throws like std::thread when none can
  // be started.
  void Start(std::function<void()> work);
  // Waits for every thread started so far. The caller makes them stop first (the close
  // request), since this waits as long as they run.
  void JoinAll();
  // Threads started and not yet joined.
  size_t Count();

 private:
  struct Entry {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  void ReapFinished();  // under mutex_

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

extern BackgroundThreads background_threads;
