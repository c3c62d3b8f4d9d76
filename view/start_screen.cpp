// Title, settings and lobby status screens, drawn and paced on the GUI thread. Input comes
// from the event filter's tables on the same thread: the pointer in emp, a click as the
// fire slot's sampled press, Esc in its own slot.
#include "view/start_screen.h"

#include <QCoreApplication>
#include <QFontMetrics>

#include <vector>

#include "gfx/graphics.h"
#include "gfx/input_event_filter.h"
#include "gfx/key_monitor.h"
#include "records/game_records.h"
#include "services/tick_pacing.h"
#include "view/view_drawing.h"
#include "view/view_style.h"

namespace {

constexpr unsigned long kHoverFill = palette::kLightGrey, kRestFill = palette::kPaleGrey;
constexpr unsigned long kHoverLine = palette::kCharcoal, kRestLine = palette::kLineGrey;
constexpr int kFontPixels = 24;
constexpr int kTextWidth = 720;  // inside the frame, with a margin
constexpr char kCredits[] = "Vantorix";

// New presses of one key-table slot: a press counts once however long it is held, so the
// click that opens a page is not taken again by that page.
class PressEdge {
 public:
  explicit PressEdge(int slot) : slot_(slot) {}
  bool Take() {
    bool held = false;
    const bool pressed = SampleKeySlot(slot_, &held);  // a press since the last look, or still held
    const bool fresh = pressed && !held_before_;
    held_before_ = held;
    return fresh;
  }

 private:
  int slot_;
  bool held_before_ = false;
};

PressEdge g_click(kFireSlot), g_escape(kEscapeSlot);  // GUI thread only

bool TakeClick() { return g_click.Take(); }
bool TakeEscape() { return g_escape.Take(); }

// Serves the window's events; false once the window has been closed.
bool ServeEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return !ecl.load();
}

// The frame, the credits line and a clean white page, inside an open batch.
void DrawPage() {
  setbkcolor(palette::kWhite);
  cleardevice();
  setbkmode(1);
  settextstyle(kFontPixels, 0, kUiFontFace);
  setlinecolor(palette::kFrameGrey);
  setlinestyle(0, 2);
  if (epn) {
    epn->setBrush(Qt::NoBrush);
    epn->drawRect(QRect(QPoint(5, 5), QPoint(793, 793)));
  }
  setlinestyle(0, 1);
  settextcolor(palette::kDarkGrey);
  DrawTexts(350, 20, kCredits);
  settextcolor(palette::kBlack);
}

void DrawButton(int y, const char* text, int text_x, bool hovered) {
  DrawRoundRectGray(200, y, 400, 100, 10, hovered ? kHoverFill : kRestFill, hovered ? kHoverLine : kRestLine, hovered);
  settextcolor(palette::kBlack);
  DrawTexts(text_x, y + 35, text);
}

// The left edge that centres `text` in a button, in the page's font.
int CentredTextX(const char* text) {
  const int width = eft ? QFontMetrics(*eft).horizontalAdvance(QString::fromUtf8(text)) : 0;
  return 200 + (400 - width) / 2;
}

// Lines of text from y down, each fitted to the page.
void DrawLines(int y, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    DrawTextsFitted(40, y, line, kTextWidth);
    y += 34;
  }
}

// The drawing state the screens change, put back afterwards so that the game drawn next in
// the same window starts from what it expects.
struct DrawStateGuard {
  unsigned long fill = ef, line = elc, background = ebk, text = etx;
  int style = els, thickness = elt, mode = ebm;
  QFont font = eft ? *eft : QFont();
  ~DrawStateGuard() {
    ef = fill, elc = line, ebk = background, etx = text, els = style, elt = thickness, ebm = mode;
    if (eft) *eft = font;
  }
};

// The page the window shows, when this screen drew the last frame. GUI thread only.
ShownFrame g_shown;

// Runs `draw` as one paced frame, unless the window already shows `look` as this screen drew
// it; false when the window was closed.
template <class Draw>
bool Frame(const std::string& look, Draw&& draw) {
  TickPacer tick(refresh_rate[kRateRenderLoop]);
  if (!ServeEvents()) return false;
  if (!g_shown.Shows(look)) {
    const DrawStateGuard keep;
    BeginBatchDraw();
    DrawPage();
    draw();
    FlushBatchDraw();
    g_shown.Flushed(look);
  }
  tick.Pace();
  return true;
}

// The settings page until a click or Esc; false when the window was closed.
bool ShowSettings(const std::string& lan_address) {
  const std::vector<std::string> lines = {
      "Controls: W A S D move, the mouse aims, the left button fires.",
      "Fall off the open edge and you lose the round.",
      "",
      "LAN: both players choose \"" + std::string(kStartButtonText) + "\".",
      "Alone: \"" + std::string(kPracticeButtonText) + "\" plays the computer. Esc leaves a match.",
      "Direct match, one side hosts:",
      "  vantorix --port 47000 --peer THEIR_ADDRESS:47001 --host",
      "  vantorix --port 47001 --peer YOUR_ADDRESS:47000",
      "Or both run: vantorix --connect",
      "",
      "This machine's LAN address: " + (lan_address.empty() ? std::string("none found") : lan_address),
      "",
      "Click or press Esc to go back.",
  };
  TakeClick(), TakeEscape();
  for (;;) {
    if (!Frame("settings " + lan_address, [&] { DrawLines(120, lines); })) return false;
    if (TakeClick() || TakeEscape()) return true;
  }
}

}  // namespace

bool InStartButton(int x, int y) { return x >= 200 && x <= 600 && y >= 250 && y <= 350; }

bool InSettingsButton(int x, int y) { return x >= 200 && x <= 600 && y >= 450 && y <= 550; }

bool InPracticeButton(int x, int y) { return x >= 200 && x <= 600 && y >= 650 && y <= 750; }

void DrawRoundRectGray(int x, int y, int w, int h, int radius, unsigned long fill, unsigned long line, bool hovered) {
  setfillcolor(fill);
  setlinecolor(hovered ? palette::kDarkGrey : line);
  setlinestyle(0, hovered ? 2 : 1);
  if (epn) Roundrectangle(x, y, w, h, radius, fill);
  setlinestyle(0, 1);
}

std::string _start(const std::string& lan_address) {
  TakeClick(), TakeEscape();  // a click from before the screen showed is not a choice
  for (;;) {
    const QPoint pointer = PointerInWindow();
    const bool on_start = InStartButton(pointer.x(), pointer.y());
    const bool on_settings = InSettingsButton(pointer.x(), pointer.y());
    const bool on_practice = InPracticeButton(pointer.x(), pointer.y());
    const std::string look = std::string("title ") + (on_start ? "1" : "0") + (on_settings ? "1" : "0") + (on_practice ? "1" : "0");
    if (!Frame(look, [&] {
          DrawButton(250, kStartButtonText, 280, on_start);
          DrawButton(450, kSettingsButtonText, 320, on_settings);
          DrawButton(650, kPracticeButtonText, CentredTextX(kPracticeButtonText), on_practice);
        }))
      return "";
    if (!TakeClick()) continue;
    // The press is judged where the pointer is now, after this frame's events.
    const QPoint at = PointerInWindow();
    if (InStartButton(at.x(), at.y())) return kStartButtonText;
    if (InPracticeButton(at.x(), at.y())) return kPracticeButtonText;
    if (InSettingsButton(at.x(), at.y()) && !ShowSettings(lan_address)) return "";
    TakeClick();
  }
}

LobbyInput ShowLobbyStatus(const std::string& status) {
  if (!Frame("status " + status, [&] { DrawLines(300, {status, "", "Click or press Esc to go back."}); }))
    return LobbyInput::Closed;
  return TakeClick() || TakeEscape() ? LobbyInput::Back : LobbyInput::None;
}
