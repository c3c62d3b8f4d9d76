// LAN rooms: the message handling in every state with a recording sender (test thread only),
// then the room manager's sockets over loopback against plain UDP sockets, and its broadcast
// search inside a private network namespace (test thread, the manager's receive thread and
// one thread playing the other machine).
#include "support/loopback_socket.h"
#include "support/private_network.h"
#include "transport/udp_room_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace {

using Bytes = std::vector<unsigned char>;
using Sent = std::vector<std::pair<RoomInfo, Bytes>>;
using Answer = RoomProtocol::JoinAnswer;
Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }
const RoomInfo kHost{"127.0.0.1", 8866}, kPeer{"10.0.0.2", 4000}, kPeerElsewhere{"10.0.0.2", 4001},
    kStranger{"10.0.0.3", 4000};

// A room entered into a state, sending through `sent` (or refusing to).
class RoomProtocolTest : public ::testing::Test {
 protected:
  void Enter(RoomState state, const RoomInfo& peer = {}) {
    const auto send = [this](const RoomInfo& to, const Bytes& bytes) {
      return !refuse && (sent.emplace_back(to, bytes), true);
    };
    room = std::make_unique<RoomProtocol>(send, state, kHost, peer);
    room->SetOnPlayerJoinedCallback([this](const std::string& ip, unsigned short at) { joined.push_back({ip, at}); });
    room->SetOnDataReceivedCallback([this](const Bytes& bytes) { received.push_back(bytes); });
  }
  Sent Feed(const std::string& text, const RoomInfo& sender) {
    room->HandleDatagram(reinterpret_cast<const unsigned char*>(text.data()), text.size(), sender);
    return std::exchange(sent, {});
  }
  std::unique_ptr<RoomProtocol> room;
  bool refuse = false;
  Sent sent;
  std::vector<RoomInfo> joined;
  std::vector<Bytes> received;
};

// A host's answers to searches and joins show on real sockets below.
TEST_F(RoomProtocolTest, OnlyAHostAnswersSearchesAndNobodyElseTakesAJoiner) {
  Enter(RoomState::Hosting);
  EXPECT_EQ(Feed("SEAR", kStranger), Sent{});  // the word in reading order is no tag
  for (const RoomState state : {RoomState::Idle, RoomState::Joined}) {
    Enter(state);
    EXPECT_EQ(Feed("RAES", kStranger), Sent{});
    EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TJER")}}));
  }
  EXPECT_EQ(joined, std::vector<RoomInfo>{});
}

TEST_F(RoomProtocolTest, DataIsTakenOnlyFromTheCounterpartWithAnyPayloadIncludingNone) {
  Enter(RoomState::Hosting, kPeer);
  for (const RoomInfo& sender : {kPeer, kPeerElsewhere, kStranger, kHost}) Feed("ATAD\x01", sender);
  for (const char* ignored : {"ATA", "XTAD!", "ATAD"}) Feed(ignored, kPeer);
  Enter(RoomState::Joined);
  for (const RoomInfo& sender : {kPeer, kHost}) Feed("ATAD" + sender.ip, sender);
  Enter(RoomState::Idle);
  Feed("ATADi", kHost);
  EXPECT_EQ(received, (std::vector<Bytes>{{1}, {}, B(kHost.ip)}));
}

TEST_F(RoomProtocolTest, LeavesComeFromOrGoToTheCounterpartOnly) {
  Enter(RoomState::Hosting, kPeer);
  for (const RoomInfo& sender : {kStranger, kPeerElsewhere}) Feed("VAEL", sender);
  EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TJER")}}));
  Feed("VAEL", kPeer);
  EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TPCA")}}));  // the seat is free again
  Enter(RoomState::Joined);
  Feed("VAEL", kPeer);
  EXPECT_EQ(room->currentRoom(), kHost);
  Feed("VAEL", kHost);
  EXPECT_EQ(room->state(), RoomState::Idle);
  EXPECT_EQ(room->currentRoom(), RoomInfo{});
  for (const RoomState state : {RoomState::Hosting, RoomState::Idle}) {  // nobody to talk to
    Enter(state);
    EXPECT_FALSE(room->SendData({}));
    EXPECT_EQ(room->Leave(), state == RoomState::Hosting);
    EXPECT_EQ(sent, Sent{});
  }
}

TEST_F(RoomProtocolTest, AJoinIsEnteredOnlyOnAnAcceptOfTheLatestRequestWhileIdle) {
  Enter(RoomState::Idle);
  Feed("TPCA", kStranger);
  EXPECT_FALSE(room->EnterJoinedRoom());  // an accept nobody asked for
  EXPECT_TRUE(room->AskToJoin(kHost));
  EXPECT_EQ(Feed("TJER", kHost), (Sent{{kHost, B("NIOJ")}}));
  EXPECT_EQ(room->joinAnswer(), Answer::Rejected);
  EXPECT_FALSE(room->EnterJoinedRoom());
  Feed("TPCA", kHost);  // late: a new request must not take it for its own answer
  EXPECT_TRUE(room->AskToJoin(kPeer));
  EXPECT_EQ(room->joinAnswer(), Answer::None);
  EXPECT_FALSE(room->EnterJoinedRoom());
  EXPECT_EQ(Feed("TPCA", kStranger), (Sent{{kPeer, B("NIOJ")}}));  // from someone not asked
  EXPECT_EQ(room->joinAnswer(), Answer::None);
  EXPECT_EQ(Feed("TPCA", kPeer), Sent{});
  EXPECT_TRUE(room->EnterJoinedRoom());
  EXPECT_EQ(room->currentRoom(), kPeer);
  EXPECT_FALSE(room->AskToJoin(kHost));
  EXPECT_FALSE(room->Host(kHost));
  EXPECT_EQ(sent, Sent{});
  Enter(RoomState::Idle);
  refuse = true;
  EXPECT_FALSE(room->AskToJoin(kHost));
}

class UdpRoomManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(room.Initialize());
    room.SetOnPlayerJoinedCallback([this](const std::string& ip, unsigned short at) { joined.push_back({ip, at}); });
  }
  void TearDown() override { room.Shutdown(); }
  UdpRoomManager& room = UdpRoomManager::GetInstance();
  std::vector<RoomInfo> joined;
};

TEST_F(UdpRoomManagerTest, AHostAnswersFromItsRoomPortAndAfterLeavingJoinsFromAFreshSocket) {
  const unsigned short initialized = room.GetSelfPort();
  ASSERT_TRUE(room.CreateRoom(0));
  const RoomInfo here = room.GetCurrentRoom();
  EXPECT_EQ(here.ip, kHost.ip);
  LoopbackSocket first, second;
  uint16_t from = 0;
  for (const char* text : {"RAES", "NIOJ"}) first.Send(text, here.port);
  EXPECT_EQ(first.Receive(10000, &from), "OFNI");
  EXPECT_EQ(from, here.port);
  EXPECT_EQ(first.Receive(10000), "TPCA");
  second.Send("NIOJ", here.port);
  EXPECT_EQ(second.Receive(10000), "TJER");
  room.LeaveRoom();
  EXPECT_EQ(first.Receive(10000), "VAEL");
  EXPECT_EQ(joined, (std::vector<RoomInfo>{{"127.0.0.1", first.port}}));
  std::thread answer([&] {
    EXPECT_EQ(second.Receive(10000, &from), "NIOJ");
    EXPECT_NE(from, initialized);  // a new socket, while the reported port stays
    EXPECT_NE(from, here.port);
    second.Send("TPCA", from);
  });
  EXPECT_TRUE(room.JoinRoom("127.0.0.1", second.port));  // so the receive thread reads the new socket
  answer.join();
  EXPECT_EQ(room.GetSelfPort(), initialized);
  EXPECT_EQ(room.GetCurrentRoom(), (RoomInfo{"127.0.0.1", second.port}));
  EXPECT_TRUE(room.SendData({}));
  EXPECT_EQ(second.Receive(10000), "ATAD");
}

TEST_F(UdpRoomManagerTest, AJoinNobodyAnswersFails) {
  EXPECT_FALSE(room.JoinRoom("127.0.0.1", room.GetSelfPort()));  // its own idle socket refuses
  LoopbackSocket silent;
  EXPECT_FALSE(room.JoinRoom("127.0.0.1", silent.port));
  EXPECT_EQ(silent.Receive(10000), "NIOJ");
}

// Broadcasts, so only inside a namespace of its own where loopback is the one interface.
TEST_F(UdpRoomManagerTest, ASearchListsEachAnsweringAddressOnce) {
  PrivateNetwork network;
  NEED_PRIVATE_NETWORK(network);
  ASSERT_TRUE(room.Initialize());  // now inside the namespace
  ASSERT_TRUE(room.CreateRoom(8866));
  const LoopbackSocket listener(8866, true), answers;  // answers each search twice, from another port
  std::atomic<bool> done{false};
  std::thread echo([&] {
    uint16_t from = 0;
    for (int searches = 0; searches < 8 && !done; ++searches)
      if (listener.Receive(10000, &from) == "RAES")
        for (const char* reply : {"OFNI", "OFNI", "OFN", "TPCA"}) answers.Send(reply, from);
  });
  const auto expected = ::testing::UnorderedElementsAre(kHost, RoomInfo{"127.0.0.1", answers.port});
  // Windows that grow, so a slow machine gets a longer one and a quick one stops early.
  std::vector<RoomInfo> rooms;
  for (int window = 250; window <= 8000 && !::testing::Matches(expected)(rooms); window *= 2)
    rooms = room.SearchRooms(8866, window);
  done = true;
  answers.Send("stop", 8866);
  echo.join();
  EXPECT_THAT(rooms, expected);
}

}  // namespace
