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

TEST_F(KeyMonitorTest, UpdateSamplesTheTablesAndResetClearsOnlyTheFlags) {
  ekr['0'] = ekr['9'] = ekr['S'] = true;
  km->UpdateKeyStates();
  EXPECT_TRUE(KeyMonitor::Key0);
  EXPECT_TRUE(KeyMonitor::Key9);
  EXPECT_TRUE(KeyMonitor::KeyS);
  EXPECT_FALSE(KeyMonitor::KeyA);
  EXPECT_TRUE(eks['9']);  // sampled
  km->ResetAllKeys();
  EXPECT_FALSE(KeyMonitor::KeyS);
  EXPECT_TRUE(ekr['S']);  // the tables belong to the GUI thread
}

TEST_F(KeyMonitorTest, SampleStoresRawStateAndReturnsPreviousSample) {
  ekr[1] = true;  // pressed, not yet sampled
  bool held = false;
  EXPECT_FALSE(SampleKeySlot(1, &held));
  EXPECT_TRUE(held);
  ekr[1] = false;
  EXPECT_TRUE(SampleKeySlot(1, &held));
  EXPECT_FALSE(held);
  EXPECT_FALSE(eks[1]);
  held = true;
  EXPECT_FALSE(SampleKeySlot(300, &held));  // outside the tables: released
  EXPECT_FALSE(held);
}
}  // namespace
