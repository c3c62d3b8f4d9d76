// Round countdown screens. Both run on the main (GUI) thread, which serves its event queue
// between passes so that the frames it queues get presented; a pass that draws is one batch
// under em.
#include "view/countdown_screens.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

#include "gfx/graphics.h"
#include "records/game_records.h"
#include "records/timer_names.h"
#include "services/log_management.h"
#include "services/tick_pacing.h"
#include "services/timer_manager.h"
#include "view/view_drawing.h"
#include "view/view_style.h"

namespace {

constexpr int kFontPoints = 30;
constexpr int kTextLeft = 150;
constexpr int kFirstLineTop = 375;
constexpr int kScoreLineTop = 425;

struct CountdownLook {
  const char* name;
  const char* timer_id;
  unsigned long colour;
  std::string (*first_line)(int seconds_left);
};

void ApplyCountdownFont() {
  QFont font(QString::fromWCharArray(kUiFontFace));
  font.setPointSize(kFontPoints);
  if (eft)
    *eft = font;
  else
    eft = new QFont(font);
  if (epn) epn->setFont(*eft);
}

bool OnGuiThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

// How a countdown ended goes to the log: a close must cut it short, not wait it out.
void LogCountdownEnd(const CountdownLook& look, const char* how) {
  LogManagement::getInstance().log("DEBUG.log", LogLevel::INFO, std::string(look.name) + " countdown " + how);
}

void RunCountdown(const CountdownLook& look) {
  setbkmode(1);
  setbkcolor(look.colour);
  cleardevice();
  timers.createTimer(look.timer_id);
  timers.resetTimer(look.timer_id);
  const bool gui_thread = OnGuiThread();

  ShownFrame shown;
  for (;;) {
    // Paced like the render loop it stands in for; a frame is drawn only when the count or
    // the score changed, or something else drew over the screen.
    TickPacer tick(refresh_rate[kRateRenderLoop]);
    const int seconds_left = CountdownSecondsLeft(timers.getTime(look.timer_id));
    const std::string first_line = look.first_line(seconds_left);
    const std::string score_line = CountdownScoreText(Shared(versus.kills), Shared(versus.deaths));
    const std::string lines = first_line + '\n' + score_line;
    if (!shown.Shows(lines)) {
      BeginBatchDraw();
      ApplyCountdownFont();
      // The screen's own colour, not ebk, which other drawing leaves set.
      if (epn) epn->fillRect(QRect(0, 0, esw, esh), _qc(look.colour));
      settextcolor(palette::kBlack);
      // At 30 points the first line runs past the window's edge and would hide the count.
      const int text_width = esw - kTextLeft - kTextLeft / 10;
      DrawTextsFitted(kTextLeft, kFirstLineTop, first_line, text_width);
      DrawTextsFitted(kTextLeft, kScoreLineTop, score_line, text_width);
      FlushBatchDraw();
      shown.Flushed(lines);
    }
    // The present tasks queued by the flush run on the GUI thread's event processing, which
    // the main loop cannot do while it waits here; doing it after the flush means em is free.
    // It also delivers a window close, which sets ecl.
    if (gui_thread) QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (ecl.load()) return LogCountdownEnd(look, "cut short by the close request");
    if (timers.getTime(look.timer_id) > kCountdownMicros) return LogCountdownEnd(look, "over");
    tick.Pace();
  }
}

}  // namespace

int CountdownSecondsLeft(uint64_t elapsed_us) {
  // A pass stalled past six seconds still shows 0 rather than a negative count.
  return static_cast<int>(5 - std::min<uint64_t>(elapsed_us / 1'000'000, 5));
}

std::string DeathCountdownText(int seconds_left) {
  return "You have been killed and will automatically resurrect after " + std::to_string(seconds_left) + " seconds";
}

std::string VictoryCountdownText(int seconds_left) {
  return "You won this round and will start the next round in " + std::to_string(seconds_left) + " seconds";
}

std::string CountdownScoreText(int32_t kills, int32_t deaths) {
  return "The current score - My:" + std::to_string(kills) + " - Other:" + std::to_string(deaths);
}

void death() { RunCountdown({"Death", kDeathCountdownTimer, palette::kRed, DeathCountdownText}); }

void o_death() { RunCountdown({"Victory", kVictoryCountdownTimer, palette::kGreen, VictoryCountdownText}); }
