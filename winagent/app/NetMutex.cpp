#include "app/NetMutex.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <string_view>

#include "platform/AgentNames.h"
#include "support/Logging.h"
#include "support/Utilities.h"

namespace {

// A marker is five short lines; anything much larger is not one of ours.
constexpr DWORD kMaxMarkerBytes = 4096;

// Handle values of windows are 32-bit and sign-extended (as LongToHandle does).
HWND WindowFromValue(uint32_t value) {
  return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

bool DefaultMarkerPath(wchar_t (&path)[MAX_PATH]) {
  KnownFolderResult appData = KnownFolderPath(FOLDERID_RoamingAppData);
  if (!appData.found) return false;
  std::wstring folder = appData.path + L"\\Qel Security Identra";
  CreateDirectoryW(folder.c_str(), nullptr);  // one level; an existing folder is fine
  std::wstring file = folder + L"\\appmtx";
  if (file.size() >= MAX_PATH) return false;
  wcscpy(path, file.c_str());
  return true;
}

bool WriteLine(HANDLE file, const wchar_t* format, ...) {
  wchar_t line[600];
  va_list args;
  va_start(args, format);
  int length = _vsnwprintf(line, 600, format, args);
  va_end(args);
  if (length < 0) return false;
  const DWORD bytes = static_cast<DWORD>(length) * sizeof(wchar_t);
  DWORD written = 0;
  return WriteFile(file, line, bytes, &written, nullptr) && written == bytes;
}

// Copies value into a field of capacity characters; false when it would not fit.
template <size_t N>
bool CopyField(std::wstring_view value, wchar_t (&field)[N]) {
  if (value.empty() || value.size() >= N) return false;
  value.copy(field, value.size());
  field[value.size()] = L'\0';
  return true;
}

// "0x" and one to eight hexadecimal digits, nothing else.
bool ParseHex(std::wstring_view value, uint32_t& out) {
  if (value.size() < 3 || value.size() > 10 || value[0] != L'0' ||
      (value[1] != L'x' && value[1] != L'X')) {
    return false;
  }
  uint32_t result = 0;
  for (wchar_t c : value.substr(2)) {
    uint32_t digit;
    if (c >= L'0' && c <= L'9') {
      digit = c - L'0';
    } else if (c >= L'a' && c <= L'f') {
      digit = c - L'a' + 10;
    } else if (c >= L'A' && c <= L'F') {
      digit = c - L'A' + 10;
    } else {
      return false;
    }
    result = (result << 4) | digit;
  }
  out = result;
  return true;
}

// The value of the first line "name=...", without its trailing white space.
bool FindValue(std::wstring_view text, std::wstring_view name, std::wstring_view& value) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring_view::npos) end = text.size();
    std::wstring_view line = text.substr(start, end - start);
    if (line.size() > name.size() && line.substr(0, name.size()) == name &&
        line[name.size()] == L'=') {
      line.remove_prefix(name.size() + 1);
      while (!line.empty() && iswspace(line.back())) line.remove_suffix(1);
      value = line;
      return true;
    }
    start = end + 1;
  }
  return false;
}

// The holder's window must still be the main window of the holder's process; otherwise the
// marker is stale and its numbers may now belong to anybody.
bool HolderWindowMatches(HWND window, DWORD processId) {
  if (!IsWindow(window)) return false;
  DWORD windowProcess = 0;
  GetWindowThreadProcessId(window, &windowProcess);
  if (windowProcess != processId) return false;
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  return wcscmp(className, kMainWindowClass) == 0;
}

}  // namespace

bool NetMutex::Lock(const wchar_t* path) {
  if (Held()) return true;
  if (path) {
    if (wcslen(path) >= MAX_PATH) return false;
    wcscpy(markerPath, path);
  } else if (!markerPath[0] && !DefaultMarkerPath(markerPath)) {
    return false;
  }
  if (TryLock()) return true;
  ReadHolder();
  return false;
}

bool NetMutex::TryLock() {
  if (Held()) return true;
  HandleHolder handle(CreateFileW(markerPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.Valid()) return false;

  wchar_t machine[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD machineLength = MAX_COMPUTERNAME_LENGTH + 1;
  GetComputerNameW(machine, &machineLength);
  wchar_t program[521] = {};
  GetModuleFileNameW(nullptr, program, 521);

  // A marker that does not name its holder completely is not taken.
  const bool written = WriteLine(handle.Get(), L"Machine=%s\r\n", machine) &&
                       WriteLine(handle.Get(), L"Path=%s\r\n", program) &&
                       WriteLine(handle.Get(), L"ProcessID=0x%x\r\n", GetCurrentProcessId()) &&
                       WriteLine(handle.Get(), L"ThreadID=0x%x\r\n", GetCurrentThreadId()) &&
                       WriteLine(handle.Get(), L"MsgHWND=0x%X\r\n", ownWindow);
  if (!written) return false;
  FlushFileBuffers(handle.Get());
  file = std::move(handle);
  return true;
}

void NetMutex::Release() {
  file.Close();
}

bool NetMutex::ReadHolder() {
  holderRead = false;
  holderPath[0] = L'\0';
  holderMachine[0] = L'\0';
  holderWindow = processId = threadId = 0;

  HandleHolder marker(CreateFileW(markerPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!marker.Valid()) return false;
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(marker.Get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > kMaxMarkerBytes) {
    return false;
  }
  wchar_t buffer[kMaxMarkerBytes / sizeof(wchar_t)];
  DWORD bytes = 0;
  if (!ReadFile(marker.Get(), buffer, static_cast<DWORD>(size.QuadPart), &bytes, nullptr)) {
    return false;
  }
  const std::wstring_view text(buffer, bytes / sizeof(wchar_t));

  int found = 0;
  std::wstring_view value;
  wchar_t machine[16] = {};
  wchar_t program[MAX_PATH] = {};
  uint32_t window = 0, process = 0, thread = 0;
  if (FindValue(text, L"Machine", value) && CopyField(value, machine)) ++found;
  if (FindValue(text, L"Path", value) && CopyField(value, program)) ++found;
  if (FindValue(text, L"ProcessID", value) && ParseHex(value, process)) ++found;
  if (FindValue(text, L"ThreadID", value) && ParseHex(value, thread)) ++found;
  if (FindValue(text, L"MsgHWND", value) && ParseHex(value, window)) ++found;
  if (found <= 3) return false;

  wcscpy(holderMachine, machine);
  wcscpy(holderPath, program);
  holderWindow = window;
  processId = process;
  threadId = thread;
  holderRead = true;
  return true;
}

bool RequestHolderQuit(SingleInstanceLock& lock) {
  NetMutex& mutex = lock.mutex;
  if (!mutex.holderRead || mutex.processId == GetCurrentProcessId()) {
    TsMain(0) << "Single-app mutex holder could not be read; not ending it.";
    return false;
  }
  if (mutex.holderWindow) {
    const HWND window = WindowFromValue(mutex.holderWindow);
    if (!HolderWindowMatches(window, mutex.processId)) {
      TsMain(0) << "Single-app mutex holder window is not the holder's main window; not ending it.";
      return false;
    }
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, kMsgQuitRequest, kQuitRequestCode, 0, SMTO_ABORTIFHUNG, 10000,
                            &answer) &&
        answer == kMsgQuitAnswer) {
      for (int waited = 0; waited < 20000; waited += 100) {
        if (mutex.TryLock()) {
          mutex.Release();
          return true;
        }
        Sleep(100);
      }
    }
  }
  return TerminateHolder(lock);
}

bool TerminateHolder(SingleInstanceLock& lock) {
  NetMutex& mutex = lock.mutex;
  if (mutex.processId == GetCurrentProcessId()) return false;
  HandleHolder process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, mutex.processId));
  if (!process.Valid()) return false;

  wchar_t image[MAX_PATH + 1] = {};
  DWORD length = MAX_PATH + 1;
  if (!mutex.holderRead || !QueryFullProcessImageNameW(process.Get(), 0, image, &length) ||
      _wcsicmp(image, mutex.holderPath) != 0) {
    TsMain(0)
        << "Single-app mutex holder process is not the program the marker names; not ending it.";
    return false;
  }
  if (!TerminateProcess(process.Get(), 1)) return false;
  for (int attempt = 0; attempt < 99; ++attempt) {
    DWORD code = 0;
    if (!GetExitCodeProcess(process.Get(), &code)) return false;
    if (code != STILL_ACTIVE) return true;
    Sleep(100);
  }
  return false;
}

bool AcquireSingleInstance(SingleInstanceLock& lock, HWND ownWindow, const wchar_t* markerPath) {
  NetMutex& mutex = lock.mutex;
  mutex.ownWindow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(ownWindow));
  lock.held = mutex.Lock(markerPath);
  if (lock.held) return true;

  TsMain(1) << "Single-app mutex is locked by " << mutex.holderPath
            << ".  We will try to shut them down";
  if (!RequestHolderQuit(lock)) return false;
  TsMain(1) << "Single-app mutex was stolen successfully.";
  lock.held = mutex.Lock();
  if (!lock.held) {
    TsMain(0) << "ERROR: Unable to re-lock the single-app mutex, we must die.";
  }
  return lock.held;
}
