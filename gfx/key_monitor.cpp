// Keyboard monitor singleton and the key-slot sampling shared with the fire query. The
// monitor and the fire query run on the control thread, the title screens' sampling on the
// GUI thread; all read the atomic key tables that the GUI thread's event filter writes.
#include "gfx/key_monitor.h"

#include "gfx/graphics.h"

bool KeyMonitor::KeyA = false, KeyMonitor::KeyB = false, KeyMonitor::KeyC = false,
     KeyMonitor::KeyD = false, KeyMonitor::KeyE = false, KeyMonitor::KeyF = false,
     KeyMonitor::KeyG = false, KeyMonitor::KeyH = false, KeyMonitor::KeyI = false,
     KeyMonitor::KeyJ = false, KeyMonitor::KeyK = false, KeyMonitor::KeyL = false,
     KeyMonitor::KeyM = false, KeyMonitor::KeyN = false, KeyMonitor::KeyO = false,
     KeyMonitor::KeyP = false, KeyMonitor::KeyQ = false, KeyMonitor::KeyR = false,
     KeyMonitor::KeyS = false, KeyMonitor::KeyT = false, KeyMonitor::KeyU = false,
     KeyMonitor::KeyV = false, KeyMonitor::KeyW = false, KeyMonitor::KeyX = false,
     KeyMonitor::KeyY = false, KeyMonitor::KeyZ = false;
bool KeyMonitor::Key0 = false, KeyMonitor::Key1 = false, KeyMonitor::Key2 = false,
     KeyMonitor::Key3 = false, KeyMonitor::Key4 = false, KeyMonitor::Key5 = false,
     KeyMonitor::Key6 = false, KeyMonitor::Key7 = false, KeyMonitor::Key8 = false,
     KeyMonitor::Key9 = false;

KeyMonitor* km = KeyMonitor::GetInstance();

namespace {

// Flags in update order: 'A'..'Z', then '0'..'9'.
bool* const kLetterFlags[26] = {
    &KeyMonitor::KeyA, &KeyMonitor::KeyB, &KeyMonitor::KeyC, &KeyMonitor::KeyD,
    &KeyMonitor::KeyE, &KeyMonitor::KeyF, &KeyMonitor::KeyG, &KeyMonitor::KeyH,
    &KeyMonitor::KeyI, &KeyMonitor::KeyJ, &KeyMonitor::KeyK, &KeyMonitor::KeyL,
    &KeyMonitor::KeyM, &KeyMonitor::KeyN, &KeyMonitor::KeyO, &KeyMonitor::KeyP,
    &KeyMonitor::KeyQ, &KeyMonitor::KeyR, &KeyMonitor::KeyS, &KeyMonitor::KeyT,
    &KeyMonitor::KeyU, &KeyMonitor::KeyV, &KeyMonitor::KeyW, &KeyMonitor::KeyX,
    &KeyMonitor::KeyY, &KeyMonitor::KeyZ};
bool* const kDigitFlags[10] = {
    &KeyMonitor::Key0, &KeyMonitor::Key1, &KeyMonitor::Key2, &KeyMonitor::Key3,
    &KeyMonitor::Key4, &KeyMonitor::Key5, &KeyMonitor::Key6, &KeyMonitor::Key7,
    &KeyMonitor::Key8, &KeyMonitor::Key9};

}  // namespace

bool SampleKeySlot(int k, bool* held) {
  if (k < 0 || k > 255) {
    if (held) *held = false;
    return false;
  }
  // Read the raw state once so the stored sample and the reported hold agree.
  const bool down = ekr[k].load();
  if (held) *held = down;
  return eks[k].exchange(down);
}

KeyMonitor* KeyMonitor::GetInstance() {
  static KeyMonitor instance;
  return &instance;
}

void KeyMonitor::UpdateKeyStates() {
  for (int i = 0; i < 26; ++i) SampleKeySlot('A' + i, kLetterFlags[i]);
  for (int i = 0; i < 10; ++i) SampleKeySlot('0' + i, kDigitFlags[i]);
}

void KeyMonitor::ResetAllKeys() {
  for (bool* flag : kLetterFlags) *flag = false;
  for (bool* flag : kDigitFlags) *flag = false;
}
