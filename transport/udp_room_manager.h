// LAN rooms over UDP: open a room on a port, find rooms by broadcast, join one and
// exchange byte messages with the one other player. Operations run on the caller's thread;
// the room's receive thread feeds incoming datagrams to the room's message handling
// (transport/room_protocol.h), which runs the two callbacks there.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "transport/room_protocol.h"

class UdpRoomManager {
 public:
  using PlayerJoinedCallback = RoomProtocol::PlayerJoinedCallback;
  using DataReceivedCallback = RoomProtocol::DataReceivedCallback;

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

 private:
  UdpRoomManager();
  struct Impl;
  std::unique_ptr<Impl> impl;
};
