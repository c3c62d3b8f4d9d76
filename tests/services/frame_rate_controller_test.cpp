// Tests for the frame-rate controller: corrected rates, the frame period and the exact
// console lines on captured standard streams. Single-threaded.
#include "services/frame_rate_controller.h"

#include <gtest/gtest.h>

namespace {

using namespace testing::internal;  // stream capture

TEST(FrameRateControllerTest, CorrectsRatesBelowOneAndPrintsThePeriod) {
  const std::string bad = "[ERROR] Invalid custom fps: ";
  const struct { int fps, want; double periodUs; const char* figure; std::string err; } cases[] = {
      {0, 240, 4166.666666666667, "4166.67", bad + "0, auto corrected to 240.\n"},
      {-5, 240, 4166.666666666667, "4166.67", bad + "-5, auto corrected to 240.\n"},
      {1, 1, 1000000.0, "1e+06", ""},
      {65, 65, 15384.615384615385, "15384.6", ""},
      {1000, 1000, 1000.0, "1000", ""},
  };
  for (const auto& c : cases) {
    CaptureStdout(), CaptureStderr();
    const FrameRateController made(c.fps);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_EQ(out, "[INFO] FrameRateController initialized with target fps: " + std::to_string(c.want) +
                       ", single frame time: " + c.figure + " us.\n");
    EXPECT_EQ(made.targetFps, c.want);
    EXPECT_DOUBLE_EQ(made.frameTimeUs, c.periodUs);
  }
}

}  // namespace
