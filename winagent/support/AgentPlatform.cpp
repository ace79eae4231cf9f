#include "support/AgentPlatform.h"

#include "client/CSocket.h"

bool AgentPlatform::ResolveHost(const std::wstring& host, in_addr& address) {
  return CSocket::Resolve(host, address);
}

AgentPlatform& RealPlatform() {
  static AgentPlatform platform;
  return platform;
}
