// Drawing layer on real pixels: window set-up, batches, primitives, the frame-buffer lock,
// presenting. The test thread plays the GUI thread; one case adds a second drawer.
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include <QCoreApplication>
#include <QScreen>
#include <gtest/gtest.h>
#include <unistd.h>
#include <functional>
#include <future>
#include <thread>
#include "support/thread_state.h"

namespace {
using thread_state::WaitsOn;
constexpr int kW = 120, kH = 80;

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initgraph(kW, kH);
    ef = etx = 0xFFFFFF, elc = ebk = 0, els = 0, elt = 1, ebm = 2;
    cleardevice();
  }
  static void batch(const std::function<void()>& draw) { BeginBatchDraw(), draw(), FlushBatchDraw(); }
  static int count(unsigned long c) {  // pixels of colour c in the frame buffer
    const QImage img = ebf->toImage();
    int n = 0;
    for (int i = 0; i < kW * kH; ++i) n += img.pixel(i % kW, i / kW) == _qc(c).rgb();
    return n;
  }
  static bool lockFreeForOthers() {
    return std::async(std::launch::async, [] { return em->tryLock() && (em->unlock(), true); }).get();
  }
};

TEST_F(GraphicsTest, InitgraphOpensAFixedSizeWindowOnlyOnce) {
  QWindow* const first = ew;
  initgraph(300, 200);
  EXPECT_EQ(ew, first);
  EXPECT_EQ(ebf->size(), QSize(kW, kH));
  EXPECT_EQ(ew->maximumSize(), QSize(kW, kH));
}

TEST_F(GraphicsTest, PrimitivesDrawOnlyInsideABatch) {
  setfillcolor(0x00FF00), fillrectangle(0, 0, kW, kH), fillcircle(40, 40, 30), outtextxy(0, 0, L"text");
  EXPECT_EQ(count(0), kW * kH);  // still all black
  batch([] { fillrectangle(0, 0, 2, 2); });
  EXPECT_EQ(count(0x00FF00), 4);  // the right and bottom edges are excluded
}

// That a clear outside a batch waits for the lock is caught by the painter case at the end.
TEST_F(GraphicsTest, FlushReleasesOnlyABatchsLockAndCleardeviceFillsTheBuffer) {
  setbkcolor(RGB(200, 100, 50));
  em->lock();
  FlushBatchDraw();  // the lock is held, but not by a batch
  EXPECT_FALSE(lockFreeForOthers());
  em->unlock();
  cleardevice();
  EXPECT_EQ(count(RGB(200, 100, 50)), kW * kH);
  BeginBatchDraw(), BeginBatchDraw(), FlushBatchDraw();  // neither deadlocks nor leaves a second hold behind
  EXPECT_EQ(epn, nullptr);
  EXPECT_TRUE(lockFreeForOthers());
}

TEST_F(GraphicsTest, FlushPresentsFrameToOpenWindowAndSkipsAClosedOne) {
  batch([] { setbkcolor(0xFF0000), cleardevice(), setfillcolor(0x0000FF), fillrectangle(10, 10, 20, 20); });
  EXPECT_EQ(count(0xFF0000), kW * kH - 100);
  QCoreApplication::processEvents();
  const QImage shown = ew->screen()->grabWindow(ew->winId()).toImage();
  ASSERT_EQ(shown.size(), QSize(kW, kH));
  EXPECT_EQ(shown.pixel(15, 15), _qc(0x0000FF).rgb());
  EXPECT_EQ(shown.pixel(50, 50), _qc(0xFF0000).rgb());
  ew->close();
  ASSERT_EQ(ew->handle(), nullptr);
  batch([] {});
  QCoreApplication::processEvents();
  EXPECT_EQ(ew->handle(), nullptr);  // not recreated by the present
  ew->show();  // keep the window usable for later cases in the same process
}

// As when a countdown starts while the render thread draws: its state changes and clear
// must wait for the frame buffer.
TEST_F(GraphicsTest, AThreadWithoutABatchNeverDrawsThroughAnotherThreadsPainter) {
  std::atomic<pid_t> tid{0};
  BeginBatchDraw();
  std::thread other([&tid] { tid = gettid(), setbkmode(1), setbkcolor(0x00FF00), cleardevice(); });
  for (int i = 0; i < 5000 && !(tid && WaitsOn(tid, em)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(WaitsOn(tid, em)) << "the other thread never waited for the frame buffer";
  setfillcolor(0x0000FF), fillrectangle(0, 0, 10, 10);
  FlushBatchDraw();
  other.join();
  EXPECT_EQ(count(0x00FF00), kW * kH);  // the clear came after the whole frame, not inside it
  ebm = 2;
}
}  // namespace
