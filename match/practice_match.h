// A practice match: this side's match loops talk over an in-process link to a computer-played
// opponent, which runs on a thread of its own at the game's tick rate and answers with the
// commands a networked peer sends. Made, started and stopped by the main thread around the
// game threads' lives; the opponent is touched only by its own thread meanwhile.
#pragma once

#include <cstdint>
#include <thread>

#include "match/in_process_link.h"
#include "match/practice_opponent.h"

class PracticeMatch {
 public:
  PracticeMatch(int level, uint32_t seed);
  ~PracticeMatch();
  PracticeMatch(const PracticeMatch&) = delete;
  PracticeMatch& operator=(const PracticeMatch&) = delete;

  // Routes the match over the link, readies it and starts the opponent; before the match
  // loops start.
  void Start();
  // Once the close request is set: waits for the opponent's thread and routes the match
  // back to UDP.
  void Stop();

 private:
  void Run();

  InProcessLink link_;
  PracticeOpponent opponent_;
  std::thread thread_;
};
