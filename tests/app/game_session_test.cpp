// The once-per-second rate log: ten lines, one per tick counter, as mean rates since start-up.
#include "app/game_session.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/game_records.h"
#include "services/log_management.h"
#include "services/timer_manager.h"

namespace {

std::vector<LogData> ReadDebugRecords() {
  std::vector<LogData> records(100000);
  const int n = LogManagement::getInstance().readLog("DEBUG.log", records.data(), static_cast<int>(records.size()));
  records.resize(n);
  return records;
}

double LoggedValue(const std::string& line, int counter) {
  const std::string key = "_frame:" + std::to_string(counter) + "_value:";
  const size_t at = line.find(key);
  return at == std::string::npos ? -1.0 : std::strtod(line.c_str() + at + key.size(), nullptr);
}

TEST(RateLog, WritesOneMeanRateLinePerCounter) {
  timers.createTimer("Runtime duration");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  frame[0] = 50;
  frame[3] = 7;
  const size_t before = ReadDebugRecords().size();
  WriteRateLog();
  const double seconds_after = timers.getTime("Runtime duration") / 1e6;

  const std::vector<LogData> records = ReadDebugRecords();
  ASSERT_EQ(records.size(), before + 10);
  for (int i = 0; i < 10; ++i) {
    const LogData& record = records[before + i];
    EXPECT_EQ(record.level, "DEBUG");
    const double value = LoggedValue(record.message, i);
    ASSERT_GE(value, 0.0) << record.message;
    // Each value is the counter over the runtime read when the line was written.
    EXPECT_LE(value, frame[i] / 0.2 + 1e-6);
    EXPECT_GE(value, frame[i] / seconds_after - 1e-6);
  }
  EXPECT_NE(records[before + 7].message.find("_frame:7_value:0.000000"), std::string::npos);
}

}  // namespace
