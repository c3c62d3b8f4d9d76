// LAN rooms over UDP: open a room on a port, find rooms by broadcast, join one and
// exchange byte messages with the one other player. Operations run on the caller's thread;
// the room's receive thread handles incoming datagrams and runs the two callbacks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One room or one peer address.
struct RoomInfo {
  std::string ip;         // dotted IPv4 text
  unsigned short port{};  // host byte order
  bool operator==(const RoomInfo&) const = default;
};

// Message tags: the four-letter word read as a number whose most significant byte is the
// first letter, written and read little-endian, so the letters travel reversed.
enum class RoomTag : std::uint32_t {
  Sear = 0x53454152,  // search, "RAES" on the wire
  Info = 0x494E464F,  // room answer, "OFNI"
  Join = 0x4A4F494E,  // join request, "NIOJ"
  Acpt = 0x41435054,  // join accepted, "TPCA"
  Rejt = 0x52454A54,  // join rejected, "TJER"
  Data = 0x44415441,  // data, "ATAD" + payload
  Leav = 0x4C454156,  // leave, "VAEL"
};

// The four wire bytes of a tag.
std::vector<unsigned char> EncodeRoomTag(RoomTag tag);

class UdpRoomManager {
 public:
  enum State : int { Idle = 0, Hosting = 1, Joined = 2 };
  using PlayerJoinedCallback = std::function<void(const std::string&, unsigned short)>;
  using DataReceivedCallback = std::function<void(const std::vector<unsigned char>&)>;

  static UdpRoomManager& GetInstance();
  ~UdpRoomManager();
  UdpRoomManager(const UdpRoomManager&) = delete;
  UdpRoomManager& operator=(const UdpRoomManager&) = delete;

  // New socket on a system-chosen port and a running receive thread; any previous
  // implementation is torn down first. False when the socket cannot be opened or bound.
  bool Initialize();
  // Opens a room on `port` (false when already in a room or the port cannot be bound).
  bool CreateRoom(unsigned short port);
  // Asks the host for the free seat and waits up to 3 s for its answer.
  bool JoinRoom(const std::string& ip, unsigned short port);
  void LeaveRoom();
  // Broadcasts a search on `port` and collects the distinct rooms that answer within
  // `timeout_ms`. Uses a socket of its own: callable any time, from any thread.
  std::vector<RoomInfo> SearchRooms(unsigned short port, int timeout_ms);
  // The same, given up within about 20 ms once `cancel` is set (with what was found so far).
  std::vector<RoomInfo> SearchRooms(unsigned short port, int timeout_ms, const std::atomic<bool>& cancel);
  // One DATA datagram to the counterpart; true when all of it was sent.
  bool SendData(const std::vector<unsigned char>& payload);

  bool IsInRoom() const;
  bool IsRoomHost() const;
  RoomInfo GetCurrentRoom() const;
  unsigned short GetSelfPort() const;

  // The callbacks run on the receive thread with the room locked: they must not call back
  // into the manager.
  void SetOnPlayerJoinedCallback(PlayerJoinedCallback callback);
  void SetOnDataReceivedCallback(DataReceivedCallback callback);

  // Stops the receive thread and closes the socket; the room state is kept.
  void Shutdown();

  // Socket-free seam for tests and the fuzzer. Replaces the implementation by one with no
  // socket and no receive thread, in `state` with the given host and peer; whatever it
  // would send is recorded for TakeSentForTest instead of leaving the process.
  void InitializeOfflineForTest(State state, const RoomInfo& host, const RoomInfo& peer);
  // Runs the message handling on one datagram as if it had come from `sender`.
  void HandleDatagramForTest(const unsigned char* data, std::size_t size, const RoomInfo& sender);
  // Datagrams recorded since the last call, with their destinations, oldest first.
  std::vector<std::pair<RoomInfo, std::vector<unsigned char>>> TakeSentForTest();

 private:
  UdpRoomManager();
  struct Impl;
  std::unique_ptr<Impl> impl;
};
