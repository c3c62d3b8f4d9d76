// LAN pairing, the searches inside a private network namespace as they broadcast. Test thread,
// the pairing's worker, the room manager's receive thread and one thread playing the other
// machine's room.
#include "match/lan_pairing.h"

#include "support/log_workdir.h"
#include "support/loopback_socket.h"
#include "support/private_network.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

TEST(PortMessageTest, OnlyAWellFormedPortReadsAndEachMessageStandsAlone) {
  const auto bytes = [](const std::string& text) { return std::vector<unsigned char>(text.begin(), text.end()); };
  EXPECT_EQ(ParsePortMessage(BuildPortMessage(47000)), 47000);
  for (int port : {1, 65535}) EXPECT_EQ(ParsePortMessage(bytes("PORT{" + std::to_string(port) + "}")), port);
  for (const char* bad : {"PORT{0}", "PORT{65536}", "PORT{}", "PORT{4700a}", "PORT{+47}", "PORT{47000}x",
                          "PORT{47000}PORT{1}", "PORT 47000", "port{47000}", "PORT{047000}", "\xC8"})
    EXPECT_FALSE(ParsePortMessage(bytes(bad)).has_value()) << bad;
}

// A search run on would hang the case for many minutes. The log must tell what was cut
// short, not that no room was found.
using LanPairingCancelTest = LogWorkdirTest;
TEST_F(LanPairingCancelTest, ACancelWhileSearchingEndsTheSearchAndIsLogged) {
  PrivateNetwork network;
  NEED_PRIVATE_NETWORK(network);
  {
    LanPairing pairing(UdpRoomManager::GetInstance(), 47000, {.search_ms = 1'000'000});
    pairing.Start();
    pairing.Cancel();
  }  // waits for the worker
  std::vector<LogData> records(8);
  std::string log;
  for (int i = 0, n = LogManagement::getInstance().readLog("DEBUG.log", records.data(), 8); i < n; ++i)
    log += records[i].message + "\n";
  EXPECT_NE(log.find("Lobby: cancelled while searching for rooms"), std::string::npos) << log;
  EXPECT_EQ(log.find("found no room"), std::string::npos) << log;
}

// Both clicked at once and both wait: this side's room (8866) is the higher one, so on its
// next search it leaves it, joins the other room (7788) and is the guest.
TEST(LanPairingTest, ASideWaitingInTheHigherRoomJoinsTheOtherOnItsNextSearch) {
  PrivateNetwork network;
  NEED_PRIVATE_NETWORK(network);
  LanPairing pairing(UdpRoomManager::GetInstance(), 47000,
                     {.search_ms = 100, .research = std::chrono::milliseconds(100)});
  pairing.Start();
  for (int polls = 0; polls < 2000 && pairing.phase() == LanPairing::Phase::Searching; ++polls)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(pairing.phase(), LanPairing::Phase::Waiting) << pairing.StatusText();
  const LoopbackSocket other(7788, true);  // the other side's room, opened just now
  std::atomic<bool> done{false};
  std::thread room([&] {
    for (uint16_t from = 0; !done;) {
      const std::optional<std::string> text = other.Receive(50, &from);
      if (text == "RAES") other.Send("OFNI", from);
      if (text == "NIOJ") other.Send("TPCA", from);
      if (text && text->rfind("ATAD", 0) == 0) other.Send("ATADPORT{5000}", from);
    }
  });
  for (int polls = 0; polls < 2000 && !pairing.result(); ++polls)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  done = true;
  room.join();
  ASSERT_TRUE(pairing.result().has_value()) << pairing.StatusText();
  EXPECT_EQ(pairing.result()->peer_ip, "127.0.0.1");
  EXPECT_EQ(pairing.result()->peer_port, 5000);
  EXPECT_FALSE(pairing.result()->host);
}

}  // namespace
