// Process-wide shutdown coordination: one shutdown event every worker watches, the workers'
// done-events, and ShutdownApp, which raises the event and waits for the workers.
#pragma once

#include <windows.h>

class AppShutdown {
 public:
  // Once only: replaces the start-up event with the named event "Qel_Identra", shared by the
  // instances of this account and open to SYSTEM and Administrators, nobody else. An event of
  // that name made by anyone else is refused (logged), and the unnamed event stays.
  static void Initialize();
  // Registers a worker's done-event (set when its thread has ended). The coordinator keeps a
  // duplicate of the handle; the caller still owns and closes its own.
  static void RegisterWorker(HANDLE doneEvent, const wchar_t* name);
  // Waits up to milliseconds on the shutdown event; true unless the wait timed out.
  static bool IsShutdownRequested(DWORD milliseconds);
  // The shutdown event, for waits together with other objects. Valid until the process ends.
  static HANDLE ShutdownEvent();
  // Set at the end of the first ShutdownApp.
  static bool IsShutdownFinished();

  // Test seams: how long ShutdownApp waits for workers (0: the real 10 s), and a return to
  // the start-up state (a fresh unnamed event, no workers, all flags clear).
  static void SetWorkerWaitForTest(DWORD milliseconds);
  static void ResetForTest();
};

// Sets the shutdown event and waits up to 10 s for every registered worker. Runs once; any
// later call, from any thread, is logged and returns at once.
void ShutdownApp();
