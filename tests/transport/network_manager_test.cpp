// The message queue and the transport under it. Test thread, a producer or stopper thread,
// and the transport's threads.
#include "transport/network_manager.h"

#include <gtest/gtest.h>

#include <deque>
#include <thread>

namespace {

NetworkMessage From(std::string data, std::string ip = "127.0.0.1", unsigned short port = 4000) {
  return {std::move(data), std::move(ip), port, ProtocolType::UDP};
}

TEST(NetworkManagerTest, TakesInArrivalOrderAndWaitsOnlyWhileRunning) {
  NetworkManager manager;
  NetworkMessage out;
  manager.onDataReceived(From("first"));
  manager.onDataReceived(From("second"));
  EXPECT_FALSE(manager.waitMessage(out, -1));  // stopped: refused although two are queued
  ASSERT_TRUE(manager.getMessage(out));
  EXPECT_EQ(out.data, "first");
  ASSERT_TRUE(manager.start(0, 0));
  ASSERT_TRUE(manager.waitMessage(out, 0));
  EXPECT_EQ(out.data, "second");
  EXPECT_FALSE(manager.getMessage(out));
  EXPECT_FALSE(manager.waitMessage(out, 0));
  EXPECT_EQ(out.data, "second");  // untouched by the failed takes
  std::thread producer([&] { manager.onDataReceived(From("late")); });
  EXPECT_TRUE(manager.waitMessage(out, -1));
  EXPECT_EQ(out.data, "late");
  producer.join();
  std::thread stopper([&] { manager.stop(); });
  EXPECT_FALSE(manager.waitMessage(out, -1));  // woken by the stop
  stopper.join();
  manager.onDataReceived(From("after"));
  EXPECT_FALSE(manager.waitMessage(out, 1000));
  EXPECT_TRUE(manager.getMessage(out));
}

TEST(NetworkManagerTest, SendsOnlyWhileRunningAndRecoversFromAHalfFailedStart) {
  NetworkManager a, b;
  EXPECT_FALSE(a.sendUDP("127.0.0.1", 9, "x"));
  EXPECT_EQ(a.connectTCP("127.0.0.1", 9), -1);
  ASSERT_TRUE(b.start(0, 0));
  // b listens on that TCP port, so only the UDP half starts, and is undone.
  EXPECT_FALSE(a.start(b.boundPort(ProtocolType::TCP), 0));
  EXPECT_FALSE(a.isRunnings());
  EXPECT_EQ(a.boundPort(ProtocolType::UDP), 0);
  ASSERT_TRUE(a.start(0, 0));
  EXPECT_FALSE(a.start(0, 0));

  NetworkMessage out;  // the queue is fed by the transport (UDP shows in the match tests)
  ASSERT_TRUE(b.sendTCP(b.connectTCP("127.0.0.1", a.boundPort(ProtocolType::TCP)), "frame"));
  ASSERT_TRUE(a.waitMessage(out, 10000));
  EXPECT_EQ(out.data, "frame");
  a.stop();
  EXPECT_FALSE(a.sendUDP("127.0.0.1", b.boundPort(ProtocolType::UDP), "x"));
  EXPECT_TRUE(a.getTCPpeers().empty());
  EXPECT_TRUE(a.start(0, 0));
}

// A stranger flooding the port, or a peer sending faster than the game reads, must cost
// bounded memory.
TEST(NetworkManagerBounds, StrangersStayOutAndTheQueueKeepsTheNewestWithinItsBounds) {
  NetworkManager manager;
  manager.acceptOnlyFrom("127.0.0.1", 5000);
  manager.onDataReceived(From("stranger", "127.0.0.2", 5000));
  manager.onDataReceived(From("same host, other port", "127.0.0.1", 5001));
  for (size_t i = 0; i < NetworkManager::kMaxQueuedMessages + 10; ++i)
    manager.onDataReceived(From(std::to_string(i), "127.0.0.1", 5000));
  std::deque<NetworkMessage> taken;
  EXPECT_EQ(manager.takeMessages(taken), NetworkManager::kMaxQueuedMessages);
  EXPECT_EQ(taken.front().data, "10");
  EXPECT_EQ(taken.back().data, std::to_string(NetworkManager::kMaxQueuedMessages + 9));

  manager.acceptOnlyFrom("", 0);
  const std::string mebibyte(1 << 20, 'x');
  for (int i = 0; i < 40; ++i) manager.onDataReceived(From(mebibyte + std::to_string(i), "10.0.0.9", 1));
  size_t bytes = 0;
  manager.takeMessages(taken);
  for (const NetworkMessage& message : taken) bytes += message.data.size();
  EXPECT_LE(bytes, NetworkManager::kMaxQueuedBytes);
  EXPECT_EQ(taken.back().data, mebibyte + "39");
}

}  // namespace
