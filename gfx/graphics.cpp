// Window creation, batches, drawing primitives and the present step.
// initgraph and the present task run on the GUI thread; batches and primitives run on
// whichever drawing thread opened the batch, which holds em until it flushes.
#include "gfx/graphics.h"

#include "gfx/input_event_filter.h"

#include <QCoreApplication>
#include <QFontInfo>
#include <QMetaObject>
#include <QRegion>

#include <mutex>
#include <vector>

QWindow* ew = nullptr;
QBackingStore* eb = nullptr;
QPixmap* ebf = nullptr;
QMutex* em = nullptr;
thread_local QPainter* epn = nullptr;
QFont* eft = nullptr;
int esw = 1000;
int esh = 800;

unsigned long ef = 0xFFFFFF;
unsigned long elc = 0;
int els = 0;
int elt = 1;
unsigned long ebk = 0;
int ebm = 2;
unsigned long etx = 0xFFFFFF;

namespace {

// True on the thread that opened the current batch and so holds em. Lets a stray
// FlushBatchDraw leave alone a lock it never took, and a repeated BeginBatchDraw on
// the same thread go on without locking em a second time.
thread_local bool t_ownsBatch = false;
std::atomic<bool> g_batchOpen{false};

// What the next present must copy to the window: the changes flushed since the last one
// (guarded by em), and a count of the requests for the whole frame, which the present and
// each partial drawer compare with the count they last saw.
// Plain rectangles rather than a QRegion: a region shares its data with the one it was
// built from, across threads, by a count the race detector cannot see.
std::vector<QRect> g_pending;
std::atomic<uint64_t> g_whole_frame_requests{1};
std::atomic<uint64_t> g_frames_flushed{0};
std::function<void()> g_presented;  // GUI thread only

QFont makeFont(const QString& face, int pixelSize) {
  QFont font(face.isEmpty() ? QStringLiteral("sans-serif") : face);
  font.setPixelSize(pixelSize);
  return font;
}

Qt::PenStyle penStyle(int style) {
  switch (style) {
    case 1: return Qt::DashLine;
    case 2: return Qt::DotLine;
    case 3: return Qt::DashDotLine;
    default: return Qt::SolidLine;
  }
}

// Copies what changed in the frame buffer into the window; runs on the GUI thread from its
// event loop. Nothing changed, nothing is copied: the window still shows the frame.
void presentFrame() {
  if (!ew || !eb || !ebf || !em) return;
  // A closed window has lost its platform surface; painting or flushing it would only
  // recreate trouble, so the frame is dropped.
  if (!ew->handle() || !ew->isExposed()) return;
  static uint64_t whole_seen = 0;  // GUI thread only
  QMutexLocker lock(em);
  QRegion region;
  for (const QRect& rect : g_pending) region += rect;
  g_pending.clear();
  if (const uint64_t whole = g_whole_frame_requests.load(); whole != whole_seen) {
    whole_seen = whole;
    region = QRegion(0, 0, esw, esh);
  }
  if (region.isEmpty()) return;
  eb->beginPaint(region);
  if (QPaintDevice* device = eb->paintDevice()) {
    QPainter painter(device);
    // A plain copy per rectangle: through a clip region the copy would blend span by span.
    for (const QRect& rect : region) painter.drawPixmap(rect.topLeft(), *ebf, rect);
    painter.end();
  }
  eb->endPaint();
  eb->flush(region);
  ew->requestUpdate();
  if (g_presented) g_presented();
}

// Closes this thread's batch; `changed` is added to what the next present copies.
void CloseBatch(const QRegion& changed) {
  if (!t_ownsBatch) return;
  if (epn) {
    epn->end();
    delete epn;
    epn = nullptr;
  }
  g_pending.insert(g_pending.end(), changed.begin(), changed.end());
  t_ownsBatch = false;
  g_batchOpen.store(false);
  em->unlock();
}

void QueuePresent() {
  g_frames_flushed.fetch_add(1);
  if (!ew || !eb) return;
  // During shutdown the application object may already be gone; nothing can present then.
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  RunOnGuiThread(app, [] { presentFrame(); });
}

}  // namespace

QColor _qc(unsigned long c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

void _as(QPainter* p) {
  if (!p || !p->isActive()) return;
  p->setBrush(QBrush(_qc(ef), Qt::SolidPattern));
  QPen pen(_qc(elc));
  pen.setWidth(elt);
  pen.setStyle(penStyle(els));
  p->setPen(pen);
  if (eft) p->setFont(*eft);
  if (ebm != 1) {
    p->setBackgroundMode(Qt::OpaqueMode);
    p->setBackground(QBrush(_qc(ebk), Qt::SolidPattern));
  } else {
    p->setBackgroundMode(Qt::TransparentMode);
  }
}

void initgraph(int width, int height) {
  if (ew) return;
  esw = width;
  esh = height;

  ew = new QWindow();
  ew->setSurfaceType(QSurface::RasterSurface);
  ew->setTitle(QStringLiteral("Vantorix"));
  ew->resize(width, height);
  ew->setMinimumSize(QSize(width, height));
  ew->setMaximumSize(QSize(width, height));

  eb = new QBackingStore(ew);
  eb->resize(QSize(width, height));

  if (!ebf)
    ebf = new QPixmap(width, height);
  else
    *ebf = QPixmap(width, height);
  if (!em) em = new QMutex();
  if (!eft) eft = new QFont(makeFont(QString(), 16));

  ebf->fill(Qt::black);

  _installFilter();

  ew->show();
  ew->raise();
  ew->requestActivate();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
}

void BeginBatchDraw() {
  if (!em || !ebf) return;
  if (!t_ownsBatch) {
    em->lock();
    t_ownsBatch = true;
    g_batchOpen.store(true);
  }
  if (epn) {
    epn->end();
    delete epn;
    epn = nullptr;
  }
  epn = new QPainter(ebf);
  _as(epn);
}

void FlushBatchDraw() {
  PresentWholeFrame();
  CloseBatch(QRegion());
  QueuePresent();
}

void EndBatchDraw() { CloseBatch(QRegion()); }

void FlushBatchDrawChanged(const QRegion& changed) {
  CloseBatch(changed);
  QueuePresent();
}

void PresentWholeFrame() { g_whole_frame_requests.fetch_add(1); }

uint64_t WholeFrameRequests() { return g_whole_frame_requests.load(); }

uint64_t FramesFlushed() { return g_frames_flushed.load(); }

void OnFramePresented(std::function<void()> observer) { g_presented = std::move(observer); }

bool BatchOpen() { return g_batchOpen.load(); }

void RunOnGuiThread(QObject* target, std::function<void()> call) {
  // Calls are queued under one lock, and each takes that lock once on the GUI thread before
  // it touches what it carries: the hand-over then goes through a lock the race detector
  // sees, not only through Qt's event queue inside its own library.
  static std::mutex post_mutex;
  std::lock_guard lock(post_mutex);
  QMetaObject::invokeMethod(
      target,
      [call = std::move(call)] {
        { std::lock_guard received(post_mutex); }
        call();
      },
      Qt::QueuedConnection);
  GuiWake().Ring();
}

WakeSignal& GuiWake() {
  static WakeSignal bell;
  return bell;
}

void PaceServingEvents(const TickPacer& tick) {
  const auto due = tick.Due();
  while (GuiWake().WaitUntil(due)) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

namespace {

// The drawing state belongs to whoever holds em: a thread without a batch changes it only
// while holding em, so the state never changes in the middle of another thread's frame.
template <class Change>
void ChangeDrawState(Change change) {
  if (t_ownsBatch || !em) {
    change();
    return;
  }
  QMutexLocker lock(em);
  change();
}

}  // namespace

QPoint PointerInWindow() {
  return QPoint(std::atomic_ref<int>(emp[0]).load(std::memory_order_relaxed),
                std::atomic_ref<int>(emp[1]).load(std::memory_order_relaxed));
}

void cleardevice() {
  if (epn) {
    epn->fillRect(QRect(0, 0, esw, esh), _qc(ebk));
    return;
  }
  if (!em || !ebf) return;
  QMutexLocker lock(em);
  ebf->fill(_qc(ebk));
}

void setfillcolor(unsigned long c) {
  ChangeDrawState([c] {
    ef = c;
    if (epn) epn->setBrush(QBrush(_qc(c), Qt::SolidPattern));
  });
}

void fillrectangle(int left, int top, int right, int bottom) {
  if (!epn) return;
  epn->setPen(Qt::NoPen);
  epn->setBrush(QBrush(_qc(ef), Qt::SolidPattern));
  epn->drawRect(QRect(left, top, right - left, bottom - top));
  _as(epn);
}

void fillcircle(int x, int y, int radius) {
  if (!epn) return;
  epn->setPen(Qt::NoPen);
  epn->setBrush(QBrush(_qc(ef), Qt::SolidPattern));
  const double r = radius;
  epn->drawEllipse(QRectF(x - r, y - r, 2.0 * r, 2.0 * r));
  _as(epn);
}

void outtextxy(int x, int y, const wchar_t* text) {
  if (!epn || !text) return;
  epn->setPen(_qc(etx));
  if (ebm == 1) epn->setBackgroundMode(Qt::TransparentMode);
  // A font sized in points reports no pixel size of its own; ask what it resolves to.
  const int pixelSize = eft ? QFontInfo(*eft).pixelSize() : 16;
  epn->drawText(QPoint(x, y + pixelSize), QString::fromWCharArray(text));
}

void settextstyle(int height, int width, const wchar_t* face) {
  (void)width;  // glyph width follows the face
  const QString family = face ? QString::fromWCharArray(face) : QString();
  const QFont font = makeFont(family, height >= 1 ? height : 16);
  ChangeDrawState([&font] {
    if (eft)
      *eft = font;
    else
      eft = new QFont(font);
    if (epn) epn->setFont(*eft);
  });
}

void setlinecolor(unsigned long c) {
  ChangeDrawState([c] {
    elc = c;
    _as(epn);
  });
}

void setlinestyle(int style, int thickness) {
  ChangeDrawState([style, thickness] {
    els = style;
    elt = thickness;
    _as(epn);
  });
}

void setbkmode(int mode) {
  ChangeDrawState([mode] {
    ebm = mode;
    _as(epn);
  });
}

void setbkcolor(unsigned long c) {
  ChangeDrawState([c] { ebk = c; });
}

void settextcolor(unsigned long c) {
  ChangeDrawState([c] { etx = c; });
}
