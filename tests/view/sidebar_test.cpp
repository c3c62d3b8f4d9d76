// Sidebar text lines and the '&'-separated text routines, the latter on the frame buffer's pixels.
#include "gfx/graphics.h"
#include "view/sidebar.h"
#include "view/view_drawing.h"
#include "view/view_style.h"
#include <gtest/gtest.h>

namespace {
// Draws with `draw` in black 20 px text on white; returns how many dark pixels fall in (x0, y0)-(x1, y1).
template <class Draw>
auto InkAfter(Draw draw) {
  initgraph(1000, 800);
  BeginBatchDraw(), setbkcolor(0xFFFFFF), cleardevice();
  settextstyle(20, 0, kUiFontFace), settextcolor(0), setbkmode(1);
  draw();
  FlushBatchDraw();
  return [img = ebf->toImage()](int x0, int x1, int y0, int y1) {
    int dark = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) dark += qGray(img.pixel(x, y)) < 128;
    return dark;
  };
}

TEST(SidebarTextTest, EnergyAttenuatesBelowHalfAndAmpersandSplitsKeepEmptyLines) {
  EXPECT_EQ(EnergyText(49.9f, 100), "Energy:49.90/100|Attenuation");
  EXPECT_EQ(EnergyText(50.0f, 100), "Energy:50.00/100|Normal");
  using Lines = std::vector<std::string>;
  EXPECT_EQ(SplitTextLines(""), (Lines{""}));
  EXPECT_EQ(SplitTextLines("&x&"), (Lines{"", "x", ""}));
}

TEST(SidebarDrawTest, DrawTextsPutsEachSegmentOneFontHeightLower) {
  int h = 0;
  const auto ink = InkAfter([&h] { h = QFontMetrics(*eft).height(), DrawTexts(10, 10, "I&&I"); });
  const auto line = [&](int n) { return ink(10, 30, 10 + n * h, 10 + (n + 1) * h); };
  EXPECT_GT(line(0), 0);
  EXPECT_EQ(line(1), 0);  // the empty middle line leaves a gap of one line
  EXPECT_GT(line(2), 0);
}

TEST(SidebarDrawTest, FittedTextShrinksOnlyWhatWouldOverflowAndRestoresTheFont) {
  int size_after = 0;
  const auto ink = InkAfter([&size_after] {
    DrawTextsFitted(810, 235, ScoreText(1234, 5678), 185);
    DrawTextsFitted(10, 100, "I", 185);
    size_after = eft->pixelSize();
  });
  EXPECT_GT(ink(960, 995, 235, 265), 0);  // the last figure is drawn, inside the window
  EXPECT_EQ(ink(995, 1000, 230, 270), 0);
  int inked_rows = 0;  // a short line keeps its full 20 px size
  for (int y = 100; y < 140; ++y) inked_rows += ink(10, 30, y, y + 1) > 0;
  EXPECT_GE(inked_rows, 12);
  EXPECT_EQ(size_after, 20);
}
}  // namespace
