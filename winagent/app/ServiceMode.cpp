#include "app/ServiceMode.h"

#include <atomic>

#include "app/AppShutdown.h"

namespace {

std::atomic<bool> g_serviceMode{false};

// A stop that begins during the pause wins: the service then ends in order, not with status 1.
void SleepAndEnd(DWORD delayMs) {
  if (AppShutdown::IsShutdownRequested(delayMs)) return;
  ExitProcess(1);
}

std::atomic<ServiceExitFunction> g_exitFunction{&SleepAndEnd};

}  // namespace

bool IsServiceMode() { return g_serviceMode.load(); }

void SetServiceMode(bool serviceMode) { g_serviceMode.store(serviceMode); }

void ServiceModeExit(DWORD delayMs) {
  // Once the agent is stopping, clients stopped on purpose are no reason to end the process.
  if (!g_serviceMode.load() || AppShutdown::IsShutdownRequested(0)) return;
  g_exitFunction.load()(delayMs);
}

void SetServiceExitFunction(ServiceExitFunction function) {
  g_exitFunction.store(function ? function : &SleepAndEnd);
}
