// For tests that read the agent's log lines: logging started once for the test program
// under a temporary HOME (so the per-user files land there), with every message copied to
// standard error. Adding it: testing::AddGlobalTestEnvironment(new LoggingEnvironment).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "support/Logging.h"
#include "TestSupport.h"

class LoggingEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    std::filesystem::create_directories(_home / "Library/Logs");
    setenv("HOME", _home.path().c_str(), 1);
    InitLogging();
  }
  void TearDown() override { TermLogging(); }
  const std::string& Home() const { return _home.path(); }

 private:
  TempDir _home;
};

// Every message passes from now on (the hub's default level).
inline void LogEverything() { LogHub<LogContext>::Get().SetDefaultLevel(SEV_DEBUG); }
