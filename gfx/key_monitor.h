// Keyboard monitor: one held flag per letter and digit key, refreshed from the key tables.
// UpdateKeyStates and the flags belong to the control thread; the tables it samples are
// written by the GUI thread.
#pragma once

// Samples slot k of the key tables: stores ekr[k] into eks[k] in one exchange and returns
// the previous eks[k]. If held is given it receives the stored ekr[k] (the key is held).
// Slots outside 0..255 sample as released.
bool SampleKeySlot(int k, bool* held = nullptr);

class KeyMonitor {
 public:
  static KeyMonitor* GetInstance();

  void UpdateKeyStates();
  void ResetAllKeys();

  static bool KeyA, KeyB, KeyC, KeyD, KeyE, KeyF, KeyG, KeyH, KeyI, KeyJ, KeyK, KeyL, KeyM,
      KeyN, KeyO, KeyP, KeyQ, KeyR, KeyS, KeyT, KeyU, KeyV, KeyW, KeyX, KeyY, KeyZ;
  static bool Key0, Key1, Key2, Key3, Key4, Key5, Key6, Key7, Key8, Key9;

 private:
  KeyMonitor() = default;
};

extern KeyMonitor* km;
