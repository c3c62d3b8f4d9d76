// Frame-rate controller: rate validation and its console messages.
// Constructors run on whichever thread builds the object; destroyInstance holds the class mutex.
#include "services/frame_rate_controller.h"

#include <iostream>
#include <locale>
#include <sstream>

std::mutex FrameRateController::s_instanceMutex;
bool FrameRateController::s_instanceDestroyed = false;

namespace {

constexpr int kFallbackFps = 240;

// Each line is formatted on its own stream in the classic locale, so the figures read the
// same whatever flags or locale the console stream carries, and goes out in one write.
void emitLine(std::ostream& out, const std::ostringstream& line) {
  out << line.str() << std::endl;
}

std::ostringstream lineStream() {
  std::ostringstream line;
  line.imbue(std::locale::classic());
  return line;
}

}  // namespace

FrameRateController::FrameRateController(int fps) {
  if (fps < 1) {
    targetFps = kFallbackFps;
    std::ostringstream line = lineStream();
    line << "[ERROR] Invalid custom fps: " << fps << ", auto corrected to " << kFallbackFps << ".";
    emitLine(std::cerr, line);
  } else {
    targetFps = fps;
  }
  frameTimeUs = 1e6 / targetFps;
  std::ostringstream line = lineStream();
  line << "[INFO] FrameRateController initialized with target fps: " << targetFps
       << ", single frame time: " << frameTimeUs << " us.";
  emitLine(std::cout, line);
}

void FrameRateController::destroyInstance() {
  std::lock_guard<std::mutex> lock(s_instanceMutex);
  s_instanceDestroyed = true;
  std::cerr << "[INFO] FrameRateController instance marked as destroyed." << std::endl;
}
