// A fresh working directory for each test that reads the logger's ./logs files. The logger
// opens those relative paths on first use, so every test process writing them in one shared
// directory (ctest -j) would mix its lines with ours. Test thread only: chdir is process-wide.
#pragma once

#include "services/log_management.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

class LogWorkdirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "vantorix-logs-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    workdir = pattern, home = std::filesystem::current_path();
    std::filesystem::current_path(workdir);
  }
  void TearDown() override {
    if (workdir.empty()) return;
    LogManagement::getInstance().closeAllFiles();  // the next test reopens ./logs in its own directory
    std::filesystem::current_path(home);
    std::filesystem::remove_all(workdir);
  }
  std::filesystem::path workdir, home;
};
