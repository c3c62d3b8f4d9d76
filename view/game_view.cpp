// Render loop: draws one frame per tick as one batch and hands it to the GUI thread.
// Runs on the render thread; holds the frame-buffer lock only inside the batch.
#include "view/game_view.h"

#include "app/game_records.h"
#include "app/tick_pacing.h"
#include "gfx/graphics.h"

void RenderWhile() {
  RunFixedRateLoop(refresh_rate[2], &frame[1], [] {
    BeginBatchDraw();
    cleardevice();
    FlushBatchDraw();
  });
}
