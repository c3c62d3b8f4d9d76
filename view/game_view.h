// The game view: the render loop and the routines that draw the arena, bullets, players,
// fog and aiming line (the sidebar and the shared helpers draw the rest). Everything here runs on the render thread (tests call
// the routines from their own thread) and draws only inside an open batch.
#pragma once

// Render-thread body: one frame per tick at the render rate until the close request.
void RenderWhile();
// On (the default), a frame draws the arena only where the fog leaves it seen and reuses the
// sidebar while nothing on it changed; off, it draws everything, as a reference. Set while
// no frame is being drawn.
void SetFrameShortcuts(bool on);
// Draws and flushes a whole frame into the batch the caller opened; draws nothing (and
// leaves the batch open) while the round is over.
void Render_frame();
void Render_Map();
void Render_bullet();
// The opponent's shots as this side flies them, in the opponent's colour.
void Render_ghosts();
void Render_Player(float x, float y, unsigned long colour);
void Render_Vision(int x, int y, int radius);
void Render_line();


