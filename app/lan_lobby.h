// The title screen and its LAN lobby: the start screen, then the pairing with its status
// page, back to the title whenever the player asks. Main (GUI) thread, in the game's window.
#pragma once

#include <cstdint>
#include <optional>

#include "app/command_line.h"

// Runs until two players are paired (the direct-match plan to start, using `match_port`),
// the player chose a practice match (its plan), or the window is closed (nothing).
std::optional<LaunchPlan> RunLanLobby(uint16_t match_port);
