// The command line: the plans the good option sets give, and for every bad one status 2 with
// one "vantorix: " line naming the problem ahead of the usage. Test thread only.
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <tuple>
#include <vector>

namespace {

using Mode = LaunchPlan::Mode;

LaunchPlan Parse(const std::vector<const char*>& options) {
  QStringList arguments{QStringLiteral("vantorix")};
  for (const char* option : options) arguments << QString::fromUtf8(option);
  return ParseCommandLine(arguments);
}

std::string Joined(const std::vector<const char*>& options) {
  std::string text;
  for (const char* option : options) text += std::string(" ") + option;
  return text;
}

TEST(CommandLineTest, GoodOptionSetsGiveTheLocalDirectOrConnectPlan) {
  using Fields = std::tuple<Mode, uint16_t, std::string, uint16_t, bool>;
  const std::pair<std::vector<const char*>, Fields> cases[] = {
      {{}, {Mode::Local, 0, "", 0, false}},
      {{"--port", "47000", "--peer", "192.168.001.020:47001", "--host"}, {Mode::Direct, 47000, "192.168.1.20", 47001, true}},
      {{"--peer", "10.0.0.1:5", "--port", "1"}, {Mode::Direct, 1, "10.0.0.1", 5, false}},
      {{"--host", "--port=65535", "--peer=127.0.0.1:65535"}, {Mode::Direct, 65535, "127.0.0.1", 65535, true}},
      {{"--connect"}, {Mode::Connect, 0, "", 0, false}},
      {{"--port", "47010", "--connect"}, {Mode::Connect, 47010, "", 0, false}}};
  for (const auto& [options, fields] : cases) {
    const LaunchPlan plan = Parse(options);
    EXPECT_EQ(Fields(plan.mode, plan.local_port, plan.peer_ip, plan.peer_port, plan.host), fields)
        << Joined(options) << ": " << plan.message;
  }
}

TEST(CommandLineTest, EveryBadOptionSetExitsWithStatusTwoNamingTheProblemThenTheUsage) {
  // Each with a text the first line must hold, so the player sees what was wrong.
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      {{"--bogus"}, "bogus"}, {{"--port"}, "port"}, {{"--port", "47000", "--peer"}, "peer"},
      {{"--port", "0", "--peer", "1.2.3.4:5"}, "'0'"}, {{"--port", "65536", "--peer", "1.2.3.4:5"}, "65536"},
      {{"--port", "12a", "--peer", "1.2.3.4:5"}, "12a"}, {{"--port", "1", "--peer", "1.2.3.4"}, "1.2.3.4"},
      {{"--port", "1", "--peer", "1.2.3.4abc:5"}, "1.2.3.4abc:5"}, {{"--port", "1", "--peer", "+1.2.3.4:5"}, "+1.2.3.4:5"},
      {{"--peer", "1.2.3.4:5"}, "--port"}, {{"--peer", "1.2.3.4:5", "--host"}, "--port"}, {{"--host"}, "--host"},
      {{"--port", "47000"}, "--port"}, {{"--connect", "--peer", "1.2.3.4:5"}, "--peer"},
      {{"--connect", "--host"}, "--host"}, {{"--connect", "--port", "0"}, "'0'"}, {{"stray"}, "stray"},
      {{"--port", "1", "--peer", "1.2.3.4:5", "extra"}, "extra"}};
  for (const auto& [options, culprit] : cases) {
    const LaunchPlan plan = Parse(options);
    const std::string first_line = plan.message.substr(0, plan.message.find('\n'));
    EXPECT_EQ(std::make_pair(plan.mode, plan.exit_status), std::make_pair(Mode::Exit, 2)) << Joined(options);
    EXPECT_TRUE(first_line.starts_with("vantorix: ")) << Joined(options) << ": " << plan.message;
    EXPECT_NE(first_line.find(culprit), std::string::npos) << Joined(options) << ": " << first_line;
    EXPECT_NE(plan.message.find("\nUsage: "), std::string::npos) << Joined(options);
  }
}

TEST(CommandLineTest, HelpAndVersionExitWithStatusZero) {
  for (const char* option : {"--help", "-h"}) {
    const LaunchPlan help = Parse({option, "--port", "0"});  // answered before the other options are checked
    EXPECT_EQ(std::make_pair(help.mode, help.exit_status), std::make_pair(Mode::Exit, 0)) << option;
    // The program name in it is the test binary's here: the game parses before its application exists.
    EXPECT_TRUE(help.message.starts_with("Usage: ")) << help.message;
    for (const char* listed : {"--port <N>", "--peer <IP:PORT>", "--host", "--connect", "--version"})
      EXPECT_NE(help.message.find(listed), std::string::npos) << listed;
  }
  const LaunchPlan version = Parse({"--version"});
  EXPECT_EQ(std::make_pair(version.mode, version.exit_status), std::make_pair(Mode::Exit, 0));
  EXPECT_TRUE(version.message.ends_with("\n") && !version.message.starts_with("vantorix: ")) << version.message;
}

}  // namespace
