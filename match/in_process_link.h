// A datagram channel inside one process, between the player's match loops and a practice
// opponent: two bounded queues, one each way. Any thread may use either end; each queue is
// guarded by its own lock.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "match/match_link.h"

class InProcessLink {
 public:
  // More than a second of the busiest traffic; beyond it the oldest goes, as a datagram lost.
  static constexpr size_t kCapacity = 4096;

  MatchLink& PlayerEnd() { return player_end_; }
  MatchLink& OpponentEnd() { return opponent_end_; }

 private:
  struct Queue {
    std::mutex mutex;  // guards texts
    std::deque<std::string> texts;
    void Push(const std::string& text);
    void TakeAll(std::vector<std::string>& out);
  };
  class End : public MatchLink {
   public:
    End(Queue& out, Queue& in) : out_(out), in_(in) {}
    void Send(const std::string& datagram) override { out_.Push(datagram); }
    void Take(std::vector<std::string>& arrived) override { in_.TakeAll(arrived); }

   private:
    Queue& out_;
    Queue& in_;
  };

  Queue to_opponent_, to_player_;
  End player_end_{to_opponent_, to_player_};
  End opponent_end_{to_player_, to_opponent_};
};
