// Immediate-mode drawing layer over Qt: the window, the offscreen frame buffer, batches,
// primitives and colours, plus the input globals that the event filter fills.
// Drawing threads paint inside a batch under `em`; the GUI thread owns the window and presents.
#pragma once

#include <QBackingStore>
#include <QColor>
#include <QFont>
#include <QMutex>
#include <QPainter>
#include <QPixmap>
#include <QWindow>

#include <atomic>
#include <functional>

#include "services/close_request.h"

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

void initgraph(int width, int height);
void BeginBatchDraw();
void FlushBatchDraw();
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
