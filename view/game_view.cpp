// The render loop and the game-view drawing routines. Runs on the render thread, which
// holds the frame-buffer lock from BeginBatchDraw to FlushBatchDraw; it reads the positions
// and bullets under their locks, the cells' kind text once per routine under map_mutex, and
// the other shared scalars as relaxed atomics.
#include "view/game_view.h"

#include "app/game_records.h"
#include "app/pixel_math.h"
#include "app/tick_pacing.h"
#include "effects/motion_blur.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "view/sidebar.h"

#include <QPainterPath>

#include <array>
#include <cmath>
#include <mutex>

namespace {

constexpr unsigned long kWhite = 0xFFFFFF;
constexpr unsigned long kBlack = 0x000000;
constexpr unsigned long kRed = 0x0000FF;
constexpr unsigned long kGreen = 0x00FF00;
constexpr unsigned long kWallGrey = 0xC8C8C8;
constexpr unsigned long kGridGrey = 0x969696;
constexpr unsigned long kMinimapWallGrey = 0x7D7D7D;

constexpr int kBlockInset = 5;  // drawn block sits 5 px inside its 50 px cell
constexpr int kBlockSize = 40;
constexpr int kPlayerRadius = 15;
constexpr int kBulletRadius = 3;
constexpr int kMouseRingRadius = 15;
constexpr double kMinimapEnemyRange = 150.0;

enum class CellLook : unsigned char { Empty, Block, Marked };
using MapLooks = std::array<CellLook, kMapSide * kMapSide>;

// The cells' kind text is rewritten by the bullet thread when a wall is shot away, so it is
// read once under the lock and drawn from the copy.
MapLooks SnapshotMap() {
  MapLooks looks{};
  std::lock_guard lock(map_mutex);
  for (size_t i = 0; i < looks.size(); ++i) {
    const MapCell& cell = _map.cells[i];
    looks[i] = cell.type == "wall" ? CellLook::Block : Shared(cell.is_wall) ? CellLook::Marked : CellLook::Empty;
  }
  return looks;
}

// Outline only, in the current pen; the brush comes back with the next _as.
void OutlineRect(const QRect& rect) {
  if (!epn) return;
  epn->setBrush(Qt::NoBrush);
  epn->drawRect(rect);
}

void DrawFrame() {
  setbkmode(1);
  setbkcolor(kWhite);
  cleardevice();
  Render_Map();
  Render_bullet();
  RenderAllParticles();
  const Corner player = PlayerCorner(), enemy = EnemyCorner();
  Render_Player(player.x + 0.5f * playerdata.player_w, player.y + 0.5f * playerdata.player_h, kGreen);
  Render_Player(enemy.x + 0.5f * playerdata.enemy_w, enemy.y + 0.5f * playerdata.enemy_h, kRed);
  Render_Vision(TruncatePixel(Shared(playerdata.vision_x)), TruncatePixel(Shared(playerdata.vision_y)),
                TruncatePixel(Shared(playerdata.vision_radius)));
  Render_line();
  Render_sidebar();
  FlushBatchDraw();
}

}  // namespace

void RenderWhile() {
  cleardevice();
  MotionBlur blur(20, 255, 1.0f, 3);
  RunFixedRateLoop(refresh_rate[2], &frame[1], [&blur] {
    // The flag is read once: had it turned true between two reads, the batch and its lock
    // would stay open for good.
    if (!Shared(playerdata.round_over)) {
      BeginBatchDraw();
      DrawFrame();
    }
    // After the flush no batch is open, so apply paints nothing: the blended history would
    // bury the current frame at these opacities, and the scene is shown as drawn.
    blur.capture();
    blur.apply();
  });
}

void Render_frame() {
  if (Shared(playerdata.round_over)) return;
  DrawFrame();
}

void Render_Map() {
  const MapLooks looks = SnapshotMap();
  setfillcolor(kWallGrey);
  setlinecolor(kGridGrey);
  setlinestyle(0, 10);
  for (int r = 0; r < kMapSide; ++r) {
    const int top = kBlockInset + kCellSize * r;
    for (int c = 0; c < kMapSide; ++c) {
      const int left = kBlockInset + kCellSize * c;
      switch (looks[r * kMapSide + c]) {
        case CellLook::Block:
          fillrectangle(left, top, left + kBlockSize, top + kBlockSize);
          break;
        case CellLook::Marked:
          setlinecolor(kRed);
          OutlineRect(QRect(left, top, kBlockSize, kBlockSize));
          setlinecolor(kWallGrey);
          break;
        case CellLook::Empty:
          break;
      }
    }
  }
  setlinecolor(kRed);
  setlinestyle(0, 10);
  if (!epn) return;
  epn->drawLine(0, 0, kArenaSize, 0);
  epn->drawLine(0, 0, 0, kArenaSize);
  epn->drawLine(0, kArenaSize, kArenaSize, kArenaSize);
  epn->drawLine(kArenaSize, 0, kArenaSize, kArenaSize);
}

void Render_bullet() {
  setfillcolor(kBlack);
  setlinecolor(kBlack);
  setlinestyle(0, 1);
  // Copied under the bullets' lock and drawn from the copy, so the bullet thread never waits
  // for the painting.
  std::array<QPoint, kBulletSlots> flying;
  size_t count = 0;
  {
    std::lock_guard lock(bullet_mutex);
    for (int i = 0; i < kBulletSlots; ++i)
      if (bullet.slots[i].active)
        flying[count++] = QPoint(TruncatePixel(bullet.motion[i].x), TruncatePixel(bullet.motion[i].y));
  }
  for (size_t i = 0; i < count; ++i) fillcircle(flying[i].x(), flying[i].y(), kBulletRadius);
}

void Render_Player(float x, float y, unsigned long colour) {
  setfillcolor(colour);
  setlinecolor(kBlack);
  setlinestyle(0, 1);
  fillcircle(TruncatePixel(x), TruncatePixel(y), kPlayerRadius);
}

void Render_Vision(int x, int y, int radius) {
  if (!epn) return;
  // A negative radius would reveal a circle all the same; no sight at all is the sane reading.
  const double r = radius < 0 ? 0.0 : radius;
  epn->save();
  QPainterPath area;
  area.addRect(0, 0, esw, esh);
  QPainterPath sight;
  sight.addEllipse(QRectF(x - r, y - r, 2.0 * r, 2.0 * r));
  epn->setPen(Qt::NoPen);
  epn->setBrush(QBrush(Qt::black, Qt::SolidPattern));
  epn->drawPath(area.subtracted(sight));
  epn->restore();
  _as(epn);
}

void Render_line() {
  const QPoint mouse = PointerInWindow();
  setlinestyle(0, 5);
  setlinecolor(kRed);
  if (!epn) return;
  epn->setBrush(Qt::NoBrush);
  epn->drawEllipse(QRect(mouse.x() - kMouseRingRadius, mouse.y() - kMouseRingRadius, 2 * kMouseRingRadius,
                         2 * kMouseRingRadius));
  const Corner player = PlayerCorner();
  epn->drawLine(TruncatePixel(player.x + 0.5f * playerdata.player_w),
                TruncatePixel(player.y + 0.5f * playerdata.player_h), mouse.x(), mouse.y());
  _as(epn);  // brush back; the red 5 px pen stays
}

void Render_minimap(int x, int y, float scale) {
  const MapLooks looks = SnapshotMap();
  const float ox = static_cast<float>(x);
  const float oy = static_cast<float>(y);
  setfillcolor(kMinimapWallGrey);
  setlinecolor(kBlack);
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
        setlinecolor(kRed);
        OutlineRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
        setlinecolor(kWallGrey);
      }
    }
  }

  setfillcolor(kGreen);
  setlinecolor(kBlack);
  setlinestyle(0, 1);
  const int radius = TruncatePixel(kPlayerRadius * scale);
  const PlayerData& p = playerdata;
  const Corner player = PlayerCorner(), enemy = EnemyCorner();
  fillcircle(TruncatePixel((player.x + 0.5f * p.player_w) * scale + ox),
             TruncatePixel((player.y + 0.5f * p.player_h) * scale + oy), radius);
  setfillcolor(kRed);
  const double dx = static_cast<double>(player.x) - enemy.x;
  const double dy = static_cast<double>(player.y) - enemy.y;
  if (std::sqrt(dx * dx + dy * dy) < kMinimapEnemyRange) {
    fillcircle(TruncatePixel((enemy.x + 0.5f * p.enemy_w) * scale + ox), TruncatePixel((enemy.y + 0.5f * p.enemy_h) * scale + oy),
               radius);
  }
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
