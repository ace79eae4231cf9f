// The connection and logon machines against the stand-in appliance on the virtual clock,
// with the process's immediate end replaced by a recorder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "client/AuthFSM_Outer.h"
#include "support/ImmediateExit.h"
#include "NativeAppliance.h"
#include "TestSupport.h"

inline std::vector<int>& RecordedExits() {
  static std::vector<int> exits;
  return exits;
}

// ownHome: logging under a HOME of the test's own (false: the program's HOME, for tests that
// use the options folder, which stays the first one a process asks for).
class ApplianceTestBase : public testing::Test {
 protected:
  explicit ApplianceTestBase(bool ownHome) : log(SEV_DEBUG, ownHome) {}

  void SetUp() override {
    ParseParams::Exec(config, "Defaults", kConfigDefaultsText, 0);
    SetIdentity("alice", "CORP", "CN=alice,DC=corp,DC=example");
    RecordedExits().clear();
    _previousHook = SetImmediateExitHook([](int status) { RecordedExits().push_back(status); });
  }
  void TearDown() override { SetImmediateExitHook(_previousHook); }

  void SetIdentity(const char* user, const char* domain, const char* userDN) {
    CTavoAuthConfig::LocalUserT& u = config.LocalUser;
    snprintf(u.userName, sizeof u.userName, "%s", user);
    snprintf(u.domainName, sizeof u.domainName, "%s", domain);
    snprintf(u.userDN, sizeof u.userDN, "%s", userDN);
    snprintf(u.groupName, sizeof u.groupName, "%s", "staff");
    snprintf(u.machineName, sizeof u.machineName, "%s", "mac-ws1");
    snprintf(u.fullName, sizeof u.fullName, "%s", "Alice Example");
    snprintf(u.machineDN, sizeof u.machineDN, "%s", "CN=mac-ws1,DC=corp,DC=example");
    u.identType = 0x102;
  }

  RefxPtr<AuthFSM_Outer> Start(uint16_t port) {
    AuthFSM_Signature signature;
    signature.appliance.host = "127.0.0.1";
    signature.appliance.port = port;
    RefxPtr<AuthFSM_Outer> outer = AuthFSM_Outer::Create(signature, &config, ("127.0.0.1:" + std::to_string(port)).c_str());
    outer->onEvent(AuthFSM_Outer::EV_V7kConnectReq, nullptr);
    return outer;
  }

  // Runs the loop in steps of at most step virtual seconds, gathering the appliance's lines,
  // until done() or the steps run out.
  bool Pump(ApplianceProcess* appliance, const std::function<bool()>& done, double step = 1.0, int steps = 600) {
    bool idle = false;
    for (int i = 0; i < steps; ++i) {
      Gather(appliance, idle ? 20 : 0);
      if (done()) return true;
      // A loop with nothing to wait for returns at once: the appliance's output is then
      // waited for instead.
      idle = CFRunLoopRunInMode(kCFRunLoopDefaultMode, step, true) == kCFRunLoopRunFinished;
    }
    Gather(appliance, 0);
    return done();
  }
  void Gather(ApplianceProcess* appliance, int waitMs) {
    if (!appliance) return;
    for (std::string line = appliance->Line(waitMs); !line.empty(); line = appliance->Line(0))
      lines.push_back(line);
  }
  // The commands the appliance received, in order.
  std::vector<std::string> Commands() const {
    std::vector<std::string> commands;
    for (const std::string& line : lines) {
      const size_t at = line.find("\"command\":\"");
      if (line.find("\"event\":\"message\"") != std::string::npos && at != std::string::npos)
        commands.push_back(line.substr(at + 11, 4));
    }
    return commands;
  }
  int Count(const std::string& command) const {
    int n = 0;
    for (const std::string& c : Commands()) n += c == command;
    return n;
  }
  std::string FirstLineWith(const std::string& text) const {
    for (const std::string& line : lines)
      if (line.find(text) != std::string::npos) return line;
    return "";
  }

  CTavoAuthConfig config{};
  // Idle polls long enough for the appliance to answer on a busy machine.
  VirtualClock clock{100};
  LogLines log;
  std::vector<std::string> lines;

 private:
  ImmediateExitHook _previousHook = nullptr;
};

class AuthFsmTest : public ApplianceTestBase {
 protected:
  AuthFsmTest() : ApplianceTestBase(true) {}
};
