// The sidebar's and countdowns' texts, the '&'-separated text routines on the frame buffer's
// pixels, and a countdown meeting the close request. Test (GUI) thread only.
#include "gfx/graphics.h"
#include "view/countdown_screens.h"
#include "view/sidebar.h"
#include "view/view_drawing.h"
#include "view/view_style.h"
#include "records/game_records.h"
#include "support/log_workdir.h"
#include <gtest/gtest.h>

#include <climits>

namespace {
TEST(SidebarTextTest, EnergyAttenuatesBelowHalfAmpersandSplitsKeepEmptyLinesAndCountdownsShowWholeSeconds) {
  EXPECT_EQ(EnergyText(49.9f, 100), "Energy:49.90/100|Attenuation");
  EXPECT_EQ(EnergyText(50.0f, 100), "Energy:50.00/100|Normal");
  EXPECT_EQ(SplitTextLines(""), std::vector<std::string>{""});
  EXPECT_EQ(SplitTextLines("&x&"), (std::vector<std::string>{"", "x", ""}));
  const std::pair<uint64_t, int> seconds[] = {{0, 5}, {999'999, 5}, {1'000'000, 4}, {5'000'001, 0}, {60'000'000, 0}};
  for (auto [elapsed_us, shown] : seconds) EXPECT_EQ(CountdownSecondsLeft(elapsed_us), shown) << elapsed_us;
}

// Black 20 px text on white, judged by its dark pixels.
TEST(SidebarDrawTest, SegmentsGoOneLineLowerAndFittedTextShrinksOnlyWhatWouldOverflowThenRestoresTheFont) {
  initgraph(1000, 800);
  BeginBatchDraw(), setbkcolor(0xFFFFFF), cleardevice();
  settextstyle(20, 0, kUiFontFace), settextcolor(0), setbkmode(1);
  const int h = QFontMetrics(*eft).height();
  DrawTexts(10, 10, "I&&I");
  DrawTextsFitted(810, 235, ScoreText(1234, 5678), 185);
  DrawTextsFitted(10, 300, "I", 185);
  const int size_after = eft->pixelSize();
  FlushBatchDraw();
  const QImage img = ebf->toImage();
  const auto ink = [&img](int x0, int x1, int y0, int y1) {  // dark pixels in (x0, y0)-(x1, y1)
    int dark = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) dark += qGray(img.pixel(x, y)) < 128;
    return dark;
  };
  EXPECT_GT(ink(10, 30, 10, 10 + h), 0);
  EXPECT_EQ(ink(10, 30, 10 + h, 10 + 2 * h), 0);  // the empty middle line leaves a gap of one line
  EXPECT_GT(ink(10, 30, 10 + 2 * h, 10 + 3 * h), 0);
  EXPECT_GT(ink(960, 995, 235, 265), 0);  // the score's last figure is drawn, inside the window
  EXPECT_EQ(ink(995, 1000, 230, 270), 0);
  int inked_rows = 0;  // a short line keeps its full 20 px size
  for (int y = 300; y < 340; ++y) inked_rows += ink(10, 30, y, y + 1) > 0;
  EXPECT_GE(inked_rows, 12);
  EXPECT_EQ(size_after, 20);
}

// A win changes only the left part of the line, a loss only the right.
TEST(SidebarDrawTest, TheScoreLineShowsOwnKillsFirstAndTheOpponentsAfter) {
  initgraph(1000, 800);
  SetSidebarCache(false);
  const auto strip = [](int32_t kills, int32_t deaths) {
    SetShared(versus.kills, kills), SetShared(versus.deaths, deaths);
    BeginBatchDraw(), Render_sidebar(QRegion(0, 0, 1000, 800)), FlushBatchDraw();
    return ebf->toImage().copy(sidebar_layout::kLeft, sidebar_layout::kScoreTop, sidebar_layout::kWidth, 30);
  };
  const QImage none = strip(0, 0);
  const auto changed = [&none](const QImage& other) {  // first and last column that differ
    std::pair<int, int> span{INT_MAX, -1};
    for (int x = 0; x < none.width(); ++x)
      for (int y = 0; y < none.height(); ++y)
        if (none.pixel(x, y) != other.pixel(x, y)) span = {std::min(span.first, x), x};
    return span;
  };
  const auto won = changed(strip(7, 0)), lost = changed(strip(0, 7));
  ASSERT_GE(won.second, 0);
  ASSERT_GE(lost.second, 0);
  EXPECT_LT(won.second, lost.first);
  SetShared(versus.kills, 0), SetShared(versus.deaths, 0), SetSidebarCache(true);
}

// The close request ends a countdown on the pass that sees it, and its log says how it ended.
using CountdownCloseTest = LogWorkdirTest;
TEST_F(CountdownCloseTest, ACloseRequestCutsTheCountdownShort) {
  initgraph(1000, 800);
  ecl = true;
  death();
  ecl = false;
  std::vector<LogData> records(4);
  ASSERT_EQ(LogManagement::getInstance().readLog("DEBUG.log", records.data(), 4), 1);
  EXPECT_NE(records[0].message.find("Death countdown cut short by the close request"), std::string::npos)
      << records[0].message;
}
}  // namespace
