// The process-wide close request: set by the GUI thread (window closed, or Esc leaving a
// match), a signal handler or the shutdown, and polled by every loop before each tick.
#pragma once

#include <atomic>

extern std::atomic<bool> ecl;  // close requested: the running loops end
// The window itself is closing, or a stop signal came: ecl then ends the program, not only
// a match left with Esc. Set by the GUI thread or a signal handler, read by the main thread.
extern std::atomic<bool> window_closing;
// While set, Esc ends the running loops as a close does but keeps the window, so the session
// can go back to the title screen. Set by the main thread around a match; read by the input
// filter on the same thread.
extern std::atomic<bool> escape_leaves;
