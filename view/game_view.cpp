// The render loop and the game-view drawing routines. Runs on the render thread, which
// holds the frame-buffer lock from BeginBatchDraw to FlushBatchDraw; it reads the positions
// and bullets under their locks, the cells' kind text once per routine under map_mutex, and
// the other shared scalars as relaxed atomics.
#include "view/game_view.h"

#include "core/ghost_bullets.h"
#include "effects/particle_manager.h"
#include "gfx/graphics.h"
#include "records/game_records.h"
#include "records/pixel_math.h"
#include "services/tick_pacing.h"
#include "view/sidebar.h"
#include "view/view_drawing.h"
#include "view/view_style.h"

#include <QPainterPath>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

using namespace arena_look;

std::atomic<bool> g_shortcuts{true};

// The part of the window the fog leaves open: the sight's bounding box, with a pixel to
// spare, inside the window. Everything drawn outside it is painted over by the fog.
QRect SightBox(int x, int y, int radius) {
  const int r = std::max(radius, 0) + 2;
  return QRect(QPoint(x - r, y - r), QPoint(x + r, y + r)).intersected(QRect(0, 0, esw, esh));
}

// Where the aiming line and the pointer's ring are drawn, with their pen: the ring's box and
// a chain of small boxes along the line, which crosses the arena when the pointer is far.
QRegion AimRegion() {
  const QPoint mouse = PointerInWindow();
  const Corner player = PlayerCorner();
  const QPointF from(TruncatePixel(BoxCentre(player.x, playerdata.player_w)), TruncatePixel(BoxCentre(player.y, playerdata.player_h)));
  const QPointF to(mouse);
  const int ring = kMouseRingRadius + 8, pen = 6;
  QRegion region(QRect(mouse, mouse).adjusted(-ring, -ring, ring, ring));
  const double length = std::hypot(to.x() - from.x(), to.y() - from.y());
  // A whole box past any sane length: a pointer reported far outside the window.
  if (!(length < 4 * kArenaSize)) return QRegion(0, 0, esw, esh);
  const int steps = std::max(1, static_cast<int>(std::ceil(length / 24.0)));
  for (int i = 0; i < steps; ++i) {
    const QPointF a = from + (to - from) * (static_cast<double>(i) / steps);
    const QPointF b = from + (to - from) * (static_cast<double>(i + 1) / steps);
    region += QRectF(a, b).normalized().toAlignedRect().adjusted(-pen, -pen, pen, pen);
  }
  return region;
}

void DrawFrame() {
  const int sight_x = TruncatePixel(Shared(playerdata.vision_x)), sight_y = TruncatePixel(Shared(playerdata.vision_y));
  const int sight_r = TruncatePixel(Shared(playerdata.vision_radius));
  const bool cull = g_shortcuts.load() && epn;
  // What this thread's last frame left in the frame buffer: the boxes it drew the sight and
  // the aim in, over fog everywhere else. Void once something else drew the whole frame.
  static thread_local QRegion last_boxes;
  static thread_local uint64_t whole_seen = 0;
  const uint64_t whole_requests = WholeFrameRequests();
  const bool whole = !cull || whole_requests != whole_seen;
  const QRect sight = SightBox(sight_x, sight_y, sight_r);
  const QRegion boxes = QRegion(sight) + AimRegion();
  const QRegion changed = boxes + last_boxes;

  if (cull) epn->setClipRect(sight);
  setbkmode(1);
  setbkcolor(palette::kWhite);
  cleardevice();
  Render_Map();
  Render_bullet();
  Render_ghosts();
  RenderAllParticles();
  const Corner player = PlayerCorner(), enemy = DrawnEnemyCorner();
  Render_Player(BoxCentre(player.x, playerdata.player_w), BoxCentre(player.y, playerdata.player_h), palette::kGreen);
  Render_Player(BoxCentre(enemy.x, playerdata.enemy_w), BoxCentre(enemy.y, playerdata.enemy_h), palette::kRed);
  // The fog is already there outside the boxes, from the last frame.
  if (cull) whole ? epn->setClipping(false) : epn->setClipRegion(changed);
  Render_Vision(sight_x, sight_y, sight_r);
  if (cull) epn->setClipping(false);
  Render_line();
  const QRegion sidebar_changed = Render_sidebar(whole ? QRegion(0, 0, esw, esh) : changed);
  if (!cull) {
    FlushBatchDraw();
    return;
  }
  last_boxes = boxes;
  whole_seen = whole_requests;
  if (whole) {
    FlushBatchDrawChanged(QRegion(0, 0, esw, esh));
    return;
  }
  // Outside the boxes and what changed on the sidebar, this frame is the last one: fog, and
  // the same sidebar.
  FlushBatchDrawChanged(changed + sidebar_changed);
}

}  // namespace

void SetFrameShortcuts(bool on) {
  g_shortcuts.store(on);
  SetSidebarCache(on);
}

void RenderWhile() {
  cleardevice();
  // No motion trail: at any opacity that keeps the frame readable it is not worth a blurred
  // copy of every frame.
  RunFixedRateLoop(refresh_rate[kRateRenderLoop], &frame[kFrameRenderLoop], [] {
    if (Shared(playerdata.round_over)) return;
    BeginBatchDraw();
    // Asked again inside the batch: a countdown that began while this thread waited for the
    // frame buffer has drawn its screen there, and a game frame now would cover it.
    if (Shared(playerdata.round_over))
      EndBatchDraw();
    else
      DrawFrame();
  });
}

void Render_frame() {
  if (Shared(playerdata.round_over)) return;
  DrawFrame();
}

void Render_Map() {
  const MapLooks looks = View_SnapshotMap();
  setfillcolor(palette::kLightGrey);
  setlinecolor(palette::kMidGrey);
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
          setlinecolor(palette::kRed);
          View_OutlineRect(QRect(left, top, kBlockSize, kBlockSize));
          setlinecolor(palette::kLightGrey);
          break;
        case CellLook::Empty:
          break;
      }
    }
  }
  setlinecolor(palette::kRed);
  setlinestyle(0, 10);
  if (!epn) return;
  epn->drawLine(0, 0, kArenaSize, 0);
  epn->drawLine(0, 0, 0, kArenaSize);
  epn->drawLine(0, kArenaSize, kArenaSize, kArenaSize);
  epn->drawLine(kArenaSize, 0, kArenaSize, kArenaSize);
}

void Render_bullet() {
  setfillcolor(palette::kBlack);
  setlinecolor(palette::kBlack);
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

void Render_ghosts() {
  // Copied out of the store first, like the bullets, so the bullet thread never waits.
  const std::vector<BulletMotion> ghosts = ghost_bullets.InFlight();
  if (ghosts.empty()) return;
  setfillcolor(palette::kRed);
  setlinecolor(palette::kRed);
  setlinestyle(0, 1);
  for (const BulletMotion& ghost : ghosts) fillcircle(TruncatePixel(ghost.x), TruncatePixel(ghost.y), kBulletRadius);
}

void Render_Player(float x, float y, unsigned long colour) {
  setfillcolor(colour);
  setlinecolor(palette::kBlack);
  setlinestyle(0, 1);
  fillcircle(TruncatePixel(x), TruncatePixel(y), kPlayerRadius);
}

void Render_Vision(int x, int y, int radius) {
  if (!epn) return;
  // A negative radius would reveal a circle all the same; no sight at all is the sane reading.
  const double r = radius < 0 ? 0.0 : radius;
  epn->save();
  // The fog's outline is worked out again only when the sight moved or changed size: clipping
  // paths is most of what drawing it costs. Kept per thread, for the thread that draws.
  struct FogShape {
    int x = 0, y = 0, width = 0, height = 0;
    double r = -1;
    QPainterPath path;
  };
  static thread_local FogShape shape;
  if (!g_shortcuts.load() || shape.r != r || shape.x != x || shape.y != y || shape.width != esw || shape.height != esh) {
    QPainterPath area;
    area.addRect(0, 0, esw, esh);
    QPainterPath sight;
    sight.addEllipse(QRectF(x - r, y - r, 2.0 * r, 2.0 * r));
    shape = FogShape{x, y, esw, esh, r, area.subtracted(sight)};
  }
  const QPainterPath& fog = shape.path;
  epn->setPen(Qt::NoPen);
  epn->setBrush(QBrush(Qt::black, Qt::SolidPattern));
  epn->drawPath(fog);
  epn->restore();
  _as(epn);
}

void Render_line() {
  const QPoint mouse = PointerInWindow();
  setlinestyle(0, 5);
  setlinecolor(palette::kRed);
  if (!epn) return;
  epn->setBrush(Qt::NoBrush);
  epn->drawEllipse(QRect(mouse.x() - kMouseRingRadius, mouse.y() - kMouseRingRadius, 2 * kMouseRingRadius,
                         2 * kMouseRingRadius));
  const Corner player = PlayerCorner();
  epn->drawLine(TruncatePixel(BoxCentre(player.x, playerdata.player_w)),
                TruncatePixel(BoxCentre(player.y, playerdata.player_h)), mouse.x(), mouse.y());
  _as(epn);  // brush back; the red 5 px pen stays
}

