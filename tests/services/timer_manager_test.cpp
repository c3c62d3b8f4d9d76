// Named stopwatches, on a stepped clock so that the arithmetic is exact (single thread).
#include "services/timer_manager.h"
#include <gtest/gtest.h>
#include <tuple>

namespace {
using namespace std::chrono_literals;

// The registry itself, with a clock that only moves when the test says so.
class TimerManagerTest : public ::testing::Test, public TimerManager {
 protected:
  TimePoint now() const override { return TimePoint{} + 1000h + offset; }
  void step(std::chrono::nanoseconds by) { offset += by; }
  std::chrono::nanoseconds offset{0};
};

TEST_F(TimerManagerTest, ExistingIdsAreKeptResetRestartsFromZeroAndMissingIdsGiveNeutralResults) {
  for (const char* id : {"kept", "reset", "removed"}) createTimer(id);
  step(40us);
  pauseTimer("kept"), pauseTimer("reset");
  createTimer("kept");  // already there: reading and state stay
  EXPECT_TRUE(resetTimer("reset"));
  EXPECT_TRUE(removeTimer("removed"));
  createTimer("removed");
  step(7us);
  EXPECT_EQ(getTimerCount(), 3u);
  EXPECT_EQ(std::make_pair(getTimerState("kept"), getTimerState("reset")), std::make_pair(Paused, Running));
  EXPECT_EQ(std::make_tuple(getTime("kept"), getTime("reset"), getTime("removed")), std::make_tuple(40u, 7u, 7u));
  EXPECT_EQ(std::make_pair(getTime("nosuch"), getTimerState("nosuch")), std::make_pair(uint64_t{0}, Paused));
  EXPECT_FALSE(pauseTimer("nosuch"));
  EXPECT_FALSE(resumeTimer("nosuch"));
  EXPECT_FALSE(resetTimer("nosuch"));
  EXPECT_FALSE(removeTimer("nosuch"));
  EXPECT_FALSE(hasTimer("nosuch"));
}

TEST_F(TimerManagerTest, PausedTimeIsNotCountedAndReadingsTruncate) {
  createTimer("");  // the empty id is an ordinary id
  step(10999ns);
  EXPECT_EQ(getTime(""), 10u);
  EXPECT_TRUE(pauseTimer(""));
  EXPECT_FALSE(pauseTimer(""));  // the second pause finds it paused
  step(500us);
  EXPECT_EQ(getTime(""), 10u);
  EXPECT_TRUE(resumeTimer(""));
  EXPECT_FALSE(resumeTimer(""));
  step(5us);
  pauseTimer("");  // a second pause adds to what the first one kept
  EXPECT_EQ(getTime(""), 15u);
}

TEST_F(TimerManagerTest, PauseAllAndResumeAllCountOnlyTimersThatChange) {
  EXPECT_EQ(pauseAllTimers(), 0u);
  for (const char* id : {"a", "b", "c"}) createTimer(id);
  step(4us);
  pauseTimer("b");
  step(6us);
  EXPECT_EQ(pauseAllTimers(), 2u);
  step(100us);
  EXPECT_EQ(resumeAllTimers(), 3u);
  EXPECT_EQ(resumeAllTimers(), 0u);
  step(1us);
  EXPECT_EQ(std::make_pair(getTime("a"), getTime("b")), std::make_pair(uint64_t{11}, uint64_t{5}));
}

TEST_F(TimerManagerTest, ClockSteppedBackBeforeStartReadsZeroInsteadOfWrapping) {
  createTimer("fresh"), createTimer("carried");
  step(25us);
  pauseTimer("carried"), resumeTimer("carried");
  step(-1s);
  EXPECT_EQ(std::make_pair(getTime("fresh"), getTime("carried")), std::make_pair(uint64_t{0}, uint64_t{25}));
  // Pausing inside the backward stretch must not fold a negative amount in either.
  EXPECT_TRUE(pauseTimer("fresh"));
  EXPECT_EQ(pauseAllTimers(), 1u);
  resumeAllTimers();
  step(3us);
  EXPECT_EQ(std::make_pair(getTime("fresh"), getTime("carried")), std::make_pair(uint64_t{3}, uint64_t{28}));
}
}  // namespace
