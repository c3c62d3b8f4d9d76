// The networked match: the send loop (send thread) reports this side's position, the host's
// maze, the cells shot away and the queued game events to the peer; the receive loop
// (receive thread) applies what the peer sends to the game records, where the peer is the
// enemy. Both loops run until the close request.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "core/game_events.h"
#include "match/match_link.h"
#include "core/rules_tuning.h"
#include "records/command_string.h"
#include "records/timer_names.h"  // kMapSyncTimer, the stopwatch of the resends below
#include "transport/network_manager.h"

// The host sends its whole maze, and both sides their score, this often: a lost datagram
// heals within one period.
inline constexpr int64_t kResyncMicros = 2'000'000;

// Tick rates of the two loops: 65 sends a second, one receive pass every 4 ms.
extern std::atomic<int32_t> send_rate;
extern std::atomic<int32_t> receive_rate;

// Starts the transport on this side's match port when online; true when it runs. With a
// link in use the match goes over it instead and nothing is opened.
bool Initialize_network();
// The link the match uses from now on instead of UDP, or null for UDP again; set only while
// the match's loops are not running.
void UseMatchLink(MatchLink* link);
// Loop bodies of the send and receive threads; both return at once when not online.
void Send_thread();
void Receiving_thread();

// All 256 maze cells, back to back.
void Send_Map();
// This side's position, as one unit.
void Send_coordinates();
// Applies one parsed command from the peer: coordinates, maze cells, shots, death notices,
// scores and hits. True for the first three; false for the others, applied all the same, and
// for unknown ones, which the caller then files in `incoming`. Throws, like the parser, on a
// value it cannot use (a non-number, a non-finite number, an integer out of range); the
// caller drops such a command.
bool Process_command(ParsedCommand command);

// The send loop's queue of this side's game events: it sends every shot fired. The session
// subscribes it for a networked match.
GameEventQueue& ShotReports();

// One tick of each loop, without the pacing.
void Send_tick();
void Receive_tick();

// Whether a datagram comes from the peer: its address and its port.
bool FromPeer(const NetworkMessage& message);
// Parses and applies one datagram's text; an unhandled command is kept in `incoming`,
// a malformed one dropped.
void Apply_datagram(const std::string& data);
