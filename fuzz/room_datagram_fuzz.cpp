// Fuzz target for the LAN room's message handling: any datagram from any of four senders,
// in every room state, interleaved with the room's own steps (send, leave, ask to join,
// enter, host), with a sender that records instead of sending and at times refuses. A small
// model of the room predicts every answer, callback, join answer and state change; any
// difference aborts. Single-threaded.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transport/room_protocol.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Sent = std::vector<std::pair<RoomInfo, Bytes>>;
using Answer = RoomProtocol::JoinAnswer;

const RoomInfo kSelf{"127.0.0.1", 8866};
// The peer, the peer's address on another port, the host of a joined room, a stranger.
const RoomInfo kSenders[] = {{"10.0.0.2", 4000}, {"10.0.0.2", 4001}, {"192.168.1.9", 8866}, {"10.0.0.3", 4000}};

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Model {
  RoomState state = RoomState::Idle;
  RoomInfo host, peer;
  std::optional<RoomInfo> asked;
  Answer answer = Answer::None;
  bool refusing = false;  // the sender fails: nothing leaves
  std::vector<RoomInfo> joined;
  std::vector<Bytes> received;
  Sent sent;

  bool Send(const RoomInfo& to, const Bytes& bytes) {
    if (refusing) return false;
    sent.emplace_back(to, bytes);
    return true;
  }
  bool Send(const RoomInfo& to, RoomTag tag) { return Send(to, EncodeRoomTag(tag)); }

  bool IsCounterpart(const RoomInfo& sender) const {
    return (state == RoomState::Hosting && sender == peer) || (state == RoomState::Joined && sender == host);
  }

  void Datagram(const Bytes& bytes, const RoomInfo& sender) {
    if (bytes.size() < 4) return;
    const std::uint32_t tag = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
    const auto is = [tag](RoomTag wanted) { return tag == static_cast<std::uint32_t>(wanted); };
    if (is(RoomTag::Sear) && state == RoomState::Hosting) Send(sender, RoomTag::Info);
    if (is(RoomTag::Join)) {
      const bool seat_free = state == RoomState::Hosting && peer.ip.empty();
      if (seat_free) peer = sender;
      Send(sender, seat_free ? RoomTag::Acpt : RoomTag::Rejt);
      if (seat_free) joined.push_back(sender);
    }
    if ((is(RoomTag::Acpt) || is(RoomTag::Rejt)) && state == RoomState::Idle && asked && sender == *asked)
      answer = is(RoomTag::Acpt) ? Answer::Accepted : Answer::Rejected;
    if (is(RoomTag::Data) && IsCounterpart(sender)) received.emplace_back(bytes.begin() + 4, bytes.end());
    if (is(RoomTag::Leav) && state == RoomState::Hosting && sender == peer) peer = {};
    if (is(RoomTag::Leav) && state == RoomState::Joined && sender == host) state = RoomState::Idle, host = {};
  }

  bool SendData(const Bytes& payload) {
    const RoomInfo* to = state == RoomState::Joined                      ? &host
                         : state == RoomState::Hosting && !peer.ip.empty() ? &peer
                                                                           : nullptr;
    if (to == nullptr) return false;
    Bytes datagram = EncodeRoomTag(RoomTag::Data);
    datagram.insert(datagram.end(), payload.begin(), payload.end());
    return Send(*to, datagram);
  }

  bool Leave() {
    if (state == RoomState::Idle) return false;
    if (state == RoomState::Hosting && !peer.ip.empty()) Send(peer, RoomTag::Leav);
    if (state == RoomState::Joined) Send(host, RoomTag::Leav);
    state = RoomState::Idle, host = {}, peer = {};
    return true;
  }

  bool AskToJoin(const RoomInfo& room) {
    if (state != RoomState::Idle) return false;
    answer = Answer::None, asked = room;
    return Send(room, RoomTag::Join);
  }

  bool Enter() {
    if (!asked || answer != Answer::Accepted || state != RoomState::Idle) return false;
    state = RoomState::Joined, host = *asked, asked.reset();
    return true;
  }

  bool Host() {
    if (state != RoomState::Idle) return false;
    state = RoomState::Hosting, host = kSelf, peer = {};
    return true;
  }
};

}  // namespace

// Input: one byte choosing the starting state, then records of [op][length][bytes]. Op bit 6
// makes the sender refuse during the record. Bit 7 clear: a datagram from kSenders[op & 3].
// Bit 7 set, by op & 7: 0-3 SendData, 4 Leave, 5 AskToJoin(kSenders[op >> 3 & 3]), 6 enter
// the room asked for, 7 host kSelf.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Model model;
  const int start = data[0] % 4;
  model.state = start == 0 ? RoomState::Idle : start == 3 ? RoomState::Joined : RoomState::Hosting;
  model.host = model.state == RoomState::Joined ? kSenders[2] : model.state == RoomState::Hosting ? kSelf : RoomInfo{};
  if (start == 2) model.peer = kSenders[0];

  bool refusing = false;
  Sent sent;
  RoomProtocol room(
      [&](const RoomInfo& to, const Bytes& bytes) {
        if (refusing) return false;
        sent.emplace_back(to, bytes);
        return true;
      },
      model.state, model.host, model.peer);
  std::vector<RoomInfo> joined;
  std::vector<Bytes> received;
  room.SetOnPlayerJoinedCallback(
      [&joined](const std::string& ip, unsigned short port) { joined.push_back({ip, port}); });
  room.SetOnDataReceivedCallback([&received](const Bytes& bytes) { received.push_back(bytes); });

  for (size_t at = 1; at < size;) {
    const uint8_t op = data[at++];
    const size_t wanted = at < size ? data[at++] : 0;
    const size_t length = std::min(wanted, size - at);
    const Bytes bytes(data + at, data + at + length);
    at += length;
    refusing = model.refusing = (op & 0x40) != 0;
    if (!(op & 0x80)) {
      room.HandleDatagram(bytes.data(), bytes.size(), kSenders[op & 3]);
      model.Datagram(bytes, kSenders[op & 3]);
    } else if ((op & 7) < 4) {
      Check(room.SendData(bytes) == model.SendData(bytes));
    } else if ((op & 7) == 4) {
      Check(room.Leave() == model.Leave());
    } else if ((op & 7) == 5) {
      Check(room.AskToJoin(kSenders[op >> 3 & 3]) == model.AskToJoin(kSenders[op >> 3 & 3]));
    } else if ((op & 7) == 6) {
      Check(room.EnterJoinedRoom() == model.Enter());
    } else {
      Check(room.Host(kSelf) == model.Host());
    }
    Check(sent == model.sent);
    sent.clear(), model.sent.clear();
    Check(joined == model.joined);
    Check(received == model.received);
    Check(room.state() == model.state);
    Check(room.joinAnswer() == model.answer);
    Check(room.currentRoom() == (model.state == RoomState::Idle ? RoomInfo{} : model.host));
  }
  return 0;
}
