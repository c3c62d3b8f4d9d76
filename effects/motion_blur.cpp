// Motion trail history and its blur worker. capture/apply/reset/ShiftCache run on the
// owner's thread, ThreadBlur on the worker; slotMutex is held only for slot and pixmap
// access, so the owner never waits for a blur and no frame dies under the worker.
#include "effects/motion_blur.h"

#include <QMutexLocker>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gfx/graphics.h"
#include "services/tick_pacing.h"

namespace {

// Four pixels per step in a generic vector type (plain SSE2 on x86-64, no special flags).
using Lanes = uint32_t __attribute__((vector_size(16)));
constexpr int kStep = 4;

inline Lanes Load(const uint32_t* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void Store(uint32_t* p, Lanes v) { std::memcpy(p, &v, sizeof v); }

// Horizontal [1 2 1] sums of one row for the interior columns. Red and blue share one lane
// (0x00RR00BB), green keeps its place (0x0000GG00); even after the vertical pass a channel's
// sum stays below 4096, so no lane carries into the next.
template <class T>
inline void HorizontalSums(T a, T b, T c, T& rb, T& g) {
  rb = (a & 0x00FF00FFu) + ((b & 0x00FF00FFu) << 1) + (c & 0x00FF00FFu);
  g = (a & 0x0000FF00u) + ((b & 0x0000FF00u) << 1) + (c & 0x0000FF00u);
}

// Vertical [1 2 1] over three rows of horizontal sums gives the exact 3x3 sums; dividing
// by 16 is then a shift of each lane.
template <class T>
inline T Blurred(T rb0, T rb1, T rb2, T g0, T g1, T g2) {
  const T rb = rb0 + (rb1 << 1) + rb2;
  const T g = g0 + (g1 << 1) + g2;
  return 0xFF000000u | ((rb >> 4) & 0x00FF00FFu) | ((g >> 4) & 0x0000FF00u);
}

void HorizontalPass(const uint32_t* row, uint32_t* rb, uint32_t* g, int w) {
  int x = 1;
  for (; x + kStep <= w - 1; x += kStep) {
    Lanes sumRb, sumG;
    HorizontalSums(Load(row + x - 1), Load(row + x), Load(row + x + 1), sumRb, sumG);
    Store(rb + x, sumRb);
    Store(g + x, sumG);
  }
  for (; x < w - 1; ++x) HorizontalSums(row[x - 1], row[x], row[x + 1], rb[x], g[x]);
}

void VerticalPass(uint32_t* const* rb, uint32_t* const* g, uint32_t* out, int w) {
  int x = 1;
  for (; x + kStep <= w - 1; x += kStep)
    Store(out + x, Blurred(Load(rb[0] + x), Load(rb[1] + x), Load(rb[2] + x), Load(g[0] + x), Load(g[1] + x),
                           Load(g[2] + x)));
  for (; x < w - 1; ++x) out[x] = Blurred(rb[0][x], rb[1][x], rb[2][x], g[0][x], g[1][x], g[2][x]);
}

}  // namespace

MotionBlur::MotionBlur(int frames, int alpha, float decayFactor, int threads)
    : cacheSize(std::clamp(frames, 3, 6)),
      startAlpha(std::clamp(alpha, 100, 220)),
      decay(std::min(std::max(decayFactor, 0.65f), 0.9f)),
      threadCount(std::clamp(threads, 0, 2)),
      width(esw),
      height(esh),
      cache(cacheSize) {
  // One worker whatever the count: only the newest frame is ever worth blurring.
  if (threads > 0) worker = std::thread(&MotionBlur::ThreadBlur, this);
}

MotionBlur::~MotionBlur() {
  running.store(false);
  hasPending.store(true);
  if (worker.joinable()) worker.join();
  reset();
  pending.reset();
}

void MotionBlur::ShiftCache() {
  std::shared_ptr<QPixmap> dropped;  // freed after the lock is released
  std::lock_guard lock(slotMutex);
  dropped = std::move(cache[0].frame);
  for (int i = 0; i + 1 < cacheSize; ++i) cache[i] = std::move(cache[i + 1]);
  cache[cacheSize - 1] = Slot{};
}

void MotionBlur::capture() {
  ShiftCache();
  if (!ebf || !em) return;  // no window yet: nothing to record
  std::shared_ptr<QPixmap> copy;
  {
    QMutexLocker lock(em);
    copy = std::make_shared<QPixmap>(ebf->copy());
  }
  {
    std::lock_guard lock(slotMutex);
    cache[cacheSize - 1] = Slot{copy, startAlpha};
    if (threadCount >= 1) pending = copy;
  }
  if (threadCount >= 1) hasPending.store(true);
}

void MotionBlur::apply() {
  if (!epn) return;
  if (cacheSize >= 2) {
    std::lock_guard lock(slotMutex);
    for (int i = 0; i + 1 < cacheSize; ++i) {
      Slot& slot = cache[i];
      if (!slot.frame || slot.alpha <= 7) continue;
      epn->setOpacity(slot.alpha / 255.0f);
      epn->drawPixmap(0, 0, *slot.frame);
      slot.alpha = static_cast<int>(slot.alpha * decay);
    }
  }
  epn->setOpacity(1.0);
  _as(epn);
}

void MotionBlur::reset() {
  std::vector<std::shared_ptr<QPixmap>> dropped;
  std::lock_guard lock(slotMutex);
  for (Slot& slot : cache) dropped.push_back(std::move(slot.frame));
}

QImage MotionBlur::GaussImage(const QImage& input, QImage reuse) {
  // Opaque RGB32 is read as it is; anything else goes through ARGB32 as the kernel defines.
  const QImage src = (input.format() == QImage::Format_RGB32 || input.format() == QImage::Format_ARGB32)
                         ? input
                         : input.convertToFormat(QImage::Format_ARGB32);
  const int w = src.width(), h = src.height();
  if (w < 3 || h < 3) return src;

  // Every pixel of the destination is written, so a spare buffer needs no clearing; a
  // fresh one costs a page fault per 4 KiB, more than the blur itself.
  QImage dst = std::move(reuse);
  if (dst.size() != src.size() || dst.format() != src.format() || !dst.isDetached())
    dst = QImage(w, h, src.format());
  if (dst.isNull()) return src;
  const size_t rowBytes = static_cast<size_t>(w) * 4;
  std::memcpy(dst.scanLine(0), src.constScanLine(0), rowBytes);
  std::memcpy(dst.scanLine(h - 1), src.constScanLine(h - 1), rowBytes);

  // Three rolling rows of horizontal sums for each lane.
  std::vector<uint32_t> sums(6 * static_cast<size_t>(w));
  uint32_t* rb[3];
  uint32_t* g[3];
  for (int i = 0; i < 3; ++i) {
    rb[i] = sums.data() + (2 * i) * static_cast<size_t>(w);
    g[i] = sums.data() + (2 * i + 1) * static_cast<size_t>(w);
  }
  auto srcRow = [&](int y) { return reinterpret_cast<const uint32_t*>(src.constScanLine(y)); };
  HorizontalPass(srcRow(0), rb[0], g[0], w);
  HorizontalPass(srcRow(1), rb[1], g[1], w);

  uchar* dstBits = dst.bits();
  const qsizetype dstStride = dst.bytesPerLine();
  for (int y = 1; y < h - 1; ++y) {
    const int above = (y - 1) % 3, centre = y % 3, below = (y + 1) % 3;
    HorizontalPass(srcRow(y + 1), rb[below], g[below], w);
    const uint32_t* in = srcRow(y);
    uint32_t* out = reinterpret_cast<uint32_t*>(dstBits + y * dstStride);
    uint32_t* const rbRows[3] = {rb[above], rb[centre], rb[below]};
    uint32_t* const gRows[3] = {g[above], g[centre], g[below]};
    VerticalPass(rbRows, gRows, out, w);
    out[0] = in[0];
    out[w - 1] = in[w - 1];
  }
  return dst;
}

void MotionBlur::QuickGauss3x3(QPixmap* frame) {
  if (!frame) return;
  QImage source;
  QImage buffer;
  {
    std::lock_guard lock(slotMutex);
    source = frame->toImage();  // shares the pixels; they stay alive with `source`
    buffer = std::move(spare);
  }
  QPixmap result = QPixmap::fromImage(GaussImage(source, std::move(buffer)));
  {
    std::lock_guard lock(slotMutex);
    frame->swap(result);
  }
  // The unblurred pixels now belong to nobody else once `result` is gone: keep them as
  // the next destination.
  result = QPixmap();
  std::lock_guard lock(slotMutex);
  spare = std::move(source);
}

void MotionBlur::ThreadBlur() {
  while (running.load()) {
    if (!hasPending.exchange(false)) {
      SleepMicros(1000);
      continue;
    }
    std::shared_ptr<QPixmap> taken;  // keeps the frame alive even if the history drops it
    {
      std::lock_guard lock(slotMutex);
      taken = std::move(pending);
    }
    if (!taken || !running.load()) continue;
    QuickGauss3x3(taken.get());
    if (!running.load()) return;
  }
}

int MotionBlur::SlotAlpha(int slot) const {
  std::lock_guard lock(slotMutex);
  return slot >= 0 && slot < cacheSize ? cache[slot].alpha : 0;
}

std::shared_ptr<QPixmap> MotionBlur::SlotFrame(int slot) const {
  std::lock_guard lock(slotMutex);
  return slot >= 0 && slot < cacheSize ? cache[slot].frame : nullptr;
}
