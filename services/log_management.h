// Named log channels: each line goes to the console and/or a file, plus a record in a
// ".struct" side file that readLog parses back. Any thread may log; one mutex guards
// the registry and is held for a whole call, so lines never interleave.
// Kept free of Qt and platform headers, whose macros could collide with the level names.
#pragma once

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <unordered_map>

// Some platform headers define ERROR or DEBUG as macros; keep the enumerators intact here.
#pragma push_macro("DEBUG")
#pragma push_macro("ERROR")
#undef DEBUG
#undef ERROR

enum class LogLevel : int { DEBUG = 0, INFO = 1, WARNING = 2, ERROR = 3, FATAL = 4 };

#pragma pop_macro("ERROR")
#pragma pop_macro("DEBUG")

// Scoped so that FILE does not collide with the C stdio type.
enum class LogTarget : int { CONSOLE = 0, FILE = 1, BOTH = 2 };

struct LogData {
  std::string time;
  std::string level;
  std::string message;
  bool flag = false;
};

class LogManagement {
 public:
  struct LogConfig {
    LogLevel level;
    LogTarget target;
    std::string path;
    std::ofstream file;
  };

  static LogManagement& getInstance();

  LogManagement(const LogManagement&) = delete;
  LogManagement& operator=(const LogManagement&) = delete;

  bool configLog(const std::string& name, LogLevel level, LogTarget target, const std::string& path);
  // Like configLog, but the file (and its directory) is made only when the first line is
  // written: a program that never logs leaves no ./logs behind.
  bool configLogOnFirstUse(const std::string& name, LogLevel level, LogTarget target, const std::string& path);

  template <typename T>
  void log(const std::string& name, LogLevel level, const T& message) {
    std::lock_guard<std::mutex> lock(mutex);
    std::ostringstream text;
    text << message;
    logLocked(name, level, text.str());
  }

  // The three below expect the caller to hold the mutex (log does).
  void defaultLog(LogLevel level, const std::string& message);
  void writeLog(LogConfig& config, const std::string& line);
  void saveStructuredLog(const std::string& path, const std::string& time, const std::string& level,
                         const std::string& text);

  int readLog(const std::string& name, LogData* out, int maxCount);
  bool createDir(const std::string& dir);
  void closeAllFiles();
  std::string getTime() const;
  std::string getLevelStr(LogLevel level) const;

 private:
  LogManagement() = default;
  ~LogManagement();

  void logLocked(const std::string& name, LogLevel level, const std::string& message);
  bool configLocked(const std::string& name, LogLevel level, LogTarget target, const std::string& path, bool open_now);

  std::unordered_map<std::string, LogConfig> configs;
  std::mutex mutex;
};
