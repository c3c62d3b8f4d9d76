// Keeper of the game's short-lived background threads; any thread starts them, the main
// thread joins them when a match ends and at shutdown.
#include "services/background_threads.h"

#include <atomic>

BackgroundThreads background_threads;

BackgroundThreads::~BackgroundThreads() { JoinAll(); }

void BackgroundThreads::Start(std::function<void()> work) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::lock_guard lock(mutex_);
  ReapFinished();
  entries_.push_back(Entry{std::thread([work = std::move(work), done] {
                             struct MarkDone {
                               std::atomic<bool>& flag;
                               ~MarkDone() { flag.store(true); }
                             } mark{*done};
                             work();
                           }),
                           done});
}

void BackgroundThreads::JoinAll() {
  for (;;) {
    std::vector<Entry> entries;
    {
      std::lock_guard lock(mutex_);
      if (entries_.empty()) return;
      entries.swap(entries_);
    }
    // Joined without the lock: a thread being joined may itself start another one.
    for (Entry& entry : entries)
      if (entry.thread.joinable()) entry.thread.join();
  }
}

size_t BackgroundThreads::Count() {
  std::lock_guard lock(mutex_);
  ReapFinished();
  return entries_.size();
}

void BackgroundThreads::ReapFinished() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->done->load()) {
      it->thread.join();  // its work has returned, so this waits only for the thread's exit
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}
