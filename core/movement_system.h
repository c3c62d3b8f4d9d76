// Movement state machine: classifies the last two snapshots of the movement keys and the
// gap between them into a movement state. Meant for one thread at a time (no lock); the
// "inputGap" stopwatch it reads lives in the thread-safe timer registry.
#pragma once

#include <cstdint>

class TimerManager;

// One snapshot of the movement keys, in W, A, S, D order.
struct KeyFrame {
  bool w = false;
  bool a = false;
  bool s = false;
  bool d = false;

  bool any() const { return w || a || s || d; }
  bool operator==(const KeyFrame&) const = default;
};

enum class MovementState : int { Normal = 0, BoostSlide = 1, HardStop = 2, FlashDash = 3, WallBounce = 4 };

class MovementSystem {
 public:
  // Gaps are compared as exact microsecond counts; both bounds are exclusive.
  static constexpr uint64_t kQuickGapUs = 200000;
  static constexpr uint64_t kHoldGapUs = 1000000;

  static MovementSystem* instance();

  void updateInput(const KeyFrame& frame);
  void update(float dt);
  MovementState getState() const;
  void changeState(MovementState s);
  void interrupt();

  bool judge_FlashDash();
  bool judge_HardStop();
  bool judge_BoostSlide();
  bool judge_WallBounce();
  bool isDirectionOpposite() const;

  void exec_Normal();
  void exec_BoostSlide();
  void exec_HardStop();
  void exec_FlashDash();
  void exec_WallBounce();

  // Registry holding the "inputGap" stopwatch; the global `timers` unless a test swaps in
  // one with a controlled clock.
  void useTimers(TimerManager& registry);

 private:
  MovementSystem();
  MovementSystem(const MovementSystem&) = delete;
  MovementSystem& operator=(const MovementSystem&) = delete;

  KeyFrame previous;
  KeyFrame current;
  uint64_t inputGap = 0;
  MovementState state = MovementState::Normal;
  TimerManager* gapTimers;
};

extern MovementSystem* movementSys;
