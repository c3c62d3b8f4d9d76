// The shared main of the benchmarks that draw: an offscreen window of the game's size, the
// benchmarks named on the command line, then the close request and a join of every background
// thread they started (bleeding, window effects). Main thread only.
#pragma once

#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#include "gfx/graphics.h"
#include "services/background_threads.h"
#include "services/close_request.h"

inline int RunWindowedBenchmarks(int argc, char** argv, void (*prepare)() = nullptr) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  initgraph(1000, 800);
  if (prepare != nullptr) prepare();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ecl.store(true);
  background_threads.JoinAll();
  return 0;
}
