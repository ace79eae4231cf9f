// The agent's platform in tests: the real calls and periods unless a test sets others.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AgentPlatform.h"

class TestPlatform : public AgentPlatform {
 public:
  bool ResolveHost(const std::wstring& host, in_addr& address) override {
    ++resolutions;
    return resolve ? resolve(host, address) : AgentPlatform::ResolveHost(host, address);
  }
  std::vector<uint32_t> InterfaceAddresses() override {
    return interfaces ? interfaces() : AgentPlatform::InterfaceAddresses();
  }
  bool SessionIdOf(DWORD processId, DWORD& id) override {
    if (!sessionId) return AgentPlatform::SessionIdOf(processId, id);
    if (*sessionId == kUnreadableSession) return false;
    id = *sessionId;
    return true;
  }
  HMODULE LoadSessionLibrary() override {
    return sessionLibrary.empty() ? AgentPlatform::LoadSessionLibrary()
                                  : LoadLibraryW(sessionLibrary.c_str());
  }
  IdentityPlatform Identity() override { return identity; }
  LogonRetryCalculator::RandomSource RetryRandom() override {
    return random ? random : AgentPlatform::RetryRandom();
  }
  void EndService(DWORD delayMs) override {
    if (endService) {
      endService(delayMs);
    } else {
      AgentPlatform::EndService(delayMs);
    }
  }

  void DebugWaitSleep(DWORD milliseconds) override {
    debugWaitSleep ? debugWaitSleep(milliseconds) : AgentPlatform::DebugWaitSleep(milliseconds);
  }
  bool DebuggerPresent() override { return debuggerPresent ? debuggerPresent() : AgentPlatform::DebuggerPresent(); }
  void BreakIntoDebugger() override { breakIntoDebugger ? breakIntoDebugger() : AgentPlatform::BreakIntoDebugger(); }
  void DebuggerOutput(const char* text) override {
    debuggerOutput ? debuggerOutput(text) : AgentPlatform::DebuggerOutput(text);
  }

  static constexpr DWORD kUnreadableSession = 0xFFFFFFFF;

  std::function<bool(const std::wstring& host, in_addr& address)> resolve;
  std::atomic<int> resolutions{0};
  std::function<std::vector<uint32_t>()> interfaces;
  std::optional<DWORD> sessionId;  // kUnreadableSession: the query fails
  std::wstring sessionLibrary;     // a full path, or empty for the real one
  IdentityPlatform identity;
  LogonRetryCalculator::RandomSource random;
  std::function<void(DWORD delayMs)> endService;  // empty: the real sleep and process end
  // The debugger wait's calls; empty: the real ones.
  std::function<void(DWORD milliseconds)> debugWaitSleep;
  std::function<bool()> debuggerPresent;
  std::function<void()> breakIntoDebugger;
  std::function<void(const char* text)> debuggerOutput;
};
