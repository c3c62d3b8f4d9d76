// LAN rooms: the message handling in every state through the socket-free seam, the socket
// paths over loopback against plain UDP sockets, and the broadcast search inside a private
// network namespace. Test thread plus the manager's receive thread.
#include "support/private_network.h"
#include "transport/udp_room_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace {

using Bytes = std::vector<unsigned char>;
using Sent = std::vector<std::pair<RoomInfo, Bytes>>;
using M = UdpRoomManager;
Bytes B(const std::string& text) { return Bytes(text.begin(), text.end()); }
const RoomInfo kHost{"127.0.0.1", 8866}, kPeer{"10.0.0.2", 4000}, kPeerElsewhere{"10.0.0.2", 4001},
    kStranger{"10.0.0.3", 4000};

// The singleton with recording callbacks, entered into a state offline (Enter) or for real
// (Initialize); Feed hands it one datagram and returns what it sent.
class RoomTest : public ::testing::Test {
 protected:
  void Enter(M::State state, const RoomInfo& peer = {}) { room.InitializeOfflineForTest(state, kHost, peer), Record(); }
  bool Initialize() { return room.Initialize() && (Record(), true); }
  void Record() {
    room.SetOnPlayerJoinedCallback([this](const std::string& ip, unsigned short port) { joined.push_back({ip, port}); });
    room.SetOnDataReceivedCallback([this](const Bytes& bytes) { received.push_back(bytes); });
  }
  Sent Feed(const std::string& text, const RoomInfo& sender) {
    room.HandleDatagramForTest(reinterpret_cast<const unsigned char*>(text.data()), text.size(), sender);
    return room.TakeSentForTest();
  }
  void TearDown() override { room.Shutdown(); }
  M& room = M::GetInstance();
  std::vector<RoomInfo> joined;
  std::vector<Bytes> received;
};

TEST_F(RoomTest, OnlyAHostAnswersSearchesAndItGivesItsOneSeatToTheFirstJoiner) {
  Enter(M::Hosting);
  EXPECT_EQ(Feed("RAES", kStranger), (Sent{{kStranger, B("OFNI")}}));
  EXPECT_EQ(Feed("SEAR", kStranger), Sent{});  // the word in reading order is no tag
  EXPECT_EQ(Feed("NIOJ", kPeer), (Sent{{kPeer, B("TPCA")}}));
  EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TJER")}}));
  EXPECT_EQ(joined, std::vector<RoomInfo>{kPeer});
  for (const M::State state : {M::Idle, M::Joined}) {
    Enter(state);
    EXPECT_EQ(Feed("RAES", kStranger), Sent{}) << state;
    EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TJER")}})) << state;
    EXPECT_EQ(room.IsInRoom(), state == M::Joined);
  }
}

TEST_F(RoomTest, DataIsTakenOnlyFromTheCounterpartWithAnyPayloadIncludingNone) {
  Enter(M::Hosting, kPeer);
  for (const RoomInfo& sender : {kPeer, kPeerElsewhere, kStranger, kHost}) Feed("ATAD\x01", sender);
  for (const char* ignored : {"ATA", "XTAD!", "ATAD"}) Feed(ignored, kPeer);
  Enter(M::Joined);
  for (const RoomInfo& sender : {kPeer, kHost}) Feed("ATAD" + sender.ip, sender);
  Enter(M::Idle);
  Feed("ATADi", kHost);
  EXPECT_EQ(received, (std::vector<Bytes>{{1}, {}, B(kHost.ip)}));
}

TEST_F(RoomTest, LeavesComeFromOrGoToTheCounterpartOnly) {
  Enter(M::Hosting, kPeer);
  for (const RoomInfo& sender : {kStranger, kPeerElsewhere}) Feed("VAEL", sender);
  EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TJER")}}));
  Feed("VAEL", kPeer);
  EXPECT_EQ(Feed("NIOJ", kStranger), (Sent{{kStranger, B("TPCA")}}));
  Enter(M::Joined);
  Feed("VAEL", kPeer);
  EXPECT_EQ(room.GetCurrentRoom(), kHost);
  Feed("VAEL", kHost);
  EXPECT_EQ(std::make_pair(room.IsInRoom(), room.GetCurrentRoom()), std::make_pair(false, RoomInfo{}));
  for (const auto& [state, to] : {std::pair{M::Hosting, kPeer}, {M::Joined, kHost}, {M::Hosting, {}}, {M::Idle, {}}}) {
    Enter(state, to);
    EXPECT_EQ(room.SendData({}), !to.ip.empty());
    room.LeaveRoom();
    EXPECT_EQ(room.TakeSentForTest(), to.ip.empty() ? Sent{} : (Sent{{to, B("ATAD")}, {to, B("VAEL")}}));
    EXPECT_FALSE(room.IsInRoom() || room.SendData({}));
  }
}

// A plain UDP socket on 127.0.0.1 (or sharing `port` on every address) playing the other
// machine; a receive waits at most 4 s and gives the text and the sender's port.
struct Udp {
  explicit Udp(unsigned short port = 0) {
    const int on = 1;
    const timeval limit{4, 0};
    sockaddr_in address{AF_INET, htons(port), {htonl(port ? INADDR_ANY : INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on), setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    bind(fd, reinterpret_cast<sockaddr*>(&address), length), getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
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

TEST_F(RoomTest, AHostAnswersFromItsRoomPortAndAfterLeavingJoinsFromAFreshSocket) {
  ASSERT_TRUE(Initialize());
  const unsigned short initialized = room.GetSelfPort();
  ASSERT_TRUE(room.CreateRoom(0));
  const RoomInfo here = room.GetCurrentRoom();
  Udp first, second;
  for (const char* text : {"RAES", "NIOJ"}) first.Send(text, here.port);
  EXPECT_EQ(first.Receive(), std::make_pair(std::string("OFNI"), here.port));
  EXPECT_EQ(first.Receive().first, "TPCA");
  second.Send("NIOJ", here.port);
  EXPECT_EQ(second.Receive().first, "TJER");
  room.LeaveRoom();
  EXPECT_EQ(first.Receive().first, "VAEL");
  EXPECT_EQ(std::make_pair(here.ip, joined), std::make_pair(kHost.ip, std::vector<RoomInfo>{{"127.0.0.1", first.port}}));
  std::thread answer([&] {
    const auto [text, from] = second.Receive();
    EXPECT_TRUE(text == "NIOJ" && from != initialized && from != here.port);  // a new socket; the reported port stays
    second.Send("TPCA", from);
  });
  EXPECT_TRUE(room.JoinRoom("127.0.0.1", second.port));  // so the receive thread reads the new socket
  answer.join();
  EXPECT_EQ(std::make_pair(room.GetSelfPort(), room.GetCurrentRoom()), std::make_pair(initialized, RoomInfo{"127.0.0.1", second.port}));
  EXPECT_TRUE(room.SendData({}));
  EXPECT_EQ(second.Receive().first, "ATAD");
}

TEST_F(RoomTest, JoinRoomIsAnsweredAtOnceByANonHostAndFailsAfterThreeSilentSeconds) {
  ASSERT_TRUE(Initialize());
  const auto timed_join = [this](unsigned short port) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(room.JoinRoom("127.0.0.1", port));
    return std::chrono::steady_clock::now() - start;
  };
  EXPECT_LT(timed_join(room.GetSelfPort()), std::chrono::seconds(2));  // its own idle socket rejects: no time-out
  Udp silent;
  EXPECT_GE(timed_join(silent.port), std::chrono::seconds(3));
  EXPECT_EQ(silent.Receive().first, "NIOJ");
}

// Broadcasts, so only inside a namespace of its own where loopback is the one interface.
TEST_F(RoomTest, ASearchListsEachAnsweringAddressOnce) {
  PrivateNetwork network;
  ASSERT_EQ(network.error, "");
  ASSERT_TRUE(Initialize() && room.CreateRoom(8866));
  Udp listener(8866), answers;  // shares the room's port, answers twice from another one
  std::thread echo([&] {
    const unsigned short from = listener.Receive().second;
    for (const char* reply : {"OFNI", "OFNI", "OFN", "TPCA"}) answers.Send(reply, from);
  });
  const std::vector<RoomInfo> rooms = room.SearchRooms(8866, 500);
  echo.join();
  EXPECT_THAT(rooms, ::testing::UnorderedElementsAre(kHost, RoomInfo{"127.0.0.1", answers.port}));
  EXPECT_EQ(room.SearchRooms(8867, 100), std::vector<RoomInfo>{});
}

}  // namespace
