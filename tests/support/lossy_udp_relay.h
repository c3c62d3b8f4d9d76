// A UDP relay for loopback tests that sits between two game instances and loses, repeats,
// delays and reorders their datagrams on purpose, so tests can show a match survives a bad
// network. Threads: one worker thread owns the sockets and the pending deliveries; any test
// thread may call setRule(), counts() and stop().
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

enum class Direction { AtoB, BtoA };

// Faults for one direction. Probabilities are in [0, 1]; decisions come from a std::mt19937
// seeded with `seed`, so the same datagrams under the same rule meet the same fate.
struct RelayRule {
  double drop = 0;
  double duplicate = 0;
  // Hold a datagram back and send it right after the next one in the same direction.
  double reorder = 0;
  // Each datagram goes out delay + uniform[0, jitter] after it arrived.
  std::chrono::milliseconds delay{0};
  std::chrono::milliseconds jitter{0};
  // Deterministic losses, e.g. every maze-cell command. Called on the worker thread, outside
  // the relay's lock.
  std::function<bool(const std::string& payload)> drop_if{};
  uint32_t seed = 1;
  // A held-back datagram with no successor goes anyway after this long, so reordering never
  // turns into loss.
  std::chrono::milliseconds reorder_hold{50};
};

// Per direction. Once nothing is in flight, received + duplicated == forwarded + dropped.
// A snapshot is consistent: a datagram a test has read is already counted as forwarded.
struct RelayCounts {
  uint64_t received = 0;    // datagrams read from the sending side
  uint64_t forwarded = 0;   // copies sent on, duplicates included
  uint64_t dropped = 0;     // by rule, by a full queue, or by a failed send
  uint64_t duplicated = 0;  // datagrams sent twice
  uint64_t reordered = 0;   // datagrams held back behind a later one
};

class LossyUdpRelay {
 public:
  static constexpr std::size_t kDefaultPendingCap = 10000;

  // A and B listen on 127.0.0.1:a_port and 127.0.0.1:b_port. Binds two sockets on 127.0.0.1
  // with system-chosen ports and starts forwarding with clean rules; throws
  // std::runtime_error when a socket cannot be set up. `pending_cap` bounds the datagrams
  // waiting for delivery, both directions together; beyond it they are dropped.
  LossyUdpRelay(uint16_t a_port, uint16_t b_port, std::size_t pending_cap = kDefaultPendingCap);
  ~LossyUdpRelay();
  LossyUdpRelay(const LossyUdpRelay&) = delete;
  LossyUdpRelay& operator=(const LossyUdpRelay&) = delete;

  // Applies to datagrams arriving from now on; restarts that direction's random sequence.
  void setRule(Direction d, RelayRule rule);

  // A's peer port: A sends here, and B's datagrams reach A from here. Likewise for B.
  uint16_t portFacingA() const { return port_facing_a_; }
  uint16_t portFacingB() const { return port_facing_b_; }

  RelayCounts counts(Direction d) const;

  // Ends the worker promptly; pending deliveries are discarded. Idempotent.
  void stop();

 private:
  void run();

  int fd_facing_a_ = -1, fd_facing_b_ = -1, wake_fd_ = -1;
  uint16_t port_facing_a_ = 0, port_facing_b_ = 0;
  const uint16_t a_port_, b_port_;
  const std::size_t pending_cap_;

  // Guards rules_, rule_generation_ and counts_. Held across each send so a datagram is
  // never visible to a reader before it is counted.
  mutable std::mutex mutex_;
  std::shared_ptr<const RelayRule> rules_[2];
  uint64_t rule_generation_[2] = {0, 0};
  RelayCounts counts_[2];

  std::mutex stop_mutex_;  // one stop() joins, the others wait for it
  std::thread thread_;
};
