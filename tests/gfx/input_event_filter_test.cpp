// Tests of the input filter: real Qt events sent to a window through the application's
// event dispatch must land in the key tables, mouse state and close request.
// Runs on the test's GUI thread.
#include "gfx/input_event_filter.h"

#include "gfx/graphics.h"
#include "gfx/key_monitor.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

class ClosingWindow : public QWindow {
 public:
  bool closeSeen = false;

 protected:
  void closeEvent(QCloseEvent* event) override {
    closeSeen = true;
    event->ignore();
  }
};

class InputEventFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    _installFilter();
    for (int k = 0; k < 256; ++k) ekr[k] = eks[k] = false;
    eml = emr = false;
    km->ResetAllKeys();
  }
  void send(QEvent&& event) { QCoreApplication::sendEvent(&window, &event); }
  void key(QEvent::Type type, int code, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    send(QKeyEvent(type, code, mods));
  }
  void mouse(QEvent::Type type, Qt::MouseButton b, QPointF pos = QPointF(1, 1)) {
    send(QMouseEvent(type, pos, pos, b, Qt::NoButton, Qt::NoModifier));
  }
  static int setSlots() {
    int n = 0;
    for (int k = 0; k < 256; ++k) n += ekr[k] + eks[k];
    return n;
  }
  ClosingWindow window;
};

TEST_F(InputEventFilterTest, LetterKeyRecordsUpperCaseCodeWithOrWithoutShift) {
  key(QEvent::KeyPress, Qt::Key_A);
  EXPECT_TRUE(ekr[65] && eks[65]);
  key(QEvent::KeyRelease, Qt::Key_A);
  EXPECT_FALSE(ekr[65] || eks[65]);
  key(QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier);
  EXPECT_TRUE(ekr[65]);
  EXPECT_EQ(setSlots(), 2);
}

TEST_F(InputEventFilterTest, KeyMonitorFollowsEvents) {
  key(QEvent::KeyPress, Qt::Key_A);
  km->UpdateKeyStates();
  EXPECT_TRUE(KeyMonitor::KeyA);
  key(QEvent::KeyRelease, Qt::Key_A);
  key(QEvent::KeyPress, Qt::Key_W);
  key(QEvent::KeyPress, Qt::Key_D);
  km->UpdateKeyStates();
  EXPECT_FALSE(KeyMonitor::KeyA);
  EXPECT_TRUE(KeyMonitor::KeyW && KeyMonitor::KeyD);
}

TEST_F(InputEventFilterTest, KeysOutsideRecordedRangeChangeNothing) {
  for (int code : {int(Qt::Key_Left), int(Qt::Key_Shift), 0, 256}) key(QEvent::KeyPress, code);
  EXPECT_EQ(setSlots(), 0);
}

TEST_F(InputEventFilterTest, CloseSetsRequestAndStillReachesWindow) {
  ecl = false;
  send(QCloseEvent());
  EXPECT_TRUE(ecl);
  EXPECT_TRUE(window.closeSeen);
  QCloseEvent close;
  EXPECT_FALSE(_efilter.eventFilter(&window, &close));
}

TEST_F(InputEventFilterTest, MouseMoveTruncatesTowardZero) {
  mouse(QEvent::MouseMove, Qt::NoButton, QPointF(10.7, -0.4));
  EXPECT_EQ(emp[0], 10);
  EXPECT_EQ(emp[1], 0);
  mouse(QEvent::MouseMove, Qt::NoButton, QPointF(-3.9, 799.99));
  EXPECT_EQ(emp[0], -3);
  EXPECT_EQ(emp[1], 799);
}

TEST_F(InputEventFilterTest, LeftButtonFeedsFireSlotRightButtonDoesNot) {
  mouse(QEvent::MouseButtonPress, Qt::RightButton);
  EXPECT_TRUE(emr);
  EXPECT_EQ(setSlots(), 0);
  mouse(QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_TRUE(eml && ekr[1] && eks[1]);
  mouse(QEvent::MouseButtonRelease, Qt::LeftButton);
  EXPECT_FALSE(eml || ekr[1] || eks[1]);
  mouse(QEvent::MouseButtonRelease, Qt::RightButton);
  EXPECT_FALSE(emr);
}

}  // namespace
