// The movement state machine: the fixture doubles as a stopwatch registry whose clock
// moves only when a test says so, which pins the gap thresholds at their edges. Single-threaded.
#include "core/movement_system.h"
#include "services/timer_manager.h"
#include <gtest/gtest.h>

namespace {

using S = MovementState;
const KeyFrame kNone{}, kW{true}, kA{false, true}, kWD{true, false, false, true};

class MovementSystemTest : public ::testing::Test, public TimerManager {
 protected:
  void SetUp() override { sys->useTimers(*this); }
  void TearDown() override { sys->useTimers(timers); }
  TimePoint now() const override { return TimePoint{} + std::chrono::hours(1000) + offset; }

  S classify(const KeyFrame& first, const KeyFrame& second, int gapUs) {
    sys->updateInput(first);
    offset += std::chrono::microseconds(gapUs);
    sys->updateInput(second);
    sys->update(0.016f);
    return sys->getState();
  }

  std::chrono::microseconds offset{0};
  MovementSystem* sys = MovementSystem::instance();
};

TEST_F(MovementSystemTest, ClassifiesByKeysAndExclusiveGapThresholds) {
  const struct { KeyFrame first, second; int gap; S want; } cases[] = {
      {kW, kW, 0, S::FlashDash},          {kW, kW, 199999, S::FlashDash},     {kW, kW, 200000, S::WallBounce},
      {kW, kNone, 100000, S::HardStop},   {kW, kA, 199999, S::HardStop},      {kW, kNone, 200000, S::WallBounce},
      {kNone, kW, 100000, S::WallBounce}, {kNone, kNone, 0, S::WallBounce},   {kWD, kWD, 500000, S::WallBounce},
      {kW, kW, 1000000, S::WallBounce},   {kW, kW, 1000001, S::BoostSlide},   {kWD, kWD, 1500000, S::BoostSlide},
      {kW, kA, 1500000, S::WallBounce},
  };
  for (const auto& c : cases) EXPECT_EQ(classify(c.first, c.second, c.gap), c.want) << "gap " << c.gap;
}

}  // namespace
