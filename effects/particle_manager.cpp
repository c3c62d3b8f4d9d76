// Particle loop (particle thread); it keeps no tick counter of its own.
#include "effects/particle_manager.h"

#include "app/game_records.h"
#include "app/tick_pacing.h"

void up_particle() {
  RunFixedRateLoop(refresh_rate[0], nullptr, [] {});
}
