#include "app/SessionNotifications.h"

#include <wtsapi32.h>

#include <mutex>

#include "platform/AgentPlatform.h"
#include "support/Holders.h"
#include "support/Logging.h"

namespace {

using RegisterSessionFn = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterSessionFn = BOOL(WINAPI*)(HWND);

// The registration of the process: the library that made it and the window it names.
struct Registration {
  std::mutex lock;
  ModuleHolder library;
  HWND window = nullptr;
};

Registration& TheRegistration() {
  static Registration* registration = new Registration;  // the service stop may come late
  return *registration;
}

}  // namespace

SessionRegistration RegisterSessionNotifications(HWND window, AgentPlatform& platform) {
  SessionRegistration result;
  ModuleHolder library(platform.LoadSessionLibrary());
  if (!library.Valid()) {
    TracePrintf(TC_Startup, 1, L"Startup: the WTS API is unavailable.\n");
    return result;
  }
  const auto registerFn = library.Function<RegisterSessionFn>("WTSRegisterSessionNotification");
  if (!registerFn) {
    TracePrintf(TC_Startup, 1, L"Startup: could not register for WTS notifications.\n");
    TracePrintf(TC_Startup, 1, L"Startup: is this Windows 2000?\n");
    return result;  // nothing registered, nothing to undo
  }

  TracePrintf(TC_Startup, 1, L"Startup: registering for WTS notifications.\n");
  {
    Registration& registration = TheRegistration();
    std::lock_guard<std::mutex> hold(registration.lock);
    registration.window = window;
    registration.library.Reset(library.Detach());
  }
  BOOL registered = registerFn(window, NOTIFY_FOR_ALL_SESSIONS);
  for (int attempt = 1; !registered && attempt <= 120; ++attempt) {
    TracePrintf(TC_Startup, 1, L"Startup: registering for WTS notifications failed. Retrying (attempt %d).\n",
                attempt);
    Sleep(platform.mainTimings.sessionRetrySleepMs);
    registered = registerFn(window, NOTIFY_FOR_ALL_SESSIONS);
  }
  if (!registered) {
    result.legacyMode = true;
    TracePrintf(TC_Startup, 1,
                L"Startup: registration for WTS failed - is the terminal services service running?\n");
    TracePrintf(TC_Startup, 1, L"Startup: WTS is unavailable - reverting to legacy behaviour.\n");
  }

  if (!platform.SessionIdOf(GetCurrentProcessId(), result.sessionId)) {
    TracePrintf(TC_Startup, 1, L"Startup: could not retrieve session ID.\n");
    result.sessionRead = false;
  }
  return result;
}

void UnregisterSessionNotifications() {
  Registration& registration = TheRegistration();
  std::lock_guard<std::mutex> hold(registration.lock);
  if (!registration.library.Valid()) return;
  TracePrintf(TC_Shutdown, 1, L"Shutdown: unregistering WTS notifications.\n");
  if (const auto unregister = registration.library.Function<UnregisterSessionFn>("WTSUnRegisterSessionNotification"))
    unregister(registration.window);
  registration.library.Reset();
}
