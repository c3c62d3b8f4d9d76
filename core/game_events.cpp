// Event delivery: raises take the subscriber list's shared lock on the raising thread; each
// queue has its own lock between its raisers and its one drainer.
#include "core/game_events.h"

GameEvents game_events;

bool GameEventQueue::Push(const GameEvent& event) {
  std::lock_guard lock(mutex_);
  if (events_.size() >= capacity_) {
    ++dropped_;
    return false;
  }
  events_.push_back(event);
  return true;
}

void GameEventQueue::TakeAll(std::vector<GameEvent>& out) {
  std::lock_guard lock(mutex_);
  out.insert(out.end(), events_.begin(), events_.end());
  events_.clear();
}

uint64_t GameEventQueue::dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void GameEvents::AddHandler(Handler handler) {
  std::unique_lock lock(mutex_);
  handlers_.push_back(std::move(handler));
}

void GameEvents::AddQueue(GameEventQueue& queue) {
  std::unique_lock lock(mutex_);
  queues_.push_back(&queue);
}

void GameEvents::Clear() {
  std::unique_lock lock(mutex_);
  handlers_.clear();
  queues_.clear();
}

void GameEvents::Raise(const GameEvent& event) const {
  std::shared_lock lock(mutex_);
  for (const Handler& handler : handlers_) handler(event);
  for (GameEventQueue* queue : queues_) queue->Push(event);
}
