// Helpers shared by the agent's tests: the virtual clock, a temporary folder and a capture
// of standard error.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CFRunLoop.h"

// Installed for its lifetime. An idle loop first polls for a short real time (so loopback
// I/O can land), then jumps to its next timer: long time-outs take no real time.
class VirtualClock : public RunLoopClock {
 public:
  explicit VirtualClock(int sliceMillis = 20, CFAbsoluteTime start = 1000.0)
      : _now(start), _slice(sliceMillis), _previous(SetRunLoopClock(this)) {}
  ~VirtualClock() override { SetRunLoopClock(_previous); }

  CFAbsoluteTime Now() override { return _now; }
  int PollTimeoutMillis(CFTimeInterval seconds) override {
    // Posted events a few microseconds ahead need no real wait.
    return seconds >= 0 && seconds <= 0.001 ? 0 : _slice;
  }
  void Idle(CFAbsoluteTime target) override {
    if (target > _now) _now = target;
  }
  void Advance(CFTimeInterval seconds) { _now += seconds; }

 private:
  CFAbsoluteTime _now;
  int _slice;
  RunLoopClock* _previous;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qelidentra-test-XXXXXX").string();
    _path = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return _path; }
  std::string operator/(const std::string& name) const { return _path + "/" + name; }

 private:
  std::string _path;
};

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Sends standard error into a file for its lifetime; Text() reads what arrived so far.
class StderrCapture {
 public:
  StderrCapture() : _file(_dir / "stderr") {
    fflush(stderr);
    _saved = dup(STDERR_FILENO);
    const int fd = open(_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrCapture() {
    fflush(stderr);
    dup2(_saved, STDERR_FILENO);
    close(_saved);
  }
  std::string Text() const {
    fflush(stderr);
    return ReadWholeFile(_file);
  }

 private:
  TempDir _dir;
  std::string _file;
  int _saved = -1;
};
