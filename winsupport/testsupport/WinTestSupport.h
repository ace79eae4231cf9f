// What the tests of both Windows programs share: starting processes, scratch folders that the
// Unix side can reach, running a program of the Unix host, and handling the thread's posted
// messages.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

inline bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Waits up to ten seconds for done() to hold; whether it does.
template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 200 && !done(); ++i) Sleep(50);
  return done();
}

// Wine's process start fails now and then with an internal error (1359), having started
// nothing: start(), a CreateProcess call, is tried again a few times then. Any other failure is
// returned at once, with its error.
template <typename Start>
bool StartRetried(Start start) {
  for (int attempt = 1;; ++attempt) {
    if (start()) return true;
    const DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
      SetLastError(error);
      return false;
    }
    Sleep(500);
  }
}

// Runs a program of the Unix host (Wine's start /unix, which does not wait for it) and waits
// up to ten seconds for done() to hold.
template <typename Done>
bool RunUnix(const std::string& commandLine, Done done) {
  std::string line = "start.exe /unix " + commandLine;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!StartRetried([&] {
        return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process);
      }))
    return false;
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return WaitFor(done);
}

// A fresh folder under Z:\tmp (so the Unix side can reach it), removed with its contents when
// the object goes: by Windows calls, which never enter a link, then by the host's rm for what
// they could not remove (links under Wine).
class ScratchDir {
 public:
  // Wine's process ids repeat across prefixes and several build trees test at once: a name
  // counts only once this run made the folder, so no run takes or removes another's.
  explicit ScratchDir(const std::string& prefix = "win-test") {
    static std::atomic<unsigned> counter{GetTickCount()};
    constexpr int kTries = 100;
    for (int i = 0; i < kTries && !made_; ++i) {
      unixPath_ = "/tmp/" + prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
      path_ = "Z:" + unixPath_;
      for (char& c : path_)
        if (c == '/') c = '\\';
      made_ = CreateDirectoryA(path_.c_str(), nullptr) != FALSE;
    }
    if (!made_) ADD_FAILURE() << "no new scratch folder after " << kTries << " names, last " << path_;
  }
  ~ScratchDir() {
    if (!made_) return;
    RemoveTree(path_);
    if (PathExists(path_)) RunUnix("/bin/rm -rf " + unixPath_, [this] { return !PathExists(path_); });
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  std::wstring WidePath() const { return std::wstring(path_.begin(), path_.end()); }
  const std::string& UnixPath() const { return unixPath_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }
  std::wstring operator/(const std::wstring& name) const { return WidePath() + L"\\" + name; }

 private:
  // Files and folders below path, then path itself; a link is removed, never entered.
  static void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string child = path + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
          SetFileAttributesA(child.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
          continue;  // the host's rm takes it
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          RemoveTree(child);
        else
          DeleteFileA(child.c_str());
      } while (FindNextFileA(find, &data));
      FindClose(find);
    }
    RemoveDirectoryA(path.c_str());
  }

  std::string path_;
  std::string unixPath_;
  bool made_ = false;
};

namespace wftest {

// Handles every message posted to the thread; the number handled.
inline int DispatchPosted() {
  int count = 0;
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++count;
  }
  return count;
}

}  // namespace wftest
