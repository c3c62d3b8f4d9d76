// The peer transport over loopback sockets (127.0.0.1, system-chosen ports). Test thread plus
// the transport's threads.
#include "transport/dual_protocol_p2p.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <condition_variable>

namespace {

constexpr auto TCP = ProtocolType::TCP, UDP = ProtocolType::UDP;

// A transport that records its messages and connection reports ("+port", "-port").
struct Peer {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<NetworkMessage> got;
  std::vector<std::string> events;
  DualProtocolP2P p2p;  // last: its stop still reports into the members above

  Peer() {
    p2p.setDataCallback([this](const NetworkMessage& m) { record([&] { got.push_back(m); }); });
    p2p.setConnectionCallback([this](const std::string&, unsigned short port, bool up, ProtocolType) {
      record([&] { events.push_back((up ? "+" : "-") + std::to_string(port)); });
    });
  }
  template <class Add> void record(Add add) { std::lock_guard l(mutex); add(); changed.notify_all(); }
  bool await(std::size_t messages, std::size_t reports) {  // bounded wait for both counts
    std::unique_lock l(mutex);
    return changed.wait_for(l, std::chrono::seconds(10), [&] { return got.size() >= messages && events.size() >= reports; });
  }
  unsigned short port(ProtocolType protocol) const { return p2p.boundPort(protocol); }
  // A bare client socket connected to this peer; its local port goes to `local`.
  int rawClient(unsigned short& local) const {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(port(TCP)), {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return local = ntohs(address.sin_port), fd;
  }
};

class DualProtocolP2PTest : public ::testing::Test {
 protected:
  void SetUp() override { alarm(60); }  // a hung stop fails the case instead of the run
  void TearDown() override { alarm(0); }
  Peer a, b;
};

TEST_F(DualProtocolP2PTest, CarriesFramesBothWaysAndReportsTheConnectionAtBothEnds) {
  EXPECT_EQ(b.p2p.connectTCP("127.0.0.1", 9), -1);  // TCP channel not started
  ASSERT_TRUE(a.p2p.startTCP(0));
  ASSERT_TRUE(b.p2p.startTCP(0));
  ASSERT_EQ(b.p2p.connectTCP("127.0.0.1", a.port(TCP)), 1);
  const std::string big(3 << 20, 'B');  // mostly read in place
  for (const std::string& text : {std::string("hello"), std::string(), big})
    EXPECT_TRUE(b.p2p.sendData("127.0.0.1", a.port(TCP), text, TCP));
  ASSERT_TRUE(a.await(3, 1));
  ASSERT_TRUE(a.p2p.sendDataByTCPId(1, "back"));
  ASSERT_TRUE(b.await(1, 1));
  EXPECT_EQ(a.got[0].data, "hello");
  EXPECT_EQ(a.got[0].ip, "127.0.0.1");
  EXPECT_EQ(a.got[1].data, "");
  EXPECT_TRUE(a.got[2].data == big);  // not EXPECT_EQ: a failure would print 3 MiB
  EXPECT_EQ(b.got[0].port, a.port(TCP));
  EXPECT_EQ(b.events, std::vector<std::string>{"+" + std::to_string(a.port(TCP))});
  EXPECT_FALSE(b.p2p.sendData("127.0.0.1", a.port(TCP) + 1, "x", TCP));  // no such connection
  EXPECT_FALSE(b.p2p.sendDataByTCPId(2, "x"));
  EXPECT_FALSE(b.p2p.sendDataByTCPId(1, std::string(kTcpMaxFrameLength + 1, 'x')));  // the peer would refuse it
}

TEST_F(DualProtocolP2PTest, SurvivesVanishingAndStalledPeersAndStopsAndStartsAgain) {
  ASSERT_TRUE(a.p2p.startTCP(0));
  ASSERT_TRUE(b.p2p.startTCP(0));
  unsigned short gone = 0, stalled = 0;
  const int vanishing = a.rawClient(gone);
  const std::string bytes = "xyz" + EncodeTcpFrame("one") + EncodeTcpFrameHeader(100) + "partial";
  ASSERT_EQ(send(vanishing, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
  close(vanishing);
  ASSERT_TRUE(a.await(1, 2));
  EXPECT_EQ(a.got[0].data, "one");
  EXPECT_EQ(a.events, (std::vector<std::string>{"+" + std::to_string(gone), "-" + std::to_string(gone)}));

  ASSERT_GT(b.p2p.connectTCP("127.0.0.1", a.port(TCP)), 0);
  const int raw = a.rawClient(stalled);  // never reads
  ASSERT_TRUE(a.await(1, 4));
  std::thread flood([&] {  // blocks once the socket buffers are full
    for (int i = 0; i < 4 && a.p2p.sendData("127.0.0.1", stalled, std::string(kTcpMaxFrameLength, 'F'), TCP);) ++i;
  });
  pollfd pending{raw, POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 10000), 1);  // the flood is under way
  a.p2p.stopTCP();
  flood.join();
  EXPECT_EQ(a.events.size(), 6u);
  EXPECT_TRUE(a.p2p.getTCPpeers().empty());
  ASSERT_TRUE(a.p2p.startTCP(0));
  EXPECT_GT(b.p2p.connectTCP("127.0.0.1", a.port(TCP)), 1);
  EXPECT_TRUE(a.await(1, 7));
  close(raw);
}

// Each connection costs a thread, hence the cap.
TEST_F(DualProtocolP2PTest, PastTheConnectionCapANewcomerIsHungUpOn) {
  ASSERT_TRUE(a.p2p.startTCP(0));
  std::vector<int> fds;
  unsigned short local = 0;
  for (size_t i = 0; i < DualProtocolP2P::kMaxTcpConnections; ++i) fds.push_back(a.rawClient(local));
  ASSERT_TRUE(a.await(0, DualProtocolP2P::kMaxTcpConnections));
  fds.push_back(a.rawClient(local));
  const timeval limit{10, 0};  // a newcomer let in would be left waiting: recv times out with -1
  setsockopt(fds.back(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  char byte = 0;
  EXPECT_EQ(recv(fds.back(), &byte, 1, 0), 0);
  for (const int fd : fds) close(fd);
}

TEST_F(DualProtocolP2PTest, UdpDeliversUpToTheFirstZeroByteAndAtMost4095Bytes) {
  EXPECT_FALSE(b.p2p.sendData("127.0.0.1", 9, "early", UDP));
  ASSERT_TRUE(a.p2p.startUDP(0));
  ASSERT_TRUE(b.p2p.startUDP(0));
  EXPECT_FALSE(b.p2p.sendData("999.1.1.1", a.port(UDP), "x", UDP));
  ASSERT_TRUE(b.p2p.sendData("127.0.0.1", a.port(UDP), std::string("abc\0def", 7), UDP));
  ASSERT_TRUE(a.await(1, 0));
  ASSERT_TRUE(b.p2p.sendData("127.0.0.1", a.port(UDP), std::string(5000, 'u'), UDP));
  ASSERT_TRUE(a.await(2, 0));
  EXPECT_EQ(a.got[0].data, "abc");
  EXPECT_EQ(a.got[0].port, b.port(UDP));
  EXPECT_EQ(a.got[1].data, std::string(4095, 'u'));
  a.p2p.stopUDP();  // its thread is blocked in recvfrom
  EXPECT_EQ(a.port(UDP), 0);
  EXPECT_TRUE(a.p2p.startUDP(0));
}

}  // namespace
