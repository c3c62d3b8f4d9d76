// The particle loop (particle thread).
#pragma once

void up_particle();
