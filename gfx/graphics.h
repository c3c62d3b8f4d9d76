// Immediate-mode drawing layer over Qt: the window, the offscreen frame buffer, batches,
// primitives and colours, plus the input globals that the event filter fills.
// Drawing threads paint inside a batch under `em`; the GUI thread owns the window and presents.
#pragma once

#include <QBackingStore>
#include <QColor>
#include <QFont>
#include <QMutex>
#include <QPainter>
#include <QRegion>
#include <QPixmap>
#include <QWindow>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "services/close_request.h"
#include "services/tick_pacing.h"
#include "services/wake_signal.h"

// Colours are 0x00BBGGRR, red in the low byte, always opaque.
constexpr unsigned long RGB(int r, int g, int b) {
  return static_cast<unsigned long>(r) + 256ul * static_cast<unsigned long>(g) +
         65536ul * static_cast<unsigned long>(b);
}

// Window and frame buffer.
extern QWindow* ew;
extern QBackingStore* eb;
extern QPixmap* ebf;   // guarded by em
extern QMutex* em;     // held by the drawing thread for a whole batch
// The calling thread's own painter: non-null exactly while this thread has a batch open.
// Per thread, so a thread without a batch can never draw through another's painter.
extern thread_local QPainter* epn;
extern QFont* eft;
extern int esw;
extern int esh;

// Drawing state, applied to a painter by _as.
extern unsigned long ef;   // fill colour
extern unsigned long elc;  // line colour
extern int els;            // 0 solid, 1 dashed, 2 dotted, 3 dash-dot, anything else solid
extern int elt;            // line thickness
extern unsigned long ebk;  // background colour
extern int ebm;            // 1 transparent, anything else opaque
extern unsigned long etx;  // text colour

// Input state, written by the event filter on the GUI thread.
extern std::atomic<bool> eks[256];  // sampled key state
extern std::atomic<bool> ekr[256];  // raw key state
extern int emp[2];                  // mouse x, y in window coordinates; relaxed atomics
// The pointer's last position inside the window, as the GUI thread recorded it: safe on any
// thread, unlike asking the window system from outside the GUI thread.
QPoint PointerInWindow();
extern bool eml;
extern bool emr;

QColor _qc(unsigned long c);
void _as(QPainter* p);

// Queues `call` to run on the thread of `target` (the GUI thread for the window and the
// application). Every thread posts through here, one at a time, so the race detector sees
// the hand-offs ordered even though Qt's queue lock is out of its sight.
void RunOnGuiThread(QObject* target, std::function<void()> call);
// Rung each time a call is queued for the GUI thread, a frame to present above all.
WakeSignal& GuiWake();
// Sleeps out the tick on the GUI thread, serving its event queue each time GuiWake rings, so
// a frame reaches the window as soon as it is drawn rather than at the next tick.
void PaceServingEvents(const TickPacer& tick);

void initgraph(int width, int height);
void BeginBatchDraw();
// Closes the batch and has the whole frame presented.
void FlushBatchDraw();
// Closes the batch and has only `changed` presented: the rest of the frame buffer holds what
// the window already shows. A drawer that finds WholeFrameRequests changed since its last
// frame must pass the whole frame, since something else drew over it meanwhile.
void FlushBatchDrawChanged(const QRegion& changed);
// Closes the batch without presenting anything: nothing was drawn in it.
void EndBatchDraw();
// The next present shows the whole frame buffer: it was painted outside a batch's changes
// (a flash), or the window lost what it showed (exposed again). Any thread.
void PresentWholeFrame();
// How often the whole frame was asked for so far: a drawer that finds it changed since its
// last frame cannot count on the frame buffer still holding that frame. Any thread.
uint64_t WholeFrameRequests();
// Frames flushed so far by any thread: a screen that flushed the last one still owns what
// the window shows. Any thread.
uint64_t FramesFlushed();
// What the window shows after a screen's own last frame: a screen that finds no other frame
// flushed and no whole frame asked for since can skip drawing the same look again. One per
// screen, used by the thread that draws it.
class ShownFrame {
 public:
  // Whether the window still shows this screen's last frame, drawn with `look`.
  bool Shows(const std::string& look) const {
    return shown_ && look == look_ && FramesFlushed() == flushed_ && WholeFrameRequests() == whole_;
  }
  // Called right after the screen flushed its frame drawn with `look`.
  void Flushed(std::string look) {
    shown_ = true, look_ = std::move(look), flushed_ = FramesFlushed(), whole_ = WholeFrameRequests();
  }

 private:
  bool shown_ = false;
  std::string look_;
  uint64_t flushed_ = 0, whole_ = 0;
};
// Called on the GUI thread each time a frame has been handed to the window, for measuring
// the pacing; empty to stop. Set while no frame is presented.
void OnFramePresented(std::function<void()> observer);
// Whether some thread has a batch open, i.e. a frame is being drawn right now.
bool BatchOpen();

void cleardevice();
void setfillcolor(unsigned long c);
void fillrectangle(int left, int top, int right, int bottom);
void fillcircle(int x, int y, int radius);
void outtextxy(int x, int y, const wchar_t* text);
void settextstyle(int height, int width, const wchar_t* face);

void setlinecolor(unsigned long c);
void setlinestyle(int style, int thickness);
void setbkmode(int mode);
void setbkcolor(unsigned long c);
void settextcolor(unsigned long c);
