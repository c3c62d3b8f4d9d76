// Tests of the drawing layer: colours, window set-up, batches and primitives, checked on
// the real pixels of the frame buffer. Runs on the test's GUI thread, with helper threads
// where the frame-buffer lock is involved.
#include "gfx/graphics.h"

#include "gfx/input_event_filter.h"

#include <QCoreApplication>
#include <QScreen>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

constexpr int kW = 120, kH = 80;

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initgraph(kW, kH);
    ef = etx = 0xFFFFFF;
    elc = ebk = 0;
    els = 0, elt = 1, ebm = 2;
    settextstyle(16, 0, L"");
    cleardevice();
  }
  static int count(unsigned long c) {
    const QImage img = ebf->toImage();
    int n = 0;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) n += img.pixel(x, y) == _qc(c).rgb();
    return n;
  }
  static bool lockFreeForOthers() {
    bool free = false;
    std::thread([&] {
      if ((free = em->tryLock())) em->unlock();
    }).join();
    return free;
  }
};

TEST(ColourTest, QcSplitsBgrComponentsAndIgnoresHighBits) {
  const QColor c = _qc(0x123456);
  EXPECT_EQ(c.rgba64(), QRgba64::fromRgba64(0x56 * 257, 0x34 * 257, 0x12 * 257, 0xFFFF));
  EXPECT_EQ(_qc(0xAB123456ul), c);
  EXPECT_EQ(RGB(0x56, 0x34, 0x12), 0x123456ul);
}

TEST_F(GraphicsTest, InitgraphOpensFixedTitledWindowOnlyOnce) {
  EXPECT_EQ(ew->title(), QStringLiteral("Vantorix"));
  EXPECT_EQ(ew->maximumSize(), ew->minimumSize());
  EXPECT_TRUE(_filterInstalled);
  QWindow* const first = ew;
  initgraph(300, 200);
  EXPECT_EQ(ew, first);
  EXPECT_EQ(QSize(esw, esh), QSize(kW, kH));
  EXPECT_EQ(ebf->size(), QSize(kW, kH));
  EXPECT_EQ(ew->size(), QSize(kW, kH));
}

TEST_F(GraphicsTest, FillRectangleExcludesRightAndBottomEdges) {
  BeginBatchDraw();
  setfillcolor(0x00FF00);
  fillrectangle(0, 0, 2, 2);
  fillrectangle(10, 10, 10, 50);  // zero width
  FlushBatchDraw();
  EXPECT_EQ(count(0x00FF00), 4);
  EXPECT_EQ(ebf->toImage().pixel(1, 1), _qc(0x00FF00).rgb());
}

TEST_F(GraphicsTest, FillCircleCoversDiscOnly) {
  BeginBatchDraw();
  setfillcolor(0x0000FF);
  fillcircle(50, 40, 20);
  FlushBatchDraw();
  const QImage img = ebf->toImage();
  const QRgb red = _qc(0x0000FF).rgb();
  for (QPoint in : {QPoint(50, 40), QPoint(68, 40), QPoint(50, 22)}) EXPECT_EQ(img.pixel(in), red);
  for (QPoint out : {QPoint(71, 40), QPoint(50, 61), QPoint(68, 58)}) EXPECT_NE(img.pixel(out), red);
}

TEST_F(GraphicsTest, OuttextxyDrawsTextColourBelowY) {
  settextstyle(30, 0, L"DejaVu Sans");
  settextcolor(0x00FFFF);
  BeginBatchDraw();
  setbkmode(1);
  outtextxy(5, 20, L"HIH");
  FlushBatchDraw();
  EXPECT_GT(count(0x00FFFF), 20);
  const QImage img = ebf->toImage();
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < kW; ++x) ASSERT_EQ(img.pixel(x, y), _qc(0).rgb()) << x << "," << y;
}

TEST_F(GraphicsTest, PrimitivesOutsideBatchChangeNothing) {
  const QImage before = ebf->toImage();
  setfillcolor(0xFFFFFF);
  fillrectangle(0, 0, kW, kH);
  fillcircle(40, 40, 30);
  outtextxy(0, 0, L"text");
  setlinestyle(1, 3);
  EXPECT_EQ(ebf->toImage(), before);
}

TEST_F(GraphicsTest, CleardeviceInsideBatchFillsWithBackground) {
  BeginBatchDraw();
  setbkcolor(RGB(1, 2, 3));
  cleardevice();
  FlushBatchDraw();
  EXPECT_EQ(count(RGB(1, 2, 3)), kW * kH);
}

TEST_F(GraphicsTest, CleardeviceOutsideBatchWaitsForLock) {
  setbkcolor(RGB(200, 100, 50));
  em->lock();
  std::atomic<bool> started{false}, done{false};
  std::thread clearer([&] {
    started = true;
    cleardevice();
    done = true;
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // room for a lock-free fill
  EXPECT_FALSE(done);
  EXPECT_EQ(count(RGB(200, 100, 50)), 0);
  em->unlock();
  clearer.join();
  EXPECT_EQ(count(RGB(200, 100, 50)), kW * kH);
}

TEST_F(GraphicsTest, ApplyStateMapsLineStyleAndBackground) {
  QImage target(4, 4, QImage::Format_RGB32);
  QPainter p(&target);
  elc = 0x0000FF, elt = 3, els = 7, ebm = 1;
  _as(&p);
  EXPECT_EQ(p.pen(), QPen(QBrush(Qt::red), 3, Qt::SolidLine));
  EXPECT_EQ(p.backgroundMode(), Qt::TransparentMode);
  els = 2, ebm = 0, ebk = 0xFF0000;
  _as(&p);
  EXPECT_EQ(p.pen().style(), Qt::DotLine);
  EXPECT_EQ(p.backgroundMode(), Qt::OpaqueMode);
  EXPECT_EQ(p.background().color(), QColor(Qt::blue));
}

TEST_F(GraphicsTest, SettextstyleFallsBackToSansSerifSixteen) {
  settextstyle(40, 99, L"DejaVu Serif");
  EXPECT_EQ(eft->family(), QStringLiteral("DejaVu Serif"));
  EXPECT_EQ(eft->pixelSize(), 40);
  settextstyle(0, 0, L"");
  EXPECT_EQ(eft->family(), QStringLiteral("sans-serif"));
  EXPECT_EQ(eft->pixelSize(), 16);
}

TEST_F(GraphicsTest, FlushReleasesOnlyTheLockItsBatchTook) {
  em->lock();  // held, but not by a batch
  FlushBatchDraw();
  EXPECT_FALSE(lockFreeForOthers());
  em->unlock();
  BeginBatchDraw();
  BeginBatchDraw();  // must neither deadlock nor leave a second hold behind
  FlushBatchDraw();
  EXPECT_EQ(epn, nullptr);
  EXPECT_TRUE(lockFreeForOthers());
}

TEST_F(GraphicsTest, FlushPresentsFrameToWindow) {
  BeginBatchDraw();
  setbkcolor(0xFF0000);
  cleardevice();
  setfillcolor(0x0000FF);
  fillrectangle(10, 10, 20, 20);
  FlushBatchDraw();
  QCoreApplication::processEvents();
  const QImage shown = ew->screen()->grabWindow(ew->winId()).toImage();
  ASSERT_EQ(shown.size(), QSize(kW, kH));
  EXPECT_EQ(shown.pixel(15, 15), _qc(0x0000FF).rgb());
  EXPECT_EQ(shown.pixel(50, 50), _qc(0xFF0000).rgb());
}

int g_warnings = 0;

TEST_F(GraphicsTest, PresentSkipsClosedWindow) {
  ew->close();
  ASSERT_EQ(ew->handle(), nullptr);
  const QtMessageHandler previous =
      qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
        g_warnings += type != QtDebugMsg && type != QtInfoMsg;
      });
  BeginBatchDraw();
  FlushBatchDraw();
  QCoreApplication::processEvents();
  qInstallMessageHandler(previous);
  EXPECT_EQ(g_warnings, 0);
  EXPECT_EQ(ew->handle(), nullptr);
  ew->show();  // keep the window usable for later cases in the same process
}

}  // namespace
