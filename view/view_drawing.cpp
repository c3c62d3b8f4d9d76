// Drawing helpers shared by the view's screens; each draws on its caller's thread, through
// that thread's batch.
#include "view/view_drawing.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QString>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "gfx/graphics.h"
#include "records/pixel_math.h"
#include "view/opponent_smoothing.h"
#include "view/view_style.h"

namespace {

constexpr int kSmallestFittedPixels = 8;  // below this text stops being readable anyway

}  // namespace

MapLooks View_SnapshotMap() {
  MapLooks looks{};
  std::lock_guard lock(map_mutex);
  for (size_t i = 0; i < looks.size(); ++i) {
    const MapCell& cell = _map.cells[i];
    looks[i] = cell.type == "wall" ? CellLook::Block : Shared(cell.is_wall) ? CellLook::Marked : CellLook::Empty;
  }
  return looks;
}

void View_OutlineRect(const QRect& rect) {
  if (!epn) return;
  epn->setBrush(Qt::NoBrush);
  epn->drawRect(rect);
}

void Roundrectangle(int x, int y, int w, int h, int radius, unsigned long colour) {
  const unsigned long saved = ef;
  setfillcolor(colour);
  if (epn) {
    epn->setPen(Qt::NoPen);
    epn->setBrush(QBrush(_qc(colour), Qt::SolidPattern));
    epn->drawRoundedRect(QRect(x, y, w, h), radius, radius, Qt::AbsoluteSize);
    _as(epn);
  }
  setfillcolor(saved);
}

void Progress_drawing(float x, float y, float w, float h, float max, float value, unsigned long back,
                      unsigned long front) {
  if (!epn) return;
  Roundrectangle(TruncatePixel(x), TruncatePixel(y), TruncatePixel(w), TruncatePixel(h), 10, back);
  const float filled = w * (value / max);
  // The bar never shrinks below 20 px; a NaN width (max 0 with value 0) counts as that minimum.
  const int filledWidth = !(filled >= 20.0f) ? 20 : TruncatePixel(filled);
  Roundrectangle(TruncatePixel(x), TruncatePixel(y), filledWidth, TruncatePixel(h), 10, front);
}

Corner DrawnEnemyCorner() {
  if (const auto shown = opponent_smoothing.Shown(SteadyMicros())) return Corner{shown->first, shown->second};
  return EnemyCorner();
}

void Render_minimap(int x, int y, float scale) {
  Render_minimap_walls(x, y, scale);
  Render_minimap_dots(View_MinimapDots(x, y, scale), scale);
}

void Render_minimap_walls(int x, int y, float scale) {
  using namespace arena_look;
  const MapLooks looks = View_SnapshotMap();
  const float ox = static_cast<float>(x);
  const float oy = static_cast<float>(y);
  setfillcolor(palette::kGrey);
  setlinecolor(palette::kBlack);
  setlinestyle(0, 1);
  for (int r = 0; r < kMapSide; ++r) {
    for (int c = 0; c < kMapSide; ++c) {
      const CellLook look = looks[r * kMapSide + c];
      if (look == CellLook::Empty) continue;
      const float x0 = static_cast<float>(kBlockInset + kCellSize * c);
      const float y0 = static_cast<float>(kBlockInset + kCellSize * r);
      const int left = TruncatePixel(x0 * scale + ox);
      const int top = TruncatePixel(y0 * scale + oy);
      const int right = TruncatePixel((x0 + kBlockSize) * scale + ox);
      const int bottom = TruncatePixel((y0 + kBlockSize) * scale + oy);
      if (look == CellLook::Block) {
        fillrectangle(left, top, right, bottom);
      } else {
        setlinecolor(palette::kRed);
        View_OutlineRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
        setlinecolor(palette::kLightGrey);
      }
    }
  }
}

void Render_minimap_dots(const MinimapDots& dots, float scale) {
  setfillcolor(palette::kGreen);
  setlinecolor(palette::kBlack);
  setlinestyle(0, 1);
  const int radius = TruncatePixel(arena_look::kPlayerRadius * scale);
  fillcircle(dots.player.x(), dots.player.y(), radius);
  setfillcolor(palette::kRed);
  if (dots.enemy) fillcircle(dots.enemy->x(), dots.enemy->y(), radius);
}

QRect View_MinimapDotBox(QPoint dot, float scale) {
  const int r = TruncatePixel(arena_look::kPlayerRadius * scale) + 2;
  return QRect(dot, dot).adjusted(-r, -r, r, r);
}

MinimapDots View_MinimapDots(int x, int y, float scale) {
  using namespace arena_look;
  const float ox = static_cast<float>(x), oy = static_cast<float>(y);
  const PlayerData& p = playerdata;
  const Corner player = PlayerCorner(), enemy = DrawnEnemyCorner();
  MinimapDots dots;
  dots.player = QPoint(TruncatePixel(BoxCentre(player.x, p.player_w) * scale + ox),
                       TruncatePixel(BoxCentre(player.y, p.player_h) * scale + oy));
  const double dx = static_cast<double>(player.x) - enemy.x;
  const double dy = static_cast<double>(player.y) - enemy.y;
  if (std::sqrt(dx * dx + dy * dy) < kMinimapEnemyRange)
    dots.enemy = QPoint(TruncatePixel(BoxCentre(enemy.x, p.enemy_w) * scale + ox),
                        TruncatePixel(BoxCentre(enemy.y, p.enemy_h) * scale + oy));
  return dots;
}

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
