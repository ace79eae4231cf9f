#include "platform/ServiceMode.h"

#include <atomic>

#include "platform/AgentPlatform.h"
#include "platform/AppShutdown.h"

namespace {

std::atomic<bool> g_serviceMode{false};

}  // namespace

bool IsServiceMode() { return g_serviceMode.load(); }

void SetServiceMode(bool serviceMode) { g_serviceMode.store(serviceMode); }

void ServiceModeExit(AgentPlatform& platform, DWORD delayMs) {
  // Once the agent is stopping, clients stopped on purpose are no reason to end the process.
  if (!g_serviceMode.load() || AppShutdown::IsShutdownRequested(0)) return;
  platform.EndService(delayMs);
}
