// The command line's launch plans and its complaints. Test thread only.
#include "app/command_line.h"
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {
using Mode = LaunchPlan::Mode;
using Options = std::vector<const char*>;

LaunchPlan Parse(const Options& options) {
  QStringList arguments{QStringLiteral("vantorix")};
  for (const char* option : options) arguments << QString::fromUtf8(option);
  return ParseCommandLine(arguments);
}

std::string Joined(const Options& options) {
  std::string text;
  for (const char* option : options) text += std::string(" ") + option;
  return text;
}

TEST(CommandLineTest, GoodOptionSetsGiveTheirPlan) {
  using Fields = std::tuple<Mode, uint16_t, std::string, uint16_t, bool, int>;
  const std::pair<Options, Fields> cases[] = {
      {{}, {Mode::Title, 0, "", 0, false, 2}},
      {{"--lan", "--port", "47005"}, {Mode::Title, 47005, "", 0, false, 2}},
      {{"--local", "--mute"}, {Mode::Local, 0, "", 0, false, 2}},
      {{"--practice"}, {Mode::Practice, 0, "", 0, false, 2}},
      {{"--level", "3", "--practice"}, {Mode::Practice, 0, "", 0, false, 3}},
      {{"--port", "47000", "--peer", "192.168.001.020:47001", "--host"},
       {Mode::Direct, 47000, "192.168.1.20", 47001, true, 2}},
      {{"--host", "--port=65535", "--peer=127.0.0.1:65535"}, {Mode::Direct, 65535, "127.0.0.1", 65535, true, 2}},
      {{"--port", "47010", "--connect"}, {Mode::Connect, 47010, "", 0, false, 2}}};
  for (const auto& [options, fields] : cases) {
    const LaunchPlan plan = Parse(options);
    EXPECT_EQ(Fields(plan.mode, plan.local_port, plan.peer_ip, plan.peer_port, plan.host, plan.level), fields)
        << Joined(options) << ": " << plan.message;
  }
}

TEST(CommandLineTest, EveryBadOptionSetExitsWithStatusTwoNamingTheProblemThenTheUsage) {
  // Each with a text the first line must hold, so the player sees what was wrong.
  const std::pair<Options, const char*> cases[] = {
      {{"--bogus"}, "bogus"}, {{"--port"}, "port"}, {{"--port", "0", "--peer", "1.2.3.4:5"}, "'0'"},
      {{"--port", "65536", "--peer", "1.2.3.4:5"}, "65536"}, {{"--port", "12a", "--peer", "1.2.3.4:5"}, "12a"},
      {{"--port", "1", "--peer", "1.2.3.4"}, "1.2.3.4"}, {{"--port", "1", "--peer", "+1.2.3.4:5"}, "+1.2.3.4:5"},
      {{"--peer", "1.2.3.4:5", "--host"}, "--port"}, {{"--host"}, "--host"}, {{"--level", "1"}, "--practice"},
      {{"--practice", "--level", "4"}, "'4'"}, {{"--practice", "--level", "02"}, "'02'"},
      {{"--practice", "--peer", "1.2.3.4:5", "--port", "1"}, "--peer"}, {{"--practice", "--connect"}, "--connect"},
      {{"--practice", "--lan"}, "--lan"}, {{"--local", "--connect"}, "--connect"},
      {{"--connect", "--peer", "1.2.3.4:5"}, "--peer"}, {{"--port", "1", "--peer", "1.2.3.4:5", "extra"}, "extra"}};
  for (const auto& [options, culprit] : cases) {
    const LaunchPlan plan = Parse(options);
    const std::string first_line = plan.message.substr(0, plan.message.find('\n'));
    EXPECT_EQ(plan.mode, Mode::Exit) << Joined(options);
    EXPECT_EQ(plan.exit_status, 2) << Joined(options);
    EXPECT_TRUE(first_line.starts_with("vantorix: ")) << Joined(options) << ": " << plan.message;
    EXPECT_NE(first_line.find(culprit), std::string::npos) << Joined(options) << ": " << first_line;
    EXPECT_NE(plan.message.find("\nUsage: "), std::string::npos) << Joined(options);
  }
}

TEST(CommandLineTest, HelpIsAnsweredBeforeOtherOptionsAreCheckedAndVersionToo) {
  for (const Options& options :
       {Options{"--help", "--port", "0"}, Options{"-h", "--connect", "--host"}, Options{"--version"}}) {
    const LaunchPlan plan = Parse(options);
    EXPECT_EQ(plan.mode, Mode::Exit) << Joined(options);
    EXPECT_EQ(plan.exit_status, 0) << Joined(options);
    EXPECT_FALSE(plan.message.starts_with("vantorix: ")) << plan.message;  // no complaint
  }
}
}  // namespace
