// LAN rooms: the message handling in every state with a recording sender (test thread only),
// then the room manager's sockets over loopback against plain UDP sockets, and its broadcast
// search inside a private network namespace (test thread, the manager's receive thread and
// one thread playing the other machine).
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

// A room entered into a state, sending through `sent` (or refusing to), with recording
// callbacks; Feed hands it one datagram and takes what it sent.
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

TEST_F(RoomProtocolTest, OnlyAHostAnswersSearchesAndItGivesItsOneSeatToTheFirstJoiner) {
  Enter(RoomState::Hosting);
  EXPECT_EQ(Feed("RAES", kStranger), (Sent{{kStranger, B("OFNI")}}));
  EXPECT_EQ(Feed("SEAR", kStranger), Sent{});  // the word in reading order is no tag
  EXPECT_EQ(Feed("NIOJ", kPeer), (Sent{{kPeer, B("TPCA")}}));
  EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TJER")}}));
  for (const RoomState state : {RoomState::Idle, RoomState::Joined}) {
    Enter(state);
    EXPECT_EQ(Feed("RAES", kStranger), Sent{});
    EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TJER")}}));
  }
  EXPECT_EQ(joined, std::vector<RoomInfo>{kPeer});
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
  const std::pair<RoomState, RoomInfo> cases[] = {
      {RoomState::Hosting, kPeer}, {RoomState::Joined, kHost}, {RoomState::Hosting, {}}, {RoomState::Idle, {}}};
  for (const auto& [state, to] : cases) {
    Enter(state, to);
    EXPECT_EQ(room->SendData({}), !to.ip.empty());
    EXPECT_EQ(room->Leave(), state != RoomState::Idle);
    EXPECT_EQ(std::exchange(sent, {}), to.ip.empty() ? Sent{} : (Sent{{to, B("ATAD")}, {to, B("VAEL")}}));
    EXPECT_FALSE(room->SendData({}));
  }
  Enter(RoomState::Joined);
  refuse = true;
  EXPECT_FALSE(room->SendData({}));  // a send that did not leave is no success
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

// A plain UDP socket on 127.0.0.1 (or sharing `port` on every address) playing the other
// machine; a receive waits at most 10 s and gives the text and the sender's port.
struct Udp {
  explicit Udp(unsigned short port = 0) {
    const int on = 1;
    const timeval limit{10, 0};
    sockaddr_in address{AF_INET, htons(port), {htonl(port ? INADDR_ANY : INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    this->port = ntohs(address.sin_port);
  }
  ~Udp() { close(fd); }
  void Send(const std::string& text, unsigned short to) const {
    const sockaddr_in address{AF_INET, htons(to), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  std::pair<std::string, unsigned short> Receive() const {
    char buffer[64];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t size = recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    return {std::string(buffer, std::max<ssize_t>(size, 0)), ntohs(from.sin_port)};
  }
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  unsigned short port = 0;
};

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
  Udp first, second;
  for (const char* text : {"RAES", "NIOJ"}) first.Send(text, here.port);
  EXPECT_EQ(first.Receive(), std::make_pair(std::string("OFNI"), here.port));
  EXPECT_EQ(first.Receive().first, "TPCA");
  second.Send("NIOJ", here.port);
  EXPECT_EQ(second.Receive().first, "TJER");
  room.LeaveRoom();
  EXPECT_EQ(first.Receive().first, "VAEL");
  EXPECT_EQ(joined, (std::vector<RoomInfo>{{"127.0.0.1", first.port}}));
  std::thread answer([&] {
    const auto [text, from] = second.Receive();
    EXPECT_EQ(text, "NIOJ");
    EXPECT_NE(from, initialized);  // a new socket, while the reported port stays
    EXPECT_NE(from, here.port);
    second.Send("TPCA", from);
  });
  EXPECT_TRUE(room.JoinRoom("127.0.0.1", second.port));  // so the receive thread reads the new socket
  answer.join();
  EXPECT_EQ(room.GetSelfPort(), initialized);
  EXPECT_EQ(room.GetCurrentRoom(), (RoomInfo{"127.0.0.1", second.port}));
  EXPECT_TRUE(room.SendData({}));
  EXPECT_EQ(second.Receive().first, "ATAD");
}

TEST_F(UdpRoomManagerTest, AJoinNobodyAnswersFailsAfterThreeSeconds) {
  EXPECT_FALSE(room.JoinRoom("127.0.0.1", room.GetSelfPort()));  // its own idle socket refuses
  Udp silent;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(room.JoinRoom("127.0.0.1", silent.port));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(silent.Receive().first, "NIOJ");
}

// Broadcasts, so only inside a namespace of its own where loopback is the one interface.
TEST_F(UdpRoomManagerTest, ASearchListsEachAnsweringAddressOnce) {
  PrivateNetwork network;
  NEED_PRIVATE_NETWORK(network);
  ASSERT_TRUE(room.Initialize());  // now inside the namespace
  ASSERT_TRUE(room.CreateRoom(8866));
  Udp listener(8866), answers;  // shares the room's port, answers each search twice from another one
  std::atomic<bool> done{false};
  std::thread echo([&] {
    for (int searches = 0; searches < 8 && !done; ++searches) {
      const auto [text, from] = listener.Receive();
      if (text == "RAES")
        for (const char* reply : {"OFNI", "OFNI", "OFN", "TPCA"}) answers.Send(reply, from);
    }
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
