// A UDP relay between two loopback ports that loses, copies and delays datagrams on purpose,
// so a test can show a match survives a bad network; a fixed seed draws the same faults on
// every run. Threads: one worker owns the sockets and the datagrams on their way; any test
// thread may call setRule() and the drop counts.
#pragma once

#include "support/loopback_socket.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <queue>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Faults for both directions.
struct RelayRule {
  double drop = 0;       // probability
  double duplicate = 0;  // probability that a datagram kept also goes a second time
  // Each datagram goes out delay + uniform[0, jitter] after it came, so some overtake others.
  std::chrono::milliseconds delay{0}, jitter{0};
};

class LossyUdpRelay {
 public:
  // Between A on 127.0.0.1:a_port and B on 127.0.0.1:b_port, with a clean rule.
  LossyUdpRelay(uint16_t a_port, uint16_t b_port) : to_port_{b_port, a_port} {
    if (facing_[0].port == 0 || facing_[1].port == 0) throw std::runtime_error("LossyUdpRelay: no loopback socket");
    worker_ = std::jthread([this](std::stop_token stop) { Run(stop); });
  }
  ~LossyUdpRelay() {
    worker_.request_stop();
    worker_.join();  // before the sockets go
  }

  // For the datagrams arriving from now on.
  void setRule(RelayRule rule) {
    std::lock_guard lock(mutex_);
    rule_ = rule;
  }
  // A's peer port: A sends here and hears B from here. Likewise for B.
  uint16_t portFacingA() const { return facing_[0].port; }
  uint16_t portFacingB() const { return facing_[1].port; }
  uint64_t droppedAtoB() const { return dropped_[0]; }
  uint64_t droppedBtoA() const { return dropped_[1]; }

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    Clock::time_point due;
    int direction;
    std::string payload;
    bool operator>(const Pending& other) const { return due > other.due; }
  };

  void Run(const std::stop_token& stop) {
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue;
    std::vector<char> buffer(65536);
    std::mt19937 random(1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    while (!stop.stop_requested()) {
      // Up when the next datagram is due, and every 10 ms to see a stop.
      const auto left = queue.empty() ? std::chrono::milliseconds(10)
                                      : std::chrono::ceil<std::chrono::milliseconds>(queue.top().due - Clock::now());
      pollfd fds[2] = {{facing_[0].fd, POLLIN, 0}, {facing_[1].fd, POLLIN, 0}};
      poll(fds, 2, static_cast<int>(std::clamp<long long>(left.count(), 0, 10)));
      // What the socket facing A reads goes A to B (direction 0), and out through the other.
      for (int d = 0; d < 2; ++d) {
        for (ssize_t n; (n = recv(facing_[d].fd, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0;) {
          std::unique_lock lock(mutex_);
          const RelayRule rule = rule_;
          lock.unlock();
          if (unit(random) < rule.drop) {
            ++dropped_[d];
            continue;
          }
          // A copy takes its own delay, so it may come before or long after the first.
          for (int copies = unit(random) < rule.duplicate ? 2 : 1; copies > 0; --copies) {
            const auto delay = rule.delay + std::chrono::duration_cast<Clock::duration>(rule.jitter * unit(random));
            queue.push({Clock::now() + delay, d, std::string(buffer.data(), static_cast<size_t>(n))});
          }
        }
      }
      for (const auto now = Clock::now(); !queue.empty() && queue.top().due <= now; queue.pop())
        facing_[1 - queue.top().direction].Send(queue.top().payload, to_port_[queue.top().direction]);
    }
  }

  LoopbackSocket facing_[2];
  const uint16_t to_port_[2];
  std::mutex mutex_;  // guards rule_
  RelayRule rule_;
  std::atomic<uint64_t> dropped_[2] = {0, 0};
  std::jthread worker_;
};
