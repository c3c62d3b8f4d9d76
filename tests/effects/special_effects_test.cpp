// Window flash and shake: opacity curve, painting only during a frame, stopping at the close
// request, shakes ending at the origin. Effects run on threads; the test thread is the GUI.
#include "effects/special_effects.h"
#include "gfx/graphics.h"
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <unistd.h>
#include <thread>
#include "support/thread_state.h"

namespace {
using thread_state::WaitsOn;

// Shakes on a thread while the GUI thread carries out the queued moves. Returns the
// offset from the origin of every position the window took, then of where it ends.
std::vector<QPoint> ShakeOffsets(double duration, double interval, int amplitude) {
  initgraph(1000, 800);
  const QPoint origin = ew->position();
  QObject log;
  std::vector<QPoint> seen;
  for (auto changed : {&QWindow::xChanged, &QWindow::yChanged})
    QObject::connect(ew, changed, &log, [&] { seen.push_back(ew->position() - origin); });
  std::atomic<bool> done{false};
  std::thread shake([&] { spe->windowShake(duration, interval, amplitude); done = true; });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  shake.join();
  QCoreApplication::processEvents();
  seen.push_back(ew->position() - origin);
  return seen;
}

QRgb BufferPixel() { QMutexLocker lock(em); return ebf->toImage().pixel(10, 10); }

TEST(WindowFlashTest, OpacityHoldsThenFadesLinearlyAndEnds) {
  EXPECT_EQ(std::make_tuple(FlashOpacityAt(100, 0.0, 0.5, 0.25), FlashOpacityAt(50, 0.0, 0.5, 0.0),
                            FlashOpacityAt(100, 0.3, 0.5, 0.29), FlashOpacityAt(100, 0.0, 0.5, 0.5)),
            std::make_tuple(127, 127, 255, std::nullopt));
}

TEST(WindowFlashTest, PaintsOnlyWhenStartedDuringAFrameAndStopsAtTheCloseRequest) {
  initgraph(1000, 800);
  spe->windowFlash(100, RGB(255, 0, 0), 0.05, 0.05);  // no frame being drawn: nothing happens
  EXPECT_EQ(BufferPixel(), qRgb(0, 0, 0));
  BeginBatchDraw();  // a frame is being drawn when the flash starts; it paints once the frame is done
  std::atomic<pid_t> tid{0};
  std::thread flash([&tid] { tid = gettid(), spe->windowFlash(100, RGB(255, 0, 0), 60.0, 0.0); });
  for (int i = 0; i < 5000 && !(tid && WaitsOn(tid, em)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(WaitsOn(tid, em)) << "the flash never waited for the frame";
  FlushBatchDraw();
  for (int i = 0; i < 5000 && BufferPixel() != qRgb(255, 0, 0); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const QRgb tinted = BufferPixel();
  ecl = true;
  { QMutexLocker lock(em); ebf->fill(Qt::black); }  // a step after the close request would tint this again
  flash.join();
  ecl = false;
  EXPECT_EQ(tinted, qRgb(255, 0, 0));
  EXPECT_EQ(BufferPixel(), qRgb(0, 0, 0));
}

TEST(WindowShakeTest, JumpsWithinTheAmplitudeAndEndsAtTheOriginButNeedsAmplitudeAndDuration) {
  EXPECT_EQ(ShakeOffsets(0.2, 0.1, 0), std::vector<QPoint>{QPoint()});
  EXPECT_EQ(ShakeOffsets(0.0, 0.1, 50), std::vector<QPoint>{QPoint()});
  const std::vector<QPoint> seen = ShakeOffsets(0.2, 0.05, 50);
  ASSERT_GT(seen.size(), 1u);
  for (const QPoint& p : seen) EXPECT_LE(std::max(std::abs(p.x()), std::abs(p.y())), 50);
  EXPECT_EQ(seen.back(), QPoint());
}
}  // namespace
