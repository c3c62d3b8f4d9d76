// Connection setup: the dialogue with bad answers and at end of input, the port probes and
// the one-at-a-time room search (inside a private network namespace). Test thread plus the
// search thread.
#include "match/connection_setup.h"
#include "support/private_network.h"

#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

// The rest of a bad port line is dropped; once the input is gone, asking again would print
// the same error for ever.
TEST(ConsoleDialogueTest, AsksAgainUntilBothAnswersAreValidAndEndsWithNothingAtEndOfInput) {
  const std::pair<std::string, std::pair<std::string, int>> cases[] = {
      {"1.2.3\n10.0.0.7\nabc\n0\n65536 9\n8080 rest\n", {"10.0.0.7", 8080}}, {"", {}}, {"1.2.3", {}},
      {"1.2.3.4\n", {}}, {"1.2.3.4 x", {}}, {"1.2.3.4 70000", {}}};
  for (const auto& [input, expected] : cases) {
    std::istringstream in(input);
    std::ostringstream out;
    EXPECT_EQ(OpenNewConsoleInputIPPort(in, out, {{}, {}}), expected) << input;
  }
}

TEST(PortProbeTest, ABoundPortIsSkippedAndAnEmptyRangeGivesZero) {
  const unsigned short port = getFirstAvailablePort(40000, 40100);
  ASSERT_TRUE(isPortAvailable(port));
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
  ASSERT_EQ(bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_FALSE(isPortAvailable(port));
  EXPECT_EQ(getFirstAvailablePort(port, port), 0);
  EXPECT_EQ(getFirstAvailablePort(port + 1, port), 0);
  EXPECT_GT(getFirstAvailablePort(port, 40200), port);
  close(holder);
}

TEST(RoomSearchTest, ASecondSearchDuringTheFirstReturnsAtOnceAndLeavesItsListAlone) {
  PrivateNetwork network;  // the search broadcasts
  NEED_PRIVATE_NETWORK(network);
  UdpRoomManager& room = UdpRoomManager::GetInstance();
  ASSERT_TRUE(room.Initialize());
  ASSERT_TRUE(room.CreateRoom(7788));
  std::string unused;
  std::vector<RoomInfo> rooms{{"stale", 1}}, second{{"kept", 2}};
  std::thread first(thread1s, std::ref(unused), std::ref(rooms), std::ref(room));
  for (int polls = 0; polls < 2000 && !SearchRooms_ending; ++polls)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(SearchRooms_ending);
  thread1s(unused, second, room);
  EXPECT_EQ(second, (std::vector<RoomInfo>{{"kept", 2}}));
  first.join();
  EXPECT_FALSE(SearchRooms_ending);
  // Each port has a 1 s window; a machine too slow for it once gets two more searches.
  const std::vector<RoomInfo> expected{{"127.0.0.1", 7788}};
  for (int retry = 0; retry < 2 && rooms != expected; ++retry) thread1s(unused, rooms, room);
  EXPECT_EQ(rooms, expected);
  room.Shutdown();
}

}  // namespace
