// Sidebar text lines and the '&'-separated text routine, the latter on the frame buffer's pixels.
#include "gfx/graphics.h"
#include "view/sidebar.h"
#include "view/view_drawing.h"
#include "view/view_style.h"
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
  BeginBatchDraw(), setbkcolor(0xFFFFFF), cleardevice();
  settextstyle(20, 0, kUiFontFace), settextcolor(0), setbkmode(1);
  DrawTexts(10, 10, "I&&I");  // the empty middle line leaves a gap of one line
  FlushBatchDraw();
  const QImage img = ebf->toImage();
  const int h = QFontMetrics(*eft).height();
  const auto ink = [&](int line) {  // dark pixels in one line's band
    int dark = 0;
    for (int y = 10 + line * h; y < 10 + (line + 1) * h; ++y)
      for (int x = 10; x < 30; ++x) dark += qGray(img.pixel(x, y)) < 128;
    return dark;
  };
  EXPECT_EQ(std::make_tuple(ink(0) > 0, ink(1), ink(2) > 0), std::make_tuple(true, 0, true));
}

TEST(SidebarDrawTest, FittedTextShrinksOnlyWhatWouldOverflowAndRestoresTheFont) {
  initgraph(1000, 800);
  BeginBatchDraw(), setbkcolor(0xFFFFFF), cleardevice();
  settextstyle(20, 0, kUiFontFace), settextcolor(0), setbkmode(1);
  DrawTextsFitted(810, 235, ScoreText(1234, 5678), 185);
  DrawTextsFitted(10, 100, "I", 185);
  const int size_after = eft->pixelSize();
  FlushBatchDraw();
  const QImage img = ebf->toImage();
  const auto inkIn = [&](int x0, int x1, int y0, int y1) {
    int dark = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) dark += qGray(img.pixel(x, y)) < 128;
    return dark;
  };
  EXPECT_GT(inkIn(960, 995, 235, 265), 0);  // the last figure is drawn, inside the window
  EXPECT_EQ(inkIn(995, 1000, 230, 270), 0);
  int inked_rows = 0;  // a short line keeps its full 20 px size
  for (int y = 100; y < 140; ++y) inked_rows += inkIn(10, 30, y, y + 1) > 0;
  EXPECT_GE(inked_rows, 12);
  EXPECT_EQ(size_after, 20);
}
