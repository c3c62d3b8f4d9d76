// The local game session: start-up, the main loop on the GUI thread, and the orderly
// shutdown that joins the game threads. Runs on the main thread only.
#pragma once

// Runs the game until the window is closed or the process is asked to stop; returns the
// process exit status.
int RunGame(int argc, char** argv);

// Ten rate lines, one for each of the first ten tick counters: its mean ticks per second
// since the first match started.
void WriteRateLog();
