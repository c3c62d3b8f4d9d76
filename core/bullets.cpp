// Bullet loop (bullet thread).
#include "core/bullets.h"

#include "app/game_records.h"
#include "app/tick_pacing.h"

void Bullet_control() {
  RunFixedRateLoop(refresh_rate[0], &frame[2], [] {});
}
