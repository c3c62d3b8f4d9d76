// The process-wide close request: set once by the GUI thread (window closed), a signal
// handler's wake-up or the shutdown, and polled by every loop before each tick.
#pragma once

#include <atomic>

extern std::atomic<bool> ecl;  // close requested
