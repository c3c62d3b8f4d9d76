// Tests of the sidebar's text lines and of the '&'-separated text routine, the latter on the
// offscreen frame buffer's pixels (test thread only).
#include "view/sidebar.h"

#include "gfx/graphics.h"
#include <gtest/gtest.h>

TEST(SidebarTextTest, LinesReadAsShownAndAmpersandSplitsKeepingEmptyOnes) {
  EXPECT_EQ(EnergyText(49.9f, 100), "Energy:49.90/100|Attenuation");
  EXPECT_EQ(EnergyText(50.0f, 100), "Energy:50.00/100|Normal");
  EXPECT_EQ(EnergyText(7.5f, 100.9f), "Energy:7.500/100|Attenuation");
  EXPECT_EQ(ScoreText(3, 5), "Your score:3|Other scores:5");
  EXPECT_EQ(FrameText(_frame) + RoleText(true), "frame:0identity:1");
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitTextLines("a&b"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitTextLines(""), (Lines{""}));
  EXPECT_EQ(SplitTextLines("&x&"), (Lines{"", "x", ""}));
}

TEST(SidebarDrawTest, DrawTextsPutsEachSegmentOneFontHeightLower) {
  initgraph(1000, 800);
  BeginBatchDraw();
  setbkcolor(0xFFFFFF), cleardevice();
  settextstyle(20, 0, kUiFontFace), settextcolor(0), setbkmode(1);
  DrawTexts(10, 10, "I&&I");  // the empty middle line leaves a gap of one line
  FlushBatchDraw();
  const QImage img = ebf->toImage();
  const int h = QFontMetrics(*eft).height();
  const auto ink = [&](int from, int to) {
    int dark = 0;
    for (int y = from; y < to; ++y)
      for (int x = 10; x < 30; ++x) dark += qGray(img.pixel(x, y)) < 128;
    return dark;
  };
  EXPECT_GT(ink(10, 10 + h), 0);
  EXPECT_EQ(ink(10 + h, 10 + 2 * h), 0);
  EXPECT_GT(ink(10 + 2 * h, 10 + 3 * h), 0);
}
