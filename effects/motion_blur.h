// Motion trail: a short history of presented frames, painted back with fading opacity,
// the newest one blurred on a worker thread. The game no longer draws a trail; the owner's
// thread (a test's, the effects benchmark's) captures and applies, the worker only blurs
// and swaps its result in under a short slot lock.
#pragma once

#include <QImage>
#include <QPixmap>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class MotionBlur {
 public:
  MotionBlur(int frames, int alpha, float decay, int threads);
  ~MotionBlur();
  MotionBlur(const MotionBlur&) = delete;
  MotionBlur& operator=(const MotionBlur&) = delete;

  // Copies the frame buffer into the newest slot; call outside a batch (it takes em).
  void capture();
  // Paints every slot but the newest over the open batch; no batch, no effect.
  void apply();
  void reset();
  void ShiftCache();
  // Blurs `frame` in place with the 3x3 Gaussian; the outer ring of pixels is kept.
  void QuickGauss3x3(QPixmap* frame);
  void ThreadBlur();

  int CacheSize() const { return cacheSize; }
  int StartAlpha() const { return startAlpha; }
  float Decay() const { return decay; }
  int ThreadCount() const { return threadCount; }
  bool HasWorker() const { return worker.joinable(); }
  bool HasPending() const { return hasPending.load(); }
  int SlotAlpha(int slot) const;
  std::shared_ptr<QPixmap> SlotFrame(int slot) const;

  // The kernel on an image of any format; the result is opaque inside the border. `reuse`
  // becomes the result when it is an unshared buffer of the right size and format.
  static QImage GaussImage(const QImage& source, QImage reuse = QImage());

 private:
  struct Slot {
    std::shared_ptr<QPixmap> frame;  // shared with the worker while it blurs
    int alpha = 0;
  };

  int cacheSize;
  int startAlpha;
  float decay;
  int threadCount;
  int width;
  int height;
  std::vector<Slot> cache;  // oldest first
  std::thread worker;
  std::atomic<bool> running{true};
  std::atomic<bool> hasPending{false};
  std::shared_ptr<QPixmap> pending;  // guarded by slotMutex
  QImage spare;                      // recycled blur destination; guarded by slotMutex
  // Held only for slot and pixmap access, never for a whole blur.
  mutable std::mutex slotMutex;
};
