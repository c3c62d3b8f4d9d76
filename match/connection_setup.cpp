// Connection setup: console dialogue, port probes, the three-port room search and the room
// callbacks. The dialogue runs on the caller's thread, thread1s on a background thread, the
// callbacks on the room manager's receive thread.
#include "match/connection_setup.h"

#include <cstdio>
#include <deque>
#include <iterator>
#include <iomanip>
#include <sys/socket.h>

#include "match/peer_address.h"
#include "services/tick_pacing.h"

std::string _ip = "NULL";
std::uint16_t _port = 0;
std::vector<unsigned char> _data;
std::mutex _roomMutex;
std::mutex _roomDataMutex;
std::atomic<bool> SearchRooms_ending{false};

namespace {

constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;
constexpr std::streamsize kDiscardLimit = 10000;
constexpr int kProgressSteps = 50;

void Pause(std::chrono::milliseconds duration) {
  SleepMicros(std::chrono::duration_cast<std::chrono::microseconds>(duration).count());
}

// Nothing further of the process reaches the console.
void ReopenConsoleOnNullDevice() {
  std::fflush(nullptr);
  std::freopen("/dev/null", "r", stdin);
  std::freopen("/dev/null", "w", stdout);
  std::freopen("/dev/null", "w", stderr);
}

}  // namespace

std::pair<std::string, int> OpenNewConsoleInputIPPort(std::istream& in, std::ostream& out, DialoguePauses pauses) {
  const std::string wide(51, '=');
  const std::string narrow(41, '=');
  out << wide << '\n' << "              P2P Direct Connection Setup          " << '\n' << wide << "\n\n";

  std::string ip;
  for (;;) {
    out << "Please enter opponent's IP address: " << std::flush;
    if (!(in >> ip)) return {"", 0};
    if (IsValidIP(ip)) break;
    out << "Error: Invalid IP format! Please enter like 192.168.x.x\n\n";
  }

  int port = 0;
  for (;;) {
    out << "Please enter opponent's port (1-65535): " << std::flush;
    const bool read = static_cast<bool>(in >> port);
    if (read && port >= kMinPort && port <= kMaxPort) break;
    if (!read && (in.eof() || in.bad())) return {"", 0};  // the error line would repeat forever
    in.clear();
    in.ignore(kDiscardLimit, '\n');
    out << "Error: Port must be a number between 1 and 65535!\n\n";
  }

  out << '\n' << narrow << '\n'
      << "Target IP:    " << ip << '\n'
      << "Target Port:  " << port << '\n'
      << narrow << "\n\n"
      << wide << '\n'
      << "  PLEASE STAY ON THIS SCREEN\n"
      << "  Ask YOUR OPPONENT to perform the SAME operation\n"
      << wide << "\n\n";

  out << std::fixed << std::setprecision(1);  // stays on the stream afterwards
  for (int k = 0; k <= kProgressSteps; ++k) {
    out << "\r[" << std::string(k, '#') << std::string(kProgressSteps - k, ' ') << "] " << k * 2.0 << '%'
        << std::flush;
    Pause(pauses.frame);
  }
  out << "\n\nConnection setup completed. Console will close soon.\n" << std::flush;
  Pause(pauses.closing);
  if (&in == &std::cin && &out == &std::cout) ReopenConsoleOnNullDevice();
  return {ip, port};
}

bool IsValidIP(const std::string& text) { return CanonicalIPv4(text).has_value(); }

bool isPortAvailable(unsigned short port) { return PortBinds(SOCK_STREAM, port); }

unsigned short getFirstAvailablePort(unsigned short first, unsigned short last) {
  return FirstBindingPort(SOCK_STREAM, first, last);
}

std::vector<std::string> getLocalIPAddresses() { return {}; }

void thread1s(std::string& /*text*/, std::vector<RoomInfo>& rooms, UdpRoomManager& manager) {
  if (SearchRooms_ending.exchange(true)) return;
  std::lock_guard lock(_roomMutex);
  struct ClearBusy {
    ~ClearBusy() { SearchRooms_ending = false; }
  } clear_busy;  // also when a search throws, or no search could ever run again
  std::vector<RoomInfo> found;
  static const std::atomic<bool> never{false};
  SearchRoomPorts(manager, kRoomSearchTimeoutMs, never, [&found](const RoomInfo& room) {
    found.push_back(room);
    return false;
  });
  rooms = std::move(found);
}

bool SearchRoomPorts(UdpRoomManager& manager, int timeout_ms, const std::atomic<bool>& cancelled,
                     const std::function<bool(const RoomInfo&)>& take) {
  for (const unsigned short port : kRoomSearchPorts) {
    for (const RoomInfo& room : manager.SearchRooms(port, timeout_ms, cancelled)) {
      if (cancelled) return false;
      if (take(room)) return true;
    }
    if (cancelled) return false;
  }
  return false;
}

namespace {
std::deque<std::vector<unsigned char>> g_roomMessages;  // under _roomDataMutex
}  // namespace

void JoinedCallback(const std::string& ip, unsigned short port) {
  std::lock_guard lock(_roomDataMutex);
  _ip = ip;
  _port = port;
}

void MsgCallback(const std::vector<unsigned char>& bytes) {
  std::lock_guard lock(_roomDataMutex);
  // Anyone in the room can send; neither list may grow without end.
  if (_data.size() + bytes.size() <= kMaxRoomData) _data.insert(_data.end(), bytes.begin(), bytes.end());
  if (g_roomMessages.size() >= kMaxRoomMessages) g_roomMessages.pop_front();
  g_roomMessages.push_back(bytes);
}

std::optional<RoomInfo> RoomPeer() {
  std::lock_guard lock(_roomDataMutex);
  if (_ip == "NULL") return std::nullopt;
  return RoomInfo{_ip, _port};
}

std::vector<std::vector<unsigned char>> TakeRoomMessages() {
  std::lock_guard lock(_roomDataMutex);
  std::vector<std::vector<unsigned char>> taken(std::make_move_iterator(g_roomMessages.begin()),
                                                std::make_move_iterator(g_roomMessages.end()));
  g_roomMessages.clear();
  return taken;
}

void ResetRoomData() {
  std::lock_guard lock(_roomDataMutex);
  _ip = "NULL";
  _port = 0;
  _data.clear();
  g_roomMessages.clear();
}
