// Input event filter and the input globals it fills.
// eventFilter runs on the GUI thread; the atomic key tables are polled by the control
// thread and the title screens, the pointer is read by any thread, and ecl by every loop.
#include "gfx/input_event_filter.h"

#include "gfx/graphics.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>

std::atomic<bool> eks[256] = {};
std::atomic<bool> ekr[256] = {};
int emp[2] = {0, 0};
bool eml = false;
bool emr = false;

InputEventFilter _efilter;
bool _filterInstalled = false;

namespace {

void recordKey(QEvent* event, bool down) {
  auto* key = dynamic_cast<QKeyEvent*>(event);
  if (!key) return;
  // Esc has no slot of its own among Qt's key codes; it takes ASCII's.
  const int k = key->key() == Qt::Key_Escape ? kEscapeSlot : key->key();
  if (k < 1 || k > 255) return;
  ekr[k].store(down);
  // A tap of Esc shorter than a frame is still seen once by the screen that samples it.
  if (down || k != kEscapeSlot) eks[k].store(down);
  // In a match Esc leaves it; on a countdown too, which serves events but reads no keys.
  if (down && k == kEscapeSlot && escape_leaves.load()) ecl.store(true);
}

void recordButton(QEvent* event, bool down) {
  auto* mouse = dynamic_cast<QMouseEvent*>(event);
  if (!mouse) return;
  if (mouse->button() == Qt::LeftButton) {
    eml = down;
    ekr[kFireSlot].store(down);
    // A release leaves the sampled entry alone, so a click shorter than a control tick is
    // still seen once by the next fire query.
    if (down) eks[kFireSlot].store(true);
  } else if (mouse->button() == Qt::RightButton) {
    emr = down;
  }
}

}  // namespace

InputEventFilter::~InputEventFilter() = default;

bool InputEventFilter::eventFilter(QObject* watched, QEvent* event) {
  (void)watched;  // the game has one window, so the receiver does not matter
  if (!event) return false;
  switch (event->type()) {
    case QEvent::Expose:
      PresentWholeFrame();  // what the window showed may be gone
      break;
    case QEvent::Close:
      window_closing.store(true);
      ecl.store(true);
      break;
    case QEvent::MouseButtonPress:
      recordButton(event, true);
      break;
    case QEvent::MouseButtonRelease:
      recordButton(event, false);
      break;
    case QEvent::MouseMove:
      if (auto* mouse = dynamic_cast<QMouseEvent*>(event)) {
        const QPointF pos = mouse->position();
        std::atomic_ref<int>(emp[0]).store(static_cast<int>(pos.x()), std::memory_order_relaxed);
        std::atomic_ref<int>(emp[1]).store(static_cast<int>(pos.y()), std::memory_order_relaxed);
      }
      break;
    case QEvent::KeyPress:
      recordKey(event, true);
      break;
    case QEvent::KeyRelease:
      recordKey(event, false);
      break;
    default:
      break;
  }
  return false;
}

void _installFilter() {
  if (_filterInstalled) return;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  app->installEventFilter(&_efilter);
  _filterInstalled = true;
}
