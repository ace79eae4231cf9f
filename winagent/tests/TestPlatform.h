// The agent's platform in tests: the real calls unless a test sets another answer.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "support/AgentPlatform.h"

class TestPlatform : public AgentPlatform {
 public:
  bool ResolveHost(const std::wstring& host, in_addr& address) override {
    ++resolutions;
    return resolve ? resolve(host, address) : AgentPlatform::ResolveHost(host, address);
  }

  std::function<bool(const std::wstring& host, in_addr& address)> resolve;
  std::atomic<int> resolutions{0};
};
