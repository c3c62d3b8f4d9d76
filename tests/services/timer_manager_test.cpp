// Tests for the named stopwatch registry: a stepped clock pins the arithmetic exactly,
// one case on the global registry checks the real wall clock. Single-threaded.
#include "services/timer_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Registry whose clock only moves when the test says so.
class SteppedTimers : public TimerManager {
 public:
  void step(std::chrono::nanoseconds by) { offset += by; }

 protected:
  TimePoint now() const override { return TimePoint{} + 1000h + offset; }

 private:
  std::chrono::nanoseconds offset{0};
};

class TimerManagerTest : public ::testing::Test {
 protected:
  SteppedTimers reg;
};

TEST_F(TimerManagerTest, CreatingAnExistingIdKeepsItsReadingAndState) {
  reg.createTimer("Energy recovery");
  reg.step(40us);
  reg.pauseTimer("Energy recovery");
  reg.createTimer("Energy recovery");
  reg.step(10us);
  EXPECT_EQ(reg.getTime("Energy recovery"), 40u);
  EXPECT_EQ(reg.getTimerState("Energy recovery"), TimerManager::Paused);
  EXPECT_EQ(reg.getTimerCount(), 1u);
}

TEST_F(TimerManagerTest, MissingIdGivesNeutralResults) {
  EXPECT_EQ(reg.getTime("nosuch"), 0u);
  EXPECT_EQ(reg.getTimerState("nosuch"), TimerManager::Paused);
  EXPECT_FALSE(reg.pauseTimer("nosuch") || reg.resumeTimer("nosuch") || reg.resetTimer("nosuch") ||
               reg.removeTimer("nosuch") || reg.hasTimer("nosuch"));
  EXPECT_EQ(reg.pauseAllTimers(), 0u);
}

TEST_F(TimerManagerTest, PausedTimeIsNotCountedAndReadingsTruncate) {
  reg.createTimer("");  // the empty id is an ordinary id
  reg.step(10999ns);
  EXPECT_EQ(reg.getTime(""), 10u);
  EXPECT_TRUE(reg.pauseTimer(""));
  EXPECT_FALSE(reg.pauseTimer(""));
  reg.step(500us);
  EXPECT_EQ(reg.getTime(""), 10u);
  EXPECT_TRUE(reg.resumeTimer(""));
  EXPECT_FALSE(reg.resumeTimer(""));
  reg.step(5us);
  EXPECT_EQ(reg.getTime(""), 15u);
  reg.pauseTimer("");  // a second pause adds to what the first one kept
  EXPECT_EQ(reg.getTime(""), 15u);
}

TEST_F(TimerManagerTest, ResetRunsAPausedTimerFromZeroAndRemovedIdsStartAfresh) {
  reg.createTimer("reset");
  reg.createTimer("removed");
  reg.step(30us);
  reg.pauseTimer("reset");
  EXPECT_TRUE(reg.resetTimer("reset"));
  EXPECT_TRUE(reg.removeTimer("removed"));
  reg.createTimer("removed");
  reg.step(7us);
  EXPECT_EQ(reg.getTimerState("reset"), TimerManager::Running);
  EXPECT_EQ(reg.getTime("reset"), 7u);
  EXPECT_EQ(reg.getTime("removed"), 7u);
}

TEST_F(TimerManagerTest, PauseAllAndResumeAllCountOnlyTimersThatChange) {
  for (const char* id : {"a", "b", "c"}) reg.createTimer(id);
  reg.step(4us);
  reg.pauseTimer("b");
  reg.step(6us);
  EXPECT_EQ(reg.pauseAllTimers(), 2u);
  reg.step(100us);
  EXPECT_EQ(reg.resumeAllTimers(), 3u);
  EXPECT_EQ(reg.resumeAllTimers(), 0u);
  reg.step(1us);
  EXPECT_EQ(reg.getTime("a"), 11u);
  EXPECT_EQ(reg.getTime("b"), 5u);

  std::vector<std::string> ids = reg.getAllTimerIds();
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(TimerManagerTest, ClockSteppedBackBeforeStartReadsZeroInsteadOfWrapping) {
  reg.createTimer("fresh");
  reg.createTimer("carried");
  reg.step(25us);
  reg.pauseTimer("carried");
  reg.resumeTimer("carried");
  reg.step(-1s);
  EXPECT_EQ(reg.getTime("fresh"), 0u);
  EXPECT_EQ(reg.getTime("carried"), 25u);

  // Pausing inside the backward stretch must not fold a negative amount in either.
  EXPECT_TRUE(reg.pauseTimer("fresh"));
  EXPECT_EQ(reg.pauseAllTimers(), 1u);
  reg.resumeAllTimers();
  reg.step(3us);
  EXPECT_EQ(reg.getTime("fresh"), 3u);
  EXPECT_EQ(reg.getTime("carried"), 28u);
}

TEST(GlobalTimersTest, RealClockRunsWhileRunningAndHoldsStillWhilePaused) {
  timers.createTimer("stopwatch");
  std::this_thread::sleep_for(20ms);
  EXPECT_GE(timers.getTime("stopwatch"), 20000u);

  ASSERT_TRUE(timers.pauseTimer("stopwatch"));
  const uint64_t paused = timers.getTime("stopwatch");
  std::this_thread::sleep_for(10ms);
  EXPECT_EQ(timers.getTime("stopwatch"), paused);

  ASSERT_TRUE(timers.resumeTimer("stopwatch"));
  std::this_thread::sleep_for(10ms);
  EXPECT_GE(timers.getTime("stopwatch"), paused + 10000u);
}

}  // namespace
