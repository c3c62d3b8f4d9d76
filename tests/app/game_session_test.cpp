// The once-per-second rate log: ten lines, one per tick counter, as mean rates since start-up,
// in the log file and on the console.
// Runs in a working directory of its own, so ./logs holds only this test's lines. Test thread
// only.
#include "app/game_session.h"
#include "records/game_records.h"
#include "services/log_management.h"
#include "services/timer_manager.h"
#include "support/log_workdir.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
using RateLog = LogWorkdirTest;

TEST_F(RateLog, WritesOneMeanRateLinePerCounter) {
  timers.createTimer("Runtime duration");
  for (int i = 0; i < 1000 && timers.getTime("Runtime duration") == 0; ++i) std::this_thread::yield();
  frame[kFrameMainLoop] = 50, frame[kFramePhysicsLoop] = 7;
  const double seconds_before = timers.getTime("Runtime duration") / 1e6;
  ASSERT_GT(seconds_before, 0);
  testing::internal::CaptureStdout();
  WriteRateLog();
  EXPECT_NE(testing::internal::GetCapturedStdout().find("| DEBUG | _frame:0_value:"), std::string::npos)
      << "the rate lines reach the console too";
  const double seconds_after = timers.getTime("Runtime duration") / 1e6;
  std::vector<LogData> records(20);
  ASSERT_EQ(LogManagement::getInstance().readLog("DEBUG.log", records.data(), 20), 10);
  for (int i = 0; i < 10; ++i) {
    const std::string& line = records[i].message;
    const std::string key = "| DEBUG | _frame:" + std::to_string(i) + "_value:";
    ASSERT_NE(line.find(key), std::string::npos) << line;
    const std::string number = line.substr(line.find(key) + key.size());
    const size_t point = number.find('.');
    EXPECT_TRUE(point != std::string::npos && point > 0 && number.size() == point + 7 &&
                number.find_first_not_of("0123456789.") == std::string::npos)
        << line;  // digits, a point, six decimals
    // The counter over the runtime read when the line was written.
    const double value = std::strtod(line.c_str() + line.find(key) + key.size(), nullptr);
    EXPECT_LE(value, frame[i] / seconds_before + 1e-6) << line;
    EXPECT_GE(value, frame[i] / seconds_after - 1e-6) << line;
  }
}
}  // namespace
