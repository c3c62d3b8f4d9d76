// The control loop (input to velocity) and the physics loop (velocity to position),
// each on its own thread.
#pragma once

void WhileControl();
void WhileCalculate();
