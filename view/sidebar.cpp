// Sidebar drawing. Render_sidebar runs on the render thread inside its batch; it reads the
// score, energy and tick counters as atomics, the maze and the positions under their locks,
// and each timer read locks the timer registry. Its cache of the drawn sidebar belongs to
// the render thread.
#include "view/sidebar.h"

#include "gfx/graphics.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "records/timer_names.h"
#include "services/timer_manager.h"
#include "view/view_drawing.h"
#include "view/view_style.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPixmap>
#include <QRegion>
#include <QString>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

int64_t _frame = 0;

namespace {

constexpr double kRateRefreshMicros = 100000.0;

// Truncation that stays defined for sums that outgrow the 64-bit range.
int64_t SaturatingInt64(double v) {
  constexpr double kLimit = 9.2e18;
  if (std::isnan(v)) return 0;
  if (v >= kLimit) return static_cast<int64_t>(kLimit);
  if (v <= -kLimit) return -static_cast<int64_t>(kLimit);
  return static_cast<int64_t>(v);
}

// Mean, over the tick counters that have moved, of each counter's ticks per second since
// the first match started; recomputed at most every 100 ms.
void UpdateFrameRate() {
  if (static_cast<double>(timers.getTime(kSidebarRateTimer)) <= kRateRefreshMicros) return;
  int64_t sum = 0;
  int64_t counted = 0;
  const double seconds = static_cast<double>(timers.getTime(kRuntimeTimer)) / 1000000.0;
  for (const auto& counter : frame) {
    const int64_t ticks = counter.load(std::memory_order_relaxed);
    // Before the runtime clock has advanced (or when it is missing) there is no rate yet.
    const double rate = seconds > 0.0 ? static_cast<double>(ticks) / seconds : 0.0;
    sum = SaturatingInt64(static_cast<double>(sum) + rate);
    if (ticks != 0) ++counted;
  }
  if (counted > 0) _frame = sum / counted;
  timers.resetTimer(kSidebarRateTimer);
}

}  // namespace

std::string FrameText(int64_t rate) { return "frame:" + std::to_string(rate); }

std::string ScoreText(int32_t kills, int32_t deaths) {
  return "Your score:" + std::to_string(kills) + "|Other scores:" + std::to_string(deaths);
}

std::string EnergyText(float energy, float max_energy) {
  char printed[16];
  std::snprintf(printed, sizeof printed, "%f", static_cast<double>(energy));
  const bool low = static_cast<double>(energy) < 0.5 * static_cast<double>(max_energy);
  return "Energy:" + std::string(printed).substr(0, 5) + "/" + std::to_string(TruncatePixel(max_energy)) + "|" +
         (low ? "Attenuation" : "Normal");
}

std::string OpponentText(bool connected) { return connected ? "Opponent: connected" : "Opponent: waiting"; }

std::string PracticeOpponentText(int level) { return "Opponent: computer, level " + std::to_string(level); }

std::string RoleText(bool is_host) { return "identity:" + std::to_string(is_host ? 1 : 0); }

namespace {

std::atomic<bool> g_cache_on{true};

// `dots`: with the minimap's discs, or without them when they are drawn over the picture.
void DrawSidebar(bool dots) {
  using namespace sidebar_layout;
  settextstyle(kFontPixels, 0, kUiFontFace);
  settextcolor(palette::kRed);
  setfillcolor(palette::kGrey);
  setlinecolor(palette::kLightGrey);
  setlinestyle(0, 0);

  Roundrectangle(kLeft, 0, kWidth, kHeight, kCorner, palette::kWhite);
  Roundrectangle(kLeft, kMinimapTop, kWidth, kWidth, kCorner, palette::kLightGrey);
  if (dots)
    Render_minimap(kLeft, kMinimapTop, kMinimapScale);
  else
    Render_minimap_walls(kLeft, kMinimapTop, kMinimapScale);

  // Shows the figure of an earlier frame: the update comes after the drawing.
  DrawTexts(kFrameRateLeft, kFrameRateTop, FrameText(_frame));

  Roundrectangle(kLeft, kScoreTop, kWidth, kStripHeight, kCorner, palette::kLightGrey);
  DrawTextsFitted(kTextLeft, kScoreTop + kTextInset, ScoreText(Shared(versus.kills), Shared(versus.deaths)),
                  kTextWidth);

  Roundrectangle(kLeft, kStatusTop, kWidth, kStatusHeight, kCorner, palette::kMidGrey);
  Roundrectangle(kLeft, kEnergyTop, kWidth, kStripHeight, kCorner, palette::kLightGrey);
  const float energy = Shared(playerdata.energy);
  const float maxEnergy = playerdata.max_energy;
  DrawTextsFitted(kTextLeft, kEnergyTop + kTextInset, EnergyText(energy, maxEnergy), kTextWidth);
  Progress_drawing(kLeft, kBarTop, kWidth, kStripHeight, maxEnergy, energy, palette::kRed, palette::kGreen);
  if (playerdata.practice_level > 0)
    DrawTextsFitted(kTextLeft, kOpponentTop, PracticeOpponentText(playerdata.practice_level), kTextWidth);
  else if (playerdata.online)
    DrawTextsFitted(kTextLeft, kOpponentTop, OpponentText(PeerConnected()), kTextWidth);

  DrawTexts(kTextLeft, kRoleTop, RoleText(playerdata.is_host));
}

// Everything the sidebar shows, read once: equal inputs draw equal pixels.
struct SidebarInputs {
  int64_t rate = 0;
  int32_t kills = 0, deaths = 0;
  float energy = 0, max_energy = 0;
  int practice_level = 0;
  bool online = false, connected = false, host = false;
  MapLooks looks{};
  bool operator==(const SidebarInputs&) const = default;
};

SidebarInputs ReadInputs() {
  SidebarInputs in;
  in.rate = _frame;
  in.kills = Shared(versus.kills), in.deaths = Shared(versus.deaths);
  in.energy = Shared(playerdata.energy), in.max_energy = playerdata.max_energy;
  in.practice_level = playerdata.practice_level, in.online = playerdata.online, in.host = playerdata.is_host;
  in.connected = in.online && PeerConnected();
  in.looks = View_SnapshotMap();
  return in;
}

// The drawing state that the sidebar leaves behind, so a frame that reuses the picture leaves
// the same.
struct DrawState {
  unsigned long fill, line, background, text;
  int style, thickness, mode;
  QFont font;
  static DrawState Now() { return {ef, elc, ebk, etx, els, elt, ebm, eft ? *eft : QFont()}; }
  void Restore() const {
    ef = fill, elc = line, ebk = background, etx = text, els = style, elt = thickness, ebm = mode;
    if (eft) *eft = font;
  }
};

// The sidebar as last drawn, from its left edge to the window's; only the pixels its white
// panel covers are taken from it, the rest of the strip (the panel's rounded corners) shows
// whatever the frame has there.
struct SidebarPicture {
  std::optional<SidebarInputs> inputs;
  QPixmap pixels;
  QRegion panel;  // in window coordinates
  std::optional<DrawState> left_behind;

  void Redraw(const SidebarInputs& now) {
    using namespace sidebar_layout;
    if (pixels.isNull()) {
      pixels = QPixmap(esw - kLeft, esh);
      QImage mask(pixels.size(), QImage::Format_RGB32);
      mask.fill(Qt::black);
      QPainter painter(&mask);
      painter.setPen(Qt::NoPen);
      painter.setBrush(Qt::white);
      painter.drawRoundedRect(QRect(0, 0, kWidth, kHeight), kCorner, kCorner, Qt::AbsoluteSize);
      painter.end();
      // Row by row rather than through an image conversion, which Qt may hand to its thread
      // pool.
      for (int y = 0; y < mask.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < mask.width();) {
          if (qRed(row[x]) == 0) {
            ++x;
            continue;
          }
          const int from = x;
          while (x < mask.width() && qRed(row[x]) != 0) ++x;
          panel += QRect(kLeft + from, y, x - from, 1);
        }
      }
    }
    pixels.fill(Qt::black);
    QPainter painter(&pixels);
    painter.translate(-kLeft, 0);
    QPainter* const frame_painter = epn;
    epn = &painter;
    _as(epn);
    DrawSidebar(false);
    epn = frame_painter;
    painter.end();
    left_behind = DrawState::Now();
    inputs = now;
  }
};

// Where the minimap's discs are drawn.
QRegion DotBoxes(const MinimapDots& dots) {
  QRegion boxes(View_MinimapDotBox(dots.player, sidebar_layout::kMinimapScale));
  if (dots.enemy) boxes += View_MinimapDotBox(*dots.enemy, sidebar_layout::kMinimapScale);
  return boxes;
}

}  // namespace

void SetSidebarCache(bool on) { g_cache_on.store(on); }

QRegion Render_sidebar(const QRegion& drawn_over) {
  using namespace sidebar_layout;
  const QRegion whole(kLeft, 0, esw - kLeft, esh);
  if (!g_cache_on.load() || epn == nullptr) {
    DrawSidebar(true);
    UpdateFrameRate();
    return whole;
  }
  static thread_local SidebarPicture picture;
  static thread_local std::optional<MinimapDots> last_dots;
  const SidebarInputs now = ReadInputs();
  const bool redrawn = picture.inputs != now;
  if (redrawn) picture.Redraw(now);
  const bool fresh = redrawn || !last_dots;
  // The frame buffer still holds the picture except where this frame drew over it and where
  // the discs were last drawn.
  const QRegion stale = fresh ? whole : drawn_over + DotBoxes(*last_dots);
  // Rectangle by rectangle: a plain copy each, where a clip region would blend span by span.
  for (const QRect& rect : picture.panel.intersected(stale))
    epn->drawPixmap(rect.topLeft(), picture.pixels, rect.translated(-kLeft, 0));
  // The discs go over the picture: they move with the players, the rest seldom does. Nothing
  // drawn after them in the sidebar reaches the minimap.
  const MinimapDots dots = View_MinimapDots(kLeft, kMinimapTop, kMinimapScale);
  Render_minimap_dots(dots, kMinimapScale);
  picture.left_behind->Restore();
  UpdateFrameRate();
  QRegion changed;
  if (fresh)
    changed = whole;
  else if (!(dots == *last_dots))
    changed = DotBoxes(dots) + DotBoxes(*last_dots);
  last_dots = dots;
  return changed;
}
