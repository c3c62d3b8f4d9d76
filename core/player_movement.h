// The control loop (held W/A/S/D keys to velocity, control thread) and the physics loop
// (velocity to position with wall stops, physics thread). Each step holds motion_mutex
// while it reads and writes the player's position and velocity.
#pragma once

// One control step: refresh the keyboard monitor, bound the velocity from above by
// max_speed, then add the acceleration of each held direction key.
void Detecting_movement();

// One physics step: low-energy attenuation, integration with damping, and a wall test per
// axis so that a blocked axis stops while the other slides on.
void Physics_step();
// The share of its speed a player keeps at `energy`: all of it from half energy up, falling
// linearly to 0.9 of it at none.
float LowEnergySpeedFactor(double energy, double max_energy);

void WhileControl();
void WhileCalculate();
