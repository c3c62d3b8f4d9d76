// Tests for the logging registry: routing by level and target, the side-file records and
// their reader, channel set-up failures, and whole lines under concurrent loggers.
// Each case uses its own channels and temp directory; the start-up channels write to ./logs.
#include "services/log_management.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

const std::string kTime = R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2})";

struct Console {
  std::string out, err;
};

class LogManagementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    marker = name + "_" + std::to_string(getpid());
    dir = fs::temp_directory_path() / ("vantorix_" + marker);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  template <typename Fn>
  static Console capture(Fn&& fn) {
    CaptureStdout();
    CaptureStderr();
    fn();
    Console console{GetCapturedStdout(), GetCapturedStderr()};
    return console;
  }

  // Lines of a file that contain this test's marker.
  std::vector<std::string> markedLines(const fs::path& path) const {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      if (line.find(marker) != std::string::npos) lines.push_back(line);
    return lines;
  }

  LogManagement& logs = LogManagement::getInstance();
  std::string name, marker;
  fs::path dir;
};

TEST_F(LogManagementTest, DebugChannelWritesOneLineToStdoutFileAndSideFile) {
  const Console c = capture([&] { logs.log("DEBUG.log", LogLevel::INFO, marker); });
  EXPECT_EQ(c.err, "");
  ASSERT_TRUE(std::regex_match(c.out, std::regex(kTime + " \\| INFO \\| " + marker + "\n")));
  const std::string line = c.out.substr(0, c.out.size() - 1);
  EXPECT_EQ(markedLines("./logs/DEBUG.log"), std::vector<std::string>{line});
  EXPECT_EQ(markedLines("./logs/DEBUG.log.struct"),
            std::vector<std::string>{line.substr(0, 19) + "|INFO|" + line});
}

TEST_F(LogManagementTest, ChannelsFilterByLevelAndRouteByTarget) {
  Console c = capture([&] {
    logs.log("ERROR.log", LogLevel::WARNING, marker + "_dropped");
    logs.log("debug_log", LogLevel::DEBUG, marker + "_dropped");
    logs.log("ERROR.log", LogLevel::FATAL, marker + "_fatal");
  });
  EXPECT_EQ(c.out + c.err, "");
  const std::vector<std::string> errorFile = markedLines("./logs/ERROR.log");
  ASSERT_EQ(errorFile.size(), 1u);
  EXPECT_TRUE(std::regex_match(errorFile[0], std::regex(kTime + " \\| FATAL \\| " + marker + "_fatal")));

  c = capture([&] { logs.log("debug_log", LogLevel::INFO, marker); });
  EXPECT_TRUE(std::regex_match(c.out, std::regex(kTime + " \\| INFO \\| " + marker + "\n")));
  EXPECT_EQ(c.err, "");
  EXPECT_FALSE(fs::exists(".struct"));
}

TEST_F(LogManagementTest, ConsoleStreamFollowsTheChannelLevelNotTheMessageLevel) {
  ASSERT_TRUE(logs.configLog(name + "_warn", LogLevel::WARNING, LogTarget::CONSOLE, ""));
  ASSERT_TRUE(logs.configLog(name + "_error", LogLevel::ERROR, LogTarget::CONSOLE, ""));
  Console c = capture([&] { logs.log(name + "_warn", LogLevel::FATAL, marker); });
  EXPECT_NE(c.out.find("| FATAL | " + marker), std::string::npos);
  EXPECT_EQ(c.err, "");
  c = capture([&] { logs.log(name + "_error", LogLevel::ERROR, marker); });
  EXPECT_EQ(c.out, "");
  EXPECT_NE(c.err.find("| ERROR | " + marker), std::string::npos);
}

TEST_F(LogManagementTest, UnknownChannelGoesToConsoleBySeverityOnly) {
  Console c = capture([&] { logs.log("nosuch", LogLevel::ERROR, marker); });
  EXPECT_EQ(c.out, "");
  EXPECT_TRUE(std::regex_match(c.err, std::regex(kTime + " \\| ERROR \\| " + marker + "\n")));
  c = capture([&] { logs.log("nosuch", LogLevel::DEBUG, 42); });
  EXPECT_TRUE(std::regex_match(c.out, std::regex(kTime + " \\| DEBUG \\| 42\n")));
  EXPECT_EQ(c.err, "");
}

TEST_F(LogManagementTest, ConfigLogRejectsBadSetupsAndNeverReconfigures) {
  EXPECT_FALSE(logs.configLog("", LogLevel::DEBUG, LogTarget::CONSOLE, ""));
  EXPECT_TRUE(logs.configLog("DEBUG.log", LogLevel::FATAL, LogTarget::CONSOLE, ""));
  const Console c = capture([&] { logs.log("DEBUG.log", LogLevel::INFO, marker); });
  EXPECT_NE(c.out.find(marker), std::string::npos);
  EXPECT_EQ(markedLines("./logs/DEBUG.log").size(), 1u);

  const std::string channel = name + "_file";
  ASSERT_TRUE(logs.configLog(channel, LogLevel::DEBUG, LogTarget::FILE, (dir / "first.log").string()));
  EXPECT_TRUE(logs.configLog(channel, LogLevel::DEBUG, LogTarget::FILE, (dir / "second.log").string()));
  logs.log(channel, LogLevel::INFO, marker);
  EXPECT_EQ(markedLines(dir / "first.log").size(), 1u);
  EXPECT_TRUE(markedLines(dir / "second.log").empty());

  // A regular file where a parent directory should be: nothing can be created below it.
  std::ofstream(dir / "blocker") << "x";
  EXPECT_FALSE(logs.createDir((dir / "blocker" / "sub").string()));
  EXPECT_FALSE(logs.configLog(name + "_bad", LogLevel::DEBUG, LogTarget::FILE,
                              (dir / "blocker" / "sub" / "a.log").string()));
  const Console fallback = capture([&] { logs.log(name + "_bad", LogLevel::ERROR, marker); });
  EXPECT_NE(fallback.err.find(marker), std::string::npos);  // not added: default console route
}

TEST_F(LogManagementTest, ReadLogHonoursMaxCountAndKeepsMalformedLinesAsEmptyRecords) {
  const fs::path path = dir / "read.log";
  ASSERT_TRUE(logs.configLog(name, LogLevel::DEBUG, LogTarget::FILE, path.string()));
  for (int i = 0; i < 5; ++i) logs.log(name, LogLevel::WARNING, "record " + std::to_string(i));
  std::ofstream(path.string() + ".struct", std::ios::app) << "abc\nt|L|a|b\n";

  LogData out[8];
  for (LogData& d : out) d.flag = true;
  EXPECT_EQ(logs.readLog(name, out, 2), 2);
  EXPECT_EQ(logs.readLog(name, out, 8), 7);
  std::ifstream in(path);
  for (int i = 0; i < 5; ++i) {
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(out[i].message, line);
    EXPECT_EQ(out[i].time, line.substr(0, 19));
    EXPECT_EQ(out[i].level, "WARNING");
    EXPECT_FALSE(out[i].flag);
  }
  EXPECT_EQ(out[5].time + out[5].level + out[5].message, "");
  EXPECT_EQ(out[6].time, "t");
  EXPECT_EQ(out[6].level, "L");
  EXPECT_EQ(out[6].message, "a|b");

  EXPECT_EQ(logs.readLog(name, nullptr, 8), 0);
  EXPECT_EQ(logs.readLog(name, out, 0), 0);
  EXPECT_EQ(logs.readLog("nosuch", out, 8), 0);
}

TEST_F(LogManagementTest, ConcurrentLoggersNeitherInterleaveNorLoseLines) {
  constexpr int kThreads = 8, kLines = 500;
  const fs::path path = dir / "busy.log";
  ASSERT_TRUE(logs.configLog(name, LogLevel::DEBUG, LogTarget::FILE, path.string()));
  std::vector<std::thread> loggers;
  for (int t = 0; t < kThreads; ++t)
    loggers.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i)
        logs.log(name, LogLevel::INFO, marker + " " + std::to_string(t) + " " + std::to_string(i));
    });
  for (std::thread& th : loggers) th.join();

  const std::regex whole(kTime + " \\| INFO \\| " + marker + " (\\d+) (\\d+)");
  auto checkAll = [&](const std::vector<std::string>& lines, const std::string& prefix) {
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines)) << prefix;
    std::set<std::pair<int, int>> seen;
    std::smatch m;
    for (const std::string& line : lines) {
      ASSERT_TRUE(std::regex_match(line, m, whole)) << prefix << line;
      seen.emplace(std::stoi(m[1]), std::stoi(m[2]));
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines)) << prefix;
  };
  checkAll(markedLines(path), "file: ");

  std::vector<LogData> records(kThreads * kLines + 1);
  ASSERT_EQ(logs.readLog(name, records.data(), static_cast<int>(records.size())), kThreads * kLines);
  std::vector<std::string> messages;
  for (int i = 0; i < kThreads * kLines; ++i) {
    EXPECT_EQ(records[i].level, "INFO");
    EXPECT_EQ(records[i].message.substr(0, 19), records[i].time);
    messages.push_back(records[i].message);
  }
  checkAll(messages, "side file: ");
}

TEST(LogLevelNames, PrintedNamesWithUnknownFallback) {
  const LogManagement& logs = LogManagement::getInstance();
  EXPECT_EQ(logs.getLevelStr(LogLevel::DEBUG), "DEBUG");
  EXPECT_EQ(logs.getLevelStr(LogLevel::INFO), "INFO");
  EXPECT_EQ(logs.getLevelStr(LogLevel::WARNING), "WARNING");
  EXPECT_EQ(logs.getLevelStr(LogLevel::ERROR), "ERROR");
  EXPECT_EQ(logs.getLevelStr(LogLevel::FATAL), "FATAL");
  EXPECT_EQ(logs.getLevelStr(static_cast<LogLevel>(7)), "UNKNOWN");
}

}  // namespace
