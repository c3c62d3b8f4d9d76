// Input: Qt events sent through the application's dispatch land in the key tables, mouse state and
// close flag; the key monitor and the fire query sample those tables (one thread plays GUI and control).
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include "gfx/key_monitor.h"
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <algorithm>

namespace {
class InputEventFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    _installFilter();
    for (int k = 0; k < 256; ++k) ekr[k] = eks[k] = false;
    eml = emr = false, ecl = false;
    km->ResetAllKeys();
  }
  void send(QEvent&& event) { QCoreApplication::sendEvent(&target, &event); }
  void key(QEvent::Type type, int code, Qt::KeyboardModifiers mods = {}) { send(QKeyEvent(type, code, mods)); }
  void mouse(QEvent::Type type, Qt::MouseButton b, QPointF at = {1, 1}) {
    send(QMouseEvent(type, at, at, b, Qt::NoButton, Qt::NoModifier));
  }
  static int setSlots() { return int(std::count(ekr, ekr + 256, true) + std::count(eks, eks + 256, true)); }
  QObject target;  // the filter sits on the application, so any receiver will do
};

TEST_F(InputEventFilterTest, LettersAndDigitsReachTheirSlotsAndFlagsWithOrWithoutShiftAndOtherKeysNothing) {
  for (int code : {int(Qt::Key_Left), int(Qt::Key_Shift), 0, 256}) key(QEvent::KeyPress, code);
  EXPECT_EQ(setSlots(), 0);
  key(QEvent::KeyPress, Qt::Key_A), key(QEvent::KeyPress, Qt::Key_9);
  EXPECT_TRUE(ekr['A']);
  km->UpdateKeyStates();
  EXPECT_TRUE(KeyMonitor::KeyA);
  EXPECT_TRUE(KeyMonitor::Key9);
  EXPECT_FALSE(KeyMonitor::KeyS);
  key(QEvent::KeyRelease, Qt::Key_A), key(QEvent::KeyRelease, Qt::Key_9);
  EXPECT_EQ(setSlots(), 0);
  km->UpdateKeyStates();
  EXPECT_FALSE(KeyMonitor::KeyA);
  key(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier);
  EXPECT_TRUE(ekr['A']);
}

TEST_F(InputEventFilterTest, CloseSetsRequestAndIsLetThrough) {
  send(QCloseEvent());
  EXPECT_TRUE(ecl);
  QCloseEvent close;
  EXPECT_FALSE(_efilter.eventFilter(&target, &close));
}

TEST_F(InputEventFilterTest, MouseMoveTruncatesTowardZeroAndOnlyTheLeftButtonFeedsTheFireSlot) {
  mouse(QEvent::MouseMove, Qt::NoButton, {10.7, -0.4});
  EXPECT_EQ(std::make_pair(emp[0], emp[1]), std::make_pair(10, 0));
  mouse(QEvent::MouseMove, Qt::NoButton, {-3.9, 799.99});
  EXPECT_EQ(std::make_pair(emp[0], emp[1]), std::make_pair(-3, 799));
  mouse(QEvent::MouseButtonPress, Qt::RightButton);
  EXPECT_TRUE(emr);
  EXPECT_EQ(setSlots(), 0);
  mouse(QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_TRUE(eml);
  EXPECT_TRUE(ekr[1]);
  // A click shorter than a control tick is still seen once by the next fire query.
  mouse(QEvent::MouseButtonRelease, Qt::LeftButton);
  EXPECT_FALSE(eml);
  EXPECT_FALSE(ekr[1]);
  EXPECT_TRUE(SampleKeySlot(1));
  EXPECT_FALSE(SampleKeySlot(1));
  bool held = true;
  EXPECT_FALSE(SampleKeySlot(300, &held));  // outside the tables: released
  EXPECT_FALSE(held);
}
}  // namespace
