// The message queue: arrival order, the three kinds of wait and the wake by stop, sends gated
// on running, a half-failed start, restart, and a UDP and a TCP message over loopback.
#include "transport/network_manager.h"

#include <deque>

#include <gtest/gtest.h>

#include <thread>

namespace {

NetworkMessage Message(const std::string& data) { return {data, "127.0.0.1", 4000, ProtocolType::UDP}; }

TEST(NetworkManagerTest, TakesInArrivalOrderAndWaitsOnlyWhileRunning) {
  NetworkManager manager;
  NetworkMessage out;
  manager.onDataReceived(Message("first"));
  manager.onDataReceived(Message("second"));
  EXPECT_FALSE(manager.waitMessage(out, -1));  // stopped: refused although two are queued
  ASSERT_TRUE(manager.getMessage(out));
  EXPECT_EQ(out.data, "first");
  ASSERT_TRUE(manager.start(0, 0));
  ASSERT_TRUE(manager.waitMessage(out, 0));
  EXPECT_EQ(out.data, "second");
  EXPECT_EQ(out.ip, "127.0.0.1");
  EXPECT_EQ(out.port, 4000);
  EXPECT_FALSE(manager.getMessage(out));
  EXPECT_FALSE(manager.waitMessage(out, 0));
  EXPECT_FALSE(manager.waitMessage(out, 100));  // nobody else adds one meanwhile
  EXPECT_EQ(out.data, "second");                // untouched by the failed takes
  std::thread producer([&] { manager.onDataReceived(Message("late")); });
  EXPECT_TRUE(manager.waitMessage(out, -1));
  EXPECT_EQ(out.data, "late");
  producer.join();
  std::thread stopper([&] { manager.stop(); });
  EXPECT_FALSE(manager.waitMessage(out, -1));  // woken by the stop
  stopper.join();
  manager.onDataReceived(Message("after"));
  EXPECT_FALSE(manager.waitMessage(out, 1000));
  EXPECT_TRUE(manager.getMessage(out));
}

TEST(NetworkManagerTest, SendsOnlyWhileRunningAndRecoversFromAHalfFailedStart) {
  NetworkManager a, b;
  EXPECT_FALSE(a.sendUDP("127.0.0.1", 9, "x"));
  EXPECT_FALSE(a.sendTCP("127.0.0.1", 9, "x"));
  EXPECT_FALSE(a.sendTCP(1, "x"));
  EXPECT_EQ(a.connectTCP("127.0.0.1", 9), -1);
  ASSERT_TRUE(b.start(0, 0));
  // b listens on that TCP port, so only the UDP half starts, and is undone.
  EXPECT_FALSE(a.start(b.boundPort(ProtocolType::TCP), 0));
  EXPECT_FALSE(a.isRunnings());
  EXPECT_EQ(a.boundPort(ProtocolType::UDP), 0);
  ASSERT_TRUE(a.start(0, 0));
  EXPECT_FALSE(a.start(0, 0));

  NetworkMessage out;
  ASSERT_TRUE(a.sendUDP("127.0.0.1", b.boundPort(ProtocolType::UDP), "ping"));
  ASSERT_TRUE(b.waitMessage(out, 10000));
  EXPECT_EQ(out.data, "ping");
  EXPECT_EQ(out.port, a.boundPort(ProtocolType::UDP));
  const int id = b.connectTCP("127.0.0.1", a.boundPort(ProtocolType::TCP));
  ASSERT_TRUE(b.sendTCP(id, "frame"));
  ASSERT_TRUE(a.waitMessage(out, 10000));
  EXPECT_EQ(out.data, "frame");
  EXPECT_EQ(a.getTCPpeers().size(), 1u);
  a.stop();
  EXPECT_FALSE(a.isRunnings());
  EXPECT_FALSE(a.sendUDP("127.0.0.1", b.boundPort(ProtocolType::UDP), "x"));
  EXPECT_TRUE(a.getTCPpeers().empty());
  EXPECT_TRUE(a.start(0, 0));
}

// A stranger flooding the port, or a peer sending faster than the game reads, costs bounded
// memory, and the newest messages are the ones kept.
TEST(NetworkManagerBounds, StrangersStayOutAndTheQueueKeepsTheNewestWithinItsBounds) {
  NetworkManager manager;
  const auto from = [](std::string data, std::string ip, unsigned short port) {
    return NetworkMessage{std::move(data), std::move(ip), port, ProtocolType::UDP};
  };
  manager.acceptOnlyFrom("127.0.0.1", 5000);
  manager.onDataReceived(from("stranger", "127.0.0.2", 5000));
  manager.onDataReceived(from("same host, other port", "127.0.0.1", 5001));
  for (size_t i = 0; i < NetworkManager::kMaxQueuedMessages + 10; ++i)
    manager.onDataReceived(from(std::to_string(i), "127.0.0.1", 5000));
  std::deque<NetworkMessage> taken;
  EXPECT_EQ(manager.takeMessages(taken), NetworkManager::kMaxQueuedMessages);
  EXPECT_EQ(taken.front().data, "10");
  EXPECT_EQ(taken.back().data, std::to_string(NetworkManager::kMaxQueuedMessages + 9));

  manager.acceptOnlyFrom("", 0);
  const std::string mebibyte(1 << 20, 'x');
  for (int i = 0; i < 40; ++i) manager.onDataReceived(from(mebibyte + std::to_string(i), "10.0.0.9", 1));
  size_t bytes = 0;
  manager.takeMessages(taken);
  for (const NetworkMessage& message : taken) bytes += message.data.size();
  EXPECT_LE(bytes, NetworkManager::kMaxQueuedBytes);
  EXPECT_EQ(taken.back().data, mebibyte + "39");
}

}  // namespace
