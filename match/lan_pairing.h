// Pairing two players on one LAN through a room: search the room ports, join the first room
// that accepts or open one and wait, then trade match ports through the room and leave it.
// The work runs on a background thread of its own; the lobby screen (main thread) reads the
// status and the result and may cancel at any time.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "transport/udp_room_manager.h"

// "PORT{47000}": one room message, read on its own.
std::vector<unsigned char> BuildPortMessage(uint16_t port);
// The port of a well-formed PORT message (1-65535, plain digits), else nothing.
std::optional<uint16_t> ParsePortMessage(const std::vector<unsigned char>& bytes);
// What the room-leaving task sends five times before the room manager shuts down.
inline constexpr unsigned char kRoomLeaveByte = 200;

// Sends the leave byte five times, 20 ms apart, then shuts the room manager down.
void RoomLeavingTask(UdpRoomManager& rooms);

struct PairingTimings {
  int search_ms = 1000;                              // per room port
  std::chrono::milliseconds port_resend{100};        // PORT messages while waiting for the peer's
  std::chrono::milliseconds port_patience{5000};     // then the status says it still waits
  std::chrono::milliseconds port_give_up{15000};
  // A side waiting in its room looks this often for another room opened at the same time.
  std::chrono::milliseconds research{2000};
};

class LanPairing {
 public:
  enum class Phase { Idle, Searching, Waiting, Trading, Paired, Failed };
  struct Result {
    std::string peer_ip;
    uint16_t peer_port = 0;
    bool host = false;  // the room's creator hosts the match
  };

  LanPairing(UdpRoomManager& rooms, uint16_t match_port, PairingTimings timings = {});
  ~LanPairing();
  LanPairing(const LanPairing&) = delete;
  LanPairing& operator=(const LanPairing&) = delete;

  // Starts a pairing; a previous one is cancelled and waited for first.
  void Start();
  // Gives up the pairing under way; its thread leaves any room on its way out. Returns at
  // once; Start and the destructor wait for the thread.
  void Cancel();

  Phase phase() const;
  // What the screen shows about the pairing.
  std::string StatusText() const;
  std::optional<Result> result() const;

 private:
  void Run();
  bool Pause(std::chrono::milliseconds duration);  // false when cancelled meanwhile
  void Set(Phase phase, std::string text);
  struct Partner {
    std::string ip;
    bool host = false;
  };
  std::optional<Partner> JoinSomeRoom();
  unsigned short OpenRoom();  // the room port, or 0
  std::optional<Partner> WaitInRoom(unsigned short room_port);
  std::optional<uint16_t> TradePorts(const std::string& peer_ip);

  UdpRoomManager& rooms_;
  const uint16_t match_port_;
  const PairingTimings timings_;
  std::thread worker_;
  std::atomic<bool> cancelled_{false};
  mutable std::mutex mutex_;  // guards the fields below and wakes Pause
  std::condition_variable wake_;
  Phase phase_ = Phase::Idle;
  std::string text_;
  std::optional<Result> result_;
};
