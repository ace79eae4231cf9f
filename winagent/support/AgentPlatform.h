// What the agent asks of the machine where a test needs to give another answer. The agent
// holds one and hands it down; RealPlatform() makes the real calls.
#pragma once

#include <winsock2.h>

#include <string>

class AgentPlatform {
 public:
  virtual ~AgentPlatform() = default;

  // The IPv4 address of an appliance host (a dotted address or a name); false when it does
  // not resolve. May take as long as the resolver takes: callers hold no lock around it.
  virtual bool ResolveHost(const std::wstring& host, in_addr& address);
};

AgentPlatform& RealPlatform();
