// Random maze for the arena: a depth-first carving over the odd-odd cells with an open
// outer ring, and its copy into the shared maze record.
// Called on the main thread at start-up and again for each match after a left one, once
// that match's threads have ended; never while a game thread runs.
#pragma once

// Fills every element of `grid` ([row][column], true = wall) with a new maze, seeding the
// C random generator with the current time in seconds, so two sides started in the same
// second build the same maze.
void generateMaze(bool (&grid)[16][16]);

// The same carving from a given seed; the time-seeded form above uses it. Lets a caller
// (and the tests) rebuild a maze exactly.
void generateMaze(bool (&grid)[16][16], unsigned seed);

// Generates a maze and stores it in _map: position, index, wall flag and the "wall"/"NULL"
// kind of every cell. The kinds are written under map_mutex.
void Initialize_map();
// Stores `grid` in _map the same way, as a new maze (nothing shot away yet).
void StoreMaze(const bool (&grid)[16][16]);
