// The title screen with its three buttons, its settings page, and the lobby's status page
// shown while two players are being paired. Runs on the GUI thread, which draws each frame
// in a batch and keeps serving window events between frames.
#pragma once

#include <string>

inline constexpr char kStartButtonText[] = "Vantorix - Start Game";
inline constexpr char kSettingsButtonText[] = "Other and Settings";
inline constexpr char kPracticeButtonText[] = "Practice";

// Whether the pointer (window coordinates) is over a button; edges included.
bool InStartButton(int x, int y);
bool InSettingsButton(int x, int y);
bool InPracticeButton(int x, int y);

// One button body: filled rounded rectangle, with the outline colour and thickness of its
// hover state left set afterwards.
void DrawRoundRectGray(int x, int y, int w, int h, int radius, unsigned long fill, unsigned long line, bool hovered);

// Runs the title screen, 65 frames a second, until the player clicks "Vantorix - Start Game"
// or "Practice" (returns the button's text) or closes the window (returns ""). "Other and Settings" shows the
// controls, how to start a direct match and `lan_address`, until a click or Esc goes back.
std::string _start(const std::string& lan_address = {});

// What the lobby's status page does this frame.
enum class LobbyInput { None, Back, Closed };
// One frame of the status page: `status` in the middle, and how to go back. Serves the
// window's events first; a click or Esc asks to go back.
LobbyInput ShowLobbyStatus(const std::string& status);
