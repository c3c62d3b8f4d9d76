// Keyboard monitor and key-slot sampling over directly set key tables (one thread plays GUI and control).
#include "gfx/graphics.h"
#include "gfx/key_monitor.h"
#include <gtest/gtest.h>

namespace {
class KeyMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 0; k < 256; ++k) ekr[k] = eks[k] = false;
    km->ResetAllKeys();
  }
};

TEST_F(KeyMonitorTest, UpdateFollowsLettersAndDigitsAndResetClearsOnlyFlags) {
  ASSERT_EQ(km, KeyMonitor::GetInstance());
  ekr['0'] = ekr['9'] = ekr['S'] = true;
  km->UpdateKeyStates();
  EXPECT_TRUE(KeyMonitor::Key0 && KeyMonitor::Key9 && KeyMonitor::KeyS && eks['9']);
  EXPECT_FALSE(KeyMonitor::Key5 || KeyMonitor::KeyA);
  km->ResetAllKeys();
  EXPECT_FALSE(KeyMonitor::KeyS || KeyMonitor::Key0);
  EXPECT_TRUE(ekr['S'] && eks['S']);
}

TEST_F(KeyMonitorTest, SampleStoresRawStateAndReturnsPreviousSample) {
  ekr[1] = true;  // pressed, not yet sampled
  bool held = false;
  EXPECT_FALSE(SampleKeySlot(1, &held));
  EXPECT_TRUE(held && eks[1]);
  ekr[1] = false;
  EXPECT_TRUE(SampleKeySlot(1, &held));
  EXPECT_FALSE(held || eks[1]);
  held = true;
  EXPECT_FALSE(SampleKeySlot(300, &held) || held);
}
}  // namespace
