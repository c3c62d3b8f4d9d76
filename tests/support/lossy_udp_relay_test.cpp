// The lossy relay between two plain loopback sockets (127.0.0.1, system-chosen ports): clean
// forwarding both ways, drops by rate and by payload, seeded repeatability, duplicates, delay,
// reordering, the queue cap and a prompt stop. Test thread plus the relay's worker.
#include "support/lossy_udp_relay.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto AtoB = Direction::AtoB, BtoA = Direction::BtoA;
constexpr auto kPatience = 2s;  // bound on any wait for something that should happen
constexpr auto kQuiet = 60ms;   // how long nothing must arrive to count as nothing

struct Datagram {
  std::string payload, ip;
  uint16_t port = 0;
  Clock::time_point at;
};

// One game side: a plain UDP socket on 127.0.0.1.
struct Side {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  uint16_t port = 0;

  Side() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot bind a test socket on 127.0.0.1");
    port = ntohs(address.sin_port);
  }
  ~Side() { close(fd); }
  Side(const Side&) = delete;
  Side& operator=(const Side&) = delete;

  void sendTo(uint16_t to_port, const std::string& payload) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(to_port);
    ASSERT_EQ(sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
              static_cast<ssize_t>(payload.size()));
  }

  // The next datagram, or nothing once `timeout` has passed.
  std::optional<Datagram> receive(Clock::duration timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
        if (Clock::now() >= deadline) return std::nullopt;
        continue;  // interrupted or woken early: the deadline still bounds the loop
      }
      char buffer[2048];
      sockaddr_in from{};
      socklen_t length = sizeof from;
      const ssize_t n =
          recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
      if (n < 0) continue;
      char ip[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
      return Datagram{std::string(buffer, static_cast<std::size_t>(n)), ip, ntohs(from.sin_port), Clock::now()};
    }
  }

  // Payloads of up to `count` datagrams, stopping at the first wait longer than kPatience.
  std::vector<std::string> receivePayloads(std::size_t count) const {
    std::vector<std::string> payloads;
    while (payloads.size() < count) {
      const auto d = receive(kPatience);
      if (!d) break;
      payloads.push_back(d->payload);
    }
    return payloads;
  }
};

// Two sides with the relay between them: each side's peer port is the relay's port facing it.
struct Link {
  Side a, b;
  LossyUdpRelay relay;

  explicit Link(std::size_t cap = LossyUdpRelay::kDefaultPendingCap) : relay(a.port, b.port, cap) {}
  void sendAtoB(const std::string& payload) { a.sendTo(relay.portFacingA(), payload); }
  void sendBtoA(const std::string& payload) { b.sendTo(relay.portFacingB(), payload); }

  // Waits, bounded, until the relay has read `count` datagrams in direction d (and, when
  // `settled`, has sent or dropped every one of them).
  bool relayHasRead(Direction d, uint64_t count, bool settled = false) const {
    auto done = [&] {
      const RelayCounts c = relay.counts(d);
      return c.received >= count && (!settled || c.received + c.duplicated == c.forwarded + c.dropped);
    };
    const auto deadline = Clock::now() + kPatience;
    while (!done() && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    return done();
  }
};

std::string Describe(const RelayCounts& c) {
  return "received " + std::to_string(c.received) + ", forwarded " + std::to_string(c.forwarded) + ", dropped " +
         std::to_string(c.dropped) + ", duplicated " + std::to_string(c.duplicated) + ", reordered " +
         std::to_string(c.reordered);
}

std::vector<std::string> Numbered(const std::string& prefix, int count) {
  std::vector<std::string> payloads;
  for (int i = 0; i < count; ++i) payloads.push_back(prefix + std::to_string(i));
  return payloads;
}

TEST(LossyUdpRelayTest, CleanRelayDeliversEverythingBothWaysInOrderFromItsOwnPorts) {
  Link link;
  const std::set<uint16_t> ports = {link.a.port, link.b.port, link.relay.portFacingA(), link.relay.portFacingB()};
  ASSERT_EQ(ports.size(), 4u);
  ASSERT_EQ(ports.count(0), 0u);

  const auto to_b = Numbered("Coordinate0000000000{1.0}{2.0}#", 30), to_a = Numbered("Attack_notification0{}#", 30);
  for (int i = 0; i < 30; ++i) link.sendAtoB(to_b[i]), link.sendBtoA(to_a[i]);

  for (auto [side, expected, source] : {std::tuple{&link.b, &to_b, link.relay.portFacingB()},
                                        std::tuple{&link.a, &to_a, link.relay.portFacingA()}}) {
    for (const std::string& payload : *expected) {
      const auto d = side->receive(kPatience);
      ASSERT_TRUE(d) << "lost " << payload;
      EXPECT_EQ(d->payload, payload);
      EXPECT_EQ(d->ip + ":" + std::to_string(d->port), "127.0.0.1:" + std::to_string(source));
    }
    EXPECT_FALSE(side->receive(kQuiet)) << "more arrived than was sent";
  }
  EXPECT_EQ(Describe(link.relay.counts(AtoB)), "received 30, forwarded 30, dropped 0, duplicated 0, reordered 0");
  EXPECT_EQ(Describe(link.relay.counts(BtoA)), "received 30, forwarded 30, dropped 0, duplicated 0, reordered 0");
}

TEST(LossyUdpRelayTest, DropAllLosesOneDirectionOnlyUntilTheRuleIsLifted) {
  Link link;
  link.relay.setRule(AtoB, {.drop = 1});
  for (const std::string& payload : Numbered("lost", 20)) link.sendAtoB(payload);
  link.sendBtoA("back");

  EXPECT_EQ(link.a.receivePayloads(1), std::vector<std::string>{"back"});
  ASSERT_TRUE(link.relayHasRead(AtoB, 20));
  EXPECT_EQ(Describe(link.relay.counts(AtoB)), "received 20, forwarded 0, dropped 20, duplicated 0, reordered 0");
  EXPECT_FALSE(link.b.receive(kQuiet));

  link.relay.setRule(AtoB, {});
  link.sendAtoB("after");
  EXPECT_EQ(link.b.receivePayloads(1), std::vector<std::string>{"after"});
}

TEST(LossyUdpRelayTest, DropIfLosesExactlyTheMatchingPayloads) {
  Link link;
  auto is_map_block = [](const std::string& payload) { return payload.starts_with("One_Map_block0000000"); };
  link.relay.setRule(AtoB, {.drop_if = is_map_block});
  std::vector<std::string> kept;
  for (int i = 0; i < 10; ++i) {
    link.sendAtoB("One_Map_block0000000{" + std::to_string(i) + "}{4}{wall}{1}");
    kept.push_back("Coordinate0000000000{" + std::to_string(i) + ".0}{2.0}");
    link.sendAtoB(kept.back());
  }
  link.sendBtoA("One_Map_block0000000{0}{0}{floor}{0}");  // the other direction has no such rule

  EXPECT_EQ(link.b.receivePayloads(10), kept);
  EXPECT_FALSE(link.b.receive(kQuiet)) << "a map block got through";
  EXPECT_EQ(link.a.receivePayloads(1), std::vector<std::string>{"One_Map_block0000000{0}{0}{floor}{0}"});
  EXPECT_EQ(Describe(link.relay.counts(AtoB)), "received 20, forwarded 10, dropped 10, duplicated 0, reordered 0");
}

// Sets a coin-flip drop and sends 40 datagrams: which of them got through, in order.
std::vector<std::string> SurvivorsOfHalfDrop(Link& link, uint32_t seed) {
  link.relay.setRule(AtoB, {.drop = 0.5, .seed = seed});
  const RelayCounts before = link.relay.counts(AtoB);
  for (const std::string& payload : Numbered("n", 40)) link.sendAtoB(payload);
  EXPECT_TRUE(link.relayHasRead(AtoB, before.received + 40, /*settled=*/true));
  const RelayCounts after = link.relay.counts(AtoB);
  EXPECT_EQ(after.forwarded + after.dropped - before.forwarded - before.dropped, 40u);
  return link.b.receivePayloads(after.forwarded - before.forwarded);
}

TEST(LossyUdpRelayTest, SettingASeedRestartsItsFatesAndAnotherSeedChangesThem) {
  Link link, other;
  const auto first = SurvivorsOfHalfDrop(link, 7);
  EXPECT_GT(first.size(), 0u);
  EXPECT_LT(first.size(), 40u);
  EXPECT_EQ(SurvivorsOfHalfDrop(link, 7), first);
  EXPECT_NE(SurvivorsOfHalfDrop(other, 8), first);
}

TEST(LossyUdpRelayTest, DuplicateDeliversEachDatagramTwiceBackToBack) {
  Link link;
  link.relay.setRule(AtoB, {.duplicate = 1});
  std::vector<std::string> expected;
  for (const std::string& payload : Numbered("twice", 10)) {
    link.sendAtoB(payload);
    expected.insert(expected.end(), {payload, payload});
  }
  EXPECT_EQ(link.b.receivePayloads(20), expected);
  EXPECT_FALSE(link.b.receive(kQuiet)) << "a third copy";
  EXPECT_EQ(Describe(link.relay.counts(AtoB)), "received 10, forwarded 20, dropped 0, duplicated 10, reordered 0");
}

TEST(LossyUdpRelayTest, DelayAndJitterHoldDeliveryBackOnlyInTheirDirection) {
  Link link;
  constexpr auto kDelay = 120ms;
  link.relay.setRule(AtoB, {.delay = kDelay, .jitter = 40ms});
  std::map<std::string, Clock::time_point> sent;
  for (const std::string& payload : Numbered("late", 5)) {
    sent[payload] = Clock::now();
    link.sendAtoB(payload);
  }
  sent["prompt"] = Clock::now();
  link.sendBtoA("prompt");

  const auto prompt = link.a.receive(kPatience);
  ASSERT_TRUE(prompt);
  EXPECT_LT(prompt->at - sent["prompt"], kDelay) << "the undelayed direction waited too";
  std::vector<Clock::duration> latencies;
  for (int i = 0; i < 5; ++i) {
    const auto late = link.b.receive(kPatience);
    ASSERT_TRUE(late && sent.count(late->payload));
    latencies.push_back(late->at - sent[late->payload]);
    EXPECT_GE(latencies.back(), kDelay) << late->payload;
  }
  const auto [shortest, longest] = std::minmax_element(latencies.begin(), latencies.end());
  EXPECT_GT(*longest - *shortest, 5ms) << "jitter did not spread the deliveries";
}

TEST(LossyUdpRelayTest, ReorderSwapsNeighboursAndStillSendsAnUnpairedLastOne) {
  Link link;
  constexpr auto kHold = 300ms;
  link.relay.setRule(AtoB, {.reorder = 1, .reorder_hold = kHold});
  for (const char* payload : {"1", "2", "3", "4"}) link.sendAtoB(payload);
  EXPECT_EQ(link.b.receivePayloads(4), (std::vector<std::string>{"2", "1", "4", "3"}));

  const auto sent = Clock::now();
  link.sendAtoB("5");
  const auto last = link.b.receive(kPatience);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->payload, "5");
  EXPECT_GE(last->at - sent, kHold) << "went out before its hold was up";
  EXPECT_EQ(Describe(link.relay.counts(AtoB)), "received 5, forwarded 5, dropped 0, duplicated 0, reordered 3");
}

TEST(LossyUdpRelayTest, FullQueueDropsTheExcessAndStopDiscardsThePendingPromptly) {
  Link link(5);
  link.relay.setRule(AtoB, {.delay = 10s});
  for (const std::string& payload : Numbered("queued", 8)) link.sendAtoB(payload);
  ASSERT_TRUE(link.relayHasRead(AtoB, 8));
  EXPECT_EQ(Describe(link.relay.counts(AtoB)), "received 8, forwarded 0, dropped 3, duplicated 0, reordered 0");

  const auto start = Clock::now();
  link.relay.stop();
  EXPECT_LT(Clock::now() - start, 100ms);
  link.relay.stop();  // a second stop, and the destructor's, must not hang
  link.sendAtoB("after stop");
  EXPECT_FALSE(link.b.receive(kQuiet));
  EXPECT_EQ(link.relay.counts(AtoB).received, 8u);
}

}  // namespace
