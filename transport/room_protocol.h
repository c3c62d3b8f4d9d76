// The LAN room's message handling with no socket of its own: which datagrams a room answers,
// whom it takes data from, when it leaves. Whatever it sends goes through the sender it was
// given. Not locked itself: its owner calls it from one thread at a time (the room manager
// under its mutex, from the caller's and the receive thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
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
// True when the datagram starts with `tag`'s four bytes.
bool HasRoomTag(const unsigned char* data, std::size_t size, RoomTag tag);

enum class RoomState { Idle, Hosting, Joined };

class RoomProtocol {
 public:
  // Sends one datagram to one address; true when all of it left.
  using Sender = std::function<bool(const RoomInfo&, const std::vector<unsigned char>&)>;
  using PlayerJoinedCallback = std::function<void(const std::string&, unsigned short)>;
  using DataReceivedCallback = std::function<void(const std::vector<unsigned char>&)>;
  enum class JoinAnswer { None, Accepted, Rejected };

  // In `state`: `host` is this side's own room when hosting, the room it is in when joined;
  // `peer` is who holds the seat when hosting (empty: the seat is free).
  explicit RoomProtocol(Sender send, RoomState state = RoomState::Idle, const RoomInfo& host = {},
                        const RoomInfo& peer = {});

  // One datagram as it came from `sender`; the callbacks run from here.
  void HandleDatagram(const unsigned char* data, std::size_t size, const RoomInfo& sender);

  // Idle to hosting the room `self`, with its seat free. False when not idle.
  bool Host(const RoomInfo& self);
  // Idle only: asks `host` for its seat and forgets any earlier answer. False when not idle
  // or the request could not be sent.
  bool AskToJoin(const RoomInfo& host);
  // The last join answer heard while idle; AskToJoin clears it.
  JoinAnswer joinAnswer() const { return joinAnswer_; }
  // After an accepted request: into the room asked for. False when nothing was asked,
  // or it was refused or not answered yet, or when no longer idle.
  bool EnterJoinedRoom();
  // One DATA datagram to the counterpart; false when there is none or it was not sent.
  bool SendData(const std::vector<unsigned char>& payload);
  // Tells the counterpart, if any, and goes idle. False when it was idle already.
  bool Leave();

  RoomState state() const { return state_; }
  // This side's room when hosting, the joined room when joined, empty when idle.
  RoomInfo currentRoom() const { return state_ == RoomState::Idle ? RoomInfo{} : host_; }

  void SetOnPlayerJoinedCallback(PlayerJoinedCallback callback) { onPlayerJoined_ = std::move(callback); }
  void SetOnDataReceivedCallback(DataReceivedCallback callback) { onDataReceived_ = std::move(callback); }

 private:
  bool IsCounterpart(const RoomInfo& sender) const;

  Sender send_;
  RoomState state_;
  RoomInfo host_;
  RoomInfo peer_;
  std::optional<RoomInfo> asked_;  // the room of a join request not entered yet
  JoinAnswer joinAnswer_ = JoinAnswer::None;
  PlayerJoinedCallback onPlayerJoined_;
  DataReceivedCallback onDataReceived_;
};
