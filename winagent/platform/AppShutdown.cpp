#include "platform/AppShutdown.h"

#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "platform/AgentNames.h"
#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

constexpr DWORD kWorkerWaitSeconds = 10;

struct Worker {
  HandleHolder doneEvent;  // the coordinator's own duplicate
  std::wstring name;
};

struct Coordinator {
  CriticalSection lock;
  std::vector<Worker> workers;
  bool initialized = false;
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  DWORD workerWaitMs = kWorkerWaitSeconds * 1000;

  HANDLE Event() const { return event_.load(); }
  // Takes over next as the shutdown event; the one it replaces is closed here and only here.
  void ReplaceEvent(HANDLE next) { CloseHandle(event_.exchange(next)); }

 private:
  // Read without the lock by every waiter; replaced only under it.
  std::atomic<HANDLE> event_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// Built on first use and never destroyed: workers may still look at the event while the
// process ends.
Coordinator& State() {
  static Coordinator* coordinator = new Coordinator;
  return *coordinator;
}

bool IsSignalled(HANDLE handle) { return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0; }

// Waits for all handles in batches of the platform's limit against one deadline.
// WAIT_OBJECT_0 when all are set, WAIT_TIMEOUT or WAIT_FAILED otherwise.
DWORD WaitForAll(const std::vector<HANDLE>& handles, DWORD milliseconds) {
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  for (size_t first = 0; first < handles.size(); first += MAXIMUM_WAIT_OBJECTS) {
    const DWORD count =
        static_cast<DWORD>(std::min<size_t>(MAXIMUM_WAIT_OBJECTS, handles.size() - first));
    const ULONGLONG now = GetTickCount64();
    const DWORD remaining = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const DWORD result = WaitForMultipleObjects(count, handles.data() + first, TRUE, remaining);
    if (result == WAIT_TIMEOUT || result == WAIT_FAILED) return result;
  }
  return WAIT_OBJECT_0;
}

// Why an existing event may not be used: " (owner ...): " and the reason; empty when its owner
// and its access list keep it to the trusted accounts.
std::wstring DistrustOf(HANDLE event, const TrustedAccounts& trusted) {
  PSID owner = nullptr;
  ACL* list = nullptr;
  LocalMemory<void> descriptor;
  const DWORD read = GetSecurityInfo(event, SE_KERNEL_OBJECT,
                                     OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                     nullptr, &list, nullptr, descriptor.Out());
  if (read != ERROR_SUCCESS)
    return L": its security cannot be read (error " + std::to_wstring(read) + L")";
  const std::wstring prefix = L" (owner " + AccountText(owner) + L"): ";
  if (!trusted.Contains(owner))
    return prefix + L"its owner is not this account, SYSTEM or Administrators";
  if (!list) return prefix + L"it has no access list, so anyone may set it";
  // Rights that let an account set or reset the event, or give itself those rights.
  constexpr DWORD kChangeRights =
      EVENT_MODIFY_STATE | WRITE_DAC | WRITE_OWNER | DELETE | GENERIC_WRITE | GENERIC_ALL;
  std::vector<std::wstring> others;
  if (!UntrustedHolders(*list, kChangeRights, trusted, others))
    return prefix + L"its access list holds entries of an unknown kind";
  if (!others.empty())
    return prefix + L"its access list lets " + others.front() + L" set it or change its security";
  return {};
}

}  // namespace

void AppShutdown::Initialize() {
  Coordinator& state = State();
  LockHolder hold(state.lock);
  if (state.initialized) {
    TsAppShutdown(0) << "ERROR: Unexpected 2nd call to AppShutdown::Initialize()";
    return;
  }
  state.initialized = true;
  TsAppShutdown(1) << "AppShutdown::Initialize setting up shop...";

  // In service mode the name lives in the machine's global namespace: anyone able to set the
  // event would stop every client. Only this account, SYSTEM and Administrators may touch it.
  PrivateSecurity security(EVENT_ALL_ACCESS, false);
  if (!security.Attributes()) {
    TRACE_CHECK(ResultFromWin32(GetLastError()));
    return;
  }
  const TrustedAccounts& trusted = security.Trusted();
  HandleHolder named(CreateEventW(security.Attributes(), TRUE, FALSE, kShutdownEventName));
  const DWORD error = GetLastError();
  if (!named.Valid()) {
    // Held by an object that this account may not open, or by another kind of object.
    TsAppShutdown(0) << "ERROR: Cannot create or open the event " << kShutdownEventName
                     << " (error " << error << "); using an unnamed event";
    return;
  }
  if (error == ERROR_ALREADY_EXISTS) {
    // Made before this instance: by another instance of this account, or by someone who
    // wants to stop it.
    const std::wstring refusal = DistrustOf(named.Get(), trusted);
    if (!refusal.empty()) {
      TsAppShutdown(0) << "ERROR: Refusing the event " << kShutdownEventName << refusal
                       << "; using an unnamed event";
      return;
    }
  }
  if (state.started) {
    SetEvent(named.Get());
  } else if (error == ERROR_ALREADY_EXISTS && IsSignalled(named.Get())) {
    // Left set by the instance this one took over from: it has run its ShutdownApp before
    // releasing the marker that this instance now holds.
    ResetEvent(named.Get());
  }
  state.ReplaceEvent(named.Detach());
}

void AppShutdown::RegisterWorker(HANDLE doneEvent, const wchar_t* name) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), doneEvent, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    TRACE_CHECK(ResultFromWin32(GetLastError()));
    return;
  }
  Coordinator& state = State();
  LockHolder hold(state.lock);
  // Workers that have already ended need no waiting; dropping them keeps the list short
  // across client restarts.
  std::erase_if(state.workers, [](const Worker& w) { return IsSignalled(w.doneEvent.Get()); });
  state.workers.push_back(Worker{HandleHolder(copy), name ? name : L""});
}

bool AppShutdown::IsShutdownRequested(DWORD milliseconds) {
  return WaitForSingleObject(State().Event(), milliseconds) != WAIT_TIMEOUT;
}

HANDLE AppShutdown::ShutdownEvent() { return State().Event(); }

bool AppShutdown::IsShutdownFinished() { return State().finished; }

void AppShutdown::SetWorkerWaitForTest(DWORD milliseconds) {
  State().workerWaitMs = milliseconds ? milliseconds : kWorkerWaitSeconds * 1000;
}

void AppShutdown::ResetForTest() {
  Coordinator& state = State();
  LockHolder hold(state.lock);
  state.workers.clear();
  state.ReplaceEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  state.initialized = false;
  state.started = false;
  state.finished = false;
  state.workerWaitMs = kWorkerWaitSeconds * 1000;
}

void ShutdownApp() {
  Coordinator& state = State();
  // The service control handler and the end of the main loop may both get here.
  if (state.started.exchange(true)) {
    TsAppShutdown(0) << "ERROR: Unexpected second call to ShutdownApp().  Ignoring this call";
    return;
  }
  TsAppShutdown(1) << "ShutdownApp() invoked: waiting for worker threads to close";
  std::vector<Worker> workers;
  {
    // Under the lock, so that an Initialize running at the same time sees the start.
    LockHolder hold(state.lock);
    SetEvent(state.Event());
    workers.swap(state.workers);
  }
  std::vector<HANDLE> handles;
  for (const Worker& worker : workers) handles.push_back(worker.doneEvent.Get());

  const DWORD result = WaitForAll(handles, state.workerWaitMs);
  if (result == WAIT_OBJECT_0) {
    TsAppShutdown(1) << "All worker threads shut down gracefully.";
  } else {
    if (result == WAIT_FAILED) TRACE_CHECK(ResultFromWin32(GetLastError()));
    TsAppShutdown(0) << "ERROR: One or more worker thread failed to shut down within the expected "
                     << kWorkerWaitSeconds << " seconds.";
  }
  workers.clear();  // closes the duplicates, once
  state.finished = true;
}
