// Movement state machine: snapshot bookkeeping and the ordered state tests.
// Single-threaded by contract; only the timer registry it calls is shared.
#include "core/movement_system.h"

#include "records/timer_names.h"
#include "services/timer_manager.h"

MovementSystem* movementSys = MovementSystem::instance();

MovementSystem::MovementSystem() : gapTimers(&timers) {}

MovementSystem* MovementSystem::instance() {
  static MovementSystem single;
  return &single;
}

void MovementSystem::useTimers(TimerManager& registry) { gapTimers = &registry; }

void MovementSystem::updateInput(const KeyFrame& frame) {
  // The first call creates the stopwatch, so its gap reads about zero.
  gapTimers->createTimer(kInputGapTimer);
  previous = current;
  current = frame;
  inputGap = gapTimers->getTime(kInputGapTimer);
  gapTimers->resetTimer(kInputGapTimer);
}

void MovementSystem::update(float /*dt*/) {
  if (judge_FlashDash()) {
    state = MovementState::FlashDash;
  } else if (judge_HardStop()) {
    state = MovementState::HardStop;
  } else if (judge_BoostSlide()) {
    state = MovementState::BoostSlide;
  } else if (judge_WallBounce()) {
    state = MovementState::WallBounce;
  }
}

MovementState MovementSystem::getState() const { return state; }

void MovementSystem::changeState(MovementState s) { state = s; }

void MovementSystem::interrupt() { state = MovementState::Normal; }

bool MovementSystem::judge_FlashDash() {
  return previous == current && current.any() && inputGap < kQuickGapUs;
}

bool MovementSystem::judge_HardStop() { return previous.any() && inputGap < kQuickGapUs; }

bool MovementSystem::judge_BoostSlide() {
  return previous == current && current.any() && inputGap > kHoldGapUs;
}

// Placeholder rule: until wall contact is tracked every leftover input counts as a bounce.
bool MovementSystem::judge_WallBounce() { return true; }

bool MovementSystem::isDirectionOpposite() const { return true; }

// The per-state actions are hooks with no effect yet.
void MovementSystem::exec_Normal() {}
void MovementSystem::exec_BoostSlide() {}
void MovementSystem::exec_HardStop() {}
void MovementSystem::exec_FlashDash() {}
void MovementSystem::exec_WallBounce() {}
