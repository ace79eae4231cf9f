// outlive <folder>: stands in for a program that a script starts and that outlives it (a
// signing or build server): it starts a copy of itself that inherits every handle this
// program was given, and ends at once. The copy marks <folder>\running-<its process id> and
// runs until <folder>\stop exists, or a minute has passed; then it removes its mark.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc == 2) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = std::wstring(L"\"") + self + L"\" \"" + argv[1] + L"\" stay";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
      return 1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
  }
  if (argc != 3) return 2;
  const std::wstring folder = argv[1];
  const std::wstring mark = folder + L"\\running-" + std::to_wstring(GetCurrentProcessId());
  CloseHandle(CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  const std::wstring stop = folder + L"\\stop";
  for (int i = 0; i < 1200 && GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(50);
  DeleteFileW(mark.c_str());
  return 0;
}
