// Control and physics loops (control thread, physics thread).
#include "core/player_movement.h"

#include "app/game_records.h"
#include "app/tick_pacing.h"

void WhileControl() {
  RunFixedRateLoop(refresh_rate[0], &frame[4], [] {});
}

void WhileCalculate() {
  RunFixedRateLoop(refresh_rate[0], &frame[3], [] {});
}
