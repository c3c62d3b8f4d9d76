// The LAN room's message handling. Runs on whichever thread its owner calls it from, one at
// a time; the callbacks and the sender run on that same thread.
#include "transport/room_protocol.h"

namespace {

std::uint32_t ReadTag(const unsigned char* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

}  // namespace

std::vector<unsigned char> EncodeRoomTag(RoomTag tag) {
  const auto value = static_cast<std::uint32_t>(tag);
  return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

bool HasRoomTag(const unsigned char* data, std::size_t size, RoomTag tag) {
  return size >= 4 && ReadTag(data) == static_cast<std::uint32_t>(tag);
}

RoomProtocol::RoomProtocol(Sender send, RoomState state, const RoomInfo& host, const RoomInfo& peer)
    : send_(std::move(send)),
      state_(state),
      host_(state == RoomState::Idle ? RoomInfo{} : host),
      peer_(state == RoomState::Hosting ? peer : RoomInfo{}) {}

bool RoomProtocol::IsCounterpart(const RoomInfo& sender) const {
  return (state_ == RoomState::Hosting && sender == peer_) || (state_ == RoomState::Joined && sender == host_);
}

void RoomProtocol::HandleDatagram(const unsigned char* data, std::size_t size, const RoomInfo& sender) {
  if (size < 4) return;
  switch (static_cast<RoomTag>(ReadTag(data))) {
    case RoomTag::Sear:
      if (state_ == RoomState::Hosting) send_(sender, EncodeRoomTag(RoomTag::Info));
      break;
    case RoomTag::Join:
      if (state_ == RoomState::Hosting && peer_.ip.empty()) {
        peer_ = sender;
        send_(sender, EncodeRoomTag(RoomTag::Acpt));
        if (onPlayerJoined_) onPlayerJoined_(sender.ip, sender.port);
      } else {
        send_(sender, EncodeRoomTag(RoomTag::Rejt));
      }
      break;
    case RoomTag::Acpt:
    case RoomTag::Rejt:
      // Only the room asked may answer: anyone else on the LAN could otherwise seat us in a
      // room that never took us.
      if (state_ == RoomState::Idle && asked_ && sender == *asked_)
        joinAnswer_ = HasRoomTag(data, size, RoomTag::Acpt) ? JoinAnswer::Accepted : JoinAnswer::Rejected;
      break;
    case RoomTag::Data:
      if (IsCounterpart(sender) && onDataReceived_) onDataReceived_(std::vector<unsigned char>(data + 4, data + size));
      break;
    case RoomTag::Leav:
      if (state_ == RoomState::Hosting && sender == peer_) {
        peer_ = {};  // the seat is free again
      } else if (state_ == RoomState::Joined && sender == host_) {
        state_ = RoomState::Idle;
        host_ = {};
      }
      break;
    default:  // INFO only matters to a search's own socket; unknown tags are ignored
      break;
  }
}

bool RoomProtocol::Host(const RoomInfo& self) {
  if (state_ != RoomState::Idle) return false;
  state_ = RoomState::Hosting;
  host_ = self;
  peer_ = {};
  return true;
}

bool RoomProtocol::AskToJoin(const RoomInfo& host) {
  if (state_ != RoomState::Idle) return false;
  joinAnswer_ = JoinAnswer::None;
  asked_ = host;
  return send_(host, EncodeRoomTag(RoomTag::Join));
}

bool RoomProtocol::EnterJoinedRoom() {
  // An accept that came with no request of ours does not make a room of nowhere.
  if (!asked_ || joinAnswer_ != JoinAnswer::Accepted || state_ != RoomState::Idle) return false;
  state_ = RoomState::Joined;
  host_ = *std::exchange(asked_, std::nullopt);
  return true;
}

bool RoomProtocol::SendData(const std::vector<unsigned char>& payload) {
  const RoomInfo* to = nullptr;
  if (state_ == RoomState::Hosting && !peer_.ip.empty()) to = &peer_;
  if (state_ == RoomState::Joined) to = &host_;
  if (to == nullptr) return false;
  std::vector<unsigned char> datagram = EncodeRoomTag(RoomTag::Data);
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return send_(*to, datagram);
}

bool RoomProtocol::Leave() {
  if (state_ == RoomState::Idle) return false;
  const auto leave = EncodeRoomTag(RoomTag::Leav);
  if (state_ == RoomState::Hosting && !peer_.ip.empty()) send_(peer_, leave);
  if (state_ == RoomState::Joined && !host_.ip.empty()) send_(host_, leave);
  state_ = RoomState::Idle;
  host_ = {};
  peer_ = {};
  return true;
}
