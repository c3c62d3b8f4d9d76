// Peer address checks: the dotted-quad and port readers, the host choice both sides must
// agree on, and the UDP port probes against ports held on 127.0.0.1. Test thread only.
#include "match/peer_address.h"
#include "support/loopback_socket.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

using Peer = std::pair<std::string, uint16_t>;

TEST(PeerAddressTest, CanonicalIPv4AcceptsPlainDottedQuadsAndDropsLeadingZeros) {
  const std::pair<std::string, std::string> accepted[] = {{"192.168.1.20", "192.168.1.20"}, {"0.0.0.0", "0.0.0.0"},
      {"255.255.255.255", "255.255.255.255"}, {"010.000.001.099", "10.0.1.99"}, {"127.0.0.01", "127.0.0.1"}};
  for (const auto& [text, canonical] : accepted) EXPECT_EQ(CanonicalIPv4(text), canonical) << text;
  const std::string refused[] = {"", "1.2.3", "1.2.3.4.5", "1.2.3.4.", ".1.2.3", "1..3.4", "1.2.3.256",
      "256.0.0.1", "1.2.3.0001", "1.2.3.0256", "+1.2.3.4", "1.2.3.-4", "1.2.3.4abc", " 1.2.3.4", "1.2.3.4 ",
      "1. 2.3.4", "1.2.3.4\n", "0x1.2.3.4", "1,2,3,4", "1.2.3.99999999999", std::string("1.2.3.4\0", 8)};
  for (const std::string& text : refused) EXPECT_EQ(CanonicalIPv4(text), std::nullopt) << text;
}

TEST(PeerAddressTest, PortsAreOneTo65535InPlainDigitsAndPeersNeedBothParts) {
  EXPECT_EQ(ParsePort("1"), 1);
  EXPECT_EQ(ParsePort("65535"), 65535);
  EXPECT_EQ(ParsePort("080"), 80);
  for (const char* text : {"", "0", "00000", "65536", "99999", "123456", "4294967377", "12a", "+80", "-1", " 80",
                           "80 ", "1e3", "0x50"})
    EXPECT_EQ(ParsePort(text), std::nullopt) << text;
  EXPECT_EQ(ParsePeer("010.0.0.1:65535"), Peer("10.0.0.1", 65535));
  for (const char* text : {"1.2.3.4", "1.2.3.4:", ":80", "1.2.3.4:0", "1.2.3.4:65536", "1.2.3.4:12a",
                           "1.2.3.4abc:5", "+1.2.3.4:5", "1.2.3.4:5:6", "1.2.3.4::5", "1.2.3.4: 5", "[1.2.3.4]:5",
                           "localhost:80", "1.2.3:4:5"})
    EXPECT_EQ(ParsePeer(text), std::nullopt) << text;
}

TEST(PeerAddressTest, DeriveHostMakesExactlyOneSideHostFromEachSidesView) {
  std::mt19937 random(20240611);
  const auto dotted = [](uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string(a >> 16 & 255) + "." + std::to_string(a >> 8 & 255) + "." +
           std::to_string(a & 255);
  };
  for (int i = 0; i < 2000; ++i) {
    // Thirds with the same address, the same port, and neither.
    const uint32_t a = random(), b = i % 3 == 0 ? a : static_cast<uint32_t>(random());
    const uint16_t p = static_cast<uint16_t>(1 + random() % 65535);
    const uint16_t q = i % 3 == 1 ? p : static_cast<uint16_t>(1 + random() % 65535);
    if (a == b && p == q) continue;
    EXPECT_NE(DeriveHost(dotted(a), p, dotted(b), q), DeriveHost(dotted(b), q, dotted(a), p))
        << dotted(a) << ":" << p << " and " << dotted(b) << ":" << q;
  }
}

TEST(PeerAddressTest, PortProbesSeeHeldPortsAndTheSearchSkipsThemAndStopsAtTheTop) {
  // Two neighbouring held ports, so a search that skips only one would show.
  std::unique_ptr<LoopbackSocket> low, high;
  for (int attempt = 0; attempt < 50 && !(high && high->port != 0); ++attempt) {
    low = std::make_unique<LoopbackSocket>();
    high = std::make_unique<LoopbackSocket>(static_cast<uint16_t>(low->port + 1));
  }
  ASSERT_NE(high->port, 0) << "no two neighbouring free ports";
  const uint16_t held = low->port;
  EXPECT_FALSE(isUdpPortAvailable(held));
  EXPECT_FALSE(isUdpPortAvailable(held + 1));
  const uint16_t found = FirstFreeUdpPort(held);
  EXPECT_GT(found, held + 1);
  EXPECT_TRUE(isUdpPortAvailable(found));
  low.reset();
  EXPECT_EQ(FirstFreeUdpPort(held), held);
  const LoopbackSocket top(65535);  // held here or by someone else: nothing above it to try
  EXPECT_EQ(FirstFreeUdpPort(65535), 0);
}

}  // namespace
