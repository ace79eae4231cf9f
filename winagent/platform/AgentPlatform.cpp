#include "platform/AgentPlatform.h"

#include <cstring>

#include "platform/AppShutdown.h"
#include "client/CSocket.h"
#include "support/Logging.h"
#include "support/Utilities.h"

bool AgentPlatform::ResolveHost(const std::wstring& host, in_addr& address) {
  return CSocket::Resolve(host, address);
}

std::vector<uint32_t> AgentPlatform::InterfaceAddresses() {
  // The host's own addresses as Windows Sockets resolves its name.
  std::vector<uint32_t> addresses;
  WinsockScope winsock;
  if (!winsock.Started()) {
    TracePrintf(TC_Socket, 4, L"Could not initialize Winsock; will retry.\n");
    return addresses;
  }
  char name[256] = {};
  if (gethostname(name, sizeof(name)) != 0) {
    TracePrintf(TC_Socket, 4, L"Socket error when acquiring interfaces; will retry.\n");
    return addresses;
  }
  const hostent* host = gethostbyname(name);
  if (!host || !host->h_addr_list || !host->h_addr_list[0]) {
    TracePrintf(TC_Socket, 4, L"No bind addresses found; will retry.\n");
  } else if (host->h_addrtype == AF_INET) {
    for (char** entry = host->h_addr_list; *entry; ++entry) {
      in_addr address;
      std::memcpy(&address, *entry, sizeof(address));
      addresses.push_back(ntohl(address.s_addr));
    }
  }
  return addresses;
}

bool AgentPlatform::SessionIdOf(DWORD processId, DWORD& sessionId) {
  return ProcessIdToSessionId(processId, &sessionId) != FALSE;
}

HMODULE AgentPlatform::LoadSessionLibrary() { return LoadSystemLibrary(L"wtsapi32.dll"); }

IdentityPlatform AgentPlatform::Identity() { return {}; }

LogonRetryCalculator::RandomSource AgentPlatform::RetryRandom() { return &SeededRand; }

void AgentPlatform::EndService(DWORD delayMs) {
  // A stop that begins during the pause wins: the service then ends in order, not with status 1.
  if (AppShutdown::IsShutdownRequested(delayMs)) return;
  ExitProcess(1);
}

void AgentPlatform::DebugWaitSleep(DWORD milliseconds) { Sleep(milliseconds); }

bool AgentPlatform::DebuggerPresent() { return IsDebuggerPresent() != FALSE; }

void AgentPlatform::BreakIntoDebugger() { DebugBreak(); }

void AgentPlatform::DebuggerOutput(const char* text) { OutputDebugStringA(text); }

AgentPlatform& RealPlatform() {
  static AgentPlatform platform;
  return platform;
}
