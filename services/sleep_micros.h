// A sleep that survives signals, for any thread's pacing and waiting.
#pragma once

#include <cstdint>

// Sleeps `micros`, resuming after signal interruptions for the time that remained.
void SleepMicros(int64_t micros);
