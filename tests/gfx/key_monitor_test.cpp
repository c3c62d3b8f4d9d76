// Tests of the keyboard monitor and key-slot sampling over directly set key tables.
// Single-threaded: the test thread stands in for both the GUI and the control thread.
#include "gfx/key_monitor.h"

#include "gfx/graphics.h"

#include <gtest/gtest.h>

namespace {

class KeyMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 0; k < 256; ++k) ekr[k] = eks[k] = false;
    km->ResetAllKeys();
  }
};

TEST_F(KeyMonitorTest, UpdateFollowsLettersAndDigits) {
  ASSERT_EQ(km, KeyMonitor::GetInstance());
  ekr['0'] = ekr['9'] = ekr['S'] = true;
  km->UpdateKeyStates();
  EXPECT_TRUE(KeyMonitor::Key0 && KeyMonitor::Key9 && KeyMonitor::KeyS);
  EXPECT_FALSE(KeyMonitor::Key5 || KeyMonitor::KeyA);
  EXPECT_TRUE(eks['9']);
}

TEST_F(KeyMonitorTest, ResetClearsFlagsButNotTables) {
  ekr['Z'] = eks['Z'] = true;
  km->UpdateKeyStates();
  km->ResetAllKeys();
  EXPECT_FALSE(KeyMonitor::KeyZ);
  EXPECT_TRUE(ekr['Z'] && eks['Z']);
  km->UpdateKeyStates();
  EXPECT_TRUE(KeyMonitor::KeyZ);
}

TEST_F(KeyMonitorTest, SampleStoresRawStateAndReturnsPreviousSample) {
  ekr[1] = true;  // pressed, not yet sampled
  bool held = false;
  EXPECT_FALSE(SampleKeySlot(1, &held));
  EXPECT_TRUE(held && eks[1]);
  ekr[1] = false;
  EXPECT_TRUE(SampleKeySlot(1, &held));
  EXPECT_FALSE(held || eks[1]);
  EXPECT_FALSE(SampleKeySlot(300, &held));
}

}  // namespace
