// The start, settings and lobby status screens driven by real Qt input events on the offscreen
// window (GUI thread only).
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include "view/start_screen.h"
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <gtest/gtest.h>
#include <functional>
#include <vector>

namespace {
constexpr QRgb kRest = qRgb(230, 230, 230), kHover = qRgb(200, 200, 200), kPage = qRgb(255, 255, 255);

// Input as a player gives it: a script of (condition, action) pairs, checked every 5 ms while the
// screen serves its events. A screen stuck for 10 s gets its window closed: the case fails, not hangs.
class StartScreenTest : public ::testing::Test {
 protected:
  using Step = std::pair<std::function<bool()>, std::function<void()>>;
  void SetUp() override {
    initgraph(1000, 800);
    ecl = false, emp[0] = emp[1] = -1;  // no pointer seen yet
  }
  void Script(std::vector<Step> steps, std::function<void()> every_tick = [] {}) {
    script = std::move(steps), observe = std::move(every_tick);
    ticker.callOnTimeout([this] {
      observe();
      if (done < script.size() && script[done].first()) script[done++].second();
      if (deadline.hasExpired() && !gave_up) gave_up = true, Close();
    });
    ticker.start(5);
  }
  static bool Now() { return true; }
  // The click at (x, y) has been served and sampled by the screen.
  static std::function<bool()> ClickTakenAt(int x, int y) {
    return [=] { return PointerInWindow() == QPoint(x, y) && !ekr[kFireSlot] && !eks[kFireSlot]; };
  }
  // The start button's fill (or the page where it was) has `colour`.
  static std::function<bool()> Shows(QRgb colour) { return [=] { return Pixel(210, 260) == colour; }; }
  static void Post(QEvent* event) { QCoreApplication::postEvent(ew, event); }
  static void Mouse(QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons held) {
    Post(new QMouseEvent(type, QPointF(x, y), QPointF(x, y), button, held, Qt::NoModifier));
  }
  static void Move(int x, int y) { Mouse(QEvent::MouseMove, x, y, Qt::NoButton, Qt::NoButton); }
  static void Press(int x, int y) { Move(x, y), Mouse(QEvent::MouseButtonPress, x, y, Qt::LeftButton, Qt::LeftButton); }
  static void Release(int x, int y) { Mouse(QEvent::MouseButtonRelease, x, y, Qt::LeftButton, Qt::NoButton); }
  static void Click(int x, int y) { Press(x, y), Release(x, y); }
  static void Close() { Post(new QCloseEvent()); }
  static QRgb Pixel(int x, int y) {
    QMutexLocker lock(em);
    return ebf->toImage().pixel(x, y);
  }
  QTimer ticker;
  QDeadlineTimer deadline{10000};
  std::vector<Step> script;
  std::function<void()> observe;
  size_t done = 0;
  bool gave_up = false;
};

TEST_F(StartScreenTest, OnlyAClickInsideStartChoosesItAndTheButtonLightsUpUnderThePointer) {
  QRgb beside = 0;
  Script({{Now, [] { Click(601, 350); }},  // one pixel off the corner: nothing happens
          {ClickTakenAt(601, 350), [&] { beside = Pixel(210, 260), Move(600, 350); }},
          {Shows(kHover), [] { Click(600, 350); }}});
  EXPECT_EQ(_start(), kStartButtonText);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(beside, kRest);
}

TEST_F(StartScreenTest, PracticeIsChosenByAClickOnItsButtonsCornerButNotJustBelowIt) {
  Script({{Now, [] { Click(200, 751); }}, {ClickTakenAt(200, 751), [] { Click(200, 750); }}});
  EXPECT_EQ(_start(), kPracticeButtonText);
  EXPECT_EQ(done, 2u);
}

TEST_F(StartScreenTest, SettingsShowsItsPageUntilAClickThenClosingTheWindowEndsTheScreen) {
  // Held over several frames, as people click: the press that opens the page must not also close it.
  bool opened = false, bounced_back = false;
  int held_ticks = 0;
  Script({{Now, [] { Press(400, 500); }},
          {[&] { return opened && ++held_ticks > 20; }, [] { Release(400, 500); }},
          {ClickTakenAt(400, 500), [] { Click(700, 700); }},
          {Shows(kRest), [] { Close(); }}},
         [&] {
           if (done > 2) return;  // the click that leaves the page has been given
           const bool page = Shows(kPage)();
           bounced_back |= opened && !page;
           opened |= page;
         });
  EXPECT_EQ(_start("10.0.0.9"), "");
  EXPECT_EQ(done, 4u);
  EXPECT_TRUE(opened);
  EXPECT_FALSE(bounced_back);
}

TEST_F(StartScreenTest, TheStatusPageGoesBackOnAClickOrEscAndEndsWhenTheWindowCloses) {
  EXPECT_EQ(ShowLobbyStatus("Searching for rooms..."), LobbyInput::None);
  Click(100, 100);
  EXPECT_EQ(ShowLobbyStatus("Searching for rooms..."), LobbyInput::Back);
  Post(new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
  Post(new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
  EXPECT_EQ(ShowLobbyStatus("Searching for rooms..."), LobbyInput::Back);
  EXPECT_EQ(ShowLobbyStatus("Searching for rooms..."), LobbyInput::None);
  Close();
  EXPECT_EQ(ShowLobbyStatus("Searching for rooms..."), LobbyInput::Closed);
}
}  // namespace
