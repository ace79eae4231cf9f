#include "ServiceMode.h"

#include <atomic>

namespace {

std::atomic<bool> g_serviceMode{false};

void SleepAndEnd(DWORD delayMs) {
  Sleep(delayMs);
  ExitProcess(1);
}

std::atomic<ServiceExitFunction> g_exitFunction{&SleepAndEnd};

}  // namespace

bool IsServiceMode() { return g_serviceMode.load(); }

void SetServiceMode(bool serviceMode) { g_serviceMode.store(serviceMode); }

void ServiceModeExit(DWORD delayMs) {
  if (!g_serviceMode.load()) return;
  g_exitFunction.load()(delayMs);
}

void SetServiceExitFunction(ServiceExitFunction function) {
  g_exitFunction.store(function ? function : &SleepAndEnd);
}
