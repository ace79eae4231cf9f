#include "support/ImmediateExit.h"

#include <unistd.h>

#include <cstdio>

namespace {
ImmediateExitHook g_hook = nullptr;
}

void ImmediateExit(int status) {
  if (g_hook) {
    g_hook(status);
    return;
  }
  // The log writes its lines unbuffered; only standard I/O may still hold bytes.
  fflush(nullptr);
  _exit(status);
}

ImmediateExitHook SetImmediateExitHook(ImmediateExitHook hook) {
  const ImmediateExitHook previous = g_hook;
  g_hook = hook;
  return previous;
}
