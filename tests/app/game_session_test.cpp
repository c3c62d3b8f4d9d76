// The once-per-second rate log: ten lines, one per tick counter, as mean rates since start-up.
#include "app/game_session.h"
#include "records/game_records.h"
#include "services/log_management.h"
#include "services/timer_manager.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
TEST(RateLog, WritesOneMeanRateLinePerCounter) {
  std::vector<LogData> records(100000);
  const auto read = [&] { return LogManagement::getInstance().readLog("DEBUG.log", records.data(), 100000); };
  timers.createTimer("Runtime duration");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  frame[0] = 50, frame[3] = 7;
  const int before = read();
  WriteRateLog();
  const double seconds_after = timers.getTime("Runtime duration") / 1e6;
  ASSERT_EQ(read(), before + 10);
  for (int i = 0; i < 10; ++i) {
    const std::string& line = records[before + i].message;
    const std::string key = "| DEBUG | _frame:" + std::to_string(i) + "_value:";
    ASSERT_NE(line.find(key), std::string::npos) << line;
    // The counter over the runtime read when the line was written, printed with six decimals.
    const double value = std::strtod(line.c_str() + line.find(key) + key.size(), nullptr);
    EXPECT_TRUE(value <= frame[i] / 0.2 + 1e-6 && value >= frame[i] / seconds_after - 1e-6) << line;
  }
  EXPECT_NE(records[before + 7].message.find("_frame:7_value:0.000000"), std::string::npos);
}
}  // namespace
