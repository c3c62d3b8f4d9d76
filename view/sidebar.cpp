// Sidebar drawing and the multi-line text routines. Render_sidebar runs on the render thread
// inside its batch and reads versus, playerdata and the tick counters without locks;
// the timer reads lock the timer registry each.
#include "view/sidebar.h"

#include "app/game_records.h"
#include "app/pixel_math.h"
#include "gfx/graphics.h"
#include "services/timer_manager.h"
#include "view/game_view.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

int64_t _frame = 0;

namespace {

constexpr int kSmallestFittedPixels = 8;  // below this text stops being readable anyway
constexpr int kSidebarTextWidth = 185;   // from x 810 to a margin before the window's edge

constexpr unsigned long kTextRed = 0x0000FF;
constexpr unsigned long kPanelWhite = 0xFFFFFF;
constexpr unsigned long kStripGrey = 0xC8C8C8;
constexpr unsigned long kStatusGrey = 0x969696;
constexpr unsigned long kSidebarFill = 0x7D7D7D;
constexpr unsigned long kBarBack = 0x0000FF;
constexpr unsigned long kBarFront = 0x00FF00;
constexpr float kMinimapScale = 0.24375f;  // 195 px for the 800 px arena
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
// start-up; recomputed at most every 100 ms.
void UpdateFrameRate() {
  if (static_cast<double>(timers.getTime("WINAPI WinMain")) <= kRateRefreshMicros) return;
  int64_t sum = 0;
  int64_t counted = 0;
  for (const auto& counter : frame) {
    const int64_t ticks = counter.load(std::memory_order_relaxed);
    const double seconds = static_cast<double>(timers.getTime("Runtime duration")) / 1000000.0;
    // Before the runtime clock has advanced (or when it is missing) there is no rate yet.
    const double rate = seconds > 0.0 ? static_cast<double>(ticks) / seconds : 0.0;
    sum = SaturatingInt64(static_cast<double>(sum) + rate);
    if (ticks != 0) ++counted;
  }
  if (counted > 0) _frame = sum / counted;
  timers.resetTimer("WINAPI WinMain");
}

}  // namespace

std::vector<std::string> SplitTextLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find('&', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

void DrawTexts(int x, int y, const std::string& text) {
  const int lineHeight = eft ? QFontMetrics(*eft).height() : QFontMetrics(QFont()).height();
  const std::vector<std::string> lines = SplitTextLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    // c_str: a line ends at its first zero byte.
    const std::wstring wide = QString::fromLocal8Bit(lines[i].c_str()).toStdWString();
    outtextxy(x, y + static_cast<int>(i) * lineHeight, wide.c_str());
  }
}

void DrawTextsFitted(int x, int y, const std::string& text, int max_width) {
  if (!epn || !eft) return;
  const auto widest = [&](const QFont& font) {
    const QFontMetrics metrics(font);
    int width = 0;
    for (const std::string& line : SplitTextLines(text))
      width = std::max(width, metrics.horizontalAdvance(QString::fromLocal8Bit(line.c_str())));
    return width;
  };
  const QFont original = *eft;
  QFont fitted = original;
  const int width = widest(original);
  if (width > max_width && max_width > 0) {
    // Width grows about linearly with size: scale once, then step down what rounding left over.
    int size = std::max(kSmallestFittedPixels, QFontInfo(original).pixelSize() * max_width / width);
    fitted.setPixelSize(size);
    while (size > kSmallestFittedPixels && widest(fitted) > max_width) fitted.setPixelSize(--size);
  }
  *eft = fitted;
  epn->setFont(fitted);
  DrawTexts(x, y, text);
  *eft = original;
  epn->setFont(original);
}

void DrawTexts1(int x, int y, const std::string& text) { DrawTexts(x, y, text); }

void DrawTexts2(int x, int y, const std::string& text) { DrawTexts(x, y, text); }

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

std::string RoleText(bool is_host) { return "identity:" + std::to_string(is_host ? 1 : 0); }

void Render_sidebar() {
  settextstyle(20, 0, kUiFontFace);
  settextcolor(kTextRed);
  setfillcolor(kSidebarFill);
  setlinecolor(kStripGrey);
  setlinestyle(0, 0);

  Roundrectangle(805, 0, 195, 800, 10, kPanelWhite);
  Roundrectangle(805, 5, 195, 195, 10, kStripGrey);
  Render_minimap(805, 5, kMinimapScale);

  // Shows the figure of an earlier frame: the update comes after the text.
  DrawTexts(875, 205, FrameText(_frame));
  UpdateFrameRate();

  Roundrectangle(805, 230, 195, 30, 10, kStripGrey);
  DrawTextsFitted(810, 235, ScoreText(Shared(versus.kills), Shared(versus.deaths)), kSidebarTextWidth);

  Roundrectangle(805, 270, 195, 300, 10, kStatusGrey);
  Roundrectangle(805, 280, 195, 30, 10, kStripGrey);
  const float energy = Shared(playerdata.energy);
  const float maxEnergy = playerdata.max_energy;
  DrawTextsFitted(810, 285, EnergyText(energy, maxEnergy), kSidebarTextWidth);
  Progress_drawing(805, 315, 195, 30, maxEnergy, energy, kBarBack, kBarFront);
  if (playerdata.online) DrawTextsFitted(810, 355, OpponentText(PeerConnected()), kSidebarTextWidth);

  DrawTexts(810, 775, RoleText(playerdata.is_host));
}
