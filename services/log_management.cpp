// Logging registry: channel set-up, line routing, the ".struct" side records and their
// reader, plus the three channels configured before main. Any thread may log; the
// registry mutex serialises configLog, log, readLog and closeAllFiles.
#include "services/log_management.h"

#include <ctime>
#include <filesystem>
#include <iostream>

namespace {

[[maybe_unused]] const bool startupChannels = [] {
  LogManagement& logs = LogManagement::getInstance();
  logs.configLogOnFirstUse("DEBUG.log", LogLevel::DEBUG, LogTarget::BOTH, "./logs/DEBUG.log");
  logs.configLogOnFirstUse("ERROR.log", LogLevel::ERROR, LogTarget::FILE, "./logs/ERROR.log");
  logs.configLogOnFirstUse("debug_log", LogLevel::INFO, LogTarget::CONSOLE, "");
  return true;
}();

}  // namespace

LogManagement& LogManagement::getInstance() {
  static LogManagement instance;
  return instance;
}

LogManagement::~LogManagement() { closeAllFiles(); }

bool LogManagement::configLog(const std::string& name, LogLevel level, LogTarget target,
                              const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  return configLocked(name, level, target, path, true);
}

bool LogManagement::configLogOnFirstUse(const std::string& name, LogLevel level, LogTarget target,
                                        const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex);
  return configLocked(name, level, target, path, false);
}

bool LogManagement::configLocked(const std::string& name, LogLevel level, LogTarget target, const std::string& path,
                                 bool open_now) {
  if (name.empty()) return false;

  LogConfig config{level, target, path, std::ofstream{}};
  if (!path.empty() && open_now) {
    if (!createDir(std::filesystem::path(path).parent_path().string())) return false;
    config.file.open(path, std::ios::out | std::ios::app);
    if (!config.file.is_open()) return false;
  }
  // A known channel is never reconfigured; the freshly opened file is simply dropped.
  configs.try_emplace(name, std::move(config));
  return true;
}

void LogManagement::logLocked(const std::string& name, LogLevel level, const std::string& message) {
  const auto it = configs.find(name);
  if (it == configs.end()) {
    defaultLog(level, message);
    return;
  }
  LogConfig& config = it->second;
  if (static_cast<int>(level) < static_cast<int>(config.level)) return;

  const std::string time = getTime();
  const std::string levelStr = getLevelStr(level);
  const std::string line = time + " | " + levelStr + " | " + message;
  writeLog(config, line);
  saveStructuredLog(config.path, time, levelStr, line);
}

void LogManagement::defaultLog(LogLevel level, const std::string& message) {
  const std::string line = getTime() + " | " + getLevelStr(level) + " | " + message;
  std::ostream& out = static_cast<int>(level) > static_cast<int>(LogLevel::WARNING) ? std::cerr : std::cout;
  out << line << '\n' << std::flush;
}

void LogManagement::writeLog(LogConfig& config, const std::string& line) {
  if (config.target == LogTarget::CONSOLE || config.target == LogTarget::BOTH) {
    // The stream follows the channel's level, not the message's.
    std::ostream& out =
        static_cast<int>(config.level) <= static_cast<int>(LogLevel::WARNING) ? std::cout : std::cerr;
    out << line << '\n' << std::flush;
  }
  const bool to_file = config.target == LogTarget::FILE || config.target == LogTarget::BOTH;
  if (to_file && !config.file.is_open() && !config.path.empty() &&
      createDir(std::filesystem::path(config.path).parent_path().string()))
    config.file.open(config.path, std::ios::out | std::ios::app);
  if (to_file && config.file.is_open()) {
    config.file << line << '\n';
    config.file.flush();
  }
}

void LogManagement::saveStructuredLog(const std::string& path, const std::string& time,
                                      const std::string& level, const std::string& text) {
  if (path.empty()) return;
  // Opened and closed per record so that readers of the side file always see whole records.
  std::ofstream side(path + ".struct", std::ios::out | std::ios::app);
  if (!side.is_open()) return;
  side << time << '|' << level << '|' << text << '\n';
  side.flush();
  side.close();
}

int LogManagement::readLog(const std::string& name, LogData* out, int maxCount) {
  std::lock_guard<std::mutex> lock(mutex);
  if (out == nullptr || maxCount < 1) return 0;
  const auto it = configs.find(name);
  if (it == configs.end()) return 0;

  const std::string sidePath = it->second.path + ".struct";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(sidePath, ec)) return 0;
  std::ifstream in(sidePath);
  if (!in.is_open()) return 0;

  int count = 0;
  std::string line;
  while (count < maxCount && std::getline(in, line)) {
    LogData record;
    const std::size_t p1 = line.find('|');
    const std::size_t p2 = p1 == std::string::npos ? std::string::npos : line.find('|', p1 + 1);
    const bool malformed = line.empty() || p1 == std::string::npos || p1 + 1 == line.size() ||
                           p2 == std::string::npos;
    if (!malformed) {
      record.time = line.substr(0, p1);
      record.level = line.substr(p1 + 1, p2 - p1 - 1);
      record.message = line.substr(p2 + 1);
    }
    record.flag = false;
    out[count] = record;
    ++count;
  }
  in.close();
  return count;
}

bool LogManagement::createDir(const std::string& dir) {
  try {
    if (dir.empty()) return true;
    const std::filesystem::path path(dir);
    const std::filesystem::file_type type = std::filesystem::status(path).type();
    if (type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::none) {
      return std::filesystem::create_directories(path);
    }
    return true;
  } catch (...) {
    return false;
  }
}

void LogManagement::closeAllFiles() {
  std::lock_guard<std::mutex> lock(mutex);
  for (auto& entry : configs) {
    if (entry.second.file.is_open()) entry.second.file.close();
  }
}

std::string LogManagement::getTime() const {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return std::string();
  char buffer[20] = {};
  const std::size_t length = std::strftime(buffer, sizeof(buffer), "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer, length);
}

std::string LogManagement::getLevelStr(LogLevel level) const {
  switch (level) {
    case LogLevel::DEBUG: return "DEBUG";
    case LogLevel::INFO: return "INFO";
    case LogLevel::WARNING: return "WARNING";
    case LogLevel::ERROR: return "ERROR";
    case LogLevel::FATAL: return "FATAL";
  }
  return "UNKNOWN";
}
