// The start screen driven by real Qt input events on the offscreen window: hover edges, what a
// click on each button does, the settings page and its way back, the lobby status page's
// inputs, and closing the window on each screen.
#include "gfx/graphics.h"
#include "match/lan_pairing.h"
#include "view/start_screen.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// Queues input for the window as a player would give it, `delay_ms` from now; the events are
// delivered while the screen serves its event queue.
class StartScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initgraph(1000, 800);
    ecl = false;
  }
  static void At(int delay_ms, std::function<void()> action) { QTimer::singleShot(delay_ms, action); }
  static void Post(QEvent* event) { QCoreApplication::postEvent(ew, event); }
  static void Move(int x, int y) {
    Post(new QMouseEvent(QEvent::MouseMove, QPointF(x, y), QPointF(x, y), Qt::NoButton, Qt::NoButton, Qt::NoModifier));
  }
  static void Press(int x, int y) {
    Move(x, y);
    Post(new QMouseEvent(QEvent::MouseButtonPress, QPointF(x, y), QPointF(x, y), Qt::LeftButton, Qt::LeftButton,
                         Qt::NoModifier));
  }
  static void Release(int x, int y) {
    Post(new QMouseEvent(QEvent::MouseButtonRelease, QPointF(x, y), QPointF(x, y), Qt::LeftButton, Qt::NoButton,
                         Qt::NoModifier));
  }
  static void Click(int x, int y) { Press(x, y), Release(x, y); }
  static void Close() { Post(new QCloseEvent()); }
  static QRgb Pixel(int x, int y) {
    QMutexLocker lock(em);
    return ebf->toImage().pixel(x, y);
  }
};

TEST_F(StartScreenTest, HoverAreasIncludeTheirEdgesAndNothingBeyond) {
  EXPECT_TRUE(InStartButton(600, 350));
  EXPECT_TRUE(InStartButton(200, 250));
  EXPECT_FALSE(InStartButton(601, 350));
  EXPECT_FALSE(InStartButton(600, 351));
  EXPECT_FALSE(InStartButton(400, 400) || InSettingsButton(400, 400));
  EXPECT_TRUE(InSettingsButton(200, 450));
  EXPECT_TRUE(InSettingsButton(600, 550));
  EXPECT_FALSE(InSettingsButton(199, 500));
  EXPECT_FALSE(InSettingsButton(400, 551));
}

TEST_F(StartScreenTest, OnlyAClickInsideStartChoosesItAndTheButtonLightsUpUnderThePointer) {
  QRgb beside = 0, over = 0;
  At(50, [] { Click(601, 350); });  // one pixel off the corner: nothing happens
  At(200, [&] { beside = Pixel(210, 260); });
  At(250, [] { Move(600, 350); });
  At(400, [&] {
    over = Pixel(210, 260);
    Click(600, 350);
  });
  EXPECT_EQ(_start(), kStartButtonText);
  EXPECT_EQ(beside, qRgb(230, 230, 230));
  EXPECT_EQ(over, qRgb(200, 200, 200));
}

TEST_F(StartScreenTest, SettingsShowsItsPageUntilAClickThenClosingTheWindowEndsTheScreen) {
  QRgb on_settings = 0, back_on_title = 0;
  // Held over several frames, as people click: the press that opens the page must not
  // also close it.
  At(50, [] { Press(400, 500); });
  At(150, [] { Release(400, 500); });
  bool opened = false, bounced_back = false;
  for (int t = 60; t < 250; t += 5)
    At(t, [&] {
      const bool settings_shown = Pixel(210, 260) == qRgb(255, 255, 255);
      bounced_back |= opened && !settings_shown;
      opened |= settings_shown;
    });
  At(250, [&] {
    on_settings = Pixel(210, 260);  // where the start button was
    Click(700, 700);
  });
  At(450, [&] {
    back_on_title = Pixel(210, 260);
    Close();
  });
  EXPECT_EQ(_start("10.0.0.9"), "");
  EXPECT_EQ(on_settings, qRgb(255, 255, 255));
  EXPECT_FALSE(bounced_back);
  EXPECT_EQ(back_on_title, qRgb(230, 230, 230));
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

TEST(PortMessageTest, OnlyAWellFormedPortReadsAndEachMessageStandsAlone) {
  const auto bytes = [](const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); };
  EXPECT_EQ(ParsePortMessage(BuildPortMessage(47000)), 47000);
  EXPECT_EQ(ParsePortMessage(bytes("PORT{1}")), 1);
  EXPECT_EQ(ParsePortMessage(bytes("PORT{65535}")), 65535);
  for (const char* bad : {"PORT{0}", "PORT{65536}", "PORT{}", "PORT{4700a}", "PORT{+47}", "PORT{47000}x",
                          "PORT{47000}PORT{1}", "PORT 47000", "port{47000}", "PORT{047000}", "\xC8"})
    EXPECT_FALSE(ParsePortMessage(bytes(bad)).has_value()) << bad;
}

}  // namespace
