// The lossy relay: its worker reads both loopback sockets, settles each datagram's fate under
// its direction's rule, and sends the survivors from a time-ordered queue. Threads: run() on
// the worker thread alone (it owns the queue, the held datagrams and the random generators);
// setRule(), counts() and stop() on test threads, meeting the worker under mutex_.
#include "support/lossy_udp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <cstring>
#include <random>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReadsPerWake = 64;  // per socket, so a flood on one side cannot starve the queue
constexpr std::size_t kMaxDatagram = 65536;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// A non-blocking UDP socket on 127.0.0.1 with a system-chosen port, or -1.
int BindLoopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int buffer = 1 << 20;  // bursts from a test should queue here, not vanish
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

struct Pending {
  Clock::time_point due;
  uint64_t order;  // equal due times go out in arrival order
  int direction;
  std::string payload;
};

bool Later(const Pending& x, const Pending& y) { return std::tie(x.due, x.order) > std::tie(y.due, y.order); }

// A datagram held back for reordering, waiting for the next one in its direction.
struct Held {
  bool active = false;
  Clock::time_point release_at, due;
  int copies = 0;
  std::string payload;
};

}  // namespace

LossyUdpRelay::LossyUdpRelay(uint16_t a_port, uint16_t b_port, std::size_t pending_cap)
    : a_port_(a_port), b_port_(b_port), pending_cap_(pending_cap) {
  if (a_port == 0 || b_port == 0) throw std::invalid_argument("LossyUdpRelay: both sides need a port");
  rules_[0] = rules_[1] = std::make_shared<const RelayRule>();
  fd_facing_a_ = BindLoopback(port_facing_a_);
  fd_facing_b_ = BindLoopback(port_facing_b_);
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd_facing_a_ < 0 || fd_facing_b_ < 0 || wake_fd_ < 0) {
    const std::string reason = std::strerror(errno);
    for (int fd : {fd_facing_a_, fd_facing_b_, wake_fd_})
      if (fd >= 0) close(fd);
    throw std::runtime_error("LossyUdpRelay: cannot set up its sockets: " + reason);
  }
  thread_ = std::thread([this] { run(); });
}

LossyUdpRelay::~LossyUdpRelay() {
  stop();
  close(fd_facing_a_);
  close(fd_facing_b_);
  close(wake_fd_);
}

void LossyUdpRelay::setRule(Direction d, RelayRule rule) {
  auto shared = std::make_shared<const RelayRule>(std::move(rule));
  std::lock_guard lock(mutex_);
  rules_[static_cast<int>(d)] = std::move(shared);
  ++rule_generation_[static_cast<int>(d)];
}

RelayCounts LossyUdpRelay::counts(Direction d) const {
  std::lock_guard lock(mutex_);
  return counts_[static_cast<int>(d)];
}

void LossyUdpRelay::stop() {
  std::lock_guard lock(stop_mutex_);
  if (!thread_.joinable()) return;
  const uint64_t one = 1;
  if (write(wake_fd_, &one, sizeof one) < 0) {
    // cannot fail short of a counter overflow; the join below would then show the hang
  }
  thread_.join();
}

void LossyUdpRelay::run() {
  std::vector<Pending> queue;  // a min-heap on (due, order)
  Held held[2];
  std::mt19937 random[2];
  uint64_t seeded_generation[2] = {UINT64_MAX, UINT64_MAX};
  uint64_t next_order = 0;
  std::string buffer(kMaxDatagram, '\0');
  const int out_fd[2] = {fd_facing_b_, fd_facing_a_};
  const uint16_t out_port[2] = {b_port_, a_port_};

  auto pending = [&] { return queue.size() + held[0].copies + held[1].copies; };
  auto enqueue = [&](int direction, Clock::time_point due, int copies, const std::string& payload) {
    for (int i = 0; i < copies; ++i) {
      queue.push_back({due, next_order++, direction, payload});
      std::push_heap(queue.begin(), queue.end(), Later);
    }
  };
  auto release = [&](Held& h, Clock::time_point not_before, int direction) {
    enqueue(direction, std::max(h.due, not_before), h.copies, h.payload);
    h = Held{};
  };

  auto arrive = [&](int d, std::string payload) {
    std::shared_ptr<const RelayRule> rule;
    uint64_t generation;
    {
      std::lock_guard lock(mutex_);
      rule = rules_[d];
      generation = rule_generation_[d];
    }
    if (generation != seeded_generation[d]) {
      random[d].seed(rule->seed);
      seeded_generation[d] = generation;
    }
    // Always the same draws per datagram, so one rate does not shift the others' sequence.
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double drop_draw = unit(random[d]), duplicate_draw = unit(random[d]), reorder_draw = unit(random[d]);
    const long long jitter_us = std::chrono::duration_cast<std::chrono::microseconds>(rule->jitter).count();
    const long long extra_us = std::uniform_int_distribution<long long>(0, std::max(0LL, jitter_us))(random[d]);

    const Clock::time_point now = Clock::now();
    const bool drop = (rule->drop_if && rule->drop_if(payload)) || drop_draw < rule->drop;
    const int copies = duplicate_draw < rule->duplicate ? 2 : 1;
    const std::size_t room = pending_cap_ > pending() ? pending_cap_ - pending() : 0;
    const int admitted = drop ? 0 : static_cast<int>(std::min<std::size_t>(copies, room));
    const bool hold = admitted > 0 && !held[d].active && reorder_draw < rule->reorder;
    const Clock::time_point due = now + rule->delay + std::chrono::microseconds(extra_us);

    {
      std::lock_guard lock(mutex_);
      RelayCounts& c = counts_[d];
      ++c.received;
      if (drop) {
        ++c.dropped;
      } else {
        if (copies == 2) ++c.duplicated;
        c.dropped += copies - admitted;
        if (hold) ++c.reordered;
      }
    }
    if (admitted == 0) return;
    if (hold) {
      held[d] = Held{true, now + rule->reorder_hold, due, admitted, std::move(payload)};
      return;
    }
    enqueue(d, due, admitted, payload);
    if (held[d].active) release(held[d], due, d);
  };

  auto send = [&](const Pending& p) {
    const sockaddr_in to = Loopback(out_port[p.direction]);
    std::lock_guard lock(mutex_);
    const ssize_t sent = sendto(out_fd[p.direction], p.payload.data(), p.payload.size(), MSG_DONTWAIT,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ++(sent == static_cast<ssize_t>(p.payload.size()) ? counts_[p.direction].forwarded : counts_[p.direction].dropped);
  };

  for (;;) {
    std::optional<Clock::time_point> wake_at;
    if (!queue.empty()) wake_at = queue.front().due;
    for (const Held& h : held)
      if (h.active) wake_at = wake_at ? std::min(*wake_at, h.release_at) : h.release_at;
    timespec timeout{};
    if (wake_at) {
      const auto left = std::max(Clock::duration::zero(), *wake_at - Clock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count() + 1;
      timeout.tv_sec = ns / 1000000000;
      timeout.tv_nsec = ns % 1000000000;
    }
    pollfd fds[3] = {{wake_fd_, POLLIN, 0}, {fd_facing_a_, POLLIN, 0}, {fd_facing_b_, POLLIN, 0}};
    if (ppoll(fds, 3, wake_at ? &timeout : nullptr, nullptr) < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;

    // fds[1] faces A, so what it reads goes A to B (direction 0); fds[2] the other way.
    for (int d = 0; d < 2; ++d) {
      if (fds[1 + d].revents == 0) continue;
      for (int i = 0; i < kReadsPerWake; ++i) {
        const ssize_t n = recv(fds[1 + d].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) break;
        arrive(d, buffer.substr(0, static_cast<std::size_t>(n)));
      }
    }

    const Clock::time_point now = Clock::now();
    for (int d = 0; d < 2; ++d)
      if (held[d].active && held[d].release_at <= now) release(held[d], now, d);
    while (!queue.empty() && queue.front().due <= now) {
      std::pop_heap(queue.begin(), queue.end(), Later);
      send(queue.back());
      queue.pop_back();
    }
  }
}
