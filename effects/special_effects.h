// Window flash and shake for the local player's hits and deaths. Each effect runs on a
// short background thread of its own; the flash paints into the frame buffer under em, the
// shake hands every window move to the GUI thread, which owns the window.
#pragma once

#include <optional>

class SpecialEffects {
 public:
  static SpecialEffects* getInstance();

  // Lays `colour` at `intensity` percent over the frame buffer for `hold` seconds, then
  // fades it out over `fade` seconds. Only takes effect when a frame is being drawn at the
  // call. Blocks for the whole effect.
  void windowFlash(int intensity, unsigned long colour, double hold, double fade);
  // Jumps the window to random places within `amplitude` pixels of where it stands, every
  // `interval` seconds for `duration` seconds, then back. Blocks for the whole effect.
  void windowShake(double duration, double interval, int amplitude);

 private:
  SpecialEffects() = default;
};

extern SpecialEffects* spe;

// Opacity (0..255) of a flash `t` seconds after its start, or nothing once it has ended.
std::optional<int> FlashOpacityAt(int intensity, double hold, double fade, double t);

// Starts the game's shake (0.2 s, 0.1 s, 50 px) and red flash (100 %, 0 s, 0.5 s) in the
// background; a shake or flash still running is not started again.
void StartShakeAndFlash();
