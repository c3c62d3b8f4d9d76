// Fuzz target for the LAN room's message handling: any datagram from any of four senders,
// in every room state, interleaved with SendData and LeaveRoom, through the socket-free
// seam (nothing leaves the process). A small model of the room predicts every answer,
// callback and state change; any difference aborts. Single-threaded.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "transport/udp_room_manager.h"

namespace {

using Bytes = std::vector<unsigned char>;
using M = UdpRoomManager;

const RoomInfo kSelf{"127.0.0.1", 8866};
// The peer, the peer's address on another port, the host of a joined room, a stranger.
const RoomInfo kSenders[] = {{"10.0.0.2", 4000}, {"10.0.0.2", 4001}, {"192.168.1.9", 8866}, {"10.0.0.3", 4000}};

void Check(bool condition) {
  if (!condition) std::abort();
}

std::uint32_t Tag(RoomTag tag) { return static_cast<std::uint32_t>(tag); }

struct Model {
  M::State state = M::Idle;
  RoomInfo host, peer;
  std::vector<RoomInfo> joined;
  std::vector<Bytes> received;
  std::vector<std::pair<RoomInfo, Bytes>> sent;

  bool IsCounterpart(const RoomInfo& sender) const {
    return (state == M::Hosting && sender == peer) || (state == M::Joined && sender == host);
  }

  void Datagram(const Bytes& bytes, const RoomInfo& sender) {
    if (bytes.size() < 4) return;
    const std::uint32_t tag = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
    if (tag == Tag(RoomTag::Sear) && state == M::Hosting) sent.emplace_back(sender, EncodeRoomTag(RoomTag::Info));
    if (tag == Tag(RoomTag::Join)) {
      const bool seat_free = state == M::Hosting && peer.ip.empty();
      if (seat_free) peer = sender, joined.push_back(sender);
      sent.emplace_back(sender, EncodeRoomTag(seat_free ? RoomTag::Acpt : RoomTag::Rejt));
    }
    if (tag == Tag(RoomTag::Data) && IsCounterpart(sender)) received.emplace_back(bytes.begin() + 4, bytes.end());
    if (tag == Tag(RoomTag::Leav) && state == M::Hosting && sender == peer) peer = {};
    if (tag == Tag(RoomTag::Leav) && state == M::Joined && sender == host) state = M::Idle, host = {};
  }

  bool SendData(const Bytes& payload) {
    const RoomInfo* to = state == M::Joined ? &host : state == M::Hosting && !peer.ip.empty() ? &peer : nullptr;
    if (to == nullptr) return false;
    Bytes datagram = EncodeRoomTag(RoomTag::Data);
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    sent.emplace_back(*to, datagram);
    return true;
  }

  void Leave() {
    if (state == M::Hosting && !peer.ip.empty()) sent.emplace_back(peer, EncodeRoomTag(RoomTag::Leav));
    if (state == M::Joined) sent.emplace_back(host, EncodeRoomTag(RoomTag::Leav));
    state = M::Idle, host = {}, peer = {};
  }
};

}  // namespace

// Input: one byte choosing the starting state, then records of [op][length][bytes]; op bit 7
// clear is a datagram from kSenders[op & 3], set is SendData (bit 2 clear) or LeaveRoom.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  M& room = M::GetInstance();
  Model model;
  const int start = data[0] % 4;
  model.state = start == 0 ? M::Idle : start == 3 ? M::Joined : M::Hosting;
  model.host = model.state == M::Joined ? kSenders[2] : model.state == M::Hosting ? kSelf : RoomInfo{};
  if (start == 2) model.peer = kSenders[0];
  room.InitializeOfflineForTest(model.state, model.host, model.peer);
  std::vector<RoomInfo> joined;
  std::vector<Bytes> received;
  room.SetOnPlayerJoinedCallback([&joined](const std::string& ip, unsigned short port) { joined.push_back({ip, port}); });
  room.SetOnDataReceivedCallback([&received](const Bytes& bytes) { received.push_back(bytes); });

  for (size_t at = 1; at < size;) {
    const uint8_t op = data[at++];
    const size_t wanted = at < size ? data[at++] : 0;
    const size_t length = std::min(wanted, size - at);
    const Bytes bytes(data + at, data + at + length);
    at += length;
    if (!(op & 0x80)) {
      room.HandleDatagramForTest(bytes.data(), bytes.size(), kSenders[op & 3]);
      model.Datagram(bytes, kSenders[op & 3]);
    } else if (!(op & 0x04)) {
      Check(room.SendData(bytes) == model.SendData(bytes));
    } else {
      room.LeaveRoom();
      model.Leave();
    }
    Check(room.TakeSentForTest() == model.sent);
    model.sent.clear();
    Check(joined == model.joined && received == model.received);
    Check(room.IsInRoom() == (model.state != M::Idle) && room.IsRoomHost() == (model.state == M::Hosting));
    Check(room.GetCurrentRoom() == (model.state == M::Idle ? RoomInfo{} : model.host));
  }
  room.Shutdown();
  return 0;
}
