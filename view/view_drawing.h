// Drawing helpers shared by the view's screens: rounded strips and bars, multi-line text,
// the maze snapshot and the minimap. They draw through the calling thread's open batch (the
// render thread's frames, the main thread's countdowns and start screen), and draw nothing
// without one.
#pragma once

#include <QPoint>
#include <QRect>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "records/game_records.h"

// How a maze cell is drawn: a wall still standing, a wall only marked, or open.
enum class CellLook : unsigned char { Empty, Block, Marked };
using MapLooks = std::array<CellLook, kMapSide * kMapSide>;

// The cells' kind text is rewritten by the bullet thread when a wall is shot away and by the
// receive thread when the peer's maze arrives, so it is read once under the lock and drawn
// from the copy.
MapLooks View_SnapshotMap();

// Outline only, in the current pen; the brush comes back with the next _as.
void View_OutlineRect(const QRect& rect);

void Roundrectangle(int x, int y, int w, int h, int radius, unsigned long colour);
// A bar of `value` out of `max` over a `back` strip; never narrower than 20 px.
void Progress_drawing(float x, float y, float w, float h, float max, float value, unsigned long back,
                      unsigned long front);
// Where the opponent is drawn: between its last reports in a match, as smoothed, else (the
// local game, or before the first report) where the records hold it.
Corner DrawnEnemyCorner();

// The maze's walls and the players, scaled by `scale` with the arena's corner at (x, y); the
// enemy only when it is near the player.
void Render_minimap(int x, int y, float scale);
// Where the minimap drawn at (x, y) shows the player's disc, and the enemy's when it is near
// enough to be shown.
struct MinimapDots {
  QPoint player;
  std::optional<QPoint> enemy;
  bool operator==(const MinimapDots&) const = default;
};
// The minimap in two layers: its walls, and the discs over them.
void Render_minimap_walls(int x, int y, float scale);
void Render_minimap_dots(const MinimapDots& dots, float scale);
// The pixels a disc drawn at `dot` may touch.
QRect View_MinimapDotBox(QPoint dot, float scale);
MinimapDots View_MinimapDots(int x, int y, float scale);

// Draws `text` one line per '&'-separated segment, the first line's top at y.
void DrawTexts(int x, int y, const std::string& text);
void DrawTexts1(int x, int y, const std::string& text);
void DrawTexts2(int x, int y, const std::string& text);

// DrawTexts for a fixed layout: when a line is wider than `max_width` pixels in the current
// font, the same face is scaled down just enough to fit, so a figure at the end of a line is
// never cut off at the window's edge. The current font is restored afterwards.
void DrawTextsFitted(int x, int y, const std::string& text, int max_width);

// The lines DrawTexts draws: k separators give k + 1 segments, empty ones included.
std::vector<std::string> SplitTextLines(const std::string& text);
