#include "app/AgentMain.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <iterator>

#include "platform/AppShutdown.h"
#include "app/NetMutex.h"
#include "platform/ServiceMode.h"
#include "app/SessionNotifications.h"
#include "app/TavoMain.h"
#include "client/CSocket.h"
#include "config/ConfigInit.h"
#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

// The COM-initialisation record keeps the source name and line that log readers know.
constexpr char kComRecordSource[] = "TavoAuthClient.cpp";
constexpr int kComRecordLine = 96;

// Steps of ServiceStop's wait for the run thread once its loop agreed to end: enough for the
// loop's own ShutdownApp (10 s) to finish.
constexpr int kRunThreadEndSteps = 15;
constexpr int kShutdownFinishedSteps = 5;

struct ServiceState {
  CriticalSection lock;  // the status record, the reporting and the command-line text
  SERVICE_STATUS status = {};
  SERVICE_STATUS_HANDLE handle = nullptr;
  bool stoppedReported = false;
  bool stopRequested = false;
  std::wstring commandLine;
  HandleHolder runThread;
  // Set once by the run thread when it starts and never cleared, so a run thread that ends
  // at once is still seen to have started.
  HandleHolder started{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::atomic<bool> runThreadRunning{false};
  ServiceSeams seams;
};

// Never destroyed: the control handler may still run while the process ends.
ServiceState& State() {
  static ServiceState* state = new ServiceState;
  return *state;
}

// Reports the record with a new state. Nothing is reported once stopped was; a stop request
// also keeps the run thread from reporting running again.
void ReportStatusLocked(ServiceState& s, DWORD state, DWORD waitHint, DWORD exitCode = NO_ERROR,
                        DWORD specificExitCode = 0) {
  if (s.stoppedReported) return;
  if (s.stopRequested && (state == SERVICE_RUNNING || state == SERVICE_START_PENDING)) return;
  s.status.dwCurrentState = state;
  s.status.dwWaitHint = waitHint;
  s.status.dwWin32ExitCode = exitCode;
  s.status.dwServiceSpecificExitCode = specificExitCode;
  if (state == SERVICE_STOPPED) s.stoppedReported = true;
  if (s.handle) s.seams.setStatus(s.handle, &s.status);
}

void ReportStatus(DWORD state, DWORD waitHint, DWORD exitCode = NO_ERROR, DWORD specificExitCode = 0) {
  ServiceState& s = State();
  LockHolder hold(s.lock);
  ReportStatusLocked(s, state, waitHint, exitCode, specificExitCode);
}

// Raises the checkpoint and reports it with the current (pending) state.
void RaiseCheckpoint() {
  ServiceState& s = State();
  LockHolder hold(s.lock);
  ++s.status.dwCheckPoint;
  if (s.stoppedReported) return;
  if (s.handle) s.seams.setStatus(s.handle, &s.status);
}

bool StopRequested() {
  ServiceState& s = State();
  LockHolder hold(s.lock);
  return s.stopRequested;
}

bool RunThreadEnded() {
  ServiceState& s = State();
  return s.runThread.Valid() && WaitForSingleObject(s.runThread.Get(), 0) == WAIT_OBJECT_0;
}

// The main window of this process, or null while none exists.
HWND FindOwnMainWindow() {
  for (HWND window = FindWindowExW(nullptr, nullptr, kMainWindowClass, nullptr); window;
       window = FindWindowExW(nullptr, window, kMainWindowClass, nullptr)) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return window;
  }
  return nullptr;
}

// The quit handshake with the own main window; true when the loop agreed to end.
bool RequestMainLoopQuit() {
  HWND window = FindOwnMainWindow();
  if (!window) return false;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(window, kMsgQuitRequest, kQuitRequestCode, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                           State().seams.quitRequestTimeoutMs, &answer))
    return false;
  return answer == kMsgQuitAnswer;
}

DWORD WINAPI RunThreadWrapper(void*) {
  ServiceState& s = State();
  s.runThreadRunning = true;
  SetEvent(s.started.Get());
  int result = 1;
  try {
    result = s.seams.runThreadBody();
  } catch (...) {
    result = 1;
  }
  {
    // During a stop the handler reports stopped once its sequence is done.
    LockHolder hold(s.lock);
    if (!s.stopRequested) {
      if (result == 0)
        ReportStatusLocked(s, SERVICE_STOPPED, 1000);
      else
        ReportStatusLocked(s, SERVICE_STOPPED, 1000, ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(result));
    }
  }
  s.runThreadRunning = false;
  return static_cast<DWORD>(result);
}

// What both modes do with a main object that may run: the Winsock probe, the banner, the loop.
int RunMainObject(CTavoMain& main) {
  CSocket::Start();
  CSocket::Stop();
  DefWindowProcW(nullptr, WM_NULL, 0, 0);
  TsMain(1) << L"Qel Identra Version " << VersionText() << L", build date " << BuildTime() << L" RELEASE";
  TracePrintf(TC_Startup, 2, L"Startup: Init()\n");
  return main.Run();
}

}  // namespace

bool IsVersionSwitch(const wchar_t* commandLine) {
  if (!commandLine) return false;
  return wcsstr(commandLine, L"-version") != nullptr || wcscmp(commandLine, L"-v") == 0;
}

bool HandleVersionSwitch(const wchar_t* commandLine) {
  if (!IsVersionSwitch(commandLine)) return false;
  wchar_t text[128];
  _snwprintf(text, 127, L"Version: %s \r\nBuilt: %s\n", VersionText(), BuildTime());
  text[127] = L'\0';
  MessageBoxW(nullptr, text, L"Identra Version", MB_OK);
  return true;
}

int AgentMain(const wchar_t* commandLine, AgentPlatform& platform) {
  if (HandleVersionSwitch(commandLine)) return 0;

  ComApartment com;
  if (FAILED(com.Result())) TraceAssertAt(kComRecordSource, kComRecordLine);

  const HRESULT security = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                                                RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr);
  if (FAILED(security)) {
    const DWORD error = GetLastError();
    TracePrintf(TC_Startup, 0, L"Startup: CoInitSec failed:0x%x, 0x%x\n", error, static_cast<unsigned>(security));
    return 1;
  }

  if (FindServiceSwitch(commandLine)) SetServiceMode(true);

  if (IsServiceMode()) {
    TsApp(1) << L"Identra is starting in SERVICE mode.";
    return winMainService();
  }

  TsApp(1) << L"Identra is starting in USER or NETLOGON mode.";
  ConfigInit::LoadResult load;
  ConfigInit::Load(commandLine, load);
  if (!load.ok) {
    TracePrintf(TC_Startup, 0, L"Startup: configuration parse failed - %s\n", load.reason.c_str());
    return 1;
  }

  CTavoMain main(commandLine, platform);
  if (main.MustEnd()) {
    TsApp(0) << L"CTavoMain ordered the death of this instance";
    return 1;
  }
  const int result = RunMainObject(main);
  TracePrintf(TC_Startup, 2, L"Startup: Term()\n");
  return result;
}

int winMainService() {
  ServiceState& s = State();
  const wchar_t* processCommandLine = GetCommandLineW();
  {
    LockHolder hold(s.lock);
    s.commandLine = processCommandLine ? processCommandLine : L"";
  }
  // Only for the values it leaves behind: the run thread loads again and judges that load.
  ConfigInit::LoadResult load;
  ConfigInit::Load(processCommandLine, load);

  TsAuthServ(1) << L"winMainService starting...";
  wchar_t name[std::size(kServiceName)];
  std::copy(std::begin(kServiceName), std::end(kServiceName), name);  // the table wants it writable
  const SERVICE_TABLE_ENTRYW table[] = {{name, authServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    TsAuthServ(0) << L"Startup: StartServiceCtrlDispatcher failed: " << GetLastError();
    return 1;
  }
  return 0;
}

void WINAPI authServiceMain(DWORD argc, LPWSTR* argv) {
  ServiceState& s = State();
  TsAuthServ(1) << L"authServiceMain starting...in 10 seconds";

  // Start-pending is reported before the wait: a service manager that hears nothing for
  // that long takes the start as failed (Wine's gives up after 10 s).
  SERVICE_STATUS_HANDLE handle = s.seams.registerHandler(kServiceName, ServiceCtrlHandler);
  if (!handle) {
    // Without a status handle nothing can be reported to the service manager.
    TRACE_CHECK(ResultFromWin32(GetLastError()));
    return;
  }
  {
    LockHolder hold(s.lock);
    s.handle = handle;
    s.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    s.status.dwCheckPoint = 0;
    ReportStatusLocked(s, SERVICE_START_PENDING, 1000);
  }
  for (DWORD waited = 0; waited < s.seams.startDelayMs && !StopRequested(); waited += s.seams.stepMs) {
    Sleep(std::min(s.seams.stepMs, s.seams.startDelayMs - waited));
    RaiseCheckpoint();
  }
  {
    LockHolder hold(s.lock);
    // Stopped while waiting: the handler has reported stopped, nothing is to start.
    if (s.stopRequested) return;
    std::wstring arguments;
    for (DWORD i = 0; i < argc; ++i)
      if (argv && argv[i]) arguments += argv[i];
    s.commandLine = arguments;
  }

  if (!s.runThreadRunning) {
    ResetEvent(s.started.Get());
    HANDLE thread = s.seams.createThread(nullptr, 0, RunThreadWrapper, nullptr, 0, nullptr);
    if (!thread) {
      const DWORD error = GetLastError();
      TsAuthServ(0) << L"Startup: the run thread could not be started: " << error;
      ReportStatus(SERVICE_STOPPED, 1000, error ? error : ERROR_GEN_FAILURE);
      return;
    }
    s.runThread.Reset(thread);
    // The thread's end counts as started too: a run thread that failed at once must not
    // keep the service start-pending for ever.
    const HANDLE waits[] = {s.started.Get(), thread};
    while (WaitForMultipleObjects(2, waits, FALSE, s.seams.stepMs) == WAIT_TIMEOUT) RaiseCheckpoint();
  }
  ReportStatus(SERVICE_RUNNING, 1000);
}

int serviceRunThread() {
  DebugWaitHook(false, RealPlatform());
  TsAuthServ(1) << L"serviceRunThread starting...";
  ComApartment com;

  ConfigInit::LoadResult load;
  ConfigInit::Load(kServiceSwitch, load);
  if (!load.ok) {
    TsAuthServ(0) << L"Startup: configuration parse failed - " << load.reason;
    return 1;
  }

  CTavoMain main(ServiceCommandLine().c_str());
  if (main.MustEnd()) {
    TsAuthServ(0) << L"CTavoMain ordered the death of this instance";
    return 1;
  }
  return RunMainObject(main);
}

void WINAPI ServiceCtrlHandler(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      ServiceStop();
      ReportStatus(SERVICE_STOPPED, 1000);
      break;
    default: {
      // Interrogate and anything else: the record as it stands.
      ServiceState& s = State();
      LockHolder hold(s.lock);
      if (!s.stoppedReported && s.handle) s.seams.setStatus(s.handle, &s.status);
      break;
    }
  }
}

void ServiceStop() {
  ServiceState& s = State();
  {
    LockHolder hold(s.lock);
    ReportStatusLocked(s, SERVICE_STOP_PENDING, 10000);
    s.stopRequested = true;
  }
  RaiseCheckpoint();

  // The loop stops its clients (their logoffs go out) and runs ShutdownApp in its teardown.
  if (RequestMainLoopQuit()) {
    for (int step = 0; step < kRunThreadEndSteps && !RunThreadEnded(); ++step) {
      WaitForSingleObject(s.runThread.Get(), s.seams.stepMs);
      RaiseCheckpoint();
    }
  }
  if (!AppShutdown::IsShutdownFinished()) ShutdownApp();
  RaiseCheckpoint();
  for (int step = 0; step < kShutdownFinishedSteps && !AppShutdown::IsShutdownFinished(); ++step) {
    Sleep(s.seams.stepMs);
    RaiseCheckpoint();
  }
  RaiseCheckpoint();
  // Only once the run thread has ended: it may still be registering.
  if (RunThreadEnded()) UnregisterSessionNotifications();
  RaiseCheckpoint();
}

void DebugWaitHook(bool breakIntoDebugger, AgentPlatform& platform) {
  const RegTextResult value = RegValueText(HKEY_LOCAL_MACHINE, "SOFTWARE\\IdentraHack", "AuthDebugTimeout");
  long seconds = wcstol(value.text.c_str(), nullptr, 10);
  if (seconds == 0 || platform.DebuggerPresent()) return;

  bool first = true;
  while (seconds > 0) {
    platform.DebugWaitSleep(1000);
    if (platform.DebuggerPresent()) {
      if (breakIntoDebugger) platform.BreakIntoDebugger();
      return;
    }
    --seconds;
    if (first || seconds % 10 == 0) {
      char text[512];
      _snprintf(text, 511,
                "* * * WaitForDebugger * * * -- Process id %d waiting for debugger to attach.  %d seconds until "
                "timeout...\n",
                static_cast<int>(GetCurrentProcessId()), static_cast<int>(seconds));
      text[511] = '\0';
      platform.DebuggerOutput(text);
    }
    first = false;
  }
}

std::wstring ServiceCommandLine() {
  ServiceState& s = State();
  LockHolder hold(s.lock);
  return s.commandLine;
}

bool IsRunThreadRunning() { return State().runThreadRunning; }

void SetServiceSeams(const ServiceSeams& seams) {
  ServiceState& s = State();
  LockHolder hold(s.lock);
  s.seams = seams;
}

void ResetServiceStateForTest() {
  ServiceState& s = State();
  if (s.runThread.Valid()) WaitForSingleObject(s.runThread.Get(), INFINITE);
  LockHolder hold(s.lock);
  s.status = {};
  s.handle = nullptr;
  s.stoppedReported = false;
  s.stopRequested = false;
  s.commandLine.clear();
  s.runThread.Reset();
  ResetEvent(s.started.Get());
}

