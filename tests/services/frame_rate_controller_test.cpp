// Tests for the frame-rate controller: corrected rates and the console lines on captured
// standard streams, which must not take on flags another part of the program left. Single-threaded.
#include "services/frame_rate_controller.h"
#include <gtest/gtest.h>
#include <iostream>

namespace {

using namespace testing::internal;  // stream capture

TEST(FrameRateControllerTest, RatesBelowOneFallBackTo240WithAnErrorLine) {
  for (int fps : {0, -5}) {
    CaptureStdout(), CaptureStderr();
    const FrameRateController made(fps);
    GetCapturedStdout();
    EXPECT_EQ(GetCapturedStderr(), "[ERROR] Invalid custom fps: " + std::to_string(fps) + ", auto corrected to 240.\n");
    EXPECT_EQ(made.targetFps, 240);
    EXPECT_DOUBLE_EQ(made.frameTimeUs, 1e6 / 240);
  }
}

TEST(FrameRateControllerTest, AValidRateIsKeptAndItsPeriodReadsTheSameWhateverTheConsoleFlags) {
  std::cout << std::hex << std::showpos << std::scientific;  // as some other code may leave them
  CaptureStdout();
  const FrameRateController made(65);
  const std::string out = GetCapturedStdout();
  std::cout << std::dec << std::noshowpos << std::defaultfloat;
  EXPECT_EQ(made.targetFps, 65);
  EXPECT_EQ(out, "[INFO] FrameRateController initialized with target fps: 65, single frame time: 15384.6 us.\n");
}

}  // namespace
