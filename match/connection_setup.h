// Learning the opponent's address before a match: the console dialogue, free-port probes,
// one LAN room search over the three well-known ports and the two room callbacks. The
// dialogue and probes run on the caller's thread, thread1s on a background thread, the
// callbacks on the room manager's receive thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transport/udp_room_manager.h"

// Filled by the room callbacks on the room manager's receive thread, under _roomDataMutex;
// read them under it too, or through RoomPeer and TakeRoomMessages.
extern std::string _ip;                   // address of the last player that joined, "NULL" before
extern std::uint16_t _port;               // its port
extern std::vector<unsigned char> _data;  // every payload received, run together, at most kMaxRoomData bytes
extern std::mutex _roomDataMutex;
inline constexpr size_t kMaxRoomData = 64 * 1024;
inline constexpr size_t kMaxRoomMessages = 64;
// Held by thread1s for a whole search; set while one is in progress.
extern std::mutex _roomMutex;
extern std::atomic<bool> SearchRooms_ending;

inline constexpr unsigned short kRoomSearchPorts[] = {8866, 7788, 6699};
inline constexpr int kRoomSearchTimeoutMs = 1000;

// The dialogue's closing pauses: after each progress-bar frame and before the console goes.
struct DialoguePauses {
  std::chrono::milliseconds frame{100};
  std::chrono::milliseconds closing{500};
};

// Asks for the opponent's address and port until both are valid, shows the summary and
// the progress bar and returns (address, port). Run on the standard streams it then
// reopens stdin, stdout and stderr on the null device. When the input ends before both
// answers are in it returns ("", 0) at once.
std::pair<std::string, int> OpenNewConsoleInputIPPort(std::istream& in = std::cin, std::ostream& out = std::cout,
                                                      DialoguePauses pauses = {});

// A plain dotted IPv4 address: four decimal numbers 0-255 and three dots, nothing more, so
// that what the player typed is an address the transport can send to.
bool IsValidIP(const std::string& text);

// True when an IPv4 TCP socket binds to 0.0.0.0 at `port`.
bool isPortAvailable(unsigned short port);
// First port of [first, last] that binds, in ascending order; 0 for none or an empty range.
unsigned short getFirstAvailablePort(unsigned short first, unsigned short last);
// Always empty.
std::vector<std::string> getLocalIPAddresses();

// Searches each of kRoomSearchPorts in order, offering every room found to `take` until it
// takes one (true) or `cancelled` is set; true when a room was taken.
bool SearchRoomPorts(UdpRoomManager& manager, int timeout_ms, const std::atomic<bool>& cancelled,
                     const std::function<bool(const RoomInfo&)>& take);

// One room search on each of kRoomSearchPorts in order; `rooms` gets all answers (no
// merging across ports). Returns at once, leaving `rooms` alone, while another search runs.
// `text` is not used.
void thread1s(std::string& text, std::vector<RoomInfo>& rooms, UdpRoomManager& manager);

void JoinedCallback(const std::string& ip, unsigned short port);
// Also keeps each payload as a message of its own (the newest kMaxRoomMessages), since a
// message's bounds are lost once payloads run together in _data.
void MsgCallback(const std::vector<unsigned char>& bytes);

// The last joined player's address and port, or nothing before one joined.
std::optional<RoomInfo> RoomPeer();
// The payloads received since the last call, one per datagram, oldest first.
std::vector<std::vector<unsigned char>> TakeRoomMessages();
// Forgets the joined player and every payload, before a new room.
void ResetRoomData();
