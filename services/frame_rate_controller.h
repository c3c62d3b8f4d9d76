// Frame-rate controller: a validated target rate and its frame period in microseconds,
// plus a class-wide "destroyed" mark for a shared instance. Any thread may build one;
// the class-wide mark is guarded by its own mutex.
#pragma once

#include <mutex>

class FrameRateController {
 public:
  explicit FrameRateController(int fps);

  static void destroyInstance();

  int targetFps;
  double frameTimeUs;

  static std::mutex s_instanceMutex;
  static bool s_instanceDestroyed;
};
