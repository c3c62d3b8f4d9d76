// LAN pairing on its own background thread; the main thread starts, cancels and reads it.
// The room callbacks (room manager's thread) fill the room data that the worker polls.
#include "match/lan_pairing.h"

#include <utility>

#include "match/connection_setup.h"
#include "match/peer_address.h"
#include "services/log_management.h"
#include "services/tick_pacing.h"

namespace {

constexpr char kPortPrefix[] = "PORT{";

// The pairing's turns go to the log, so that what a closed lobby was doing can be read later.
void LogPairing(const std::string& what) {
  LogManagement::getInstance().log("DEBUG.log", LogLevel::INFO, "Lobby: " + what);
}

const char* PhaseWords(LanPairing::Phase phase) {
  switch (phase) {
    case LanPairing::Phase::Searching: return "searching for rooms";
    case LanPairing::Phase::Waiting: return "waiting in a room";
    case LanPairing::Phase::Trading: return "trading match ports";
    default: return nullptr;
  }
}

}  // namespace

std::vector<unsigned char> BuildPortMessage(uint16_t port) {
  const std::string text = kPortPrefix + std::to_string(port) + "}";
  return {text.begin(), text.end()};
}

std::optional<uint16_t> ParsePortMessage(const std::vector<unsigned char>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  const size_t prefix = sizeof kPortPrefix - 1;
  if (text.size() < prefix + 1 || text.compare(0, prefix, kPortPrefix) != 0 || text.back() != '}') return std::nullopt;
  return ParsePort(text.substr(prefix, text.size() - prefix - 1));
}

void RoomLeavingTask(UdpRoomManager& rooms) {
  const std::vector<unsigned char> leave{kRoomLeaveByte};
  for (int i = 0; i < 5; ++i) {
    rooms.SendData(leave);
    SleepMicros(20000);
  }
  rooms.Shutdown();
}

LanPairing::LanPairing(UdpRoomManager& rooms, uint16_t match_port, PairingTimings timings)
    : rooms_(rooms), match_port_(match_port), timings_(timings) {}

LanPairing::~LanPairing() {
  Cancel();
  if (worker_.joinable()) worker_.join();
}

void LanPairing::Start() {
  Cancel();
  if (worker_.joinable()) worker_.join();
  cancelled_ = false;
  Set(Phase::Searching, "Searching for rooms...");
  {
    std::lock_guard lock(mutex_);
    result_.reset();
  }
  worker_ = std::thread(&LanPairing::Run, this);
}

void LanPairing::Cancel() {
  const char* under_way = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!cancelled_) under_way = PhaseWords(phase_);
    cancelled_ = true;
  }
  wake_.notify_all();
  if (under_way) LogPairing(std::string("cancelled while ") + under_way);
}

LanPairing::Phase LanPairing::phase() const {
  std::lock_guard lock(mutex_);
  return phase_;
}

std::string LanPairing::StatusText() const {
  std::lock_guard lock(mutex_);
  return text_;
}

std::optional<LanPairing::Result> LanPairing::result() const {
  std::lock_guard lock(mutex_);
  return result_;
}

bool LanPairing::Pause(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, duration, [this] { return cancelled_.load(); });
  return !cancelled_;
}

void LanPairing::Set(Phase phase, std::string text) {
  std::lock_guard lock(mutex_);
  phase_ = phase;
  text_ = std::move(text);
}

std::optional<LanPairing::Partner> LanPairing::JoinSomeRoom() {
  std::optional<Partner> partner;
  SearchRoomPorts(rooms_, timings_.search_ms, cancelled_, [&](const RoomInfo& room) {
    if (rooms_.JoinRoom(room.ip, room.port)) partner = Partner{room.ip, false};
    return partner.has_value();
  });
  if (!partner && !cancelled_) LogPairing("the room search found no room to join");
  return partner;
}

unsigned short LanPairing::OpenRoom() {
  for (const unsigned short port : kRoomSearchPorts) {
    if (rooms_.CreateRoom(port)) {
      Set(Phase::Waiting, "Waiting for an opponent on port " + std::to_string(port) + "...");
      return port;
    }
  }
  Set(Phase::Failed, "Could not open a room on port 8866, 7788 or 6699");
  return 0;
}

std::optional<LanPairing::Partner> LanPairing::WaitInRoom(unsigned short room_port) {
  const std::string own_addresses = "," + LanAddresses() + ",";
  const auto is_own = [&](const RoomInfo& room) {
    return room.port == room_port &&
           (room.ip.rfind("127.", 0) == 0 || own_addresses.find("," + room.ip + ",") != std::string::npos);
  };
  const auto joined = [] { return RoomPeer(); };
  for (;;) {
    for (const auto until = std::chrono::steady_clock::now() + timings_.research;
         std::chrono::steady_clock::now() < until;) {
      if (const std::optional<RoomInfo> peer = joined()) return Partner{peer->ip, true};
      if (!Pause(std::chrono::milliseconds(20))) return std::nullopt;
    }
    // Two players who clicked at the same moment both found nothing and both wait. Each
    // sees the other's room; the side whose room is the higher one gives its room up and
    // joins the other, the same rule on both sides.
    for (const unsigned short port : kRoomSearchPorts) {
      for (const RoomInfo& room : rooms_.SearchRooms(port, timings_.search_ms, cancelled_)) {
        if (cancelled_) return std::nullopt;
        if (const std::optional<RoomInfo> peer = joined()) return Partner{peer->ip, true};
        if (is_own(room) || DeriveHost(LocalAddressToward(room.ip), room_port, room.ip, room.port)) continue;
        rooms_.LeaveRoom();
        if (rooms_.JoinRoom(room.ip, room.port)) return Partner{room.ip, false};
        room_port = OpenRoom();  // that room was taken meanwhile: wait in one of our own again
        if (room_port == 0) return std::nullopt;
      }
    }
  }
}

std::optional<uint16_t> LanPairing::TradePorts(const std::string& peer_ip) {
  const auto start = std::chrono::steady_clock::now();
  bool told_slow = false;
  do {
    rooms_.SendData(BuildPortMessage(match_port_));
    for (const std::vector<unsigned char>& message : TakeRoomMessages()) {
      if (const std::optional<uint16_t> port = ParsePortMessage(message)) return port;
      if (message == std::vector<unsigned char>{kRoomLeaveByte}) {
        Set(Phase::Failed, "The opponent left the room before the match could start");
        return std::nullopt;
      }
      // Anything else is dropped; the peer's own message is sent again and again.
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= timings_.port_give_up) {
      Set(Phase::Failed, "The opponent in " + peer_ip + " never said its match port");
      return std::nullopt;
    }
    if (!told_slow && waited >= timings_.port_patience) {
      told_slow = true;
      Set(Phase::Trading, "Joined " + peer_ip + ", still waiting for the opponent's match port...");
    }
  } while (Pause(timings_.port_resend));
  return std::nullopt;
}

void LanPairing::Run() {
  ResetRoomData();
  if (!rooms_.Initialize()) {
    Set(Phase::Failed, "The network is not available for rooms");
    return;
  }
  rooms_.SetOnPlayerJoinedCallback(JoinedCallback);
  rooms_.SetOnDataReceivedCallback(MsgCallback);

  std::optional<Partner> partner = JoinSomeRoom();
  if (!partner && !cancelled_) {
    if (const unsigned short room_port = OpenRoom()) partner = WaitInRoom(room_port);
  }
  if (!partner) {
    RoomLeavingTask(rooms_);
    return;
  }
  const std::string peer_ip = partner->ip;
  const bool host = partner->host;
  Set(Phase::Trading, "Joined " + peer_ip + ", starting...");
  const std::optional<uint16_t> peer_port = TradePorts(peer_ip);
  if (peer_port) {
    // A few more, in case the peer lost ours: it cannot start without it.
    for (int i = 0; i < 3 && Pause(timings_.port_resend); ++i) rooms_.SendData(BuildPortMessage(match_port_));
  }
  RoomLeavingTask(rooms_);
  if (!peer_port || cancelled_) return;
  std::lock_guard lock(mutex_);
  result_ = Result{peer_ip, *peer_port, host};
  phase_ = Phase::Paired;
}
