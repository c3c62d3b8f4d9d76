// Named stopwatches, on a stepped clock so that the arithmetic is exact (single thread).
#include "services/timer_manager.h"
#include <gtest/gtest.h>
#include <tuple>

namespace {
using namespace std::chrono_literals;
using Times = std::tuple<uint64_t, uint64_t, uint64_t>;

class TimerManagerTest : public ::testing::Test, public TimerManager {
 protected:
  TimePoint now() const override { return TimePoint{} + 1000h + offset; }
  Times times(const char* a, const char* b, const char* c = "nosuch") { return {getTime(a), getTime(b), getTime(c)}; }
  std::chrono::nanoseconds offset{0};
};

TEST_F(TimerManagerTest, CreateKeepsAnExistingIdResetRestartsFromZeroAndMissingIdsGiveNeutralResults) {
  for (const char* id : {"kept", "reset", "removed"}) createTimer(id);
  offset += 40us;
  pauseTimer("kept"), pauseTimer("reset");
  createTimer("kept");  // already there: reading and state stay
  EXPECT_TRUE(resetTimer("reset"));
  EXPECT_TRUE(removeTimer("removed"));
  createTimer("removed");
  offset += 7us;
  EXPECT_EQ(getTimerCount(), 3u);
  EXPECT_EQ(std::make_pair(getTimerState("kept"), getTimerState("reset")), std::make_pair(Paused, Running));
  EXPECT_EQ(times("kept", "reset", "removed"), Times(40, 7, 7));
  EXPECT_EQ(std::make_tuple(pauseTimer("nosuch"), resumeTimer("nosuch"), resetTimer("nosuch"), removeTimer("nosuch"),
                            hasTimer("nosuch"), getTime("nosuch"), getTimerState("nosuch")),
            std::make_tuple(false, false, false, false, false, uint64_t{0}, Paused));
}

TEST_F(TimerManagerTest, PausedTimeIsNotCountedReadingsTruncateAndTheAllFormsCountOnlyTimersThatChange) {
  EXPECT_EQ(pauseAllTimers(), 0u);
  for (const char* id : {"", "b", "c"}) createTimer(id);  // the empty id is an ordinary id
  offset += 4999ns;
  EXPECT_EQ(getTime(""), 4u);
  EXPECT_TRUE(pauseTimer("b"));
  EXPECT_FALSE(pauseTimer("b"));
  offset += 6us;
  EXPECT_EQ(pauseAllTimers(), 2u);
  offset += 100us;
  EXPECT_TRUE(resumeTimer("b"));
  EXPECT_FALSE(resumeTimer("b"));
  EXPECT_EQ(resumeAllTimers(), 2u);
  EXPECT_EQ(resumeAllTimers(), 0u);
  offset += 1us;
  EXPECT_EQ(times("", "b"), Times(11, 5, 0));  // pauses add to what earlier ones kept
}

TEST_F(TimerManagerTest, ASecondPauseLaterOnNeitherAddsNorLosesTime) {
  createTimer("t");
  offset += 10us;
  EXPECT_TRUE(pauseTimer("t"));
  offset += 20us;
  EXPECT_FALSE(pauseTimer("t"));
  EXPECT_EQ(pauseAllTimers(), 0u);
  offset += 30us;
  EXPECT_EQ(getTime("t"), 10u);
  EXPECT_TRUE(resumeTimer("t"));
  offset += 5us;
  EXPECT_EQ(getTime("t"), 15u);
}

TEST_F(TimerManagerTest, ClockSteppedBackBeforeStartReadsZeroInsteadOfWrapping) {
  createTimer("fresh"), createTimer("carried");
  offset += 25us;
  pauseTimer("carried"), resumeTimer("carried");
  offset -= 1s;
  EXPECT_EQ(times("fresh", "carried"), Times(0, 25, 0));
  EXPECT_TRUE(pauseTimer("fresh"));  // pausing inside the backward stretch folds in nothing negative
  EXPECT_EQ(pauseAllTimers(), 1u);
  resumeAllTimers();
  offset += 3us;
  EXPECT_EQ(times("fresh", "carried"), Times(3, 28, 0));
}
}  // namespace
