// Window flash and shake. Both run on background threads started by the death handling or
// the receive loop, at most one of each at a time; they stop at the close request, and the
// main thread joins them before it returns. Window moves are queued to the GUI thread.
#include "effects/special_effects.h"

#include "effects/effects_tuning.h"
#include "gfx/graphics.h"
#include "services/background_threads.h"
#include "services/tick_pacing.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QMutexLocker>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <optional>
#include <random>
#include <thread>

SpecialEffects* spe = SpecialEffects::getInstance();

namespace {

std::atomic<bool> g_shake_running{false};
std::atomic<bool> g_flash_running{false};

// Runs `effect` in the background unless one of its kind still runs: a peer reporting
// hits as fast as it can must not pile up threads.
template <class Effect>
void StartOnce(std::atomic<bool>& running, Effect effect) {
  if (running.exchange(true)) return;
  try {
    background_threads.Start([&running, effect] {
      effect();
      running.store(false);
    });
  } catch (...) {
    running.store(false);  // no thread could start; the next hit tries again
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whole microseconds of `seconds`, kept inside what SleepMicros can take.
int64_t ToMicros(double seconds) { return static_cast<int64_t>(std::min(seconds * 1e6, 9.0e18)); }

int OffsetCoordinate(int origin, int offset) {
  return static_cast<int>(std::clamp<long long>(static_cast<long long>(origin) + offset, INT_MIN, INT_MAX));
}

// Where the window stood before a shake, learnt and used on the GUI thread only: the
// window's geometry belongs to that thread.
using ShakeOrigin = std::shared_ptr<std::optional<QPoint>>;

// Moves the window by `offset` from its place before the shake, on the GUI thread. Moves
// queued from one thread run in the order queued.
void QueueMove(QWindow* window, const ShakeOrigin& origin, QPoint offset) {
  RunOnGuiThread(window, [window, origin, offset] {
    if (!*origin) *origin = window->position();
    const QPoint base = **origin;
    window->setPosition(OffsetCoordinate(base.x(), offset.x()), OffsetCoordinate(base.y(), offset.y()));
  });
}

}  // namespace

SpecialEffects* SpecialEffects::getInstance() {
  static SpecialEffects instance;
  return &instance;
}

std::optional<int> FlashOpacityAt(int intensity, double hold, double fade, double t) {
  if (!(t < hold + fade)) return std::nullopt;
  const int base = static_cast<int>(std::clamp<long long>(static_cast<long long>(intensity) * 255 / 100, 0, 255));
  if (t < hold) return base;
  const double faded = (1.0 - (t - hold) / fade) * base;
  return faded > 0 ? static_cast<int>(std::min<double>(faded, base)) : 0;
}

void SpecialEffects::windowFlash(int intensity, unsigned long colour, double hold, double fade) {
  if (!BatchOpen()) return;  // no frame being drawn: the flash would tint nothing anyone sees
  QColor tint = _qc(colour);
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (ecl.load()) return;
    const std::optional<int> alpha = FlashOpacityAt(intensity, hold, fade, SecondsSince(start));
    if (!alpha) return;
    tint.setAlpha(*alpha);
    if (em && ebf) {
      QMutexLocker lock(em);
      if (ecl.load()) return;  // the close may have come while waiting for the frame
      QPainter painter(ebf);
      painter.fillRect(QRect(0, 0, esw, esh), tint);
    }
    PresentWholeFrame();  // the tint lies over the whole frame, not only over what changed
    SleepMicros(kFlashStepMicros);
  }
}

void SpecialEffects::windowShake(double duration, double interval, int amplitude) {
  QWindow* window = ew;
  if (!window || amplitude < 1 || !(duration > 0) || !(interval > 0)) return;
  const ShakeOrigin origin = std::make_shared<std::optional<QPoint>>();
  const auto start = std::chrono::steady_clock::now();
  std::random_device device("default");
  std::mt19937 engine(device());
  std::uniform_int_distribution<int> offset(-amplitude, amplitude);
  bool moved = false;
  for (;;) {
    if (ecl.load()) {
      // Put the window back only while there is still an application to run the move.
      if (moved && QCoreApplication::instance()) QueueMove(window, origin, QPoint());
      return;
    }
    if (SecondsSince(start) >= duration) {
      QueueMove(window, origin, QPoint());
      return;
    }
    const int dy = offset(engine);
    const int dx = offset(engine);
    QueueMove(window, origin, QPoint(dx, dy));
    moved = true;
    SleepMicros(ToMicros(interval));
  }
}

void StartShakeAndFlash() {
  StartOnce(g_shake_running, [] { spe->windowShake(kShakeSeconds, kShakeIntervalSeconds, kShakeAmplitude); });
  StartOnce(g_flash_running,
            [] { spe->windowFlash(kFlashIntensity, kFlashColour, kFlashHoldSeconds, kFlashFadeSeconds); });
}
