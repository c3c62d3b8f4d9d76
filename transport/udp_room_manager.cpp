// LAN rooms over UDP: the room socket, its receive thread and the broadcast search around the
// room's message handling. Caller threads run the operations; one receive thread per manager
// reads the room socket and feeds the message handling under the room mutex. SearchRooms
// works on a socket of its own and may run on any thread.
#include "transport/udp_room_manager.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stop_token>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "services/sleep_micros.h"

namespace {

constexpr std::size_t kReceiveBufferSize = 4096;
constexpr std::size_t kSearchBufferSize = 256;
constexpr auto kJoinWait = std::chrono::seconds(3);
constexpr int64_t kReceiveRetryMicros = 10000;
constexpr char kLocalIP[] = "127.0.0.1";

RoomInfo ToRoomInfo(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return {text, ntohs(address.sin_port)};
}

// False for text that is not an IPv4 address, which would otherwise read as the
// broadcast address.
bool ToSockaddr(const RoomInfo& room, sockaddr_in& address) {
  address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(room.port);
  return inet_aton(room.ip.c_str(), &address.sin_addr) != 0;
}

// A UDP socket bound to 0.0.0.0 on `port` (0: chosen by the system), or -1.
int OpenBoundUdpSocket(unsigned short port, bool room_options) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (room_options) {
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

unsigned short BoundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

}  // namespace

struct UdpRoomManager::Impl {
  unsigned short selfPort = 0;
  int sock = -1;
  std::jthread receiveThread;
  std::atomic<bool> running{false};

  // Guards the socket number and `room`; `room` sends while it is held.
  mutable std::mutex mutex;
  std::condition_variable joinCv;  // a join answer arrived
  RoomInfo selfInfo;
  RoomProtocol room{[this](const RoomInfo& to, const std::vector<unsigned char>& bytes) { return SendTo(to, bytes); }};

  // Pulls the receive thread out of poll() when it must stop or its socket changed.
  const int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);

  Impl() = default;
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  ~Impl() {
    StopReceiver();
    CloseSocket();
    if (wakeFd >= 0) close(wakeFd);
  }

  static std::string GetLocalIP() { return kLocalIP; }

  void Wake() const {
    if (wakeFd >= 0) eventfd_write(wakeFd, 1);
  }

  void CloseSocket() {
    if (sock >= 0) close(sock);
    sock = -1;
  }

  void StartReceiver() {
    running = true;
    receiveThread = std::jthread([this](std::stop_token stop) { ReceiveLoop(stop); });
  }

  // Must not be called with `mutex` held: the thread may be waiting for it. True when a
  // receive thread was running.
  bool StopReceiver() {
    if (!receiveThread.joinable()) return false;
    const bool was_running = running.load();
    receiveThread.request_stop();
    receiveThread.join();
    receiveThread = std::jthread();
    return was_running;
  }

  // The socket number only changes while no receive thread runs, or under `mutex` by
  // dup3 onto the same number, so the thread never polls a number that was reused.
  void ReceiveLoop(const std::stop_token& stop) {
    const std::stop_callback wake_on_stop(stop, [this] { Wake(); });
    std::vector<unsigned char> buffer(kReceiveBufferSize);
    while (!stop.stop_requested() && running.load()) {
      int fd;
      {
        std::lock_guard lock(mutex);
        fd = sock;
      }
      pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
      const int ready = poll(fds, 2, wakeFd >= 0 ? -1 : 20);
      if (ready < 0) {
        if (errno != EINTR) SleepMicros(kReceiveRetryMicros);
        continue;
      }
      if (fds[1].revents & POLLIN) {
        eventfd_t drained;
        eventfd_read(wakeFd, &drained);
        continue;  // re-test the stop request and re-read the socket
      }
      if (fds[0].revents & POLLNVAL) {
        SleepMicros(kReceiveRetryMicros);
        continue;
      }
      if (fds[0].revents == 0) continue;
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t received =
          recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
      if (received < 0) {
        if (errno == ENOTSOCK || errno == ESHUTDOWN) break;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) SleepMicros(kReceiveRetryMicros);
        continue;
      }
      std::lock_guard lock(mutex);
      const RoomProtocol::JoinAnswer before = room.joinAnswer();
      room.HandleDatagram(buffer.data(), static_cast<std::size_t>(received), ToRoomInfo(from));
      if (room.joinAnswer() != before) joinCv.notify_one();
    }
  }

  // Under `mutex`: the room's way out.
  bool SendTo(const RoomInfo& to, const std::vector<unsigned char>& bytes) const {
    sockaddr_in address{};
    if (sock < 0 || !ToSockaddr(to, address)) return false;
    const ssize_t written =
        sendto(sock, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return written >= 0 && static_cast<std::size_t>(written) == bytes.size();
  }

  // Under `mutex`: a fresh socket on a system-chosen port takes over the socket's number,
  // so a running receive thread simply reads on. The old socket stays when no new one can
  // be had.
  void ReplaceSocket() {
    const int fresh = OpenBoundUdpSocket(0, false);
    if (fresh < 0) return;
    selfInfo.port = BoundPort(fresh);
    if (sock < 0) {
      sock = fresh;
    } else {
      dup3(fresh, sock, O_CLOEXEC);
      close(fresh);
    }
    Wake();
  }
};

UdpRoomManager::UdpRoomManager() = default;
UdpRoomManager::~UdpRoomManager() = default;

UdpRoomManager& UdpRoomManager::GetInstance() {
  static UdpRoomManager instance;
  return instance;
}

bool UdpRoomManager::Initialize() {
  impl.reset();
  impl = std::make_unique<Impl>();
  const int fd = OpenBoundUdpSocket(0, false);
  if (fd < 0) return false;
  impl->sock = fd;
  impl->selfPort = BoundPort(fd);
  impl->selfInfo = {"0.0.0.0", impl->selfPort};
  impl->StartReceiver();
  return true;
}

bool UdpRoomManager::CreateRoom(unsigned short port) {
  if (!impl) return false;
  Impl& m = *impl;
  {
    std::lock_guard lock(m.mutex);
    if (m.room.state() != RoomState::Idle) return false;
  }
  // The old thread goes first so that it never sees its socket closed under it.
  const bool was_running = m.StopReceiver();
  bool created = false;
  {
    std::lock_guard lock(m.mutex);
    if (m.room.state() == RoomState::Idle) {
      m.CloseSocket();
      m.sock = OpenBoundUdpSocket(port, true);
      if (m.sock >= 0) {
        m.selfInfo = {Impl::GetLocalIP(), BoundPort(m.sock)};
        created = m.room.Host(m.selfInfo);
      }
    }
  }
  if (created || was_running) m.StartReceiver();
  return created;
}

bool UdpRoomManager::JoinRoom(const std::string& ip, unsigned short port) {
  if (!impl) return false;
  Impl& m = *impl;
  std::unique_lock lock(m.mutex);
  if (!m.room.AskToJoin({ip, port})) return false;
  const auto answered = [&m] { return m.room.joinAnswer() != RoomProtocol::JoinAnswer::None; };
  if (!m.joinCv.wait_until(lock, std::chrono::steady_clock::now() + kJoinWait, answered)) return false;
  return m.room.EnterJoinedRoom();
}

void UdpRoomManager::LeaveRoom() {
  if (!impl) return;
  std::lock_guard lock(impl->mutex);
  if (impl->room.Leave()) impl->ReplaceSocket();
}

std::vector<RoomInfo> UdpRoomManager::SearchRooms(unsigned short port, int timeout_ms) {
  static const std::atomic<bool> never{false};
  return SearchRooms(port, timeout_ms, never);
}

std::vector<RoomInfo> UdpRoomManager::SearchRooms(unsigned short port, int timeout_ms,
                                                  const std::atomic<bool>& cancel) {
  constexpr int kCancelCheckMs = 20;
  std::vector<RoomInfo> rooms;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return rooms;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (timeout_ms > 0) {
    const timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  }
  sockaddr_in broadcast{};
  ToSockaddr({"255.255.255.255", port}, broadcast);
  const auto search = EncodeRoomTag(RoomTag::Sear);
  const bool sent = sendto(fd, search.data(), search.size(), 0, reinterpret_cast<const sockaddr*>(&broadcast),
                           sizeof broadcast) == static_cast<ssize_t>(search.size());
  // Each wait is cut to what is left, so the whole search keeps to `timeout_ms`.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  unsigned char buffer[kSearchBufferSize];
  while (sent) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || cancel.load()) break;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), kCancelCheckMs))) <= 0) continue;
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t received =
        recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
    if (received < 0 || !HasRoomTag(buffer, static_cast<std::size_t>(received), RoomTag::Info)) continue;
    const RoomInfo room = ToRoomInfo(from);
    if (std::find(rooms.begin(), rooms.end(), room) == rooms.end()) rooms.push_back(room);
  }
  close(fd);
  return rooms;
}

bool UdpRoomManager::SendData(const std::vector<unsigned char>& payload) {
  if (!impl) return false;
  std::lock_guard lock(impl->mutex);
  return impl->room.SendData(payload);
}

bool UdpRoomManager::IsInRoom() const {
  if (!impl) return false;
  std::lock_guard lock(impl->mutex);
  return impl->room.state() != RoomState::Idle;
}

bool UdpRoomManager::IsRoomHost() const {
  if (!impl) return false;
  std::lock_guard lock(impl->mutex);
  return impl->room.state() == RoomState::Hosting;
}

RoomInfo UdpRoomManager::GetCurrentRoom() const {
  if (!impl) return {};
  std::lock_guard lock(impl->mutex);
  return impl->room.currentRoom();
}

unsigned short UdpRoomManager::GetSelfPort() const { return impl ? impl->selfPort : 0; }

void UdpRoomManager::SetOnPlayerJoinedCallback(PlayerJoinedCallback callback) {
  if (!impl) return;
  std::lock_guard lock(impl->mutex);
  impl->room.SetOnPlayerJoinedCallback(std::move(callback));
}

void UdpRoomManager::SetOnDataReceivedCallback(DataReceivedCallback callback) {
  if (!impl) return;
  std::lock_guard lock(impl->mutex);
  impl->room.SetOnDataReceivedCallback(std::move(callback));
}

void UdpRoomManager::Shutdown() {
  if (!impl) return;
  impl->running = false;
  impl->StopReceiver();
  std::lock_guard lock(impl->mutex);
  impl->CloseSocket();
}
