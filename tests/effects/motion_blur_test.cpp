// Motion trail: the fast blur against the plain one, history slots. Built without a worker,
// so the test thread alone.
#include "effects/motion_blur.h"
#include "gfx/graphics.h"
#include "support/reference_gauss.h"
#include <gtest/gtest.h>
#include <random>
#include <tuple>

namespace {
TEST(MotionBlurKernelTest, FastBlurMatchesPlainBlurPixelForPixel) {
  MotionBlur blur(6, 220, 0.9f, 0);
  std::mt19937 rng(1);
  // Repeated sizes take the recycled-destination path.
  const QSize sizes[] = {{3, 3}, {1, 9}, {9, 1}, {2, 5}, {4, 4}, {4, 4}, {17, 13}, {257, 31}, {257, 31}};
  for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32})
    for (const QSize& size : sizes) {
      QImage img(size, format);
      for (int i = 0; i < size.width() * size.height(); ++i)
        img.setPixel(i % size.width(), i / size.width(), rng() | (format == QImage::Format_RGB32 ? 0xFF000000u : 0));
      QPixmap frame = QPixmap::fromImage(img);
      const QImage expected = ReferenceGauss3x3(frame).toImage().convertToFormat(QImage::Format_ARGB32);
      blur.QuickGauss3x3(&frame);
      EXPECT_EQ(frame.toImage().convertToFormat(QImage::Format_ARGB32), expected) << format << " " << size.width();
    }
}

TEST(MotionBlurHistoryTest, CaptureShiftsSlotsAndApplyDecaysOlderOnesOnlyInsideABatch) {
  initgraph(1000, 800);
  MotionBlur blur(3, 200, 0.8f, 0);
  blur.capture();
  const std::weak_ptr<QPixmap> first = blur.SlotFrame(2);
  EXPECT_FALSE(blur.HasPending());  // no worker, no hand-off
  blur.capture(), blur.apply();  // no batch: nothing painted, nothing decays
  BeginBatchDraw(), blur.apply(), blur.apply(), FlushBatchDraw();
  EXPECT_EQ(std::make_tuple(blur.SlotAlpha(0), blur.SlotAlpha(1), blur.SlotAlpha(2)), std::make_tuple(0, 128, 200));
  blur.capture();
  EXPECT_EQ(blur.SlotFrame(0), first.lock());
  blur.capture();  // the cacheSize + 1st capture
  EXPECT_TRUE(first.expired());
}
}  // namespace
