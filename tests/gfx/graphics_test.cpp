// Drawing layer on real pixels: colours, window set-up, batches, primitives, the frame-buffer lock, presenting.
#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include <QCoreApplication>
#include <QScreen>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "support/thread_state.h"

namespace {
using thread_state::WaitsOn;
constexpr int kW = 120, kH = 80;
int g_warnings = 0;

class GraphicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initgraph(kW, kH);
    ef = etx = 0xFFFFFF, elc = ebk = 0, els = 0, elt = 1, ebm = 2;
    settextstyle(16, 0, L""), cleardevice();
  }
  static void batch(const std::function<void()>& draw) { BeginBatchDraw(), draw(), FlushBatchDraw(); }
  static int count(unsigned long c, int rows = kH) {  // pixels of colour c in the top rows
    const QImage img = ebf->toImage();
    int n = 0;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < kW; ++x) n += img.pixel(x, y) == _qc(c).rgb();
    return n;
  }
  static bool lockFreeForOthers() {
    return std::async(std::launch::async, [] { return em->tryLock() && (em->unlock(), true); }).get();
  }
};

TEST_F(GraphicsTest, InitgraphOpensAFixedSizeWindowWithInputOnlyOnce) {
  EXPECT_EQ(ew->maximumSize(), ew->minimumSize());
  EXPECT_TRUE(_filterInstalled);
  QWindow* const first = ew;
  initgraph(300, 200);
  EXPECT_EQ(ew, first);
  EXPECT_EQ(QSize(esw, esh), QSize(kW, kH));
  EXPECT_EQ(ebf->size(), QSize(kW, kH));
  EXPECT_EQ(ew->size(), QSize(kW, kH));
}

TEST_F(GraphicsTest, FillsCoverExactlyTheirAreaAndOnlyInsideABatch) {
  setfillcolor(0x00FF00), fillrectangle(0, 0, kW, kH), fillcircle(40, 40, 30);
  outtextxy(0, 0, L"text"), setlinestyle(1, 3);
  EXPECT_EQ(count(0), kW * kH);  // still all black
  batch([] {
    fillrectangle(0, 0, 2, 2), fillrectangle(10, 10, 10, 50);  // right and bottom edges excluded: 4 pixels, then none
    setfillcolor(0x0000FF), fillcircle(50, 40, 20);
  });
  const QImage img = ebf->toImage();
  EXPECT_EQ(count(0x00FF00), 4);
  EXPECT_EQ(img.pixel(1, 1), _qc(0x00FF00).rgb());
  for (QPoint in : {QPoint(50, 40), QPoint(68, 40), QPoint(50, 22)}) EXPECT_EQ(img.pixel(in), _qc(0x0000FF).rgb());
  for (QPoint out : {QPoint(71, 40), QPoint(50, 61), QPoint(68, 58)}) EXPECT_NE(img.pixel(out), _qc(0x0000FF).rgb());
}

TEST_F(GraphicsTest, OuttextxyDrawsTextColourBelowY) {
  settextstyle(30, 0, L"DejaVu Sans"), settextcolor(0x00FFFF);
  batch([] { setbkmode(1), outtextxy(5, 20, L"HIH"); });
  EXPECT_GT(count(0x00FFFF), 20);
  EXPECT_EQ(count(0, 20), kW * 20);
}

TEST_F(GraphicsTest, ColoursAreBgrAndOddDrawingStateFallsBackToDefaults) {
  EXPECT_EQ(RGB(0x56, 0x34, 0x12), 0x123456ul);
  EXPECT_EQ(_qc(0xAB123456ul), QColor(0x56, 0x34, 0x12));  // high bits ignored
  QImage target(4, 4, QImage::Format_RGB32);
  QPainter p(&target);
  elc = 0x0000FF, elt = 3, els = 7;  // an unknown line style draws solid
  _as(&p);
  EXPECT_EQ(p.pen(), QPen(QBrush(Qt::red), 3, Qt::SolidLine));
  settextstyle(0, 0, L"");  // no height, no face: sans-serif 16
  EXPECT_EQ(eft->family(), QStringLiteral("sans-serif"));
  EXPECT_EQ(eft->pixelSize(), 16);
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
  const auto countWarnings = [](QtMsgType type, const QMessageLogContext&, const QString&) {
    g_warnings += type != QtDebugMsg && type != QtInfoMsg;
  };
  const QtMessageHandler previous = qInstallMessageHandler(countWarnings);
  batch([] {});
  QCoreApplication::processEvents();
  qInstallMessageHandler(previous);
  EXPECT_EQ(g_warnings, 0);
  EXPECT_EQ(ew->handle(), nullptr);  // not recreated by the present
  ew->show();  // keep the window usable for later cases in the same process
}

// A thread without a batch (a countdown starting while the render thread draws) must not
// reach the other thread's painter: its state changes and clear wait for the frame buffer.
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
