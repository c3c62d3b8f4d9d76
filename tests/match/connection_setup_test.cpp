// Connection setup: the address check, the dialogue's texts with bad answers and at end of
// input, the port probes and the one-at-a-time room search (inside a private network
// namespace). Test thread plus the search thread.
#include "match/connection_setup.h"
#include "support/private_network.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <sstream>
#include <thread>

namespace {

TEST(IsValidIPTest, AcceptsOnlyFourPlainDottedNumbersUpTo255) {
  for (const char* text : {"192.168.0.1", "0.0.0.0", "255.255.255.255", "010.0.0.1"})
    EXPECT_TRUE(IsValidIP(text)) << text;
  for (const char* text : {"", "1.2.3", "1.2.3.256", "256.1.1.1", "-1.2.3.4", "1x2x3.4", "1.2.3.99999999999",
                           "+1.2.3.4", "192.168.1.1abc", "1.2.3.4.5", " 1.2.3.4", "1..2.3", "1.2.3.4 "})
    EXPECT_FALSE(IsValidIP(text)) << text;
}

// Runs the dialogue on `input` without pauses; gives the result and the text shown.
std::pair<std::pair<std::string, int>, std::string> Dialogue(std::istream&& in) {
  std::ostringstream out;
  const auto result = OpenNewConsoleInputIPPort(in, out, {{}, {}});
  return {result, out.str()};
}
const std::string kWide(51, '='), kAskIP = "Please enter opponent's IP address: ",
    kAskPort = "Please enter opponent's port (1-65535): ",
    kBadIP = "Error: Invalid IP format! Please enter like 192.168.x.x\n\n",
    kBadPort = "Error: Port must be a number between 1 and 65535!\n\n",
    kStart = kWide + "\n              P2P Direct Connection Setup          \n" + kWide + "\n\n" + kAskIP;

TEST(ConsoleDialogueTest, AsksAgainAfterEachBadAnswerThenShowsTheSummaryAndTheProgressBar) {
  std::istringstream in("1.2.3\n10.0.0.7\nabc\n0\n65536 9\n8080 rest\n");
  const auto [result, shown] = Dialogue(std::move(in));
  EXPECT_EQ(result, std::make_pair(std::string("10.0.0.7"), 8080));
  const std::string narrow(41, '='), expected = kStart + kBadIP + kAskIP + kAskPort + kBadPort + kAskPort + kBadPort +
      kAskPort + kBadPort + kAskPort + "\n" + narrow + "\nTarget IP:    10.0.0.7\nTarget Port:  8080\n" + narrow +
      "\n\n" + kWide + "\n  PLEASE STAY ON THIS SCREEN\n  Ask YOUR OPPONENT to perform the SAME operation\n" + kWide +
      "\n\n\r[" + std::string(50, ' ') + "] 0.0%\r[#" + std::string(49, ' ') + "] 2.0%\r";
  EXPECT_EQ(shown.substr(0, expected.size()), expected);
  EXPECT_NE(shown.find("\r[" + std::string(25, '#') + std::string(25, ' ') + "] 50.0%\r"), std::string::npos);
  EXPECT_TRUE(shown.ends_with("\r[" + std::string(50, '#') + "] 100.0%\n\nConnection setup completed. Console will close soon.\n"));
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\r'), 51);
}

TEST(ConsoleDialogueTest, EndOfInputEndsTheDialogueWithAnEmptyAddressAndPortZero) {
  const std::pair<std::string, std::string> cases[] = {{"", kStart}, {"1.2.3", kStart + kBadIP + kAskIP},
      {"1.2.3.4\n", kStart + kAskPort}, {"1.2.3.4 x", kStart + kAskPort + kBadPort + kAskPort},
      {"1.2.3.4 70000", kStart + kAskPort + kBadPort + kAskPort}};
  for (const auto& [input, output] : cases)
    EXPECT_EQ(Dialogue(std::istringstream(input)), std::make_pair(std::make_pair(std::string(), 0), output)) << input;
}

TEST(PortProbeTest, ABoundPortIsSkippedAndAnEmptyRangeGivesZero) {
  const unsigned short port = getFirstAvailablePort(40000, 40100);
  const int holder = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_ANY)}, {}};
  ASSERT_TRUE(isPortAvailable(port) && bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
  EXPECT_EQ(std::make_tuple(isPortAvailable(port), getFirstAvailablePort(port, port), getFirstAvailablePort(port + 1, port)),
            std::make_tuple(false, 0, 0));
  EXPECT_GT(getFirstAvailablePort(port, 40200), port);
  close(holder);
}

TEST(RoomSearchTest, ASecondSearchDuringTheFirstReturnsAtOnceAndLeavesItsListAlone) {
  PrivateNetwork network;  // the search broadcasts
  ASSERT_EQ(network.error, "");
  UdpRoomManager& room = UdpRoomManager::GetInstance();
  ASSERT_TRUE(room.Initialize() && room.CreateRoom(7788));
  std::string unused;
  std::vector<RoomInfo> rooms{{"stale", 1}}, second{{"kept", 2}};
  std::thread first(thread1s, std::ref(unused), std::ref(rooms), std::ref(room));
  for (int polls = 0; polls < 400 && !SearchRooms_ending; ++polls) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(SearchRooms_ending);
  thread1s(unused, second, room);
  EXPECT_EQ(second, (std::vector<RoomInfo>{{"kept", 2}}));
  first.join();
  EXPECT_EQ(rooms, (std::vector<RoomInfo>{{"127.0.0.1", 7788}}));
  EXPECT_FALSE(SearchRooms_ending);
  room.Shutdown();
}

}  // namespace
