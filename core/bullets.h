// The bullet loop (bullet thread).
#pragma once

void Bullet_control();
