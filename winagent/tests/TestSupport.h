// Helpers shared by the agent's tests.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "WinTestSupport.h"  // ScratchDir, StartRetried
#include "support/Logging.h"
#include "support/Utilities.h"

// The running test program's own path, and its folder.
inline std::wstring ProgramPath() {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  return path;
}
inline std::wstring ProgramFolder() {
  const std::wstring path = ProgramPath();
  return path.substr(0, path.rfind(L'\\'));
}

// All bytes of a file, also while another handle (the agent's log) holds it open for writing.
inline std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

// Writes bytes to a new file (replacing an old one).
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

// Closes the next message box with this caption from another thread: waits up to timeoutMs for
// it, reads its text and answers IDOK. The future yields the text; it throws when no such box
// appeared in time (any message box of this process is then closed, so the test cannot hang).
inline std::future<std::wstring> CloseMessageBoxAsync(const std::wstring& caption, DWORD timeoutMs = 10000) {
  return std::async(std::launch::async, [caption, timeoutMs]() -> std::wstring {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
      HWND box = FindWindowW(L"#32770", caption.c_str());
      // Visible once the dialog has been initialised, so its text is in place.
      if (box && IsWindowVisible(box)) {
        wchar_t text[4096] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 4096);  // the message box's text control
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return text;
      }
      Sleep(20);
    }
    for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", nullptr); w;
         w = FindWindowExW(nullptr, w, L"#32770", nullptr)) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == GetCurrentProcessId()) PostMessageW(w, WM_COMMAND, IDOK, 0);
    }
    throw std::runtime_error("no message box with the expected caption appeared");
  });
}

// CreateProcessW, tried again on Wine's transient internal error.
inline bool StartProcess(std::wstring commandLine, bool inheritHandles, STARTUPINFOW& startup,
                         PROCESS_INFORMATION& process, const wchar_t* workingFolder = nullptr) {
  return StartRetried([&] {
    return CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr,
                          inheritHandles ? TRUE : FALSE, 0, nullptr, workingFolder, &startup,
                          &process);
  });
}

// Output (carriage returns dropped) and exit code of a helper program run to its end.
struct ToolResult {
  DWORD exitCode = STILL_ACTIVE;
  std::string output;
};

// Runs a command line with its output and errors captured; ended by force after timeoutMs.
inline ToolResult RunTool(const std::wstring& commandLine, DWORD timeoutMs = 60000) {
  ToolResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  HandleHolder reader(readEnd);
  HandleHolder writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!StartProcess(commandLine, true, startup, process)) return result;
  HandleHolder processHandle(process.hProcess);
  HandleHolder threadHandle(process.hThread);
  writer.Close();
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got) result.output.append(chunk, got);
  std::erase(result.output, '\r');
  if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 99);
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  return result;
}

// An event made with the security descriptor of its text form (as another instance of the
// agent, or another account, would have made it first).
inline HandleHolder MakeSecuredEvent(const std::wstring& descriptor, const wchar_t* name,
                                     bool set = false) {
  LocalMemory<void> built;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(descriptor.c_str(), SDDL_REVISION_1,
                                                            built.Out(), nullptr)) {
    ADD_FAILURE() << "bad descriptor " << Narrow(descriptor);
    return HandleHolder();
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), built.Get(), FALSE};
  return HandleHolder(CreateEventW(&attributes, TRUE, set ? TRUE : FALSE, name));
}

// Polls done every 10 ms until it holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
  return true;
}

// Every trace line written while it lives; the log goes to a folder of its
// own and the debugger query lets every line through the filter.
class TraceLines {
 public:
  explicit TraceLines(const std::string& folderPrefix = "idagent-log") : dir_(folderPrefix) {
    SetLogPathOverride(dir_ / L"trace.log");
    SetDebuggerQuery([] { return true; });
    SetTraceCapture([this](int, const std::wstring& line) {
      std::lock_guard<std::mutex> hold(lock_);
      lines_.push_back(line);
    });
  }
  ~TraceLines() {
    SetTraceCapture({});
    SetDebuggerQuery(nullptr);
    SetLogPathOverride(L"");
  }
  TraceLines(const TraceLines&) = delete;
  TraceLines& operator=(const TraceLines&) = delete;

  std::vector<std::wstring> Lines() const {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
  }
  // Lines containing text.
  int Count(const std::wstring& text) const {
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(), [&](const std::wstring& line) {
      return line.find(text) != std::wstring::npos;
    }));
  }
  // The first line containing text (empty when none).
  std::wstring Find(const std::wstring& text) const {
    std::lock_guard<std::mutex> hold(lock_);
    for (const std::wstring& line : lines_)
      if (line.find(text) != std::wstring::npos) return line;
    return {};
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    lines_.clear();
  }

 private:
  ScratchDir dir_;
  mutable std::mutex lock_;
  std::vector<std::wstring> lines_;
};
