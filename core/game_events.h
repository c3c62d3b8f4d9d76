// What happens in the game, as the rules report it: a shot, a hit given or taken, a wall
// cell cleared, a fall, a round won. The rules raise events on the control, bullet, main and
// receive threads; the top layer subscribes the consumers (effects, sound, network)
// before the game threads start and removes them after the threads end. A handler runs at
// once on the raising thread; a queue is drained by its owner's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <vector>

enum class GameEventKind { kFired, kHitGiven, kHitTaken, kCellCleared, kFell, kRoundWon };

struct GameEvent {
  GameEventKind kind = GameEventKind::kFired;
  // kFired: the bullet's launch point; kHitGiven: the opponent's centre; kHitTaken and
  // kFell: this side's centre; kCellCleared: the cell's centre.
  float x = 0, y = 0;
  // kFired: the bullet's velocity in pixels per bullet tick; kHitGiven and kHitTaken: the
  // unit direction of the knock.
  float vx = 0, vy = 0;
  int cell = -1;  // kCellCleared: the cell's index
};

// A bounded queue of events for one consumer, filled by any raising thread and emptied by
// the consumer's own thread. Full means the consumer stopped draining: the newest event is
// refused and counted rather than growing without end.
class GameEventQueue {
 public:
  explicit GameEventQueue(size_t capacity = 1024) : capacity_(capacity) {}
  bool Push(const GameEvent& event);
  // Appends every queued event to `out`, oldest first, and empties the queue.
  void TakeAll(std::vector<GameEvent>& out);
  uint64_t dropped() const;

 private:
  const size_t capacity_;
  mutable std::mutex mutex_;  // guards events_ and dropped_
  std::deque<GameEvent> events_;
  uint64_t dropped_ = 0;
};

class GameEvents {
 public:
  using Handler = std::function<void(const GameEvent&)>;
  // Handlers must be quick and safe on any rules thread.
  void AddHandler(Handler handler);
  void AddQueue(GameEventQueue& queue);
  // Drops every handler and queue; called once the raising threads have ended.
  void Clear();
  void Raise(const GameEvent& event) const;

 private:
  mutable std::shared_mutex mutex_;  // subscribers change rarely, raises share the lock
  std::vector<Handler> handlers_;
  std::vector<GameEventQueue*> queues_;
};

extern GameEvents game_events;
